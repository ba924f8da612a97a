// NVRAM capture for both clone types, end to end through the simulated saveCnConfig: what is
// saved, the reboot marker, the node's text, and the lists consumed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include <libxml/tree.h>

#include "CloneCreator.h"
#include "DeviceTest.h"
#include "Handles.h"

namespace {

using clonetest::exists;
using clonetest::readFile;
using clonetest::writeFile;

const char kList[] = "/xpaths/tmp_cloningData/nvram_attr_list";
const char kSelfList[] = "/xpaths/tmp_cloningData/nvram_attr_listcloneself";
const char kStorage[] = "/xpaths/tmp_cloningData/cloningExport/data/cloneStorage/";
const char kMarker[] = "/xpaths/tmp_cloningData/cloningExport/data/cloneStorage/clone_install_requires_reboot";
const char kDefaults[] = "/usr/ui/pum/nvm/defaults/Default/NVM.xml";

class NvramTest : public clonetest::DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        clonetest::makeDirs(path("/xpaths/tmp_cloningData/cloningExport/data"));
        clearLog();
    }
    void TearDown() override
    {
        EXPECT_FALSE(exists(path("/xpaths/tmp_cloningData/attr_list.tmp")));
        DeviceTest::TearDown();
    }

    std::string text() const
    {
        cloneutil::XmlChar content(xmlNodeGetContent(node));
        return reinterpret_cast<const char*>(content.get());
    }
    std::string saveCall(const char* list, const char* saved) const
    {
        return "saveCnConfig -i " + path(list) + " -o " + path(kStorage) + saved;
    }

    CloneCreator creator{const_cast<char*>("/tmp")};
    cloneutil::XmlNode owner{xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("nvRAM"))};
    xmlNodePtr node = owner.get();
};

const std::string kAuto = "TCPIP_ANY_TOKEN:TCPIP_AUTO_ADDRESSING_TAG";

// The list is sorted without repeats, expanded for both connection profiles and, for other devices,
// rid of a static address; a dynamic address marks the clone as needing a reboot.
TEST_F(NvramTest, SavedForOtherDevices)
{
    const struct {
        const char* name;
        std::string list;
        std::string store;  // the device's NVRAM values
        std::string saved;  // nvm_clone afterwards
        bool reboot;
        std::size_t toolCalls;
        bool selfList;  // a self-clone list exists too
    } cases[] = {
        {"RepeatsSortedOnce", "b:c\na:c\n\nb:c", "a:c=1\nb:c=2\n", "a:c=31\nb:c=32\n", false, 1, false},
        {"EmptyList", "", "", "", false, 1, false},
        {"StaticAddressingNotCloned", kAuto + "\n", kAuto + "=static\n", "", false, 2, false},
        {"DynamicAddressingNeedsReboot", kAuto + "\n", kAuto + "=dhcp\n", kAuto + "=64686370\n", true, 2, false},
        {"SelfCloneListKeepsStaticAddressing", kAuto + "\n", kAuto + "=static\n", kAuto + "=737461746963\n", true, 1,
         true},
        {"BothConnectionProfiles", "P:<profile/>_TAG\n", "P:wired_TAG=w\nP:wireless_TAG=wl\n",
         "P:wired_TAG=77\nP:wireless_TAG=776c\n", false, 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(std::system(("rm -rf '" + path(kStorage) + "' '" + path(kSelfList) + "'").c_str()), 0);
        clearLog();
        xmlNodeSetContent(node, nullptr);
        writeFile(path("/config/nvram"), c.store);
        writeFile(path(kList), c.list);
        if (c.selfList) {
            writeFile(path(kSelfList), "");
        }
        EXPECT_EQ(creator.cloneNVRAMHelper(node), TRUE);
        EXPECT_EQ(text(), "data/cloneStorage/nvm_clone");
        EXPECT_EQ(readFile(path(kStorage) + "nvm_clone"), c.saved);
        EXPECT_EQ(exists(path(kMarker)) ? readFile(path(kMarker)) : "", c.reboot ? "1" : "");
        EXPECT_FALSE(exists(path(kList)));
        const std::vector<std::string> calls = toolCalls();
        ASSERT_EQ(calls.size(), c.toolCalls);
        EXPECT_EQ(calls.back(), saveCall(kList, "nvm_clone"));
        EXPECT_TRUE(log().empty());
    }
}

TEST_F(NvramTest, NoListNoCapture)
{
    EXPECT_EQ(creator.cloneNVRAMHelper(node), FALSE);
    EXPECT_EQ(text(), "");
    EXPECT_TRUE(log().empty());
    EXPECT_TRUE(toolCalls().empty());
}

// saveCnConfig saves nothing: the element names no file and no restart is asked for.
TEST_F(NvramTest, NothingSavedNothingNamed)
{
    writeFile(path("/config/nvram"), "IPV6_ANY_TOKEN:X_TAG=1\n");
    writeFile(path(kList), "IPV6_ANY_TOKEN:X_TAG\n");
    setAttribute("sim.tool.saveCnConfig", "fail");
    EXPECT_EQ(creator.cloneNVRAMHelper(node), FALSE);
    EXPECT_EQ(text(), "");
    EXPECT_FALSE(exists(path(kMarker)));
    EXPECT_EQ(messages("ERROR"),
              std::vector<std::string>{"cloneNVRAMHelper: data/cloneStorage/nvm_clone was not staged"});
}

// A full disk: nothing is recorded that would install without its parts.
TEST_F(NvramTest, FullDiskGivesUpTheCapture)
{
    if (!exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this machine";
    }
    writeFile(path("/config/nvram"), kAuto + "=dhcp\n");
    clonetest::makeDirs(path(kStorage));
    ASSERT_EQ(::symlink("/dev/full", path(kMarker).c_str()), 0);
    writeFile(path(kList), kAuto + "\n");
    EXPECT_EQ(creator.cloneNVRAMHelper(node), FALSE);
    EXPECT_EQ(text(), "");
    EXPECT_FALSE(exists(path(kStorage) + "nvm_clone"));
    EXPECT_FALSE(exists(path(kList)));
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"cloneNVRAMHelper: " + std::string(kMarker) +
                                                          " cannot be written; NVRAM attributes are not cloned"});

    clearLog();
    ASSERT_EQ(::symlink("/dev/full", path("/xpaths/tmp_cloningData/attr_list.tmp").c_str()), 0);
    writeFile(path(kList), kAuto + "\n");
    EXPECT_EQ(creator.cloneNVRAMHelper(node), FALSE);
    EXPECT_EQ(text(), "");
    EXPECT_TRUE(toolCalls().empty());
    EXPECT_EQ(messages("ERROR").size(), 1u);
}

// A self clone saves its list unfiltered and copies the default NVM.xml beside it; either part
// missing fails the capture, and neither leaves a reboot marker.
TEST_F(NvramTest, SavedForThisDeviceWithItsDefaults)
{
    const char* const notFound = "cloneSelfNVRAMHelper: /xpaths/tmp_cloningData/nvram_attr_listcloneself is not found";
    const char* const noCopy = "unable to copy NVM.xml file to clone file";
    const struct {
        const char* name;
        bool list;
        bool defaults;
        bool_t result;
        const char* text;
        std::vector<std::string> errors;
    } cases[] = {{"Captured", true, true, TRUE, "data/cloneStorage/nvm_cloneself", {}},
                 {"NoDefaults", true, false, FALSE, "data/cloneStorage/nvm_cloneself", {noCopy}},
                 {"NoListStillCopies", false, true, FALSE, "", {notFound}}};
    writeFile(path("/config/nvram"), kAuto + "=static\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(std::system(("rm -rf '" + path(kStorage) + "' '" + path(kDefaults) + "'").c_str()), 0);
        clonetest::makeDirs(path(kStorage));
        clearLog();
        xmlNodeSetContent(node, nullptr);
        if (c.list) {
            writeFile(path(kSelfList), kAuto + "\n" + kAuto + "\n");
        }
        if (c.defaults) {
            writeFile(path(kDefaults), "<nvm/>\n");
        }
        EXPECT_EQ(creator.cloneSelfNVRAMHelper(node), c.result);
        EXPECT_EQ(text(), c.text);
        EXPECT_EQ(messages("ERROR"), c.errors);
        EXPECT_FALSE(exists(path(kSelfList)));
        EXPECT_FALSE(exists(path(kMarker)));
        EXPECT_EQ(exists(path(kStorage) + "NVM.xml"), c.defaults);
        if (c.list) {
            // No static-address filter for a self-clone.
            EXPECT_EQ(readFile(path(kStorage) + "nvm_cloneself"), kAuto + "=737461746963\n");
            EXPECT_EQ(toolCalls(), std::vector<std::string>{saveCall(kSelfList, "nvm_cloneself")});
        }
    }
}

}  // namespace
