// Text values of the device configuration, read into the fixed buffer size used for them.
#ifndef CLONE_CONFIGVALUE_H
#define CLONE_CONFIGVALUE_H

#include <string>

#include "cfg_attr.h"

namespace cloneutil {

// At most 1063 characters and the NUL.
constexpr int kConfigValueSize = 1064;

// The text value of NAME in TEXT (up to its first NUL byte, whatever the service left in the
// buffer); returns the configuration service's status.
inline int readConfigText(const char* name, std::string& text)
{
    char buffer[kConfigValueSize] = {};
    const int status = Cfg_GetAttrValue(name, buffer, kConfigValueSize);
    buffer[kConfigValueSize - 1] = '\0';
    text = buffer;
    return status;
}

}  // namespace cloneutil

#endif
