#include "LogNotes.h"

#include <cstdarg>
#include <cstdio>

namespace {

// Set only on the thread of the export under way, between a capture's start and end: records
// other threads of the host write never reach the note. A plain flag, so a thread-local object
// never holds the library loaded past dlclose.
thread_local bool noting = false;
// Touched only by the noting thread (one export at a time in a process: the export turn).
cloneutil::CaptureNote current;

}  // namespace

namespace cloneutil {

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style, checked by the format attribute
void noteLogRecord(const Log_Entry_Spec_t* record, const char* format, ...)
{
    const bool error = record == &logSpecError;
    if (!noting || (!error && record != &logSpecInfo) || (!error && current.failed)) {
        return;
    }
    char text[512];
    va_list args;
    va_start(args, format);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started on the line above; clang-tidy 14 loses it here
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    current.lastRecord = n >= 0 ? text : format;
    current.failed = current.failed || error;
}

void startCaptureNote()
{
    current = CaptureNote();
    noting = true;
}

CaptureNote endCaptureNote()
{
    noting = false;
    CaptureNote noted;
    noted.failed = current.failed;
    noted.lastRecord.swap(current.lastRecord);
    return noted;
}

}  // namespace cloneutil
