// The foreign device interface's plug-in: the listed attributes of the interface ("fdi.").
#include "AttributeExport.h"
#include "Portal.h"

namespace {

sampleplugin::AttributePlugin plugin("fdiAttributes", "fdi.",
                                     "/xpaths/tmp_cloningData/cloningExport/data/fdiAttributes/fdiAttributes");

}  // namespace

extern "C" __attribute__((visibility("default"))) void cloning_plugin_init(
    kel::plugin::Portal<cloning::Plugin>* portal)
{
    if (portal != nullptr) {
        portal->Install(&plugin);
    }
}
