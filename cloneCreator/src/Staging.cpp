#include "Staging.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "CaptureBoundary.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "StagingPaths.h"
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
        return xmkdir(path.data(), 0755) == 0;
    }
    return false;
}

namespace {

// The staging directory of COPY: the folder itself, or the one that holds the file.
std::string stagingDirOf(const PlainCopy& copy)
{
    const std::string staged = copy.staged;
    return copy.cp != nullptr ? staged : staged.substr(0, staged.rfind('/') + 1);
}

}  // namespace

bool copyPlain(DeviceFolders& folders, const PlainCopy& copy)
{
    if (copy.missing != nullptr && ::access(devicePath(copy.source).c_str(), F_OK) == -1) {
        CLONE_LOG(logSpecError, copy.missing, copy.source);
        return false;
    }
    const std::string dir = stagingDirOf(copy);
    // The directory must be one of the export tree's own: mkdir and xmkdir take a link where it
    // belongs as made, and the copy would then write wherever the link leads.
    struct stat st;
    if (!makeStagingDir(dir.c_str(), copy.how) ||
        ::lstat(withoutTrailingSlashes(devicePath(dir.c_str())).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        CLONE_LOG(logSpecError, copy.dirFailure, dir.c_str());
        return false;
    }
    const bool copied = copy.cp == nullptr ? stageDeviceFile(folders, copy.source, copy.staged)
                                           : copyFolder(folders, {copy.source, copy.pattern, copy.staged, copy.cp}) == 0;
    if (!copied) {
        CLONE_LOG(logSpecInfo, "%s", copy.failure);
        (void)::rmdir(devicePath(dir.c_str()).c_str());
        return false;
    }
    return true;
}

bool stagePlainCopy(DeviceFolders& folders, const PlainCopy& copy, xmlNodePtr node)
{
    if (!copyPlain(folders, copy)) {
        return false;
    }
    const std::string named = copy.cp == nullptr && !copy.namesFolder ? std::string(copy.staged) : stagingDirOf(copy);
    return setNodeText(node, named.substr(std::strlen(CLONE_EXPORT_TREE)).c_str());
}

bool captureToolOutput(const ToolOutput& out, int (*run)())
{
    if (!makeStagingDir(out.dir, out.how)) {
        CLONE_LOG(logSpecError, out.dirFailure, out.dir);
        return false;
    }
    const int status = run();
    const std::string staged = devicePath(out.staged);
    struct stat st;
    // Only a regular file: a FIFO left in its place would block the archive.
    const bool written = ::lstat(staged.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    const bool captured = status != -1 && written && (out.statusDecides ? status == 0 : st.st_size > 0);
    if (!captured) {
        CLONE_LOG(logSpecInfo, "%s", out.failure);
        (void)::unlink(staged.c_str());
        if (!out.keepFolder) {
            // Fails, as it should, while other files of the folder are in it.
            (void)::rmdir(devicePath(out.dir).c_str());
        }
        return false;
    }
    if (out.mode != 0) {
        (void)::chmod(staged.c_str(), out.mode);
    }
    return true;
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
