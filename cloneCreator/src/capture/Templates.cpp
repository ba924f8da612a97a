// Scan templates, the template pool and stored copy jobs: directory trees copied as the device
// keeps them (cp keeps their modes and times), one staging directory per helper.
#include <string>
#include <unistd.h>

#include "CaptureBoundary.h"
#include "CloneCreator.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "SharedStagingDirs.h"
#include "Staging.h"
#include "xfile.h"

#define TEMPLATE_POOL "/xpaths/temp/template/pool/"
#define COPY_STORED_JOBS "/usr/ui/pum/nvm/data/copy/CopySvcUI/CopyStoredJob/"
#define SCANTO_XST TEMPLATE_POOL "scanto/SCANTO.XST"

#define S2HOME_DIR CLONE_EXPORT_DATA_DIR "s2HomeTemplate/"
#define DEFAULT_TEMPLATE_DIR CLONE_EXPORT_DATA_DIR "defaultTemplate/"
#define COPY_JOB_DIR CLONE_EXPORT_DATA_DIR "copySvcJob/"
#define POOL_DIR MAILBOX_DIR "template/pool/"
#define SCANTO_DIR CLONE_EXPORT_DATA_DIR "scanto_defaults/"
#define SCANTO_STAGED SCANTO_DIR "SCANTO.XST"

namespace {

struct TemplateCopy {
    const char* dir;
    int (*copy)();  // 0 when the templates were copied
    const char* staged;
    const char* failure;
};

// A copy that stopped part way, or lost its times, is not the device's template.
int copyScanToDefaults()
{
    return cloneutil::stageDeviceFile(SCANTO_XST, SCANTO_STAGED) ? 0 : 1;
}

// A template folder copied whole by the command line "CP POOL/FOLDER DEST" (see copyFolder).
#define TEMPLATE_TREE(cp, folder, dest)                                                                        \
    [] {                                                                                                       \
        return cloneutil::copyFolder({TEMPLATE_POOL folder, nullptr, dest, [] {                                 \
            return cloneutil::runDeviceCommand(cp " " TEMPLATE_POOL folder " " dest " 2>/dev/null");           \
        }});                                                                                                   \
    }

const TemplateCopy kScanToHome = {
    S2HOME_DIR, TEMPLATE_TREE("cp -rp", "s2home/", S2HOME_DIR),
    "data/s2HomeTemplate/", "ScanToHome Templates are not able to clone"};
const TemplateCopy kDefault = {
    DEFAULT_TEMPLATE_DIR,
    TEMPLATE_TREE("cp -rp", "system", DEFAULT_TEMPLATE_DIR),
    "data/defaultTemplate/", "Default Templates are not able to clone"};
const TemplateCopy kScanToDefaults = {SCANTO_DIR, copyScanToDefaults, "data/scanto_defaults/",
                                      "ScanToDefault Templates are not able to clone"};

// An existing staging directory is taken over: the templates of a node met twice land together.
bool_t copyTemplates(const TemplateCopy& t, xmlNodePtr node)
{
    if (!cloneutil::makeStagingDir(t.dir, cloneutil::MakeDir::MakeOrAccept)) {
        CLONE_LOG(logSpecError, "Creating %s is failed", t.dir);
        return FALSE;
    }
    if (t.copy() != 0) {
        CLONE_LOG(logSpecInfo, "%s", t.failure);
        (void)::rmdir(cloneutil::devicePath(t.dir).c_str());
        return FALSE;
    }
    return cloneutil::setNodeText(node, t.staged) ? TRUE : FALSE;
}

}  // namespace

bool_t CloneCreator::cloneScanToHomeTemplatesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return copyTemplates(kScanToHome, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneDefaultTemplatesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return copyTemplates(kDefault, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneScanToDefaultsTemplatesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return copyTemplates(kScanToDefaults, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneCopySaveJobHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    if (::access(cloneutil::devicePath(COPY_STORED_JOBS).c_str(), F_OK) == -1) {
        CLONE_LOG(logSpecError, "Copy Job Setting Path, %s is not accessible", COPY_STORED_JOBS);
        return FALSE;
    }
    // Stored jobs are never merged with a directory of an earlier capture.
    if (!cloneutil::makeStagingDir(COPY_JOB_DIR, cloneutil::MakeDir::MakeNew)) {
        CLONE_LOG(logSpecError, "Creating of %s is failed", COPY_JOB_DIR);
        return FALSE;
    }
    const cloneutil::FolderCopy jobs = {COPY_STORED_JOBS, "*", COPY_JOB_DIR, [] {
        return cloneutil::runDeviceCommand("cp -p " COPY_STORED_JOBS "* " COPY_JOB_DIR " 2>/dev/null");
    }};
    if (cloneutil::copyFolder(jobs) != 0) {
        CLONE_LOG(logSpecInfo, "Copy Job Settings Cloning is failed");
        (void)::rmdir(cloneutil::devicePath(COPY_JOB_DIR).c_str());
        return FALSE;
    }
    return cloneutil::setNodeText(xmlCurrentGroupPtr, "data/copySvcJob/") ? TRUE : FALSE;
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
        int (*copy)();
        const char* failure;
        bool required;
    };
    static const PoolPart kParts[] = {
        {TEMPLATE_TREE("cp -rfp", "system", POOL_DIR),
         "Default Templates are not able retrieved", true},
        {TEMPLATE_TREE("cp -rfp", "web/", POOL_DIR),
         "Web Templates are not able retrieved", true},
        {TEMPLATE_TREE("cp -rfp", "mailbox/", POOL_DIR),
         "Mailbox Templates are not able retrieved", false},
        {TEMPLATE_TREE("cp -rfp", "usb/", POOL_DIR),
         "USB Templates are not able retrieved", true},
    };
    bool_t result = TRUE;
    for (const PoolPart& part : kParts) {
        if (part.copy() != 0) {
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
