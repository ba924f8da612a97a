#include "Staging.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CaptureBoundary.h"
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
        return xmkdir(path.data(), 0755) == 0;
    }
    return false;
}

namespace {

// The staging directory of COPY: the folder itself, or the one that holds the file.
std::string stagingDirOf(const PlainCopy& copy)
{
    const std::string staged = copy.staged;
    return copy.cp != nullptr ? staged : staged.substr(0, staged.rfind('/') + 1);
}

}  // namespace

bool copyPlain(DeviceFolders& folders, const PlainCopy& copy)
{
    if (copy.missing != nullptr && ::access(devicePath(copy.source).c_str(), F_OK) == -1) {
        CLONE_LOG(logSpecError, copy.missing, copy.source);
        return false;
    }
    const std::string dir = stagingDirOf(copy);
    // The directory must be one of the export tree's own: mkdir and xmkdir take a link where it
    // belongs as made, and the copy would then write wherever the link leads.
    struct stat st;
    if (!makeStagingDir(dir.c_str(), copy.how) ||
        ::lstat(withoutTrailingSlashes(devicePath(dir.c_str())).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        CLONE_LOG(logSpecError, copy.dirFailure, dir.c_str());
        return false;
    }
    const bool copied = copy.cp == nullptr ? stageDeviceFile(folders, copy.source, copy.staged)
                                           : copyFolder(folders, {copy.source, copy.pattern, copy.staged, copy.cp}) == 0;
    if (!copied) {
        CLONE_LOG(logSpecInfo, "%s", copy.failure);
        (void)::rmdir(devicePath(dir.c_str()).c_str());
        return false;
    }
    return true;
}

bool stagePlainCopy(DeviceFolders& folders, const PlainCopy& copy, xmlNodePtr node)
{
    if (!copyPlain(folders, copy)) {
        return false;
    }
    const std::string named = copy.cp == nullptr && !copy.namesFolder ? std::string(copy.staged) : stagingDirOf(copy);
    return setNodeText(node, named.substr(std::strlen(CLONE_EXPORT_TREE)).c_str());
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

extern "C" char** environ;  // NOLINT(readability-redundant-declaration): POSIX has the program declare it

// What the child needs to become the command; made ready before it exists, since a child that
// shares the caller's memory may call only async-signal-safe functions.
struct ChildSetup {
    char* const* argv;
    char* const* envp;
    const char* dir;  // its working directory; null: the caller's
    int devNull;      // /dev/null, above the standard descriptors, close-on-exec
    sigset_t empty;
    pid_t parent;     // the host process
};

// What the child is sent when the thread that started it dies (the host killed, say).
constexpr int kParentGone = SIGHUP;

// The child's whole process group (itself, the shell, the tool) ends with the host.
extern "C" void stopCommandGroup(int)
{
    ::kill(0, SIGKILL);
}

// The child: a process group of its own, default signal dispositions and an empty mask, /dev/null
// for each standard descriptor the host does not hand over, none of the host's or the library's
// other descriptors. It starts the shell and ends as the shell ended, and never runs another
// program itself: so it keeps sending no signal when it ends, which an exec would undo. A child
// of a multi-threaded host, it calls only async-signal-safe functions.
// Not in the coverage figures: the child ends with _exit, so its counts are never written (the
// host tests show what it does: signals, descriptors, directory, the status it passes on).
// GCOVR_EXCL_START
[[noreturn]] void superviseCommand(const ChildSetup& s)
{
    ::setpgid(0, 0);
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction action;
        if (::sigaction(sig, nullptr, &action) == 0 && action.sa_handler != SIG_DFL) {
            action.sa_handler = SIG_DFL;
            action.sa_flags = 0;
            (void)::sigaction(sig, &action, nullptr);
        }
    }
    // A command outliving a killed host would go on writing into the staging area and the output
    // directory: the group is stopped when the host goes, also when it went before this point.
    struct sigaction gone;
    std::memset(&gone, 0, sizeof gone);
    gone.sa_handler = stopCommandGroup;
    (void)::sigaction(kParentGone, &gone, nullptr);
    (void)::prctl(PR_SET_PDEATHSIG, kParentGone);
    if (::getppid() != s.parent) {
        stopCommandGroup(0);
    }
    for (int fd = 0; fd <= 2; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if ((flags == -1 || (flags & FD_CLOEXEC) != 0) && (s.devNull < 0 || ::dup2(s.devNull, fd) != fd)) {
            ::_exit(127);
        }
    }
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0)
#endif
    {
        struct rlimit files;
        const long last = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                              ? static_cast<long>(files.rlim_cur)
                              : 65536;
        for (long fd = 3; fd < last; ++fd) {
            ::close(static_cast<int>(fd));
        }
    }
    if (s.dir != nullptr && ::chdir(s.dir) != 0) {
        ::_exit(127);
    }
    ::sigprocmask(SIG_SETMASK, &s.empty, nullptr);  // NOLINT(concurrency-mt-unsafe): the child has one thread
    // cppcheck-suppress vforkCalled ; this process has one thread and the shell's child only execs
    const pid_t shell = ::vfork();  // NOLINT(clang-analyzer-security.insecureAPI.vfork): as above
    if (shell == 0) {
        ::execve("/bin/sh", s.argv, s.envp);
        ::_exit(127);
    }
    int status = 0;
    while (shell > 0 && ::waitpid(shell, &status, 0) == -1 && errno == EINTR) {
    }
    if (shell > 0 && WIFSIGNALED(status)) {
        // Ended by a signal: so is this process, with the same one.
        ::kill(::getpid(), WTERMSIG(status));
    }
    ::_exit(shell > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}
// GCOVR_EXCL_STOP

// Starts the child as fork does, but with no signal when it ends (where the system allows): a
// host's SIGCHLD handler, reaping thread or ignored SIGCHLD can then neither take its status nor
// reap it. -1 when it could not be started.
pid_t startChild(const ChildSetup& setup)
{
    // No signal handler of the host runs in the child before it has set its own dispositions.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    // As fork, on a copy of this thread's stack; only the end signal differs (0: none).
    long pid = ::syscall(SYS_clone, 0UL, 0UL, 0UL, 0UL, 0UL);
    if (pid == -1 && errno == EINVAL) {
        // Emulators that cannot give a child another end signal: it ends with SIGCHLD, as system()'s does.
        pid = ::syscall(SYS_clone, static_cast<unsigned long>(SIGCHLD), 0UL, 0UL, 0UL, 0UL);
    }
    if (pid == 0) {
        superviseCommand(setup);
    }
    const int error = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return static_cast<pid_t>(pid);
}

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
// child is left to be reaped. __WALL: the child sends no signal when it ends.
enum class Ended { Yes, No, Lost };
Ended waitUntil(pid_t pid, const Fd& notice, Clock::time_point deadline, bool reap, int& status)
{
    long pauseNs = 50000;
    for (;;) {
        siginfo_t info;
        info.si_pid = 0;
        const pid_t seen =
            reap ? ::waitpid(pid, &status, WNOHANG | __WALL)
                 : (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT | __WALL) == 0
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

int runCommand(const char* command, const char* dir)
{
    const unsigned limit = commandTimeLimit();
    char shell[] = "sh";
    char option[] = "-c";
    char* const argv[] = {shell, option, const_cast<char*>(command), nullptr};
    ChildSetup setup = {argv, environ, dir, -1, {}, ::getpid()};
    sigemptyset(&setup.empty);
    {
        // Above the standard descriptors, which the host may have closed.
        const Fd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
        setup.devNull = devNull.valid() ? ::fcntl(devNull.get(), F_DUPFD_CLOEXEC, 3) : -1;
    }
    const Fd devNull(setup.devNull);
    const pid_t pid = startChild(setup);
    if (pid == -1) {
        char text[256];  // strerror_r: this call's buffer, not one all of the host's threads share
        CLONE_LOG(logSpecError, "Command cannot be started (%s): %s", ::strerror_r(errno, text, sizeof text), command);
        return -1;
    }
    const Fd notice = childEndNotice(pid);
    int status = -1;
    switch (waitUntil(pid, notice, Clock::now() + std::chrono::seconds(limit), true, status)) {
    case Ended::Yes:
        return status;
    case Ended::Lost:
        // Taken by someone else: whether the command did its work is unknown.
        CLONE_LOG(logSpecError, "Command's end was taken by another waiter; it counts as failed: %s", command);
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
    while (::waitpid(pid, &status, __WALL) == -1 && errno == EINTR) {
    }
    CLONE_LOG(logSpecError, "Command stopped after %u s: %s", limit, command);
    return -1;
}

int runDeviceCommand(const char* format, ...)  // NOLINT(cert-dcl50-cpp): printf-style, checked by the format attribute
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
