// The custom media list's plug-in: the listed attributes of the media settings ("media.").
#include "AttributeExport.h"
#include "Portal.h"

namespace {

sampleplugin::AttributePlugin plugin("cmlAttributes", "media.",
                                     "/xpaths/tmp_cloningData/cloningExport/data/cmlAttributes/cmlAttributes");

}  // namespace

extern "C" __attribute__((visibility("default"))) void cloning_plugin_init(
    kel::plugin::Portal<cloning::Plugin>* portal)
{
    if (portal != nullptr) {
        portal->Install(&plugin);
    }
}
