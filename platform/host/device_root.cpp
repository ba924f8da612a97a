#include "device_root.h"

#include <cstdlib>

namespace clonehost {

std::string deviceRoot()
{
    std::string root;
    if (const char* env = std::getenv("CLONE_DEVICE_ROOT")) {
        root = env;
    }
    while (!root.empty() && root.back() == '/') {
        root.pop_back();
    }
    // "/" would be the real device: a host stand-in never works there, so it counts as unset.
    return root.empty() ? std::string(CLONE_DEFAULT_DEVICE_ROOT) : root;
}

std::string hostPath(const std::string& path)
{
    return deviceRoot() + path;
}

}  // namespace clonehost
