// Scan templates, the template pool and stored copy jobs: directory trees copied as the device
// keeps them (cp keeps their modes and times), one staging directory per helper.
#include <string>
#include <unistd.h>

#include "CaptureBoundary.h"
#include "CloneCreator.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "SharedPaths.h"
#include "Staging.h"
#include "xfile.h"

#define POOL_DIR MAILBOX_DIR "template/pool/"

// Plain copies: their rows in ElementTables.cpp say what is copied where.
bool_t CloneCreator::cloneScanToHomeTemplatesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return stagePlainCopyOf(&CloneCreator::cloneScanToHomeTemplatesHelper, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneDefaultTemplatesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return stagePlainCopyOf(&CloneCreator::cloneDefaultTemplatesHelper, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneScanToDefaultsTemplatesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return stagePlainCopyOf(&CloneCreator::cloneScanToDefaultsTemplatesHelper, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneCopySaveJobHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return stagePlainCopyOf(&CloneCreator::cloneCopySaveJobHelper, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneTemplatePoolHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    // Made with its parents: the mailbox capture may or may not have made data/mailbox/ yet.
    if (!cloneutil::makeStagingDir(POOL_DIR, cloneutil::MakeDir::MakePath)) {
        CLONE_LOG(logSpecError, "Creating %s is failed", POOL_DIR);
        return FALSE;
    }
    // Every part is tried whatever became of the others; mailbox templates are optional.
    struct PoolPart {
        cloneutil::FolderCopy copy;
        const char* failure;
        bool required;
    };
    static const PoolPart kParts[] = {
        {{TEMPLATE_POOL "system", nullptr, POOL_DIR, "cp -rfp"}, "Default Templates are not able retrieved", true},
        {{TEMPLATE_POOL "web/", nullptr, POOL_DIR, "cp -rfp"}, "Web Templates are not able retrieved", true},
        {{TEMPLATE_POOL "mailbox/", nullptr, POOL_DIR, "cp -rfp"}, "Mailbox Templates are not able retrieved", false},
        {{TEMPLATE_POOL "usb/", nullptr, POOL_DIR, "cp -rfp"}, "USB Templates are not able retrieved", true},
    };
    bool_t result = TRUE;
    for (const PoolPart& part : kParts) {
        if (cloneutil::copyFolder(deviceFolders, part.copy) != 0) {
            CLONE_LOG(logSpecInfo, "%s", part.failure);
            if (part.required) {
                result = FALSE;
            }
        }
    }
    if (result && !cloneutil::setNodeText(xmlCurrentGroupPtr, "data/mailbox/template/pool/")) {
        result = FALSE;
    }
    return result;
}
