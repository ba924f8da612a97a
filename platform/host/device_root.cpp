#include "device_root.h"

#include <cstdlib>

namespace clonehost {

std::string deviceRoot()
{
    const char* root = std::getenv("CLONE_DEVICE_ROOT");
    if (root != nullptr && *root != '\0') {
        return root;
    }
    return CLONE_DEFAULT_DEVICE_ROOT;
}

std::string hostPath(const std::string& path)
{
    return deviceRoot() + path;
}

}  // namespace clonehost
