// Every record names the source file and line it was written from. The export's summary sees each
// record first (LogNotes.h).
#ifndef CLONE_CLONELOG_H
#define CLONE_CLONELOG_H

#include "LogNotes.h"
#include "device_log.h"

#define CLONE_LOG(record, ...)                                   \
    (cloneutil::noteLogRecord(&(record), __VA_ARGS__),           \
     Log_SpecEntry(&(record), __FILE__, __LINE__, __VA_ARGS__))

#endif
