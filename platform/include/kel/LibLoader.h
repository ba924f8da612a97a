// Device plug-in framework: loads the libraries of a plug-in category.
#ifndef CLONE_PLATFORM_KEL_LIBLOADER_H
#define CLONE_PLATFORM_KEL_LIBLOADER_H

#include <string>
#include <utility>

namespace kel {

class LibLoader {
public:
    LibLoader();
    virtual ~LibLoader();
    LibLoader(const LibLoader&) = delete;
    LibLoader& operator=(const LibLoader&) = delete;

    // Loads one library; a null handle when it cannot be loaded.
    virtual void* load_library(const std::string& path);
    // Called once per library after it was loaded (dl_h is null when loading failed).
    virtual void post_load_hook(const std::string& lib, void* dl_h);
    virtual void unload_library(std::pair<std::string, void*>& lib);
};

namespace plugin {
// Loads every library of CATEGORY through LOADER; the number of libraries loaded.
int LoadPlugins(const std::string& category, kel::LibLoader& loader);
}  // namespace plugin

}  // namespace kel

#endif
