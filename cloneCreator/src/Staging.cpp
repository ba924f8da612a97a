#include "Staging.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "xfile.h"

namespace cloneutil {

bool makeStagingDir(const char* dir, MakeDir how)
{
    std::string path = devicePath(dir);
    switch (how) {
    case MakeDir::MakeNew:
        return ::mkdir(path.c_str(), 0755) == 0;
    case MakeDir::MakeOrAccept: {
        // An existing directory is fine; a file of that name is not.
        struct stat st;
        return ::mkdir(path.c_str(), 0755) == 0 || (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    }
    case MakeDir::MakePath:
        return xmkdir(&path[0], 0755) == 0;
    }
    return false;
}

int runDeviceCommand(const char* format, ...)
{
    PathBuffer command;
    va_list args;
    va_start(args, format);
    const bool formed = deviceCommandV(command, format, args);
    va_end(args);
    return formed ? std::system(command) : -1;
}

bool isXmlText(const char* text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        unsigned long c = *p;
        int more = 0;
        unsigned long least = 0;
        if (c < 0x80) {
            more = 0;
        } else if ((c & 0xE0) == 0xC0) {
            c &= 0x1F, more = 1, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            c &= 0x0F, more = 2, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            c &= 0x07, more = 3, least = 0x10000;
        } else {
            return false;
        }
        ++p;
        for (int i = 0; i < more; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) {
                return false;
            }
            c = (c << 6) | (*p & 0x3F);
        }
        // Overlong forms, surrogates and what XML 1.0 leaves out of its character range.
        const bool allowed = (c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                              (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF));
        if (c < least || !allowed) {
            return false;
        }
    }
    return true;
}

bool setNodeText(xmlNodePtr node, const char* text)
{
    if (node == nullptr || text == nullptr) {
        return false;
    }
    if (!isXmlText(text)) {
        CLONE_LOG(logSpecError, "Value for %s is not XML text; the element is left as it was",
                  node->name != nullptr ? reinterpret_cast<const char*>(node->name) : "--");
        return false;
    }
    xmlNodeSetContent(node, nullptr);
    xmlNodeAddContent(node, reinterpret_cast<const xmlChar*>(text));
    return true;
}

bool nameStagedFile(xmlNodePtr node, const char* staged, const char* helper)
{
    struct stat st;
    if (::lstat((devicePath(CLONE_EXPORT_TREE) + staged).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        CLONE_LOG(logSpecError, "%s: %s was not staged", helper, staged);
        return false;
    }
    return setNodeText(node, staged);
}

}  // namespace cloneutil
