#include "Staging.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "Handles.h"
#include "xfile.h"

namespace cloneutil {

bool makeStagingDir(const char* dir, MakeDir how)
{
    std::string path = devicePath(dir);
    switch (how) {
    case MakeDir::MakeNew:
        return ::mkdir(path.c_str(), 0755) == 0;
    case MakeDir::MakeOrAccept: {
        // An existing directory is fine; a file of that name is not.
        struct stat st;
        return ::mkdir(path.c_str(), 0755) == 0 || (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    }
    case MakeDir::MakePath:
        return xmkdir(&path[0], 0755) == 0;
    }
    return false;
}

unsigned commandTimeLimit()
{
#ifndef CLONE_DEVICE_BUILD
    if (const char* setting = std::getenv("CLONE_COMMAND_TIME_LIMIT")) {
        char* end = nullptr;
        errno = 0;
        const unsigned long seconds = std::strtoul(setting, &end, 10);
        if (errno == 0 && end != setting && *end == '\0' && setting[0] != '-' && seconds > 0 && seconds <= 86400) {
            return static_cast<unsigned>(seconds);
        }
        CLONE_LOG(logSpecError, "CLONE_COMMAND_TIME_LIMIT=%s is not a number of seconds; commands get %u s", setting,
                  kCommandTimeLimit);
    }
#endif
    return kCommandTimeLimit;
}

namespace {

extern "C" char** environ;

class SpawnAttributes {
public:
    SpawnAttributes() : ok_(posix_spawnattr_init(&attr_) == 0) {}
    ~SpawnAttributes()
    {
        if (ok_) {
            posix_spawnattr_destroy(&attr_);
        }
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ok() const { return ok_; }
    posix_spawnattr_t* get() { return &attr_; }

private:
    posix_spawnattr_t attr_;
    bool ok_;
};

// SIGCHLD stays blocked while a command runs, as system() keeps it: a SIGCHLD handler of the
// caller's that reaps any child must not take the status this wait is for.
class ChildSignalBlocked {
public:
    ChildSignalBlocked()
    {
        sigset_t child;
        sigemptyset(&child);
        sigaddset(&child, SIGCHLD);
        pthread_sigmask(SIG_BLOCK, &child, &previous_);
    }
    ~ChildSignalBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    ChildSignalBlocked(const ChildSignalBlocked&) = delete;
    ChildSignalBlocked& operator=(const ChildSignalBlocked&) = delete;
    const sigset_t& previous() const { return previous_; }

private:
    sigset_t previous_;
};

using Clock = std::chrono::steady_clock;

// A descriptor that becomes readable when the child ends (kernels from 5.3 on), so the wait
// wakes the moment it does; invalid where the kernel has none.
Fd childEndNotice(pid_t pid)
{
#ifdef SYS_pidfd_open
    return Fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
#else
    (void)pid;
    return Fd();
#endif
}

// Waits for the child until DEADLINE: on its end notice, or else polling with pauses that grow
// from 50 microseconds to 5 ms. With REAP its wait status is taken into STATUS; without, the ended
// child is left to be reaped.
enum class Ended { Yes, No, Lost };
Ended waitUntil(pid_t pid, const Fd& notice, Clock::time_point deadline, bool reap, int& status)
{
    long pauseNs = 50000;
    for (;;) {
        siginfo_t info;
        info.si_pid = 0;
        const pid_t seen = reap ? ::waitpid(pid, &status, WNOHANG)
                                : (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0
                                       ? info.si_pid
                                       : -1);
        if (seen == pid) {
            return Ended::Yes;
        }
        if (seen == -1 && errno != EINTR) {
            return Ended::Lost;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return Ended::No;
        }
        if (notice.valid()) {
            struct pollfd ended = {notice.get(), POLLIN, 0};
            ::poll(&ended, 1, static_cast<int>(std::min<long long>(left, 60000)));
        } else {
            const struct timespec pause = {0, pauseNs};
            ::nanosleep(&pause, nullptr);
            pauseNs = std::min(pauseNs * 2, 5000000L);
        }
    }
}

}  // namespace

int runCommand(const char* command)
{
    const unsigned limit = commandTimeLimit();
    ChildSignalBlocked blocked;
    SpawnAttributes attributes;
    // A group of its own, so a stop reaches what the shell started; the caller's signal mask.
    if (!attributes.ok() || posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK) != 0 ||
        posix_spawnattr_setpgroup(attributes.get(), 0) != 0 ||
        posix_spawnattr_setsigmask(attributes.get(), &blocked.previous()) != 0) {
        CLONE_LOG(logSpecError, "Command cannot be prepared: %s", command);
        return -1;
    }
    char shell[] = "sh";
    char option[] = "-c";
    char* const argv[] = {shell, option, const_cast<char*>(command), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, "/bin/sh", nullptr, attributes.get(), argv, environ);
    if (spawned != 0) {
        CLONE_LOG(logSpecError, "Command cannot be started (%s): %s", std::strerror(spawned), command);
        return -1;
    }
    const Fd notice = childEndNotice(pid);
    int status = -1;
    switch (waitUntil(pid, notice, Clock::now() + std::chrono::seconds(limit), true, status)) {
    case Ended::Yes:
        return status;
    case Ended::Lost:
        return -1;
    case Ended::No:
        break;
    }
    // The shell is not reaped before the group's last signal, so its group id cannot have been
    // handed to another process by then.
    ::kill(-pid, SIGTERM);
    waitUntil(pid, notice, Clock::now() + std::chrono::seconds(1), false, status);
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) == -1 && errno == EINTR) {
    }
    CLONE_LOG(logSpecError, "Command stopped after %u s: %s", limit, command);
    return -1;
}

int runDeviceCommand(const char* format, ...)
{
    PathBuffer command;
    va_list args;
    va_start(args, format);
    const bool formed = deviceCommandV(command, format, args);
    va_end(args);
    return formed ? runCommand(command) : -1;
}

bool isXmlText(const char* text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        unsigned long c = *p;
        int more = 0;
        unsigned long least = 0;
        if (c < 0x80) {
            more = 0;
        } else if ((c & 0xE0) == 0xC0) {
            c &= 0x1F, more = 1, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            c &= 0x0F, more = 2, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            c &= 0x07, more = 3, least = 0x10000;
        } else {
            return false;
        }
        ++p;
        for (int i = 0; i < more; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) {
                return false;
            }
            c = (c << 6) | (*p & 0x3F);
        }
        // Overlong forms, surrogates and what XML 1.0 leaves out of its character range.
        const bool allowed = (c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                              (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF));
        if (c < least || !allowed) {
            return false;
        }
    }
    return true;
}

bool setNodeText(xmlNodePtr node, const char* text)
{
    if (node == nullptr || text == nullptr) {
        return false;
    }
    if (!isXmlText(text)) {
        CLONE_LOG(logSpecError, "Value for %s is not XML text; the element is left as it was",
                  node->name != nullptr ? reinterpret_cast<const char*>(node->name) : "--");
        return false;
    }
    xmlNodeSetContent(node, nullptr);
    xmlNodeAddContent(node, reinterpret_cast<const xmlChar*>(text));
    return true;
}

bool nameStagedFile(xmlNodePtr node, const char* staged, const char* helper)
{
    struct stat st;
    if (::lstat((devicePath(CLONE_EXPORT_TREE) + staged).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        CLONE_LOG(logSpecError, "%s: %s was not staged", helper, staged);
        return false;
    }
    return setNodeText(node, staged);
}

}  // namespace cloneutil
