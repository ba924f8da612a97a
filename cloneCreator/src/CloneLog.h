// Every record names the source file and line it was written from.
#ifndef CLONE_CLONELOG_H
#define CLONE_CLONELOG_H

#include "device_log.h"

#define CLONE_LOG(record, ...) Log_SpecEntry(&(record), __FILE__, __LINE__, __VA_ARGS__)

#endif
