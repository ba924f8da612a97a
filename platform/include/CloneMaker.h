// Device signing library: authenticates the caller and wraps an archive into a clone file.
#ifndef CLONE_PLATFORM_CLONEMAKER_H
#define CLONE_PLATFORM_CLONEMAKER_H

#include "bool_t.h"

class CloneMaker {
public:
    CloneMaker();
    ~CloneMaker();  // NOLINT(performance-trivially-destructible): the firmware library defines it
    CloneMaker(const CloneMaker&) = delete;
    CloneMaker& operator=(const CloneMaker&) = delete;

    // 0 when the password allows making a clone file.
    int Process_Authentication_DLM(const char* password);

    // Reads OUTPUTLOCATION/NAME.tar and writes OUTPUTLOCATION/NAME.dlm.
    bool_t cloneHandler(char* outputLocation, const char* cloneType, const char* name);
};

#endif
