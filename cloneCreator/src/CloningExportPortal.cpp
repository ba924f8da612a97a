#include "CloningExportPortal.h"

#include "StagingPaths.h"

#include "CloneCreator.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "Loader.h"
#include "Staging.h"

#include <dlfcn.h>

namespace kel {
namespace plugin {
DlsymFunction dlsym = ::dlsym;
}
}  // namespace kel

namespace {

CloningExportPortal portal;

struct PluginHelper {
    const char* helperName;
    const char* pluginName;
    const char* stagedPath;
    const char* startLine;
    const char* foundLine;
    const char* statusLine;
    const char* failureLine;
};

const PluginHelper kCmlAttributes = {
    "clonecmlAttributesHelper",
    "cmlAttributes",
    "data/cmlAttributes/cmlAttributes",
    "  In clonecmlAttributesHelper: CLONE PLUGIN START...1.... Enter",
    "  In CloneCreator::clonecmlAttributesHelper: In if portal->HasPlugin....... ",
    " exportClone status= %d",
    "%s:, CloneCreator::  CLONE FAILED portal->HasPlugin Failed for Custom Media List.......",
};

const PluginHelper kFdiAttributes = {
    "clonefdiAttributesHelper",
    "fdiAttributes",
    "data/fdiAttributes/fdiAttributes",
    "  In clonefdiAttributesHelper: CLONE PLUGIN START...1.... Enter",
    "  In CloneCreator::clonefdiAttributesHelper: In if portal->HasPlugin....... ",
    " exportClone = %d",
    "%s:, CloneCreator::  CLONE FAILED portal->HasPlugin Failed for ConfigServer.......",
};

// The configuration-attribute list that the group expansion wrote; plug-ins pick their attributes from it.
const char kPluginInput[] = CFG_ATTR_LIST;

bool_t exportThroughPlugin(const PluginHelper& h, xmlNodePtr node)
{
    CLONE_LOG(logSpecForceInfo, "%s", h.helperName);
    CLONE_LOG(logSpecDebug, "%s", h.startLine);
    bool_t result = FALSE;
    if (!portal.HasPlugin(h.pluginName)) {
        CLONE_LOG(logSpecError, h.failureLine, h.helperName);
    } else {
        CLONE_LOG(logSpecInfo, "%s", h.foundLine);
        result = portal.exportClone(h.pluginName, cloneutil::devicePath(kPluginInput));
        CLONE_LOG(logSpecInfo, h.statusLine, result);
        cloneutil::nameStagedFile(node, h.stagedPath, h.helperName);
    }
    CLONE_LOG(logSpecReturn, "%s", h.helperName);
    return result;
}

}  // namespace

bool_t CloningExportPortal::exportClone(const std::string& contentType, const std::string& filename)
{
    // The subscript files an unknown name with no plug-in, as callers of HasPlugin then see.
    cloning::Plugin* plugin = plugins[contentType];
    if (plugin == nullptr) {
        return FALSE;
    }
    return plugin->exportClone(filename);
}

CloningExportPortal& cloneutil::cloningPortal()
{
    return portal;
}

bool_t CloneCreator::clonecmlAttributesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return exportThroughPlugin(kCmlAttributes, xmlCurrentGroupPtr);
}

bool_t CloneCreator::clonefdiAttributesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return exportThroughPlugin(kFdiAttributes, xmlCurrentGroupPtr);
}
