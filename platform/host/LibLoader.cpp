// Plug-in framework stand-in: loads the libraries of a plug-in category from the simulated
// device's plug-in directory. A library, once loaded, stays loaded for the life of the process:
// the plug-in objects its init function installs live in it and may stay filed in a portal
// long after the loader that loaded it is gone.
#include "kel/LibLoader.h"

#include "device_root.h"
#include "device_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// Every library loaded so far, by path. A later load of the same path gives the same handle,
// so its init function re-installs the same objects.
class LoadedLibraries {
public:
    void* find(const std::string& path)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = handles_.find(path);
        return it != handles_.end() ? it->second : nullptr;
    }

    void add(const std::string& path, void* handle)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handles_.insert(std::make_pair(path, handle));
    }

private:
    std::mutex mutex_;
    std::map<std::string, void*> handles_;
};

LoadedLibraries& loadedLibraries()
{
    static LoadedLibraries libraries;
    return libraries;
}

// A category becomes a directory name, so it may not reach outside the plug-in directory.
bool validCategory(const std::string& category)
{
    if (category.empty()) {
        return false;
    }
    for (const char c : category) {
        const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && c != '_') {
            return false;
        }
    }
    return true;
}

// "*.so" as the shell matches it: hidden files are not libraries of the category.
bool isLibraryName(const char* name)
{
    static const char kSuffix[] = ".so";
    const std::size_t length = std::strlen(name);
    const std::size_t suffix = sizeof kSuffix - 1;
    return name[0] != '.' && length > suffix && std::strcmp(name + length - suffix, kSuffix) == 0;
}

}  // namespace

namespace kel {

LibLoader::LibLoader() = default;
LibLoader::~LibLoader() = default;

void* LibLoader::load_library(const std::string& path)
{
    void* handle = loadedLibraries().find(path);
    if (handle != nullptr) {
        return handle;
    }
    // Every symbol bound now, so a broken library fails here and not in the middle of an export.
    handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        Log_SpecEntry(&logSpecError, __FILE__, __LINE__, "Plug-in library %s cannot be loaded: %s", path.c_str(),
                      reason != nullptr ? reason : "unknown error");
        return nullptr;
    }
    loadedLibraries().add(path, handle);
    return handle;
}

void LibLoader::post_load_hook(const std::string& /*lib*/, void* /*dl_h*/) {}

// Libraries stay loaded for the life of the process (see above), so there is nothing to do.
void LibLoader::unload_library(std::pair<std::string, void*>& /*lib*/) {}

namespace plugin {

int LoadPlugins(const std::string& category, kel::LibLoader& loader)
{
    if (!validCategory(category)) {
        Log_SpecEntry(&logSpecError, __FILE__, __LINE__, "Plug-in category \"%s\" is not a valid name",
                      category.c_str());
        return 0;
    }
    const std::string directory = clonehost::hostPath("/usr/lib/plugins/" + category);
    std::vector<std::string> names;
    {
        Dir dir(::opendir(directory.c_str()));
        if (!dir) {
            // A device without plug-ins of the category is normal; an unreadable directory is not.
            const int error = errno;
            char text[256];  // strerror_r: this call's buffer, not one all threads share
            Log_SpecEntry(error == ENOENT ? &logSpecInfo : &logSpecError, __FILE__, __LINE__,
                          "Plug-in directory %s cannot be read: %s", directory.c_str(),
                          ::strerror_r(error, text, sizeof text));
            return 0;
        }
        while (const struct dirent* entry = ::readdir(dir.get())) {
            if (isLibraryName(entry->d_name)) {
                names.push_back(entry->d_name);
            }
        }
    }
    std::sort(names.begin(), names.end());

    int loaded = 0;
    for (const std::string& name : names) {
        const std::string path = std::string(directory).append("/").append(name);
        // Anything else named like a library is tried, so a broken one shows up in the log.
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            continue;
        }
        void* handle = loader.load_library(path);
        if (handle != nullptr) {
            ++loaded;
        }
        loader.post_load_hook(name, handle);
    }
    return loaded;
}

}  // namespace plugin

}  // namespace kel
