// The library's entry point: one call makes one clone file, start to end, on the caller's thread.
#include <libxml/parser.h>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "CloningExportPortal.h"
#include "DevicePath.h"
#include "XmlNodes.h"
#include "Handles.h"
#include "Loader.h"
#include "Staging.h"

namespace {

// Fills the manifest through the helpers and saves it; false when there is no manifest to fill.
bool fillManifest(CloneCreator& creator, const std::string& manifestPath)
{
    cloneutil::XmlDoc doc = cloneutil::parseManifest(manifestPath.c_str());
    if (!doc) {
        CLONE_LOG(logSpecError, "Stub Manifest file is not created");
        return false;
    }
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    cloneutil::makeStagingDir(CLONE_EXPORT_DATA_DIR, cloneutil::MakeDir::MakeOrAccept);
    creator.processStubManifestXML(root);
    xmlSaveFormatFile(manifestPath.c_str(), doc.get(), 1);
    return true;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int createCloneDLM(char* outputLocation, const char* password,
                                                                     char* groupNameLine)
{
    cloneutil::refreshDeviceRoot();
    CLONE_LOG(logSpecLibEnter, "createCloneDLM");
    int status = 1;
    // The archive is written from inside the export tree, so only an absolute directory works.
    if (outputLocation == nullptr || outputLocation[0] != '/') {
        CLONE_LOG(logSpecError, "Output location %s is not an absolute path",
                  outputLocation != nullptr ? outputLocation : "(null)");
        CLONE_LOG(logSpecLibReturn, "createCloneDLM");
        return status;
    }
    CloneCreator creator(outputLocation);
    const std::string dlmType = creator.createGroups(groupNameLine);

    kel::plugin::Loader<cloning::Plugin> loader("cloning", &cloneutil::cloningPortal());
    kel::plugin::LoadPlugins(loader.category, loader);

    const std::string manifestPath = stubManifestPath(dlmType);
    if (fillManifest(creator, manifestPath)) {
        while (creator.removeEmptyNodes(manifestPath)) {
        }
        creator.generateCompressedFile();
        status = creator.generateCloneDLM(const_cast<char*>(password), dlmType);
    }
    CLONE_LOG(logSpecLibReturn, "createCloneDLM");
    return status;
}
