// The simulated device's cloning plug-ins, loaded the way the library loads them: what each
// exports, and that a failed export leaves nothing behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "CloningExportPortal.h"
#include "DeviceTest.h"
#include "Loader.h"

namespace {

using clonetest::exists;
using clonetest::readFile;
using clonetest::writeFile;

struct PluginCase {
    const char* name;
    const char* staged;    // device path of its export
    bool exportsList;      // exports the list it is handed, rather than attributes of its own
    const char* exported;  // the export of the list and configuration below
};

CLONE_PRINT_BY_NAME(PluginCase)

// Configuration and list shared by every row: repeats, a blank line, a name the device lacks, a
// value holding "=", an attribute set twice (the last line wins), a name for both connection
// profiles, and attributes of the custom media list and the foreign device interface (none listed).
const char kAttributes[] =
    "a.b=1\n"
    "c.d=x=y\n"
    "media.tray1.type=plain\n"
    "media.custom.1.name=Cardstock\n"
    "fdi.enabled=TRUE\n"
    "fdi.device.interfaceEnabled=FALSE\n"
    "net.8021x[wired].enabled=TRUE\n"
    "net.8021x[wireless].enabled=FALSE\n"
    "a.b=2\n";
const char kList[] =
    "a.b\n"
    "\n"
    "media.tray1.type\n"
    "missing.attr\n"
    "net.8021x[<profile/>].enabled\n"
    "a.b\n"
    "c.d\n"
    "media.tray1.type\n";
const char kListPath[] = "/xpaths/tmp_cloningData/cfg_attr_list";

class SamplePluginTest : public clonetest::DeviceTest, public testing::WithParamInterface<PluginCase> {
protected:
    bool withPlugins() const override { return true; }

    void SetUp() override
    {
        DeviceTest::SetUp();
        kel::plugin::Loader<cloning::Plugin> loader("cloning", &portal);
        ASSERT_EQ(kel::plugin::LoadPlugins(loader.category, loader), 3);
        writeFile(path("/config/attributes"), readFile(path("/config/attributes")) + kAttributes);
        writeFile(path(kListPath), kList);
    }

    bool_t exportClone(const std::string& list) { return portal.exportClone(GetParam().name, list); }
    std::string staged() const { return path(GetParam().staged); }

    CloningExportPortal portal;
};

TEST_P(SamplePluginTest, ExportsTheListedAttributesOfTheCurrentDevice)
{
    ASSERT_FALSE(exists(path("/xpaths/tmp_cloningData/cloningExport")));
    // Only TRUE refuses the export.
    setAttribute(std::string("sim.plugin.") + GetParam().name + ".fail", "FALSE");
    EXPECT_EQ(exportClone(path(kListPath)), TRUE);
    EXPECT_EQ(readFile(staged()), GetParam().exported);

    // The directories it made are the device's usual 0755 ones.
    const std::string dir = staged().substr(0, staged().rfind('/'));
    struct stat st;
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_FALSE(exists(staged() + ".tmp"));
    EXPECT_TRUE(messages("ERROR").empty());
    ASSERT_EQ(::unlink(staged().c_str()), 0);

    // Each export follows the device root of the environment, also one set after the plug-ins were loaded.
    const std::string other = root() + "/other";
    clonetest::makeDirs(other + "/config");
    clonetest::makeDirs(other + "/xpaths/tmp_cloningData");
    writeFile(other + "/config/attributes", "a.b=other\nmedia.custom.1.name=other\nfdi.enabled=other\n");
    ASSERT_EQ(::setenv("CLONE_DEVICE_ROOT", other.c_str(), 1), 0);
    const bool_t result = exportClone(path(kListPath));
    ASSERT_EQ(::setenv("CLONE_DEVICE_ROOT", root().c_str(), 1), 0);

    EXPECT_EQ(result, TRUE);
    EXPECT_FALSE(exists(staged()));
    const std::string text = readFile(other + GetParam().staged);
    EXPECT_NE(text.find("=other\n"), std::string::npos) << text;
}

// A refused export, a missing list (for the plug-in that exports one) or an export file that
// cannot take its place: the export fails, says why and leaves no part behind.
TEST_P(SamplePluginTest, FailedExportLeavesNothing)
{
    const std::string name = GetParam().name;
    setAttribute("sim.plugin." + name + ".fail", "TRUE");
    EXPECT_EQ(exportClone(path(kListPath)), FALSE);
    EXPECT_FALSE(exists(path("/xpaths/tmp_cloningData/cloningExport")));
    EXPECT_TRUE(logged("INFO", name + " plug-in: export refused by sim.plugin." + name + ".fail"));
    setAttribute("sim.plugin." + name + ".fail", "FALSE");

    const std::string list = path("/xpaths/tmp_cloningData/no_such_list");
    if (GetParam().exportsList) {
        EXPECT_EQ(exportClone(list), FALSE);
        EXPECT_FALSE(exists(path("/xpaths/tmp_cloningData/cloningExport")));
        EXPECT_TRUE(logged("ERROR", name + " plug-in: attribute list " + list + " cannot be read"));
    } else {
        EXPECT_EQ(exportClone(list), TRUE);
        EXPECT_EQ(readFile(staged()), GetParam().exported);
        ASSERT_EQ(::unlink(staged().c_str()), 0);
    }

    clonetest::makeDirs(staged());
    EXPECT_EQ(exportClone(path(kListPath)), FALSE);
    EXPECT_FALSE(exists(staged() + ".tmp"));
    EXPECT_TRUE(logged("ERROR", name + " plug-in: " + GetParam().staged + " cannot be written"));
}

INSTANTIATE_TEST_SUITE_P(
    SamplePlugins, SamplePluginTest,
    testing::Values(PluginCase{"ConfigServer", "/xpaths/tmp_cloningData/cloningExport/data/cloneStorage/cfg_clone",
                               true,
                               "set a.b=2\n"
                               "set media.tray1.type=plain\n"
                               "set net.8021x[wired].enabled=TRUE\n"
                               "set net.8021x[wireless].enabled=FALSE\n"
                               "set c.d=x=y\n"},
                    PluginCase{"cmlAttributes",
                               "/xpaths/tmp_cloningData/cloningExport/data/cmlAttributes/cmlAttributes", false,
                               "set media.custom.1.name=Cardstock\n"},
                    PluginCase{"fdiAttributes",
                               "/xpaths/tmp_cloningData/cloningExport/data/fdiAttributes/fdiAttributes", false,
                               "set fdi.device.interfaceEnabled=FALSE\n"
                               "set fdi.enabled=TRUE\n"}),
    clonetest::RowName());

}  // namespace
