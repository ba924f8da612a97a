// Text values of the device configuration, read into the fixed buffer size used for them.
#ifndef CLONE_CONFIGVALUE_H
#define CLONE_CONFIGVALUE_H

#include <string>

#include "CloneLog.h"
#include "cfg_attr.h"

namespace cloneutil {

// At most 1063 characters and the NUL.
constexpr int kConfigValueSize = 1064;

// True when the value of NAME is longer than a value buffer holds.
inline bool longerThanBuffer(const char* name)
{
    char probe[kConfigValueSize + 1] = {};
    return Cfg_GetAttrValue(name, probe, sizeof probe) == 0 && probe[kConfigValueSize - 1] != '\0';
}

// The text value of NAME in TEXT (up to its first NUL byte, whatever the service left in the
// buffer); returns the configuration service's status. A value longer than the buffer is cut
// with an ERROR that says so, and never inside a UTF-8 character.
inline int readConfigText(const char* name, std::string& text)
{
    char buffer[kConfigValueSize] = {};
    const int status = Cfg_GetAttrValue(name, buffer, kConfigValueSize);
    buffer[kConfigValueSize - 1] = '\0';
    text = buffer;
    if (status == 0 && text.size() == kConfigValueSize - 1 && longerThanBuffer(name)) {
        // Back to the start of the last character; without all its bytes it goes too.
        std::size_t start = text.size();
        while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) {
            --start;
        }
        if (start > 0) {
            const unsigned char lead = static_cast<unsigned char>(text[start - 1]);
            const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (text.size() - (start - 1) < length) {
                text.resize(start - 1);
            }
        }
        CLONE_LOG(logSpecError, "Configuration value %s is longer than %d bytes; only its first %u are used", name,
                  kConfigValueSize - 1, static_cast<unsigned>(text.size()));
    }
    return status;
}

}  // namespace cloneutil

#endif
