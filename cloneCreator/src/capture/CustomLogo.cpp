// Customer logo and blocking screen: the uploaded logo, the blocking screen's image and the
// setting that names its file type, all in one staging directory. The steps are the class's
// virtual operations, so a device variant can replace any one of them.
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "CaptureBoundary.h"
#include "CloneCreator.h"
#include "CloneLog.h"
#include "Descriptors.h"
#include "DevicePath.h"
#include "Handles.h"
#include "Staging.h"
#include "xfile.h"
#include "xpaths.h"

#define CUSTOM_LOGO_DIR CLONE_EXPORT_DATA_DIR "customLogo/"
#define CONFIG_VALUE_FILE CUSTOM_LOGO_DIR "customerLogoConfigValues.txt"
#define LOGO_SOURCE "/xpaths/customer_logo/uploaded_logo.png"
#define LOGO_STAGED CUSTOM_LOGO_DIR "uploaded_logo.png"
#define BLOCKING_IMAGE_SOURCE "/xpaths/customer_logo/fdi_card_access."
#define BLOCKING_IMAGE_NAME "fdi_card_access."

namespace {

const char kImageTypeAttribute[] = "authentication.convenience.blockingScreenImageType";

// The type ends a file name: a slash would lead out of the logo directory, and a control
// character cannot stand in one line of the value file.
bool isFileNameExtension(const std::string& type)
{
    for (unsigned char c : type) {
        if (c == '/' || c < 0x20 || c == 0x7F) {
            CLONE_LOG(logSpecError, "Blocking screen image type %s is not a file name extension; it is not cloned",
                      type.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

std::string CloneCreator::getBlockingScreenImageType()
{
    return getConfigValue(kImageTypeAttribute);
}

bool_t CloneCreator::cloneBlockingScreenImageTypeConfigValue(const std::string& imageFileType)
{
    if (!isFileNameExtension(imageFileType)) {
        return FALSE;
    }
    const std::string path = cloneutil::devicePath(CONFIG_VALUE_FILE);
    cloneutil::File file = cloneutil::openForWriting(path, cloneutil::WriteMode::Update);
    if (!file) {
        CLONE_LOG(logSpecError, "Blocking screen image type config value unable to be cloned - cannot create file.");
        return FALSE;
    }
    const std::string line = std::string(kImageTypeAttribute) + "=" + imageFileType;
    CLONE_LOG(logSpecInfo, "Saving %s to the config value file", line.c_str());
    const bool written = std::fputs(line.c_str(), file.get()) >= 0;
    if (std::fclose(file.release()) != 0 || !written) {
        CLONE_LOG(logSpecError, "Blocking screen image type config value unable to be cloned - cannot write file.");
        (void)::unlink(path.c_str());
        return FALSE;
    }
    return TRUE;
}

bool_t CloneCreator::cloneCustomerLogoImage()
{
    const char* dir = xpaths_get_path("customer_logo");
    if (dir == nullptr || xpaths_access(dir, "uploaded_logo.png", 0) == -1) {
        return TRUE;  // no logo uploaded
    }
    if (!cloneutil::stageDeviceFile(deviceFolders, LOGO_SOURCE, LOGO_STAGED)) {
        CLONE_LOG(logSpecError, "Customer logo is unable to be cloned - logo image copy failed.");
        return FALSE;
    }
    return TRUE;
}

bool_t CloneCreator::cloneBlockingScreenImage(const std::string& imageFileType)
{
    const std::string source = BLOCKING_IMAGE_SOURCE + imageFileType;
    if (deviceFolders.isLink(source.c_str())) {
        // The device links the image to its default one: there is nothing of the customer's.
        CLONE_LOG(logSpecInfo, "Symlink found - nothing to clone - using the default blocking screen image.");
        return TRUE;
    }
    const std::string staged = "data/customLogo/" BLOCKING_IMAGE_NAME + imageFileType;
    CLONE_LOG(logSpecInfo, "Cloning %s to %s.", source.c_str(), staged.c_str());
    if (!cloneutil::stageDeviceFile(deviceFolders, source.c_str(), (CUSTOM_LOGO_DIR BLOCKING_IMAGE_NAME + imageFileType).c_str())) {
        CLONE_LOG(logSpecError, "Unable to clone blocking screen background image - image copy failed.");
        return FALSE;
    }
    return TRUE;
}

bool_t CloneCreator::cloneCustomLogoHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    // A directory already there belongs to an earlier capture: it is not taken over.
    if (!cloneutil::makeStagingDir(CUSTOM_LOGO_DIR, cloneutil::MakeDir::MakeNew)) {
        CLONE_LOG(logSpecError, "Cannot clone blocking screen images and config data - unable to create directory.");
        return FALSE;
    }
    const std::string imageFileType = getBlockingScreenImageType();
    // Each step only after the one before it succeeded; what was staged before a failure stays.
    const bool staged = cloneBlockingScreenImageTypeConfigValue(imageFileType) && cloneCustomerLogoImage() &&
                        cloneBlockingScreenImage(imageFileType);
    // Named whatever the steps did: what they staged before a failure goes with the clone.
    if (!cloneutil::setNodeText(xmlCurrentGroupPtr, "data/customLogo/")) {
        return FALSE;
    }
    return staged ? TRUE : FALSE;
}
