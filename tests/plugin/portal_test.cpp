// The plug-in portal: which plug-in is filed under which name, and the library portal's export.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CloningExportPortal.h"
#include "FakePlugin.h"

namespace {

using clonetest::FakePlugin;
using Filed = std::map<std::string, cloning::Plugin*>;

// Plug-ins go by their names: a later one of the same name replaces the earlier, uninstalling
// removes whatever is filed under the name, a null plug-in changes nothing, and the portal never
// deletes what it held.
TEST(PortalTest, FilesPluginsUnderTheirNames)
{
    int destroyed = 0;
    FakePlugin cmlFirst("cmlAttributes", TRUE, &destroyed);
    FakePlugin cmlSecond("cmlAttributes", TRUE, &destroyed);
    FakePlugin fdi("fdiAttributes", TRUE, &destroyed);
    {
        std::unique_ptr<CloningExportPortal> portal(new CloningExportPortal);
        portal->Install(&cmlFirst);
        portal->Install(&fdi);
        portal->Install(&cmlSecond);
        portal->Install(nullptr);
        portal->Uninstall(nullptr);
        EXPECT_EQ(portal->GetPluginMap(), (Filed{{"cmlAttributes", &cmlSecond}, {"fdiAttributes", &fdi}}));
        portal->Uninstall(&cmlFirst);
        EXPECT_EQ(portal->GetPluginMap(), (Filed{{"fdiAttributes", &fdi}}));
    }
    EXPECT_EQ(destroyed, 0);
}

// The export is the named plug-in's own, of the given file; an unknown name fails and is filed
// without a plug-in, which HasPlugin then counts.
TEST(PortalTest, ExportIsTheNamedPluginsOwn)
{
    for (const bool_t result : {TRUE, FALSE}) {
        SCOPED_TRACE(result);
        CloningExportPortal portal;
        FakePlugin configServer("ConfigServer", result);
        FakePlugin other("cmlAttributes", !result);
        portal.Install(&configServer);
        portal.Install(&other);

        EXPECT_EQ(portal.exportClone("ConfigServer", "/xpaths/tmp_cloningData/cfg_attr_list"), result);
        EXPECT_EQ(configServer.exports, std::vector<std::string>{"/xpaths/tmp_cloningData/cfg_attr_list"});
        EXPECT_EQ(portal.exportClone("fdiAttributes", "/list"), FALSE);
        EXPECT_EQ(portal.exportClone("fdiAttributes", "/list"), FALSE);
        EXPECT_TRUE(portal.HasPlugin("fdiAttributes"));
        EXPECT_EQ(portal.GetPlugin("fdiAttributes"), nullptr);
        EXPECT_TRUE(other.exports.empty());
    }
}

}  // namespace
