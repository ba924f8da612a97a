// Path service stand-in: a key names the directory <root>/xpaths/KEY.
#include "xpaths.h"

#include "device_root.h"

#include <set>
#include <string>
#include <unistd.h>

extern "C" const char* xpaths_get_path(const char* key)
{
    if (key == nullptr || *key == '\0') {
        return nullptr;
    }
    for (const char* p = key; *p != '\0'; ++p) {
        const char c = *p;
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) {
            return nullptr;
        }
    }
    // The caller does not free the text: keep every answer alive for the life of the process.
    static std::set<std::string> answers;
    return answers.insert(clonehost::hostPath(std::string("/xpaths/") + key)).first->c_str();
}

extern "C" int xpaths_access(const char* directory, const char* relativeName, int mode)
{
    if (directory == nullptr || relativeName == nullptr) {
        return -1;
    }
    const std::string path = std::string(directory) + "/" + relativeName;
    return ::access(path.c_str(), mode) == 0 ? 0 : -1;
}
