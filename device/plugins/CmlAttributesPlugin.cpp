// The custom media list's plug-in: the device's custom media types, the attributes "media.custom.*".
#include "AttributeExport.h"
#include "Portal.h"

namespace {

sampleplugin::AttributePlugin plugin("cmlAttributes",
                                     "/xpaths/tmp_cloningData/cloningExport/data/cmlAttributes/cmlAttributes",
                                     "media.custom.");

}  // namespace

extern "C" __attribute__((visibility("default"))) void cloning_plugin_init(
    kel::plugin::Portal<cloning::Plugin>* portal)
{
    if (portal != nullptr) {
        portal->Install(&plugin);
    }
}
