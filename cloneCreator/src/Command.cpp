#include "Command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CloneLog.h"
#include "DevicePath.h"
#include "Handles.h"
#include "HostGuard.h"

namespace cloneutil {

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
    int report;       // write end of the start-up report pipe, close-on-exec
    sigset_t empty;
    pid_t parent;     // the host process
};

// The steps of the child's start-up that can fail; one of them and its errno is all the child
// ever writes to its report pipe.
enum class StartStep : int { StandardFiles = 1, WorkingDirectory, Fork, Exec };

const char* stepName(StartStep step)
{
    switch (step) {
    case StartStep::StandardFiles:
        return "standard files";
    case StartStep::WorkingDirectory:
        return "working directory";
    case StartStep::Fork:
        return "fork";
    case StartStep::Exec:
        return "exec /bin/sh";
    }
    return "start-up";
}

struct StartFailure {
    int step;
    int error;
};

// The child's report descriptor: moved here, above the standard ones, before the rest are closed.
constexpr int kReportFd = 3;

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
[[noreturn]] void failStart(StartStep step, int error, int report = kReportFd)
{
    const StartFailure failure = {static_cast<int>(step), error};
    (void)!::write(report, &failure, sizeof failure);
    ::_exit(127);
}

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
            failStart(StartStep::StandardFiles, errno, s.report);
        }
    }
    // The report pipe goes to its fixed place (still close-on-exec: the shell never sees it).
    if (s.report != kReportFd && ::dup3(s.report, kReportFd, O_CLOEXEC) != kReportFd) {
        failStart(StartStep::StandardFiles, errno, s.report);
    }
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, static_cast<unsigned>(kReportFd) + 1, ~0U, 0U) != 0)
#endif
    {
        struct rlimit files;
        const long last = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                              ? static_cast<long>(files.rlim_cur)
                              : 65536;
        for (long fd = kReportFd + 1; fd < last; ++fd) {
            ::close(static_cast<int>(fd));
        }
    }
    if (s.dir != nullptr && ::chdir(s.dir) != 0) {
        failStart(StartStep::WorkingDirectory, errno);
    }
    ::sigprocmask(SIG_SETMASK, &s.empty, nullptr);  // NOLINT(concurrency-mt-unsafe): the child has one thread
    // cppcheck-suppress vforkCalled ; this process has one thread and the shell's child only execs
    const pid_t shell = ::vfork();  // NOLINT(clang-analyzer-security.insecureAPI.vfork): as above
    if (shell == 0) {
        ::execve("/bin/sh", s.argv, s.envp);
        failStart(StartStep::Exec, errno);
    }
    if (shell == -1) {
        failStart(StartStep::Fork, errno);
    }
    // The shell runs (vfork returns once it has exec'd or ended): the report is complete.
    ::close(kReportFd);
    int status = 0;
    while (::waitpid(shell, &status, 0) == -1 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        // Ended by a signal: so is this process, with the same one.
        ::kill(::getpid(), WTERMSIG(status));
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
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
    ChildSetup setup = {argv, environ, dir, -1, -1, {}, ::getpid()};
    sigemptyset(&setup.empty);
    {
        // Above the standard descriptors, which the host may have closed.
        const Fd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
        setup.devNull = devNull.valid() ? ::fcntl(devNull.get(), F_DUPFD_CLOEXEC, 3) : -1;
    }
    const Fd devNull(setup.devNull);
    const ForkClosed devNullInForks(devNull.get());
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        char text[256];
        CLONE_LOG(logSpecError, "Command cannot be started (report pipe: %s): %s", ::strerror_r(errno, text, sizeof text),
                  command);
        return -1;
    }
    const Fd reportIn(ends[0]);
    const ForkClosed reportInInForks(reportIn.get());
    // Above the standard descriptors too, so the child's fixing of those cannot replace it.
    Fd reportOut(::fcntl(ends[1], F_DUPFD_CLOEXEC, 3));
    ::close(ends[1]);
    if (!reportOut.valid()) {
        char text[256];
        CLONE_LOG(logSpecError, "Command cannot be started (report pipe: %s): %s", ::strerror_r(errno, text, sizeof text),
                  command);
        return -1;
    }
    setup.report = reportOut.get();
    // A host's fork() keeping this end would hold the start-up report open for as long as it lives.
    ForkClosed reportOutInForks(reportOut.get());
    const pid_t pid = startChild(setup);
    reportOutInForks.drop();
    reportOut.reset();
    if (pid == -1) {
        char text[256];  // strerror_r: this call's buffer, not one all of the host's threads share
        CLONE_LOG(logSpecError, "Command cannot be started (%s): %s", ::strerror_r(errno, text, sizeof text), command);
        return -1;
    }
    const Fd notice = childEndNotice(pid);
    const ForkClosed noticeInForks(notice.get());
    int status = -1;
    switch (waitUntil(pid, notice, Clock::now() + std::chrono::seconds(limit), true, status)) {
    case Ended::Yes:
        // A child that could not become the shell wrote which step failed before it ended with 127;
        // a tool's own 127 comes with no report. Read only now, never waited for: a host's fork can
        // hold the pipe's write end open for as long as its child lives.
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
            StartFailure failure = {0, 0};
            struct pollfd ready = {reportIn.get(), POLLIN, 0};
            if (::poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) != 0 &&
                ::read(reportIn.get(), &failure, sizeof failure) == static_cast<ssize_t>(sizeof failure)) {
                char text[256];
                CLONE_LOG(logSpecError, "Command cannot be started (%s: %s): %s",
                          stepName(static_cast<StartStep>(failure.step)), ::strerror_r(failure.error, text, sizeof text),
                          command);
                return -1;
            }
        }
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

}  // namespace cloneutil
