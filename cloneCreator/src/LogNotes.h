// What the export's summary learns from the log: every record passes here first (CLONE_LOG), and
// the last failure or notice a capture wrote is its reason for leaving its element empty. A leaf:
// it calls nothing of the library, so logging from any floor stays a call downwards.
#ifndef CLONE_LOGNOTES_H
#define CLONE_LOGNOTES_H

#include <string>

#include "device_log.h"

namespace cloneutil {

struct CaptureNote {
    bool failed = false;     // it wrote an ERROR record
    std::string lastRecord;  // its last ERROR, else its last INFO
};

void noteLogRecord(const Log_Entry_Spec_t* record, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Notes this thread's records from now on, forgetting earlier ones.
void startCaptureNote();
// Stops noting and hands over what was noted.
CaptureNote endCaptureNote();

}  // namespace cloneutil

#endif
