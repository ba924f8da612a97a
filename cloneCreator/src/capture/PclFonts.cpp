// PCL fonts: the start file uploaded through the web pages is installed on this device (its own
// start file kept as a backup), then staged; the clone file is then named after the fonts.
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "CaptureBoundary.h"
#include "CloneCreator.h"
#include "CloneLog.h"
#include "Command.h"
#include "DevicePath.h"
#include "Staging.h"
#include "xfile.h"
#include "xpaths.h"

#define UPLOAD_DIR "/xpaths/nc_dlms/http/apps"
#define UPLOADED_START_FILE UPLOAD_DIR "/start.pcl"
#define SUM_TOOL "/xpaths/nc_dlms/clone/apps/sum"
#define SUM_INSTALLED UPLOAD_DIR "/sum"
#define PCL_FONTS_DIR CLONE_EXPORT_DATA_DIR "pclFonts/"
#define PCL_STAGING_DIR PCL_FONTS_DIR "datafiles/"
#define PCL_STAGED PCL_STAGING_DIR "start.pcl"

namespace {

// Where the device keeps its own start file, in the order they are looked for.
struct StartFileLocation {
    const char* key;
    const char* name;         // looked for under the key's directory
    bool anyAnswerButAbsent;  // found unless the path service says -1 (else only on 0)
    const char* pclPath;
};

const StartFileLocation kStartFileLocations[] = {
    {"nc_var_etc", "start.pcl", false, "/xpaths/nc_var_etc/"},
    {"nc_dlms", "pcl6-dmn/data", false, "/xpaths/nc_dlms/pcl6-dmn/data"},
    {"nc_dlms", "pcl5c-dmn/data", false, "/xpaths/nc_dlms/pcl5c-dmn/data"},
    {"nc_dlms", "pcl/data", true, "/xpaths/nc_dlms/pcl/data"},
};

// The device's PCL data directory; empty when it has none.
std::string pclDataDirectory()
{
    for (const StartFileLocation& l : kStartFileLocations) {
        const char* dir = xpaths_get_path(l.key);
        if (dir == nullptr) {
            continue;
        }
        const int answer = xpaths_access(dir, l.name, 0);
        if (l.anyAnswerButAbsent ? answer != -1 : answer == 0) {
            return l.pclPath;
        }
    }
    return std::string();
}

// Backs up the device's start file in PCLPATH and puts the uploaded one (UPLOADED, read once) in its
// place. Each file is written into a new one beside it and renamed over it: never through a link,
// and a file with other names is left alone.
void replaceStartFile(cloneutil::DeviceFolders& folders, const std::string& pclPath, const cloneutil::DeviceFile& uploaded)
{
    cloneutil::PathBuffer originalPCLFile;
    cloneutil::PathBuffer backupPCLFile;
    cloneutil::PathBuffer replacePCLFile;
    if (!cloneutil::formatPath(originalPCLFile, "%s/%s", pclPath.c_str(), "start.pcl") ||
        !cloneutil::formatPath(backupPCLFile, "%s/start_pcl.orig", pclPath.c_str()) ||
        !cloneutil::formatPath(replacePCLFile, "%s/start.pcl", pclPath.c_str())) {
        CLONE_LOG(logSpecError, "Start file paths in %s are too long; the start file is not replaced", pclPath.c_str());
        return;
    }
    if (!cloneutil::writableDeviceFile(folders, replacePCLFile)) {
        CLONE_LOG(logSpecError, "Start file %s is not replaced", replacePCLFile);
        return;
    }
    // Without its backup the device's own start file would be lost for good.
    const cloneutil::DeviceFile original = folders.openFile(originalPCLFile);
    if (original.state == cloneutil::DeviceFile::Refused ||
        (original.state == cloneutil::DeviceFile::Open && !cloneutil::replaceDeviceFile(folders, original, backupPCLFile))) {
        CLONE_LOG(logSpecError, "Start file %s cannot be backed up; it is not replaced", originalPCLFile);
        return;
    }
    (void)cloneutil::replaceDeviceFile(folders, uploaded, replacePCLFile);
}

void removeStagedFonts()
{
    (void)::unlink(cloneutil::devicePath(PCL_STAGED).c_str());
    (void)::rmdir(cloneutil::devicePath(PCL_STAGING_DIR).c_str());
    (void)::rmdir(cloneutil::devicePath(PCL_FONTS_DIR).c_str());
}

}  // namespace

bool_t CloneCreator::clonePCLFontsHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    // Read once: what is installed and what is staged are the same bytes. An uploaded start file
    // the boundary refuses is neither installed nor staged.
    const cloneutil::DeviceFile uploaded = deviceFolders.openFile(UPLOADED_START_FILE);
    const bool refused = uploaded.state == cloneutil::DeviceFile::Refused;
    if (!refused) {
        const std::string pclPath = pclDataDirectory();
        if (!pclPath.empty()) {
            replaceStartFile(deviceFolders, pclPath, uploaded);
        }
        const cloneutil::DeviceFile sum = deviceFolders.openFile(SUM_TOOL);
        (void)cloneutil::replaceDeviceFile(deviceFolders, sum, SUM_INSTALLED);
        // Found through PATH. Only a shell that cannot be started counts; the tool's status does not.
        if (cloneutil::runDeviceCommand("dmpr " UPLOADED_START_FILE) == -1) {
            CLONE_LOG(logSpecInfo, "Installation of pcl font failed!");
        }
    }

    if (!cloneutil::makeStagingDir(PCL_STAGING_DIR, cloneutil::MakeDir::MakePath)) {
        CLONE_LOG(logSpecError, "Creating %s is failed", PCL_STAGING_DIR);
        return FALSE;
    }
    if (!cloneutil::stageOpenFile(deviceFolders, uploaded, PCL_STAGED)) {
        CLONE_LOG(logSpecInfo, "Creation of pclFonts.dlm failed");
        // Neither a part copy nor the directories made for it reach the archive unnamed.
        removeStagedFonts();
        return FALSE;
    }
    if (!cloneutil::setNodeText(xmlCurrentGroupPtr, "data/pclFonts/datafiles")) {
        removeStagedFonts();
        return FALSE;
    }
    nameOfDLM = kFontCloneFileName;
    return TRUE;
}
