// The plug-in portal: which plug-in is filed under which name, and the library portal's export.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "CloningExportPortal.h"
#include "DeviceTest.h"
#include "FakePlugin.h"

namespace {

using clonetest::FakePlugin;

// The plug-ins of the scenarios: two that share a name, one with another name, and none at all.
enum Which { kCmlFirst, kCmlSecond, kFdi, kNull };

struct Step {
    enum Op { Install, Uninstall } op;
    Which plugin;
};

struct PortalCase {
    const char* name;
    std::vector<Step> steps;
    std::map<std::string, Which> filed;  // the whole map afterwards
};

CLONE_PRINT_BY_NAME(PortalCase)

class PortalScenarioTest : public testing::TestWithParam<PortalCase> {};

TEST_P(PortalScenarioTest, FilesPluginsUnderTheirNames)
{
    FakePlugin cmlFirst("cmlAttributes");
    FakePlugin cmlSecond("cmlAttributes");
    FakePlugin fdi("fdiAttributes");
    cloning::Plugin* const pool[] = {&cmlFirst, &cmlSecond, &fdi, nullptr};

    CloningExportPortal portal;
    for (const Step& step : GetParam().steps) {
        if (step.op == Step::Install) {
            portal.Install(pool[step.plugin]);
        } else {
            portal.Uninstall(pool[step.plugin]);
        }
    }
    std::map<std::string, cloning::Plugin*> expected;
    for (const auto& entry : GetParam().filed) {
        expected[entry.first] = pool[entry.second];
    }
    EXPECT_EQ(portal.GetPluginMap(), expected);
}

const Step::Op kIn = Step::Install;
const Step::Op kOut = Step::Uninstall;

INSTANTIATE_TEST_SUITE_P(
    Portal, PortalScenarioTest,
    testing::Values(
        PortalCase{"InstallFilesUnderContentType", {{kIn, kCmlFirst}}, {{"cmlAttributes", kCmlFirst}}},
        PortalCase{"SecondPluginOfSameNameReplacesFirst",
                   {{kIn, kCmlFirst}, {kIn, kCmlSecond}},
                   {{"cmlAttributes", kCmlSecond}}},
        PortalCase{"ReinstallOfSamePluginKeepsOneEntry",
                   {{kIn, kCmlFirst}, {kIn, kCmlFirst}},
                   {{"cmlAttributes", kCmlFirst}}},
        PortalCase{"DifferentNamesAreFiledSideBySide",
                   {{kIn, kCmlFirst}, {kIn, kFdi}},
                   {{"cmlAttributes", kCmlFirst}, {"fdiAttributes", kFdi}}},
        PortalCase{"UninstallRemovesOnlyItsName",
                   {{kIn, kCmlFirst}, {kIn, kFdi}, {kOut, kCmlFirst}},
                   {{"fdiAttributes", kFdi}}},
        // The entry goes by name, whichever object of that name is filed.
        PortalCase{"UninstallOfAnotherPluginOfSameNameRemovesEntry",
                   {{kIn, kCmlFirst}, {kOut, kCmlSecond}},
                   {}},
        PortalCase{"UninstallOfUnfiledNameChangesNothing",
                   {{kIn, kCmlFirst}, {kOut, kFdi}},
                   {{"cmlAttributes", kCmlFirst}}},
        PortalCase{"UninstallOnEmptyPortalChangesNothing", {{kOut, kCmlFirst}}, {}},
        PortalCase{"InstallAfterUninstallFilesAgain",
                   {{kIn, kCmlFirst}, {kOut, kCmlFirst}, {kIn, kCmlSecond}},
                   {{"cmlAttributes", kCmlSecond}}},
        PortalCase{"NullPluginIsNeitherInstalledNorUninstalled",
                   {{kIn, kNull}, {kIn, kFdi}, {kOut, kNull}},
                   {{"fdiAttributes", kFdi}}}),
    [](const testing::TestParamInfo<PortalCase>& info) { return std::string(info.param.name); });

TEST(PortalTest, NeverDeletesItsPlugins)
{
    int destroyed = 0;
    FakePlugin kept("cmlAttributes", TRUE, &destroyed);
    FakePlugin removed("fdiAttributes", TRUE, &destroyed);
    {
        std::unique_ptr<CloningExportPortal> portal(new CloningExportPortal);
        portal->Install(&kept);
        portal->Install(&removed);
        portal->Uninstall(&removed);
    }
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(kept.ContentType(), "cmlAttributes");
}

TEST(PortalTest, HasPluginCountsANameFiledWithoutPlugin)
{
    CloningExportPortal portal;
    portal.GetPluginMap()["ConfigServer"] = nullptr;
    EXPECT_TRUE(portal.HasPlugin("ConfigServer"));
    EXPECT_EQ(portal.GetPlugin("ConfigServer"), nullptr);
    EXPECT_FALSE(portal.HasPlugin("configserver"));
}

TEST(PortalTest, LookupsOfUnknownNamesFileNothing)
{
    CloningExportPortal portal;
    FakePlugin cml("cmlAttributes");
    portal.Install(&cml);
    EXPECT_EQ(portal.GetPlugin("cmlAttributes"), &cml);
    EXPECT_EQ(portal.GetPlugin("fdiAttributes"), nullptr);
    EXPECT_FALSE(portal.HasPlugin("fdiAttributes"));
    EXPECT_FALSE(portal.HasPlugin(""));
    EXPECT_EQ(portal.GetPluginMap().size(), 1u);
}

TEST(PortalTest, ExportOfUnknownNameFailsAndFilesItWithoutPlugin)
{
    CloningExportPortal portal;
    FakePlugin cml("cmlAttributes");
    portal.Install(&cml);

    EXPECT_EQ(portal.exportClone("ConfigServer", "/list"), FALSE);
    EXPECT_TRUE(portal.HasPlugin("ConfigServer"));
    EXPECT_EQ(portal.GetPlugin("ConfigServer"), nullptr);
    EXPECT_EQ(portal.GetPluginMap().size(), 2u);
    // Still no plug-in the second time, and nobody else was asked.
    EXPECT_EQ(portal.exportClone("ConfigServer", "/list"), FALSE);
    EXPECT_TRUE(cml.exports.empty());
}

class PortalExportResultTest : public testing::TestWithParam<bool_t> {};

TEST_P(PortalExportResultTest, ExportIsThePluginsOwnWithTheGivenFile)
{
    CloningExportPortal portal;
    FakePlugin configServer("ConfigServer", GetParam());
    FakePlugin other("cmlAttributes", !GetParam());
    portal.Install(&configServer);
    portal.Install(&other);

    EXPECT_EQ(portal.exportClone("ConfigServer", "/xpaths/tmp_cloningData/cfg_attr_list"), GetParam());
    EXPECT_EQ(configServer.exports, std::vector<std::string>{"/xpaths/tmp_cloningData/cfg_attr_list"});
    EXPECT_TRUE(other.exports.empty());
}

INSTANTIATE_TEST_SUITE_P(Portal, PortalExportResultTest, testing::Values(TRUE, FALSE),
                         [](const testing::TestParamInfo<bool_t>& info) {
                             return std::string(info.param ? "PluginSucceeds" : "PluginFails");
                         });

class PortalLogTest : public clonetest::DeviceTest {};

TEST_F(PortalLogTest, ExportLogsNothing)
{
    CloningExportPortal portal;
    FakePlugin cml("cmlAttributes", FALSE);
    portal.Install(&cml);
    portal.exportClone("cmlAttributes", "/list");
    portal.exportClone("fdiAttributes", "/list");
    EXPECT_TRUE(log().empty());
}

}  // namespace
