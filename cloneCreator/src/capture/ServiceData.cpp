// Service data: stores of device services that no attribute list reaches (service registry,
// scan-to-mailbox, single-touch scan settings and button images, DLM enable state, point of sale).
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <limits.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "Command.h"
#include "StagingPaths.h"
#include "CaptureBoundary.h"
#include "CloneCreator.h"
#include "CloneLog.h"
#include "ConfigValue.h"
#include "Descriptors.h"
#include "DevicePath.h"
#include "Handles.h"
#include "InputFile.h"
#include "SharedPaths.h"
#include "Staging.h"
#include "xpaths.h"

// Staging directories and files. The double slashes are how the device tools are handed them.
#define SERVICE_REGISTRY_DIR CLONE_EXPORT_DATA_DIR "serviceRegistry/"
#define SRT_FILE CLONE_EXPORT_DATA_DIR "serviceRegistry//srtFile"
#define MAILBOX_FILE CLONE_EXPORT_DATA_DIR "mailbox/cfg_clone_mailbox"
#define SINGLE_TOUCH_DIR CLONE_EXPORT_DATA_DIR "singleTouch/"
#define SINGLE_TOUCH_FILE CLONE_EXPORT_DATA_DIR "singleTouch//single_touch_clone"
#define DLM_ENABLE_FILE IPTABLES_DIR "dlmEnableClone"
#define POS_DIR CLONE_EXPORT_DATA_DIR "pos/"
#define POS_FILE POS_DIR "posConfigAttributes.txt"

// Device tools and data.
#define SRT_CLONE "/xpaths/nc_dlms/clone/apps/srtClone"
#define SCAN_TO_MAIL_CLONE "/xpaths/nc_dlms/clone/apps/scanToMailClone"
#define SINGLE_TOUCH_CLONE "/xpaths/nc_dlms/clone/apps/singleTouchClone"
#define CUSTOM_SCAN_IMAGES "/xpaths/nc_dlms_data/http/data/htdocs/images/customscan/"

// The clone type of the export under way; the service registry's tool reads it differently.
std::string srtCloneSelfType __attribute__((visibility("default")));

namespace {

const char kCloneSelf[] = "cloneSelf";

// The point-of-sale settings, one line each, in this order.
const char* const kPosAttributes[] = {
    "authentication.pointOfSale.storeID",
    "authentication.pointOfSale.enabled",
    "authentication.convenience.useXMLWrapping",
    "authentication.pointOfSale.usePOSInit",
    "authentication.pointOfSale.server",
    "authentication.pointOfSale.serverPath",
    "authentication.convenience.continueOrCloseSession",
};

void removeFile(const char* path)
{
    // Best effort: files this export made itself; nothing more can be done if one stays.
    (void)std::remove(cloneutil::devicePath(path).c_str());
}

// Removes the directory DIR and the files in it (it holds no directories of its own).
void removeFlatDir(const char* dir)
{
    const std::string path = cloneutil::devicePath(dir);
    {
        cloneutil::Dir d(::opendir(path.c_str()));
        for (struct dirent* e = d ? ::readdir(d.get()) : nullptr; e != nullptr; e = ::readdir(d.get())) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                ::unlink((path + "/" + e->d_name).c_str());
            }
        }
    }
    ::rmdir(path.c_str());
}

bool writeWhole(const char* path, const std::string& text)
{
    cloneutil::File file = cloneutil::openForWriting(cloneutil::devicePath(path));
    if (!file) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    return std::fclose(file.release()) == 0 && written;
}

using cloneutil::MakeDir;
using cloneutil::ToolOutput;

// Only non-empty output counts, whatever status the tool ended with.
const ToolOutput kServiceRegistry = {SERVICE_REGISTRY_DIR, MakeDir::MakeOrAccept, SRT_FILE, "Creating %s is failed",
                                     "Service Registry Attributes are not able to clone", false, false, 0};
const ToolOutput kMailbox = {MAILBOX_DIR, MakeDir::MakeOrAccept, MAILBOX_FILE, "Creating %s is failed",
                             "MailBox passwords are not able to retrieve", false, false, 0};
const ToolOutput kSingleTouch = {SINGLE_TOUCH_DIR, MakeDir::MakeOrAccept, SINGLE_TOUCH_FILE, "Creating %s is failed2",
                                 "Single Touch Scan Settings are not able to clone", false, false, 0};

// True when NAME is there under the directory of the location KEY.
bool presentUnder(const char* key, const char* name)
{
    const char* dir = xpaths_get_path(key);
    return dir != nullptr && xpaths_access(dir, name, F_OK) == 0;
}

// A DLM name is one directory name: anything else would look outside the DLM directories.
bool isDlmName(const std::string& name)
{
    return name != "." && name != ".." && name.size() <= NAME_MAX && name.find('/') == std::string::npos;
}

}  // namespace

std::string CloneCreator::getConfigValue(const char* name)
{
    // A value that cannot be read is the empty text.
    std::string value;
    (void)cloneutil::readConfigText(name, value);
    return value;
}

bool_t CloneCreator::cloneServiceRegistryAttributesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    const bool captured = cloneutil::captureToolOutput(kServiceRegistry, [] {
        if (srtCloneSelfType == kCloneSelf) {
            return cloneutil::runDeviceCommand(SRT_CLONE " " SRT_FILE " -read cloneSelf");
        }
        return cloneutil::runDeviceCommand(SRT_CLONE " " SRT_FILE " -read");
    });
    return captured && cloneutil::setNodeText(xmlCurrentGroupPtr, "data/serviceRegistry/srtFile") ? TRUE : FALSE;
}

bool_t CloneCreator::cloneMailboxHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    const bool captured = cloneutil::captureToolOutput(
        kMailbox, [] { return cloneutil::runDeviceCommand(SCAN_TO_MAIL_CLONE " get " MAILBOX_FILE); });
    return captured && cloneutil::setNodeText(xmlCurrentGroupPtr, "data/mailbox/cfg_clone_mailbox") ? TRUE : FALSE;
}

namespace {

#define SCAN_IMAGES "custom_scan_[1-9]*_*.png"
const cloneutil::FolderCopy kScanImages = {CUSTOM_SCAN_IMAGES, SCAN_IMAGES, SINGLE_TOUCH_DIR, "cp -p"};

}  // namespace

bool_t CloneCreator::cloneSingleTouchScanSettingsHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    static xmlChar imagesName[] = "singleTouchScanImages";
    static xmlChar settingName[] = "singleTouchScanSetting";
    bool_t result = FALSE;

    // The button images: the shell's pattern picks them, so their names never enter a command.
    if (presentUnder("nc_dlms", "http/data/htdocs/images/customscan/")) {
        if (!cloneutil::makeStagingDir(SINGLE_TOUCH_DIR, cloneutil::MakeDir::MakeNew)) {
            CLONE_LOG(logSpecError, "Creating %s is failed", SINGLE_TOUCH_DIR);
        } else if (cloneutil::copyFolder(deviceFolders, kScanImages) != 0) {
            CLONE_LOG(logSpecInfo, "Single Touch Image directory is not accessible");
            // A copy that failed half-way leaves no images that the manifest does not name.
            removeFlatDir(SINGLE_TOUCH_DIR);
        } else if (cloneutil::setNodeText(addChildNode(xmlCurrentGroupPtr, imagesName), "data/singleTouch/")) {
            result = TRUE;
        }
    }

    if (cloneutil::captureToolOutput(kSingleTouch, [] {
            return cloneutil::runDeviceCommand(SINGLE_TOUCH_CLONE " " SINGLE_TOUCH_FILE " -read");
        }) &&
        cloneutil::setNodeText(addChildNode(xmlCurrentGroupPtr, settingName), "data/singleTouch/single_touch_clone")) {
        result = TRUE;
    }
    return result;
}

bool_t CloneCreator::cloneDLMEnableHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    if (::access(cloneutil::devicePath(DLM_ATTR_LIST).c_str(), F_OK) != 0) {
        CLONE_LOG(logSpecInfo, "DLM Enable Cloning is failed");
        return FALSE;
    }
    bool_t result = FALSE;
    {
        // A list that cannot be read has no lines.
        cloneutil::InputFile list(cloneutil::devicePath(DLM_ATTR_LIST));
        if (!cloneutil::makeStagingDir(IPTABLES_DIR, cloneutil::MakeDir::MakeOrAccept)) {
            CLONE_LOG(logSpecError, "Creating %s is failed", IPTABLES_DIR);
        } else {
            std::string states;
            std::string name;
            // Every non-empty line is a name as it stands; a CR stays part of it, as in every list.
            while (std::getline(list, name)) {
                if (name.empty()) {
                    continue;
                }
                cloneutil::PathBuffer marker;
                if (!isDlmName(name) || !cloneutil::formatPath(marker, "%s/%s.off", name.c_str(), name.c_str())) {
                    CLONE_LOG(logSpecError, "DLM name %s is not a directory name; it is skipped", name.c_str());
                    continue;
                }
                if (!presentUnder("nc_dlms", name.c_str())) {
                    CLONE_LOG(logSpecInfo, "No DLM directory");
                } else {
                    states += name + (presentUnder("nc_dlms_data", marker) ? ":OFF\n" : ":ON\n");
                }
                result = TRUE;
            }
            // Written at once, so a file that did not take every line is never named.
            if (!writeWhole(DLM_ENABLE_FILE, states)) {
                const cloneutil::SystemError why;
                CLONE_LOG(logSpecError, "%s cannot be written: %s; the DLM enable state is not cloned", DLM_ENABLE_FILE,
                          why.text());
                removeFile(DLM_ENABLE_FILE);
                result = FALSE;
            }
        }
    }
    removeFile(DLM_ATTR_LIST);
    if (!result) {
        CLONE_LOG(logSpecInfo, "DLM Enable setting is not able to clone");
        return FALSE;
    }
    return cloneutil::setNodeText(xmlCurrentGroupPtr, "data/ipTables/dlmEnableClone") ? TRUE : FALSE;
}

bool_t CloneCreator::clonePosAttributesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    CLONE_LOG(logSpecForceInfo, "clonePosAttributesHelper");
    bool_t result = FALSE;
    if (!cloneutil::makeStagingDir(POS_DIR, cloneutil::MakeDir::MakeNew)) {
        CLONE_LOG(logSpecError, "POS config settings unable to be cloned - cannot create directory.");
        CLONE_LOG(logSpecReturn, "clonePosAttributesHelper");
        return FALSE;
    }
    cloneutil::File file = cloneutil::openForWriting(cloneutil::devicePath(POS_FILE), cloneutil::WriteMode::Update);
    if (!file) {
        CLONE_LOG(logSpecError, "POS config settings unable to be cloned - cannot create file.");
    } else {
        std::string settings;
        for (const char* name : kPosAttributes) {
            std::string value = getConfigValue(name);
            // One setting per line: a line break in a value would smuggle in another setting.
            if (value.find_first_of("\r\n") != std::string::npos) {
                CLONE_LOG(logSpecError, "Value of %s holds a line break; it is written empty", name);
                value.clear();
            }
            settings += std::string("set ") + name + "=" + value + "\n";
        }
        CLONE_LOG(logSpecInfo, "Saving %s to the config value file", settings.c_str());
        const bool written = std::fwrite(settings.data(), 1, settings.size(), file.get()) == settings.size();
        if (std::fclose(file.release()) != 0 || !written) {
            const cloneutil::SystemError why;
            CLONE_LOG(logSpecError, "%s cannot be written: %s; POS config settings are not cloned", POS_FILE, why.text());
            removeFile(POS_FILE);
        } else if (cloneutil::setNodeText(xmlCurrentGroupPtr, "data/pos/")) {
            result = TRUE;
        }
    }
    CLONE_LOG(logSpecReturn, "clonePosAttributesHelper");
    return result;
}
