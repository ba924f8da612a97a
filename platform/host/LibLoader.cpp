// Plug-in framework stand-in, first cut: loads no library yet.
#include "kel/LibLoader.h"

namespace kel {

LibLoader::LibLoader() = default;
LibLoader::~LibLoader() = default;

void* LibLoader::load_library(const std::string& /*path*/)
{
    return nullptr;
}

void LibLoader::post_load_hook(const std::string& /*lib*/, void* /*dl_h*/) {}

void LibLoader::unload_library(std::pair<std::string, void*>& /*lib*/) {}

namespace plugin {
int LoadPlugins(const std::string& /*category*/, kel::LibLoader& /*loader*/)
{
    return 0;
}
}  // namespace plugin

}  // namespace kel
