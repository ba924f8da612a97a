// Where the simulated device's root file system lies on a development host.
#ifndef CLONE_HOST_DEVICE_ROOT_H
#define CLONE_HOST_DEVICE_ROOT_H

#include <climits>
#include <cstdlib>
#include <string>

namespace clonehost {

// The root for the text VALUE of $CLONE_DEVICE_ROOT, with FALLBACK (the root configured at build
// time) for an unset or empty value. The root is resolved (links, ".", "..") so that a root which
// is the real "/" in any spelling counts as unset: a host build never works on the real device
// paths. A root that does not resolve (it does not exist) is kept as written, without trailing
// slashes; RESOLVED then says false. The library and the stand-ins share this one rule.
inline std::string resolveDeviceRoot(const char* value, const std::string& fallback, bool& resolved)
{
    std::string candidate = value != nullptr && *value != '\0' ? value : fallback;
    for (int attempt = 0; attempt < 2; ++attempt) {
        char buf[PATH_MAX];
        resolved = ::realpath(candidate.c_str(), buf) != nullptr;
        if (!resolved) {
            while (candidate.size() > 1 && candidate.back() == '/') {
                candidate.pop_back();
            }
            return candidate;
        }
        if (std::string(buf) != "/") {
            return buf;
        }
        candidate = fallback;
    }
    // The build-time root itself is "/" (the build refuses that): never used.
    resolved = false;
    return fallback;
}

// The root of the simulated device for the stand-ins, by the rule above.
std::string deviceRoot();

// The host path of the fixed device path PATH ("/xpaths/..." becomes ROOT + "/xpaths/...").
std::string hostPath(const std::string& path);

}  // namespace clonehost

#endif
