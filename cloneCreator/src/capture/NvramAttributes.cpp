// NVRAM attribute capture: saveCnConfig saves the listed NVRAM values into the export tree.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "CaptureBoundary.h"
#include "CloneCreator.h"
#include "CloneLog.h"
#include "Command.h"
#include "Descriptors.h"
#include "DevicePath.h"
#include "Handles.h"
#include "NvramFiles.h"
#include "Staging.h"

namespace {

bool present(const char* file)
{
    return ::access(cloneutil::devicePath(file).c_str(), F_OK) == 0;
}

void removeFile(const char* file)
{
    // Best effort: files this export made itself; nothing more can be done if one stays.
    (void)std::remove(cloneutil::devicePath(file).c_str());
}

// "1" and no line end; false when it did not reach the file.
bool writeRebootMarker()
{
    cloneutil::File marker = cloneutil::openForWriting(cloneutil::devicePath(REBOOT_MARKER));
    if (!marker) {
        return false;
    }
    const bool written = std::fputc('1', marker.get()) != EOF;
    return std::fclose(marker.release()) == 0 && written;
}

// Converts LIST into saveCnConfig's form, one line per connection profile, sorted and without
// repeats. False when a transformation had to drop the list (it logged why).
bool prepareList(CloneCreator& creator, const char* list)
{
    creator.convertNVRamAttributeFormat(list);
    if (!present(list)) {
        return false;
    }
    creator.expandConnectionNames(list, FALSE);
    return present(list);
}

}  // namespace

bool_t CloneCreator::cloneNVRAMHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    if (!present(NVRAM_ATTR_LIST)) {
        return FALSE;
    }
    // Not checked: a directory that is missing shows as a missing nvm_clone in the archive.
    cloneutil::makeStagingDir(CLONE_STORAGE_DIR, cloneutil::MakeDir::MakeOrAccept);
    if (!prepareList(*this, NVRAM_ATTR_LIST)) {
        return FALSE;
    }
    removeStaticAddressCloning();
    if (!present(NVRAM_ATTR_LIST)) {
        return FALSE;
    }
    // The tool's status is not looked at: what it saved is what the clone carries. One that was
    // stopped at the time limit (or never started) saved nothing whole.
    if (cloneutil::runDeviceCommand(SAVE_CN_CONFIG " -i " NVRAM_ATTR_LIST " -o " NVM_CLONE) == -1) {
        removeFile(NVM_CLONE);
    }
    if (isRebootRequired() && !writeRebootMarker()) {
        // Installed without the restart, the saved network settings would not take effect.
        const cloneutil::SystemError why;
        CLONE_LOG(logSpecError, "%s: %s cannot be written: %s; NVRAM attributes are not cloned", "cloneNVRAMHelper",
                  REBOOT_MARKER, why.text());
        removeFile(REBOOT_MARKER);
        removeFile(NVM_CLONE);
        removeFile(NVRAM_ATTR_LIST);
        return FALSE;
    }
    removeFile(NVRAM_ATTR_LIST);
    if (!cloneutil::nameStagedFile(xmlCurrentGroupPtr, "data/cloneStorage/nvm_clone", "cloneNVRAMHelper")) {
        // Nothing saved: a restart for it would be for nothing.
        removeFile(REBOOT_MARKER);
        return FALSE;
    }
    return TRUE;
}

bool_t CloneCreator::cloneSelfNVRAMHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    bool_t result = FALSE;
    if (!present(NVRAM_ATTR_LIST_CLONESELF)) {
        CLONE_LOG(logSpecError, "%s: %s is not found", "cloneSelfNVRAMHelper", NVRAM_ATTR_LIST_CLONESELF);
    } else {
        cloneutil::makeStagingDir(CLONE_STORAGE_DIR, cloneutil::MakeDir::MakeOrAccept);
        // The device's own addressing mode is kept, so there is no static-address filter, and
        // a self-clone never asks for a restart.
        if (prepareList(*this, NVRAM_ATTR_LIST_CLONESELF)) {
            if (cloneutil::runDeviceCommand(SAVE_CN_CONFIG " -i " NVRAM_ATTR_LIST_CLONESELF " -o " NVM_CLONESELF) ==
                -1) {
                removeFile(NVM_CLONESELF);
            }
            removeFile(NVRAM_ATTR_LIST_CLONESELF);
            result = cloneutil::nameStagedFile(xmlCurrentGroupPtr, "data/cloneStorage/nvm_cloneself",
                                               "cloneSelfNVRAMHelper")
                         ? TRUE
                         : FALSE;
        }
    }
    // A self-clone carries the description of the device's NVRAM defaults beside its values.
    if (!cloneutil::stageDeviceFile(deviceFolders, DEFAULT_NVM_XML, NVM_XML)) {
        CLONE_LOG(logSpecError, "unable to copy NVM.xml file to clone file");
        removeFile(NVM_XML);
        result = FALSE;
    }
    return result;
}
