// Link-time definitions of the firmware's symbols. Nothing here runs: on the device the firmware's
// own library of this name is loaded instead, so every body only gives the failing answer.
#include "CloneMaker.h"
#include "cert_hash.h"
#include "cfg_attr.h"
#include "device_log.h"
#include "kel/LibLoader.h"
#include "xpaths.h"

extern "C" {
Log_Entry_Spec_t logSpecError = {1, 1, FALSE, {FALSE, "ERROR"}};
Log_Entry_Spec_t logSpecInfo = {2, 2, FALSE, {FALSE, "INFO"}};
Log_Entry_Spec_t logSpecForceInfo = {3, 2, FALSE, {FALSE, "FORCEINFO"}};
Log_Entry_Spec_t logSpecDebug = {4, 3, FALSE, {FALSE, "DEBUG"}};
Log_Entry_Spec_t logSpecEnter = {5, 4, FALSE, {FALSE, "ENTER"}};
Log_Entry_Spec_t logSpecReturn = {6, 4, FALSE, {FALSE, "RETURN"}};
Log_Entry_Spec_t logSpecLibEnter = {7, 4, FALSE, {FALSE, "LIBENTER"}};
Log_Entry_Spec_t logSpecLibReturn = {8, 4, FALSE, {FALSE, "LIBRETURN"}};

void Log_SpecEntry(Log_Entry_Spec_t*, const char*, int, const char*, ...) {}
int Cfg_GetAttrValue(const char*, char*, int) { return 1; }
int Cfg_GetBoolAttrValue(const char*, bool_t*) { return 1; }
const char* xpaths_get_path(const char*) { return nullptr; }
int xpaths_access(const char*, const char*, int) { return -1; }
int get_certHashName(const char*, char* name)
{
    name[0] = '\0';
    return -1;
}
}

CloneMaker::CloneMaker() = default;
CloneMaker::~CloneMaker() = default;
int CloneMaker::Process_Authentication_DLM(const char*) { return 1; }
bool_t CloneMaker::cloneHandler(char*, const char*, const char*) { return FALSE; }

namespace kel {
LibLoader::LibLoader() = default;
LibLoader::~LibLoader() = default;
void* LibLoader::load_library(const std::string&) { return nullptr; }
void LibLoader::post_load_hook(const std::string&, void*) {}
void LibLoader::unload_library(std::pair<std::string, void*>&) {}
namespace plugin {
int LoadPlugins(const std::string&, kel::LibLoader&) { return 0; }
}  // namespace plugin
}  // namespace kel
