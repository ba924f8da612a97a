// Device tools run as commands: started without handing the host anything, supervised, stopped
// at the time limit and waited for. Nothing here knows about staging or the manifest.
#ifndef CLONE_COMMAND_H
#define CLONE_COMMAND_H

namespace cloneutil {

// Seconds a command may run before it is stopped. A build may set CLONE_COMMAND_TIME_LIMIT;
// host builds also take $CLONE_COMMAND_TIME_LIMIT (whole seconds above 0), so tests can be quick.
#ifdef CLONE_COMMAND_TIME_LIMIT
constexpr unsigned kCommandTimeLimit = CLONE_COMMAND_TIME_LIMIT;
#else
constexpr unsigned kCommandTimeLimit = 600;
#endif
static_assert(kCommandTimeLimit > 0, "a command needs some time to run");

// The time limit commands run under now (see kCommandTimeLimit).
unsigned commandTimeLimit();

// Runs COMMAND with "/bin/sh -c", as system() does, but only for the command time limit: a device
// tool that hangs must not hang the export. The shell and all it starts form a process group of
// their own; at the limit the whole group gets SIGTERM, a second later SIGKILL, and that is
// logged. The shell's wait status; -1 when it was stopped, could not be started or its end was
// taken by another waiter (logged too). A child that cannot become the shell reports the step that
// failed and its errno back over a close-on-exec pipe, so that is never mistaken for a tool's
// exit status 127.
// Nothing of the host's process is changed or handed over: the shell starts with default signal
// dispositions, an empty signal mask, /dev/null for standard descriptors the host has closed and
// no other descriptor, in DIR when one is given (the caller's working directory stays), and it
// sends no SIGCHLD when it ends, so a host that reaps its children cannot take its status.
int runCommand(const char* command, const char* dir = nullptr);

// Runs a command line of fixed device paths (see deviceCommand) with runCommand; its result, or
// -1 when the command could not be formed.
int runDeviceCommand(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace cloneutil

#endif
