// Preloaded into profile_export by scripts/bench-profile.sh: times what the library hands to
// others, so the benchmark can tell their time from the library's own: every command it runs
// through system() and the signing library's two calls. At exit it appends "commands_s",
// "tar_s" (the archive command), "password_s", "sign_s" and "commands" to $CLONE_COMMAND_TIMES.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>

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

}  // namespace

extern "C" __attribute__((visibility("default"))) int system(const char* command)
{
    static const auto real = next<int (*)(const char*)>("system");
    const bool tar = command != nullptr && std::strncmp(command, "tar ", 4) == 0;
    ++commands;
    return timed(tar ? tarSeconds : commandSeconds, [&] { return real(command); });
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
    return timed(signSeconds, [&] { return real(this, outputLocation, cloneType, name); });
}
