// The simulated device's cloning plug-ins, loaded the way the library loads them: each exports to
// its staged path, and refuses when sim.plugin.NAME.fail says so (the fault suite's switch). What
// they export is pinned by the end-to-end exports.
#include <gtest/gtest.h>

#include <string>

#include "CloningExportPortal.h"
#include "DeviceTest.h"
#include "Loader.h"

namespace {

using clonetest::exists;

struct PluginCase {
    const char* name;
    // cppcheck-suppress unusedStructMember ; read through GetParam()
    const char* staged;  // its export, in the export tree's data folder
};

CLONE_PRINT_BY_NAME(PluginCase)

class SamplePluginTest : public clonetest::DeviceTest, public testing::WithParamInterface<PluginCase> {
protected:
    bool withPlugins() const override { return true; }
};

TEST_P(SamplePluginTest, ExportsUnlessRefused)
{
    CloningExportPortal portal;
    kel::plugin::Loader<cloning::Plugin> loader("cloning", &portal);
    ASSERT_EQ(kel::plugin::LoadPlugins(loader.category, loader), 3);
    const std::string name = GetParam().name, list = path("/xpaths/tmp_cloningData/cfg_attr_list");
    const std::string exportTree = path("/xpaths/tmp_cloningData/cloningExport");
    clonetest::writeFile(list, "a.b\n");

    setAttribute("sim.plugin." + name + ".fail", "TRUE");
    EXPECT_EQ(portal.exportClone(name, list), FALSE);
    EXPECT_FALSE(exists(exportTree));
    EXPECT_TRUE(logged("INFO", name + " plug-in: export refused by sim.plugin." + name + ".fail"));

    setAttribute("sim.plugin." + name + ".fail", "FALSE");  // only TRUE refuses
    EXPECT_EQ(portal.exportClone(name, list), TRUE);
    EXPECT_TRUE(exists(exportTree + "/data/" + GetParam().staged));
    EXPECT_TRUE(messages("ERROR").empty());
}

INSTANTIATE_TEST_SUITE_P(
    SamplePlugins, SamplePluginTest,
    testing::Values(PluginCase{"ConfigServer", "cloneStorage/cfg_clone"},
                    PluginCase{"cmlAttributes", "cmlAttributes/cmlAttributes"},
                    PluginCase{"fdiAttributes", "fdiAttributes/fdiAttributes"}),
    clonetest::RowName());

}  // namespace
