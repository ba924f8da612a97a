// Preloaded into profile_export by scripts/bench-profile.sh: times what the library hands to
// others, so the benchmark can tell their time from the library's own: every command it runs
// (from the start of its supervising child, made with the clone system call, to the moment that
// child is reaped) and the signing library's two calls. The archive command is the last command
// before the signing. At exit it appends "commands_s", "tar_s" (the archive command), "password_s",
// "sign_s" and "commands" to $CLONE_COMMAND_TIMES.
#include <chrono>
#include <cstdarg>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>

#include "CloneMaker.h"

namespace {

double commandSeconds = 0;
double tarSeconds = 0;
double passwordSeconds = 0;
double signSeconds = 0;
int commands = 0;

struct Report {
    // The commands themselves must not load the timer again.
    Report() { ::unsetenv("LD_PRELOAD"); }
    ~Report()
    {
        const char* file = std::getenv("CLONE_COMMAND_TIMES");
        FILE* out = file != nullptr ? std::fopen(file, "a") : nullptr;
        if (out != nullptr) {
            std::fprintf(out, "commands_s %.4f\ntar_s %.4f\npassword_s %.4f\nsign_s %.4f\ncommands %d\n",
                         commandSeconds, tarSeconds, passwordSeconds, signSeconds, commands);
            std::fclose(out);
        }
    }
} report;

// The next definition of SYMBOL (the real one), and the seconds CALL took, added to TOTAL.
template <typename Function>
Function next(const char* symbol)
{
    void* found = dlsym(RTLD_NEXT, symbol);
    if (found == nullptr) {
        std::abort();
    }
    return reinterpret_cast<Function>(found);
}

template <typename Call>
auto timed(double& total, Call&& call)
{
    const auto start = std::chrono::steady_clock::now();
    auto result = call();
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

using Clock = std::chrono::steady_clock;
std::map<pid_t, Clock::time_point> running;
double lastCommand = 0;

}  // namespace

// The library starts each command's supervisor with the clone system call, as fork does.
extern "C" __attribute__((visibility("default"))) long syscall(long number, ...)  // NOLINT(cert-dcl50-cpp)
{
    static const auto real = next<long (*)(long, ...)>("syscall");
    va_list args;
    va_start(args, number);
    long a[5];
    for (long& v : a) {
        v = va_arg(args, long);
    }
    va_end(args);
    const auto start = Clock::now();
    const long result = real(number, a[0], a[1], a[2], a[3], a[4]);
    if (number == SYS_clone && result > 0) {
        running[static_cast<pid_t>(result)] = start;
        ++commands;
    }
    return result;
}

extern "C" __attribute__((visibility("default"))) pid_t waitpid(pid_t pid, int* status, int options)
{
    static const auto real = next<pid_t (*)(pid_t, int*, int)>("waitpid");
    const pid_t reaped = real(pid, status, options);
    const auto found = reaped > 0 ? running.find(reaped) : running.end();
    if (found != running.end()) {
        lastCommand = std::chrono::duration<double>(Clock::now() - found->second).count();
        commandSeconds += lastCommand;
        running.erase(found);
    }
    return reaped;
}

// Member functions take the object as their first argument.
__attribute__((visibility("default"))) int CloneMaker::Process_Authentication_DLM(const char* password)
{
    static const auto real = next<int (*)(CloneMaker*, const char*)>("_ZN10CloneMaker26Process_Authentication_DLMEPKc");
    return timed(passwordSeconds, [&] { return real(this, password); });
}

__attribute__((visibility("default"))) bool_t CloneMaker::cloneHandler(char* outputLocation, const char* cloneType,
                                                                       const char* name)
{
    static const auto real =
        next<bool_t (*)(CloneMaker*, char*, const char*, const char*)>("_ZN10CloneMaker12cloneHandlerEPcPKcS2_");
    // The archive command ran last.
    commandSeconds -= lastCommand;
    tarSeconds += lastCommand;
    lastCommand = 0;
    return timed(signSeconds, [&] { return real(this, outputLocation, cloneType, name); });
}
