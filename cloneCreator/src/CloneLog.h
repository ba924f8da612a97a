// Every record names the source file and line it was written from. The export's summary sees each
// record first (LogNotes.h).
#ifndef CLONE_CLONELOG_H
#define CLONE_CLONELOG_H

#include <cerrno>
#include <cstring>

#include "LogNotes.h"
#include "device_log.h"

#define CLONE_LOG(record, ...)                                   \
    (cloneutil::noteLogRecord(&(record), __VA_ARGS__),           \
     Log_SpecEntry(&(record), __FILE__, __LINE__, __VA_ARGS__))

namespace cloneutil {

// The text of a failed system call's errno, taken when this is made (before a clean-up call can
// change errno), for the ERROR that reports the failure. In a buffer of its own: the host's other
// threads share strerror's.
class SystemError {
public:
    explicit SystemError(int error = errno)
        : text_(error != 0 ? ::strerror_r(error, buf_, sizeof buf_) : "no system error given")
    {
    }
    const char* text() const { return text_; }

private:
    char buf_[128] = {};
    const char* text_;
};

}  // namespace cloneutil

#endif
