// The foreign device interface's plug-in: the settings of the interface, the attributes "fdi.*".
#include "AttributeExport.h"
#include "Portal.h"

namespace {

sampleplugin::AttributePlugin plugin("fdiAttributes",
                                     "/xpaths/tmp_cloningData/cloningExport/data/fdiAttributes/fdiAttributes",
                                     "fdi.");

}  // namespace

extern "C" __attribute__((visibility("default"))) void cloning_plugin_init(
    kel::plugin::Portal<cloning::Plugin>* portal)
{
    if (portal != nullptr) {
        portal->Install(&plugin);
    }
}
