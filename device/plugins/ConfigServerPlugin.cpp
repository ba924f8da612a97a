// The configuration server's plug-in: every attribute of the list it is handed that the device has.
#include "AttributeExport.h"
#include "Portal.h"

namespace {

sampleplugin::AttributePlugin plugin("ConfigServer",
                                     "/xpaths/tmp_cloningData/cloningExport/data/cloneStorage/cfg_clone", nullptr);

}  // namespace

extern "C" __attribute__((visibility("default"))) void cloning_plugin_init(
    kel::plugin::Portal<cloning::Plugin>* portal)
{
    if (portal != nullptr) {
        portal->Install(&plugin);
    }
}
