// Where the simulated device's root file system lies on a development host.
#ifndef CLONE_HOST_DEVICE_ROOT_H
#define CLONE_HOST_DEVICE_ROOT_H

#include <string>

namespace clonehost {

// $CLONE_DEVICE_ROOT when set and not empty, else the root configured at build time.
std::string deviceRoot();

// The host path of the fixed device path PATH ("/xpaths/..." becomes ROOT + "/xpaths/...").
std::string hostPath(const std::string& path);

}  // namespace clonehost

#endif
