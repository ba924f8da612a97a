/* Device logging service. The library only passes pointers to the eight predefined records. */
#ifndef CLONE_PLATFORM_DEVICE_LOG_H
#define CLONE_PLATFORM_DEVICE_LOG_H

#include "bool_t.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Log_Entry_Spec_t {
    long id;
    int level;
    bool_t enabled;
    struct {
        bool_t alloc;
        const char* txt;
    } hdr;
} Log_Entry_Spec_t;

extern Log_Entry_Spec_t logSpecError;
extern Log_Entry_Spec_t logSpecInfo;
extern Log_Entry_Spec_t logSpecForceInfo;
extern Log_Entry_Spec_t logSpecDebug;
extern Log_Entry_Spec_t logSpecEnter;
extern Log_Entry_Spec_t logSpecReturn;
extern Log_Entry_Spec_t logSpecLibEnter;
extern Log_Entry_Spec_t logSpecLibReturn;

void Log_SpecEntry(Log_Entry_Spec_t* record, const char* sourceFile, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

#ifdef __cplusplus
}
#endif

#endif
