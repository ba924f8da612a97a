// Log stand-in: one line per entry in <root>/var/log/clone.log, "RECORD\tSOURCE:LINE\tMESSAGE".
#include "device_log.h"

#include "device_root.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* baseName(const char* path)
{
    if (path == nullptr) {
        return "?";
    }
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// One entry is one line: a line feed becomes "\n", a backslash "\\".
void appendEscaped(std::string& out, const char* text)
{
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\n') {
            out += "\\n";
        } else if (*p == '\\') {
            out += "\\\\";
        } else {
            out += *p;
        }
    }
}

}  // namespace

extern "C" void Log_SpecEntry(Log_Entry_Spec_t* record, const char* sourceFile, int line, const char* format, ...)
{
    if (record == nullptr || format == nullptr) {
        return;
    }
    char message[4096];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    std::string entry = record->hdr.txt != nullptr ? record->hdr.txt : "?";
    entry += '\t';
    entry += baseName(sourceFile);
    entry += ':';
    entry += std::to_string(line);
    entry += '\t';
    appendEscaped(entry, message);
    entry += '\n';

    const std::string dir = clonehost::hostPath("/var/log");
    const std::string file = dir + "/clone.log";
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        ::mkdir(clonehost::hostPath("/var").c_str(), 0755);
        ::mkdir(dir.c_str(), 0755);
        fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
        if (fd < 0) {
            return;
        }
    }
    // One write per entry, so entries of concurrent writers never interleave within a line.
    ssize_t written = ::write(fd, entry.data(), entry.size());
    (void)written;
    ::close(fd);
}
