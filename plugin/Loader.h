// Connects each loaded plug-in library to a portal through the library's init function.
#ifndef KEL_PLUGIN_LOADER_H
#define KEL_PLUGIN_LOADER_H

#include <string>

#include "Portal.h"
#include "kel/LibLoader.h"
#include "device_log.h"

namespace kel {
namespace plugin {

// Init functions are resolved through this pointer only, so a test or a debugging build can
// watch or replace the lookup.
typedef void* (*DlsymFunction)(void* handle, const char* symbol);
extern __attribute__((visibility("default"))) DlsymFunction dlsym;

template <typename T>
class Loader : public kel::LibLoader {
public:
    typedef void (*InitFunction)(Portal<T>*);

    Loader(const std::string& cat, Portal<T>* p) : portal(p), category(cat) {}
    ~Loader() override {}

    // Hands the portal to the library's "<category>_plugin_init", so it can install its plug-ins.
    void post_load_hook(const std::string& lib, void* dl_h) override
    {
        if (dl_h == nullptr) {
            return;
        }
        const std::string symbol = category + "_plugin_init";
        void* found = kel::plugin::dlsym(dl_h, symbol.c_str());
        if (found == nullptr) {
            // A library of the category without an init function offers no plug-in: say so and
            // go on with the others.
            Log_SpecEntry(&logSpecError, __FILE__, __LINE__, "Plug-in library %s has no %s", lib.c_str(),
                          symbol.c_str());
            return;
        }
        InitFunction initFn = reinterpret_cast<InitFunction>(found);
        initFn(portal);
    }

    Portal<T>* portal;
    std::string category;
};

}  // namespace plugin
}  // namespace kel

#endif
