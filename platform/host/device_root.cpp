#include "device_root.h"

#include <cstdlib>

namespace clonehost {

std::string deviceRoot()
{
    bool resolved = false;
    return resolveDeviceRoot(std::getenv("CLONE_DEVICE_ROOT"), CLONE_DEFAULT_DEVICE_ROOT, resolved);
}

std::string hostPath(const std::string& path)
{
    return deviceRoot() + path;
}

}  // namespace clonehost
