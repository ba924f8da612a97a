#include "Staging.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "DevicePath.h"
#include "xfile.h"

namespace cloneutil {

bool makeStagingDir(const char* dir, MakeDir how)
{
    std::string path = devicePath(dir);
    switch (how) {
    case MakeDir::MakeNew:
        return ::mkdir(path.c_str(), 0755) == 0;
    case MakeDir::MakeOrAccept:
        return ::mkdir(path.c_str(), 0755) == 0 || ::access(path.c_str(), F_OK) == 0;
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

void setNodeText(xmlNodePtr node, const char* text)
{
    xmlNodeSetContent(node, nullptr);
    xmlNodeAddContent(node, reinterpret_cast<const xmlChar*>(text));
}

}  // namespace cloneutil
