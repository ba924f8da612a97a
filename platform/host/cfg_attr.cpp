// Configuration stand-in: <root>/config/attributes, "name=value" per line, the last line wins.
#include "cfg_attr.h"

#include "clone_io.h"
#include "device_root.h"

#include <cstring>
#include <string>

namespace {

// Far beyond any real attribute file; a file that keeps growing while it is read is not one.
constexpr std::size_t kMaxAttributesSize = 16u << 20;

bool lookup(const char* name, std::string& value)
{
    std::string content;
    std::string error;
    if (name == nullptr ||
        !clonefmt::readSmallFile(clonehost::hostPath("/config/attributes"), kMaxAttributesSize, content, error)) {
        return false;
    }
    bool found = false;
    for (std::size_t start = 0; start < content.size();) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        const std::string line = content.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string::size_type eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        if (line.compare(0, eq, name) == 0 && eq == std::strlen(name)) {
            value = line.substr(eq + 1);
            found = true;
        }
    }
    return found;
}

}  // namespace

extern "C" int Cfg_GetAttrValue(const char* name, char* buffer, int size)
{
    std::string value;
    if (buffer == nullptr || size <= 0 || !lookup(name, value)) {
        return -1;
    }
    const std::size_t n = value.size() < static_cast<std::size_t>(size - 1) ? value.size() : size - 1;
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return 0;
}

extern "C" int Cfg_GetBoolAttrValue(const char* name, bool_t* value)
{
    std::string text;
    if (value == nullptr || !lookup(name, text)) {
        return -1;
    }
    if (text == "TRUE" || text == "true" || text == "1") {
        *value = 1;
        return 0;
    }
    if (text == "FALSE" || text == "false" || text == "0") {
        *value = 0;
        return 0;
    }
    return -1;
}
