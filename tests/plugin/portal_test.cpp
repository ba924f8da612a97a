// The plug-in portal: which plug-in is filed under which name.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "CloningExportPortal.h"
#include "FakePlugin.h"

namespace {

using clonetest::FakePlugin;
using Filed = std::map<std::string, cloning::Plugin*>;

// Plug-ins go by their names: a later one of the same name replaces the earlier, uninstalling
// removes whatever is filed under the name, a null plug-in changes nothing, and the portal never
// deletes what it held (these live on the stack: deleting one aborts the test).
TEST(PortalTest, FilesPluginsUnderTheirNames)
{
    FakePlugin cmlFirst("cmlAttributes"), cmlSecond("cmlAttributes"), fdi("fdiAttributes");
    CloningExportPortal portal;
    portal.Install(&cmlFirst);
    portal.Install(&fdi);
    portal.Install(&cmlSecond);
    portal.Install(nullptr);
    portal.Uninstall(nullptr);
    EXPECT_EQ(portal.GetPluginMap(), (Filed{{"cmlAttributes", &cmlSecond}, {"fdiAttributes", &fdi}}));
    portal.Uninstall(&cmlFirst);
    EXPECT_EQ(portal.GetPluginMap(), (Filed{{"fdiAttributes", &fdi}}));
}

}  // namespace
