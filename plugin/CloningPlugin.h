// The interface every cloning plug-in implements.
#ifndef CLONING_PLUGIN_H
#define CLONING_PLUGIN_H

#include <string>

#include "Plugin.h"
#include "bool_t.h"

namespace cloning {

class Plugin : public kel::plugin::Plugin<cloning::Plugin> {
public:
    ~Plugin() override {}
    // The import counterpart; the clone file maker never calls it.
    virtual bool_t importClone(const std::string& filename, bool_t flag) = 0;
    // Exports the plug-in's data; FILENAME names an input chosen by the caller. True on success.
    virtual bool_t exportClone(const std::string& filename) = 0;
};

}  // namespace cloning

#endif
