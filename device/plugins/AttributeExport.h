// What the simulated device's cloning plug-ins share: each exports configuration attributes as
// "set NAME=VALUE" lines that the installing side can replay.
#ifndef CLONE_SAMPLE_PLUGIN_ATTRIBUTEEXPORT_H
#define CLONE_SAMPLE_PLUGIN_ATTRIBUTEEXPORT_H

#include <string>

#include "CloningPlugin.h"

namespace sampleplugin {

class AttributePlugin : public cloning::Plugin {
public:
    // NAME: the plug-in's name. STAGED: the device path of its export file. NAMESPACE: null for a
    // plug-in that exports the attributes named in the list it is handed (the configuration
    // server's); otherwise the name prefix of the attributes the plug-in owns, which it exports
    // all, whatever the list holds.
    AttributePlugin(const char* name, const char* staged, const char* ownNamespace)
        : name_(name), staged_(staged), namespace_(ownNamespace)
    {
    }

    std::string ContentType() const override { return name_; }

    // Installing belongs to the receiving device's own plug-ins, not to these.
    bool_t importClone(const std::string& /*filename*/, bool_t /*flag*/) override { return FALSE; }

    // Writes the export file whole, or leaves it alone and returns false: when the file cannot be
    // written, a list to export cannot be read, or the attribute sim.plugin.NAME.fail says so.
    bool_t exportClone(const std::string& filename) override;

private:
    const char* name_;
    const char* staged_;
    const char* namespace_;
};

}  // namespace sampleplugin

#endif
