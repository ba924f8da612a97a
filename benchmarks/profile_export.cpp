// Measures one export the way a caller makes it, for scripts/bench-profile.sh. Each mode prints
// "key value" lines:
//   profile_export export OUTPUT_DIR GROUPS PASSWORD   export_s, self_cpu_s, children_cpu_s, peak_rss_kib,
//                                                      stand_in_rss_kib
//   profile_export load-only                           the same memory figures of a process that only
//                                                      loads the library
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <sys/resource.h>

#include "cloneCreator.h"

namespace {

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double cpu(int who)
{
    rusage used {};
    getrusage(who, &used);
    return seconds(used.ru_utime) + seconds(used.ru_stime);
}

long peakRssKib()
{
    rusage used {};
    getrusage(RUSAGE_SELF, &used);
    return used.ru_maxrss;
}

// Resident pages of libcrypto and libarchive: the host signing stand-in's, not the library's (the
// device signs with its own library).
long standInRssKib()
{
    std::ifstream maps("/proc/self/smaps");
    std::string line;
    bool standIn = false;
    long kib = 0;
    while (std::getline(maps, line)) {
        if (line.find("Rss:") == 0) {
            kib += standIn ? std::stol(line.substr(4)) : 0;
        } else if (!line.empty() && line.find(':') > line.find(' ')) {
            // A mapping's first line.
            standIn = line.find("libcrypto") != std::string::npos || line.find("libarchive") != std::string::npos;
        }
    }
    return kib;
}

template <typename F>
double timed(F&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int usage()
{
    std::fprintf(stderr, "usage: profile_export export OUTPUT_DIR GROUPS PASSWORD | load-only\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "load-only" && argc == 2) {
        std::printf("peak_rss_kib %ld\nstand_in_rss_kib %ld\n", peakRssKib(), standInRssKib());
        return 0;
    }
    if (mode == "export" && argc == 5) {
        std::string output = argv[2];
        std::string groups = argv[3];
        const double self = cpu(RUSAGE_SELF);
        const double children = cpu(RUSAGE_CHILDREN);
        int result = 1;
        const double wall = timed([&] { result = createCloneDLM(&output[0], argv[4], &groups[0]); });
        std::printf("result %d\nexport_s %.4f\nself_cpu_s %.4f\nchildren_cpu_s %.4f\npeak_rss_kib %ld\n"
                    "stand_in_rss_kib %ld\n",
                    result, wall, cpu(RUSAGE_SELF) - self, cpu(RUSAGE_CHILDREN) - children, peakRssKib(),
                    standInRssKib());
        return result;
    }
    return usage();
}
