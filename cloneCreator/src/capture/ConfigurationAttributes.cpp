// Configuration server and data store capture, reached through "cloningAttributes" (a clone for
// other devices) and "configurationAttributes" (a clone of this device's own configuration).
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "CloningExportPortal.h"
#include "Command.h"
#include "Descriptors.h"
#include "DevicePath.h"
#include "Handles.h"
#include "InputFile.h"
#include "NvramFiles.h"
#include "Staging.h"

// The CCS requests are built from this copy of their list, and the answers land in it.
#define CFG_CCS_ATTR_LIST_OLD CLONE_STAGING_DIR "cfg_ccs_attr_list.old"

#define CONFIG_CLIENT "/xpaths/nc_bin/configClient"
#define DS_BACKUP "/xpaths/nc_dlms/upgrade/apps/ds_backup"

// Staged files, as device paths and as the manifest names them (relative to the export tree).
#define CFG_CLONESELF CLONE_STORAGE_DIR "cfg_cloneself"
#define CCS_CLONE CLONE_STORAGE_DIR "ccs_clone"
#define DS_CLONE CLONE_STORAGE_DIR "ds_clone"
#define DS_CCS_CLONE CLONE_STORAGE_DIR "ds_ccs_clone"
#define STAGED_CFG_CLONE "data/cloneStorage/cfg_clone"
#define STAGED_CFG_CLONESELF "data/cloneStorage/cfg_cloneself"
#define STAGED_CCS_CLONE "data/cloneStorage/ccs_clone"
#define STAGED_DS_CLONE "data/cloneStorage/ds_clone"
#define STAGED_DS_CCS_CLONE "data/cloneStorage/ds_ccs_clone"

namespace {

const char kConfigServerPlugin[] = "ConfigServer";
// configClient's answer for a name the configuration server does not have.
const char kNotFound[] = " not found";
// Replayed last on installation, so 802.1X counts as configured once the cloned values are in.
const char* const kConfigDoneLines[] = {
    "set connectivity.8021x[wired].configDone=TRUE",
    "set connectivity.8021x[wireless].configDone=TRUE",
};

bool fileExists(const char* path)
{
    return ::access(cloneutil::devicePath(path).c_str(), F_OK) == 0;
}

bool isRegularFile(const char* path)
{
    struct stat st;
    return ::stat(cloneutil::devicePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void removeFile(const char* path)
{
    // Best effort: files this export made itself; nothing more can be done if one stays.
    (void)std::remove(cloneutil::devicePath(path).c_str());
}

bool renameFile(const char* from, const char* to)
{
    return std::rename(cloneutil::devicePath(from).c_str(), cloneutil::devicePath(to).c_str()) == 0;
}

void logUnwritten(const char* helper, const char* path)
{
    const cloneutil::SystemError why;
    CLONE_LOG(logSpecError, "%s: %s cannot be written: %s", helper, path, why.text());
}

// configClient did not end by itself (or never ran): what it appended is not all of the values.
void logUnfinished(const char* helper)
{
    CLONE_LOG(logSpecError, "%s: %s did not finish; the configuration is not cloned", helper, CONFIG_CLIENT);
}

// Calls EACH with every non-empty line of the file at PATH, taken whole whatever its bytes and
// length; a file that cannot be opened has no lines.
template <typename Each>
void forEachLine(const char* path, Each each)
{
    cloneutil::InputFile in(cloneutil::devicePath(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            each(line);
        }
    }
}

// A work or staged file written line by line, every write and the close checked, so that a full
// disk is seen; what happens to a file that failed is the caller's decision.
class LineFile {
public:
    explicit LineFile(const char* path) : file_(cloneutil::openForWriting(cloneutil::devicePath(path))), ok_(file_) {}

    void write(const char* prefix, const std::string& text)
    {
        FILE* f = file_.get();
        const std::size_t n = std::strlen(prefix);
        ok_ = ok_ && std::fwrite(prefix, 1, n, f) == n && std::fwrite(text.data(), 1, text.size(), f) == text.size() &&
              std::fputc('\n', f) != EOF;
    }

    // True when the file opened, took every line and closed cleanly.
    bool close()
    {
        if (!file_) {
            return false;
        }
        ok_ = std::fclose(file_.release()) == 0 && ok_;
        return ok_;
    }

private:
    cloneutil::File file_;
    bool ok_;
};

// configClient's requests, "get NAME", for the names of LIST.
bool writeRequests(const char* list, const char* requests)
{
    LineFile out(requests);
    forEachLine(list, [&out](const std::string& name) { out.write("get ", name); });
    return out.close();
}

// configClient's answers as lines to replay, "set NAME=value", without the names it did not know.
void writeSettings(const char* answers, LineFile& out)
{
    forEachLine(answers, [&out](const std::string& answer) {
        if (answer.find(kNotFound) == std::string::npos) {
            out.write("set ", answer);
        }
    });
}

struct DataStoreCapture {
    const char* list;
    bool_t isDataStoreCCS;
    const char* output;
    const char* staged;
    const char* failure;
};

const DataStoreCapture kDataStore = {DS_ATTR_LIST, FALSE, DS_CLONE, STAGED_DS_CLONE,
                                     "Datastore Attributes are not able to clone"};
const DataStoreCapture kCCSDataStore = {DS_CCS_ATTR_LIST, TRUE, DS_CCS_CLONE, STAGED_DS_CCS_CLONE,
                                        "CCS-Datastore Attributes are not able to clone"};

// RUN_BACKUP runs ds_backup for the capture's list and output; its status decides the capture.
template <typename RunBackup>
bool_t captureDataStore(CloneCreator& creator, const DataStoreCapture& c, xmlNodePtr node, RunBackup runBackup)
{
    if (!fileExists(c.list)) {
        CLONE_LOG(logSpecError, "%s", c.failure);
        return FALSE;
    }
    bool_t result = FALSE;
    (void)cloneutil::makeStagingDir(CLONE_STORAGE_DIR, cloneutil::MakeDir::MakeOrAccept);
    struct stat st;
    if (::stat(cloneutil::devicePath(CLONE_STORAGE_DIR).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        CLONE_LOG(logSpecError, "Creating %s is failed", CLONE_STORAGE_DIR);
    } else {
        creator.expandConnectionNames(c.list, c.isDataStoreCCS);
        // Success without an output file would name a file the clone does not hold.
        if (runBackup() == 0 && isRegularFile(c.output)) {
            result = cloneutil::setNodeText(node, c.staged) ? TRUE : FALSE;
        } else {
            CLONE_LOG(logSpecInfo, "%s", c.failure);
            // Whatever a failed backup left behind is not part of the clone.
            removeFile(c.output);
        }
    }
    removeFile(c.list);
    return result;
}

}  // namespace

bool_t CloneCreator::cloneCloningAttributes(xmlNodePtr xmlCurrentGroupPtr)
{
    const std::map<std::string, Helper> helpers = {
        {"ccsDataStore", &CloneCreator::cloneCCSDataStoreHelper},
        {"ccsNVM", &CloneCreator::cloneCCSConfigServerHelper},
        {"configServer", &CloneCreator::cloneConfigServerHelper},
        {"dataStore", &CloneCreator::cloneDataStoreHelper},
        {"nvRAM", &CloneCreator::cloneNVRAMHelper},
    };
    if (xmlCurrentGroupPtr == nullptr || xmlCurrentGroupPtr->children == nullptr) {
        return FALSE;
    }
    bool_t result = FALSE;
    for (xmlNodePtr child = xmlCurrentGroupPtr->children; child != nullptr; child = child->next) {
        if (child->name == nullptr) {
            child->name = xmlStrdup(reinterpret_cast<const xmlChar*>("--"));
            CLONE_LOG(logSpecError, "Current Node has bad name. Moving to next node");
            continue;
        }
        const auto found = helpers.find(reinterpret_cast<const char*>(child->name));
        if (found != helpers.end()) {
            result |= (this->*(found->second))(child);
        }
    }
    return result;
}

bool_t CloneCreator::cloneConfigurationAttributes(xmlNodePtr xmlCurrentGroupPtr)
{
    static xmlChar configServerName[] = "configServer";
    static xmlChar nvRAMName[] = "nvRAM";
    bool_t result = FALSE;
    if (fileExists(CFG_ATTR_LIST_CLONESELF)) {
        result = cloneSelfConfigServerHelper(addChildNode(xmlCurrentGroupPtr, configServerName));
    }
    if (fileExists(NVRAM_ATTR_LIST_CLONESELF)) {
        result |= cloneSelfNVRAMHelper(addChildNode(xmlCurrentGroupPtr, nvRAMName));
    }
    return result;
}

bool_t CloneCreator::cloneConfigServerHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    CLONE_LOG(logSpecEnter, "cloneConfigServerHelper");
    CLONE_LOG(logSpecInfo, "  In cloneConfigServerHelper: CLONE PLUGIN START...1.... ");
    CLONE_LOG(logSpecInfo, "  In cloneConfigServerHelper: CLONE PLUGIN START...2.... ");
    bool_t result = FALSE;
    CloningExportPortal& portal = cloneutil::cloningPortal();
    if (portal.HasPlugin(kConfigServerPlugin)) {
        CLONE_LOG(logSpecInfo, "  In CloneCreator::cloneConfigServerHelper: In if portal->HasPlugin....... ");
        // The plug-in reads the list as group expansion wrote it and stages cfg_clone itself.
        result = portal.exportClone(kConfigServerPlugin, cloneutil::devicePath(CFG_ATTR_LIST));
        cloneutil::nameStagedFile(xmlCurrentGroupPtr, STAGED_CFG_CLONE, "cloneConfigServerHelper");
    } else {
        CLONE_LOG(logSpecError, "%s:, CloneCreator::  CLONE FAILED portal->HasPlugin Failed for ConfigServer.......",
                  "cloneConfigServerHelper");
    }
    CLONE_LOG(logSpecReturn, "cloneConfigServerHelper");
    return result;
}

bool_t CloneCreator::cloneSelfConfigServerHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    static const char kHelper[] = "cloneSelfConfigServerHelper";
    if (!fileExists(CFG_ATTR_LIST_CLONESELF)) {
        return FALSE;
    }
    (void)cloneutil::makeStagingDir(CLONE_STORAGE_DIR, cloneutil::MakeDir::MakeOrAccept);
    expandConnectionNames(CFG_ATTR_LIST_CLONESELF, FALSE);
    const bool requested = writeRequests(CFG_ATTR_LIST_CLONESELF, ATTR_LIST_TMP);
    removeFile(CFG_ATTR_LIST_CLONESELF);
    if (!requested) {
        // Half a request file would stage a configuration that silently lacks values.
        logUnwritten(kHelper, ATTR_LIST_TMP);
        removeFile(ATTR_LIST_TMP);
        return FALSE;
    }
    // Its status is not looked at, but one stopped at the time limit gave only part of the values.
    const bool answered = cloneutil::runDeviceCommand(CONFIG_CLIENT " " ATTR_LIST_TMP " >> " CFG_ATTR_LIST_CLONESELF) != -1;
    removeFile(ATTR_LIST_TMP);
    if (!answered) {
        logUnfinished(kHelper);
        removeFile(CFG_ATTR_LIST_CLONESELF);
        return FALSE;
    }

    LineFile settings(ATTR_LIST_TMP);
    writeSettings(CFG_ATTR_LIST_CLONESELF, settings);
    for (const char* line : kConfigDoneLines) {
        settings.write("", line);
    }
    const bool written = settings.close();
    removeFile(CFG_ATTR_LIST_CLONESELF);
    if (!written || !renameFile(ATTR_LIST_TMP, CFG_CLONESELF)) {
        logUnwritten(kHelper, written ? CFG_CLONESELF : ATTR_LIST_TMP);
        removeFile(ATTR_LIST_TMP);
        return FALSE;
    }
    return cloneutil::setNodeText(xmlCurrentGroupPtr, STAGED_CFG_CLONESELF) ? TRUE : FALSE;
}

bool_t CloneCreator::cloneCCSConfigServerHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    static const char kHelper[] = "cloneCCSConfigServerHelper";
    if (!fileExists(CFG_CCS_ATTR_LIST)) {
        return FALSE;
    }
    (void)cloneutil::makeStagingDir(CLONE_STORAGE_DIR, cloneutil::MakeDir::MakeOrAccept);
    expandConnectionNames(CFG_CCS_ATTR_LIST, FALSE);

    const char* unwritten = nullptr;
    if (!renameFile(CFG_CCS_ATTR_LIST, CFG_CCS_ATTR_LIST_OLD)) {
        unwritten = CFG_CCS_ATTR_LIST_OLD;
    } else if (!writeRequests(CFG_CCS_ATTR_LIST_OLD, CFG_CCS_ATTR_LIST)) {
        unwritten = CFG_CCS_ATTR_LIST;
    }
    removeFile(CFG_CCS_ATTR_LIST_OLD);
    if (unwritten == nullptr) {
        if (cloneutil::runDeviceCommand(CONFIG_CLIENT " " CFG_CCS_ATTR_LIST " >> " CFG_CCS_ATTR_LIST_OLD) == -1) {
            logUnfinished(kHelper);
            removeFile(CFG_CCS_ATTR_LIST);
            removeFile(CFG_CCS_ATTR_LIST_OLD);
            return FALSE;
        }
        LineFile staged(CCS_CLONE);
        writeSettings(CFG_CCS_ATTR_LIST_OLD, staged);
        if (!staged.close()) {
            unwritten = CCS_CLONE;
            removeFile(CCS_CLONE);
        }
    }
    removeFile(CFG_CCS_ATTR_LIST);
    removeFile(CFG_CCS_ATTR_LIST_OLD);
    if (unwritten != nullptr) {
        logUnwritten(kHelper, unwritten);
        return FALSE;
    }
    return cloneutil::setNodeText(xmlCurrentGroupPtr, STAGED_CCS_CLONE) ? TRUE : FALSE;
}

bool_t CloneCreator::cloneDataStoreHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return captureDataStore(*this, kDataStore, xmlCurrentGroupPtr, [] {
        return cloneutil::runDeviceCommand(DS_BACKUP " -A -a " DS_ATTR_LIST " -o " DS_CLONE);
    });
}

bool_t CloneCreator::cloneCCSDataStoreHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return captureDataStore(*this, kCCSDataStore, xmlCurrentGroupPtr, [] {
        return cloneutil::runDeviceCommand(DS_BACKUP " -A -a " DS_CCS_ATTR_LIST " -o " DS_CCS_CLONE);
    });
}
