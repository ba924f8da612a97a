// What every clone helper does to stage data: make its directory under the export tree, run a
// device tool, record the staged path in its manifest element.
#ifndef CLONE_STAGING_H
#define CLONE_STAGING_H

#include <sys/types.h>

#include <libxml/tree.h>

namespace cloneutil {

// How a staging directory is made, which decides whether an existing one is accepted.
enum class MakeDir {
    MakeOrAccept,  // mkdir; an existing directory is fine, a missing parent is not
    MakeNew,       // mkdir; an existing directory is a failure too
    MakePath,      // xmkdir: missing parents are made as well, an existing directory is fine
};

// Makes the fixed device directory DIR (mode 0755); false on failure.
bool makeStagingDir(const char* dir, MakeDir how);

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
// taken by another waiter (logged too).
// Nothing of the host's process is changed or handed over: the shell starts with default signal
// dispositions, an empty signal mask, /dev/null for standard descriptors the host has closed and
// no other descriptor, in DIR when one is given (the caller's working directory stays), and it
// sends no SIGCHLD when it ends, so a host that reaps its children cannot take its status.
int runCommand(const char* command, const char* dir = nullptr);

// Runs a command line of fixed device paths (see deviceCommand) with runCommand; its result, or
// -1 when the command could not be formed.
int runDeviceCommand(const char* format, ...) __attribute__((format(printf, 1, 2)));

// True when TEXT is UTF-8 made only of characters that XML 1.0 allows in a document.
bool isXmlText(const char* text);

// TEXT as the whole content of NODE (a staged path relative to the export tree, a value), taken
// as it is: "&" in it is never read as an entity reference. Text that XML cannot hold (control
// characters, bytes that are not UTF-8) would make the saved manifest unreadable: it is refused
// with a log record, the node is left as it was, and the result is false.
bool setNodeText(xmlNodePtr node, const char* text);

// setNodeText for STAGED, a file's path relative to the export tree, when a tool or a plug-in
// left a regular file there; otherwise the node stays as it was, so the manifest never names
// a file the clone file lacks. False then, logged as "HELPER: STAGED was not staged".
bool nameStagedFile(xmlNodePtr node, const char* staged, const char* helper);

}  // namespace cloneutil

#endif
