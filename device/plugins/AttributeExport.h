// What the simulated device's cloning plug-ins share: each exports configuration attributes,
// named by the attribute list the clone file maker hands it, as "set NAME=VALUE" lines that the
// installing side can replay.
#ifndef CLONE_SAMPLE_PLUGIN_ATTRIBUTEEXPORT_H
#define CLONE_SAMPLE_PLUGIN_ATTRIBUTEEXPORT_H

#include <string>

#include "CloningPlugin.h"

namespace sampleplugin {

class AttributePlugin : public cloning::Plugin {
public:
    // NAME: the plug-in's name. PREFIX: only listed attributes whose names begin with it are
    // exported ("" for all). STAGED: the device path of the export file.
    AttributePlugin(const char* name, const char* prefix, const char* staged)
        : name_(name), prefix_(prefix), staged_(staged)
    {
    }

    std::string ContentType() const override { return name_; }

    // Installing belongs to the receiving device's own plug-ins, not to these.
    bool_t importClone(const std::string& /*filename*/, bool_t /*flag*/) override { return FALSE; }

    // Writes the export file whole, or leaves it alone and returns false: when the list cannot be
    // read, the file cannot be written, or the attribute sim.plugin.NAME.fail says so.
    bool_t exportClone(const std::string& filename) override;

private:
    const char* name_;
    const char* prefix_;
    const char* staged_;
};

}  // namespace sampleplugin

#endif
