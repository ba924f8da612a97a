// NVRAM capture for both clone types, end to end through the simulated saveCnConfig: what is
// saved, the reboot marker, the node's text, and the lists consumed.
#include <optional>

#include "CaptureTest.h"

namespace {

using namespace clonetest;

const char kList[] = "/xpaths/tmp_cloningData/nvram_attr_list";
const char kSelfList[] = "/xpaths/tmp_cloningData/nvram_attr_listcloneself";
const std::string kStorage = kExportData + "cloneStorage/";
const std::string kMarker = kStorage + "clone_install_requires_reboot";
const char kDefaults[] = "/usr/ui/pum/nvm/defaults/Default/NVM.xml";
const std::string kAuto = "TCPIP_ANY_TOKEN:TCPIP_AUTO_ADDRESSING_TAG";

class NvramTest : public CaptureTest {
protected:
    void reset(const std::string& alsoRemove)
    {
        removeTree(kStorage);
        removeTree(alsoRemove);
        clearLog();
        xmlNodeSetContent(node(), nullptr);
    }
};

// The list is sorted without repeats, expanded for both connection profiles and, for other devices,
// rid of a static address; a dynamic address marks the clone as needing a reboot. What
// saveCnConfig did not save is not named, and then no restart is asked for.
TEST_F(NvramTest, SavedForOtherDevices)
{
    const struct {
        const char* name;
        std::optional<std::string> list;
        std::string store;  // the device's NVRAM values
        std::optional<std::string> saved;  // nvm_clone afterwards, or nothing named
        bool reboot, selfList;  // selfList: a self-clone list exists too
        const char* mode;  // sim.tool.saveCnConfig
    } cases[] = {
        {"RepeatsSortedOnceForBothProfiles", "b:c\np:<profile/>_tag\na:c\n\nb:c",
         "a:c=1\nb:c=2\np:wired_tag=w\np:wireless_tag=wl\n", "a:c=31\nb:c=32\np:wired_tag=77\np:wireless_tag=776c\n",
         false, false, ""},
        {"EmptyList", "", "", "", false, false, ""},
        {"ValueBytesAsTheyAre", "a:c\n", std::string("a:c=x\0y\xff\n", 9), "a:c=780079ff\n", false, false, ""},
        {"StaticAddressingNotCloned", kAuto + "\n", kAuto + "=static\n", "", false, false, ""},
        {"DynamicAddressingNeedsReboot", kAuto + "\n", kAuto + "=dhcp\n", kAuto + "=64686370\n", true, false, ""},
        {"SelfCloneListKeepsStaticAddressing", kAuto + "\n", kAuto + "=static\n", kAuto + "=737461746963\n", true,
         true, ""},
        {"NoList", std::nullopt, "", std::nullopt, false, false, ""},
        {"NothingSaved", "IPV6_ANY_TOKEN:X_TAG\n", "IPV6_ANY_TOKEN:X_TAG=1\n", std::nullopt, false, false, "fail"},
        // Stopped at the time limit after its first line: what it saved is not all of it.
        {"StoppedPartWay", "IPV6_ANY_TOKEN:X_TAG\n", "IPV6_ANY_TOKEN:X_TAG=1\n", std::nullopt, false, false, "hang"}};
    const ScopedEnv limit("CLONE_COMMAND_TIME_LIMIT", "1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(kSelfList);
        writeFile(path("/config/nvram"), c.store);
        setAttribute("sim.tool.saveCnConfig", c.mode);
        if (c.list) {
            writeFile(path(kList), *c.list);
        }
        if (c.selfList) {
            writeFile(path(kSelfList), "");
        }
        EXPECT_EQ(creator.cloneNVRAMHelper(node()), c.saved ? TRUE : FALSE);
        EXPECT_EQ(text(node()), c.saved ? "data/cloneStorage/nvm_clone" : "");
        if (c.saved) {
            EXPECT_EQ(readFile(path(kStorage) + "nvm_clone"), *c.saved);
        }
        EXPECT_EQ(exists(path(kMarker)) ? readFile(path(kMarker)) : "", c.reboot ? "1" : "");
        EXPECT_FALSE(exists(path(kList)));
        const Strings notStaged = {"cloneNVRAMHelper: data/cloneStorage/nvm_clone was not staged"};
        Strings errors = messages("ERROR");
        if (std::string(c.mode) == "hang" && !errors.empty()) {
            EXPECT_EQ(errors[0].rfind("Command stopped after 1 s: ", 0), 0u) << errors[0];
            errors.erase(errors.begin());
        }
        EXPECT_EQ(errors, *c.mode != '\0' ? notStaged : Strings{});
        EXPECT_EQ(log().size(), messages("ERROR").size());
    }
}

// A full disk: nothing is recorded that would install without its parts.
TEST_F(NvramTest, FullDiskGivesUpTheCapture)
{
    writeFile(path("/config/nvram"), kAuto + "=dhcp\n");
    const TmpfsMount full(path(kStorage), "size=16k");
    CLONE_SKIP_UNLESS_MOUNTED(full);
    full.fill();
    writeFile(path(kList), kAuto + "\n");
    EXPECT_EQ(creator.cloneNVRAMHelper(node()), FALSE);
    EXPECT_EQ(text(node()), "");
    EXPECT_FALSE(exists(path(kStorage) + "nvm_clone"));
    EXPECT_FALSE(exists(path(kList)));
    EXPECT_EQ(messages("ERROR"),
              Strings{"cloneNVRAMHelper: " + kMarker + " cannot be written: No space left on device; NVRAM attributes are not cloned"});
}

// A self clone saves its list unfiltered and copies the default NVM.xml beside it, also when the
// list is missing (a failed capture); it never leaves a reboot marker. Without the default NVM.xml:
// OnlySelfNvramList in configuration_attributes_test.
TEST_F(NvramTest, SavedForThisDeviceWithItsDefaults)
{
    const Strings notFound = {"cloneSelfNVRAMHelper: " + std::string(kSelfList) + " is not found"};
    writeFile(path("/config/nvram"), kAuto + "=static\n");
    for (const bool list : {true, false}) {
        SCOPED_TRACE(list ? "list" : "no list");
        reset(kDefaults);
        makeDirs(path(kStorage));
        writeFile(path(kDefaults), "<nvm/>\n");
        if (list) {
            writeFile(path(kSelfList), kAuto + "\n" + kAuto + "\n");
        }
        EXPECT_EQ(creator.cloneSelfNVRAMHelper(node()), list ? TRUE : FALSE);
        EXPECT_EQ(text(node()), list ? "data/cloneStorage/nvm_cloneself" : "");
        EXPECT_EQ(messages("ERROR"), list ? Strings{} : notFound);
        EXPECT_FALSE(exists(path(kSelfList)));
        EXPECT_FALSE(exists(path(kMarker)));
        EXPECT_TRUE(exists(path(kStorage) + "NVM.xml"));
        if (list) {
            EXPECT_EQ(readFile(path(kStorage) + "nvm_cloneself"), kAuto + "=737461746963\n");
        }
    }
}

}  // namespace
