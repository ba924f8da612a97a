// Log stand-in: one line per entry in <root>/var/log/clone.log,
// "RECORD\tTIME pid=PID export=N\tSOURCE:LINE\tMESSAGE". Trace records (entry and return, level 4)
// are written only with CLONE_LOG_TRACE=1 in the environment, read on each record.
#include "device_log.h"

#include "device_root.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int kTraceLevel = 4;

// The process's exports, counted by the library's entry records: the records of one export share
// its number (exports of a process take turns).
std::atomic<unsigned> exportsStarted{0};

bool wanted(const Log_Entry_Spec_t* record)
{
    if (!record->enabled) {
        return false;
    }
    if (record->level < kTraceLevel) {
        return true;
    }
    const char* trace = std::getenv("CLONE_LOG_TRACE");
    return trace != nullptr && std::strcmp(trace, "1") == 0;
}

// UTC to the millisecond, so the records of processes on one device sort together.
std::string timestamp()
{
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct tm utc;
    ::gmtime_r(&now.tv_sec, &utc);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    (void)std::snprintf(text + n, sizeof text - n, ".%03ldZ", now.tv_nsec / 1000000L);  // always fits
    return text;
}

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
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started on the line above; clang-tidy 14 loses it here
    int n = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (record == &logSpecLibEnter && std::strcmp(format, "createCloneDLM") == 0) {
        ++exportsStarted;
    }
    if (n < 0 || !wanted(record)) {
        return;
    }
    std::string entry = record->hdr.txt != nullptr ? record->hdr.txt : "?";
    entry += '\t';
    entry += timestamp();
    entry += " pid=" + std::to_string(::getpid()) + " export=" + std::to_string(exportsStarted.load());
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
