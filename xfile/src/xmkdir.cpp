#include "xfile.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const size_t kPathMax = 4096;
}

extern "C" int xmkdir(char* path, mode_t mode)
{
    char remaining[kPathMax];
    char component[kPathMax];
    char built[kPathMax];
    if (path == nullptr) {
        return -1;
    }
    const char* rest = path;
    built[0] = '\0';
    if (rest[0] == '/') {
        ++rest;
        std::strcpy(built, "/");
    }
    // Longer paths are refused rather than cut: a cut path would create the wrong directory.
    const size_t restLen = std::strlen(rest);
    if (restLen >= kPathMax) {
        return -1;
    }
    std::memcpy(remaining, rest, restLen + 1);
    if (remaining[0] == '\0') {
        return -1;
    }
    size_t builtLen = std::strlen(built);
    while (remaining[0] != '\0') {
        strnext(remaining, '/', component);
        const size_t componentLen = std::strlen(component);
        // built never outgrows the path it is rebuilt from (plus the trailing slash).
        if (builtLen + componentLen + 2 > kPathMax) {
            return -1;
        }
        std::memcpy(built + builtLen, component, componentLen + 1);
        builtLen += componentLen;
        // fexists counts a path it cannot look into as present; that would report success for a
        // directory that cannot exist (under a regular file, say), so only what is really there is skipped.
        if (::access(built, F_OK) != 0) {
            const mode_t m = remaining[0] == '\0' ? mode : 0777;
            if (::mkdir(built, m) != 0) {
                return -1;
            }
        }
        built[builtLen++] = '/';
        built[builtLen] = '\0';
    }
    return 0;
}
