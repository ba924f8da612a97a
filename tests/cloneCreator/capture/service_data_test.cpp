// Service data capture through the simulated srtClone, scanToMailClone and singleTouchClone, the
// button image copy, the DLM enable state and the point-of-sale file: command lines, staged
// bytes, manifest elements and every failure record.
#include "CaptureTest.h"

namespace {

using namespace clonetest;

const std::string kData = kExportData;
const char kDlmList[] = "/xpaths/tmp_cloningData/dlm_attr_list";
const std::string kImages = "/xpaths/nc_dlms_data/http/data/htdocs/images/customscan/";

// Stores hold bytes: a NUL or a byte that is not UTF-8 is exported as it is.
const std::string kOddLines("a=x\0y\nb=\xff\xfe caf\xe9\n", 16);
const std::string kScan = "service.scan=/scan/v2" + std::string("\0\xe9", 2) + "\n";

const ToolCase kTools[] = {
    {"Registry", &CloneCreator::cloneServiceRegistryAttributesHelper,
     "srtClone @" + kData + "serviceRegistry//srtFile -read", "serviceRegistry", "data/serviceRegistry/srtFile", "",
     kScan, "Creating " + kData + "serviceRegistry/ is failed",
     "Service Registry Attributes are not able to clone", false},
    // A clone of the device itself keeps the device's own entries.
    {"RegistrySelf", &CloneCreator::cloneServiceRegistryAttributesHelper,
     "srtClone @" + kData + "serviceRegistry//srtFile -read cloneSelf", "serviceRegistry",
     "data/serviceRegistry/srtFile", "", kScan + "device.uuid=42\n",
     "Creating " + kData + "serviceRegistry/ is failed", "Service Registry Attributes are not able to clone", false},
    {"Mailbox", &CloneCreator::cloneMailboxHelper, "scanToMailClone get @" + kData + "mailbox/cfg_clone_mailbox",
     "mailbox", "data/mailbox/cfg_clone_mailbox", "", kOddLines, "Creating " + kData + "mailbox/ is failed",
     "MailBox passwords are not able to retrieve", false},
    {"Settings", &CloneCreator::cloneSingleTouchScanSettingsHelper,
     "singleTouchClone @" + kData + "singleTouch//single_touch_clone -read", "singleTouch",
     "data/singleTouch/single_touch_clone", "singleTouchScanSetting",
     std::string("b=\xff\xfe caf\xe9\na=x\0y\n", 16),
     "Creating " + kData + "singleTouch/ is failed2", "Single Touch Scan Settings are not able to clone", false},
};

TEST_P(ToolCaseTest, StagesWholeOutputOrNothing)
{
    writeFile(path("/config/service_registry"), "service.scan=/scan\ndevice.uuid=42\n" + kScan);
    writeFile(path("/config/mailboxes"), kOddLines);
    writeFile(path("/config/single_touch"), "b=1\n" + kOddLines);  // the later b wins, in b's place
    srtCloneSelfType = std::string(std::get<0>(GetParam()).name) == "RegistrySelf" ? "cloneSelf" : "";
    expectWholeOutputOrNothing();
}

CLONE_CASES_WITH_FAULTS(ServiceData, ToolCaseTest, kTools, kToolFaults, kSharedToolFaults, kTools[0]);

// Only names the pattern custom_scan_[1-9]*_*.png takes are copied, and they never reach a
// command line; a copy that fails half-way leaves no image behind.
TEST_F(CaptureTest, ButtonImages)
{
    makeDirs(path("/xpaths/nc_dlms/http/data/htdocs/images/customscan"));  // where the device looks for them
    const Strings copied = {"custom_scan_1_a.png", "custom_scan_12_b c.png", "custom_scan_3_$(touch pwned);x.png"};
    for (const std::string& name : copied) {
        writeSource(kImages + name, name);
    }
    for (const char* name : {"custom_scan_0_a.png", "custom_scan_a_1.png", "custom_scan_1a.png", "custom_scan_1_a.PNG",
                             "custom_scan_1_a.png.bak", "Custom_scan_1_a.png"}) {
        writeSource(kImages + name, "not copied");
    }
    EXPECT_EQ(creator.cloneSingleTouchScanSettingsHelper(node()), TRUE);
    EXPECT_EQ(outline(), "node\n  singleTouchScanImages: data/singleTouch/\n");
    EXPECT_EQ(treeOf(path(kData + "singleTouch")), sorted(copied));
    expectKept(kData + "singleTouch/" + copied[2], copied[2]);
    EXPECT_FALSE(exists("pwned"));

    // A second run finds the directory made.
    clearLog();
    EXPECT_EQ(creator.cloneSingleTouchScanSettingsHelper(node()), FALSE);
    EXPECT_EQ(messages("ERROR"), Strings{"Creating " + kData + "singleTouch/ is failed"});

    removeTree(kData + "singleTouch");
    makeDirs(path(kImages) + "custom_scan_2_dir.png");
    clearLog();
    EXPECT_EQ(creator.cloneSingleTouchScanSettingsHelper(node()), FALSE);
    EXPECT_EQ(messages("INFO"), (Strings{"Single Touch Image directory is not accessible",
                                         "Single Touch Scan Settings are not able to clone"}));
    EXPECT_FALSE(exists(path(kData + "singleTouch")));
}

enum class Trap { None, IpTablesIsAFile, DiskFull };

struct DlmCase {
    const char* name;
    const char* list;  // null: no list
    Strings dirs;      // under the nc_dlms location
    Strings markers;   // under the nc_dlms_data location
    const char* staged;  // null: not recorded
    Strings info, errors;
    Trap trap;
};

CLONE_PRINT_BY_NAME(DlmCase)

const char kNotCloned[] = "DLM Enable setting is not able to clone";
const std::string kDlmFile = kData + "ipTables/dlmEnableClone";

const DlmCase kDlmCases[] = {
    {"OnAndOffInListOrder", "a\nb\n", {"a", "b"}, {"a/a.off"}, "a:OFF\nb:ON\n", {}, {}, Trap::None},
    {"MissingDirectorySkipped", "c\na\n", {"a"}, {"c/c.off"}, "a:ON\n", {"No DLM directory"}, {}, Trap::None},
    {"AllMissingStillRecorded", "c\n", {}, {}, "", {"No DLM directory"}, {}, Trap::None},
    {"BlanksAndShellSyntaxAsTheyStand", "a\nb c\n$(touch pwned);d\n", {"a", "b c", "$(touch pwned);d"},
     {"b c/b c.off"}, "a:ON\nb c:OFF\n$(touch pwned);d:ON\n", {}, {}, Trap::None},
    // A CR stays part of the name (a line of only a CR is no empty line): "a\r" is not "a".
    {"CrStaysPartOfTheName", "a\r\n\r\nd\n", {"a", "d"}, {}, "d:ON\n",
     {"No DLM directory", "No DLM directory"}, {}, Trap::None},
    {"OnlyEmptyLines", "\n\n\n", {}, {}, nullptr, {kNotCloned}, {}, Trap::None},
    {"NamesOutsideTheDlmDirectoryRefused", ".\n..\n../nc_dlms_data\nx/y\n", {"x/y"}, {}, nullptr, {kNotCloned},
     {"DLM name . is not a directory name; it is skipped", "DLM name .. is not a directory name; it is skipped",
      "DLM name ../nc_dlms_data is not a directory name; it is skipped",
      "DLM name x/y is not a directory name; it is skipped"},
     Trap::None},
    {"NoList", nullptr, {}, {}, nullptr, {"DLM Enable Cloning is failed"}, {}, Trap::None},
    {"IpTablesIsAFile", "a\n", {"a"}, {}, nullptr, {kNotCloned}, {"Creating " + kData + "ipTables/ is failed"},
     Trap::IpTablesIsAFile},
    {"DiskFull", "a\n", {"a"}, {}, nullptr, {kNotCloned},
     {kDlmFile + " cannot be written: No space left on device; the DLM enable state is not cloned"}, Trap::DiskFull},
};

class DlmEnableTest : public CaptureTest, public ::testing::WithParamInterface<DlmCase> {};

TEST_P(DlmEnableTest, StatesInListOrder)
{
    const DlmCase& c = GetParam();
    if (c.list != nullptr) {
        writeFile(path(kDlmList), c.list);
    }
    for (const std::string& dir : c.dirs) {
        makeDirs(path("/xpaths/nc_dlms/" + dir));
    }
    for (const std::string& marker : c.markers) {
        makeDirs(path("/xpaths/nc_dlms_data/" + marker.substr(0, marker.find('/'))));
        writeFile(path("/xpaths/nc_dlms_data/" + marker), "");
    }
    if (c.trap == Trap::IpTablesIsAFile) {
        writeFile(path(kData + "ipTables"), "");
    }
    const std::unique_ptr<TmpfsMount> full(c.trap == Trap::DiskFull ? new TmpfsMount(path(kData + "ipTables"), "size=16k")
                                                                    : nullptr);
    if (full) {
        CLONE_SKIP_UNLESS_MOUNTED(*full);
        full->fill();
    }
    EXPECT_EQ(creator.cloneDLMEnableHelper(node()), c.staged != nullptr ? TRUE : FALSE);
    EXPECT_EQ(outline(), c.staged != nullptr ? "node: data/ipTables/dlmEnableClone\n" : "node\n");
    if (c.staged != nullptr) {
        EXPECT_EQ(readFile(path(kDlmFile)), c.staged);
    }
    // A file that did not take every line is not kept.
    EXPECT_EQ(exists(path(kDlmFile)), c.trap == Trap::None && c.list != nullptr);
    EXPECT_FALSE(exists(path(kDlmList)));
    EXPECT_EQ(messages("INFO"), c.info);
    EXPECT_EQ(messages("ERROR"), c.errors);
    EXPECT_FALSE(exists("pwned"));
}

INSTANTIATE_TEST_SUITE_P(ServiceData, DlmEnableTest, ::testing::ValuesIn(kDlmCases), RowName());

const std::string kPosFile = kData + "pos/posConfigAttributes.txt";

// Seven lines in a fixed order; a value the device does not give, or one with a line break, is
// written empty.
TEST_F(CaptureTest, PosSettingsAlwaysSevenLines)
{
    writeFile(path("/config/attributes"),
              "authentication.convenience.continueOrCloseSession=a\rb\nauthentication.pointOfSale.server=s\n"
              "authentication.pointOfSale.usePOSInit=TRUE\nauthentication.convenience.useXMLWrapping=FALSE\n"
              "authentication.pointOfSale.enabled=TRUE\nauthentication.pointOfSale.storeID=42\n");
    const std::string expected =
        "set authentication.pointOfSale.storeID=42\nset authentication.pointOfSale.enabled=TRUE\n"
        "set authentication.convenience.useXMLWrapping=FALSE\nset authentication.pointOfSale.usePOSInit=TRUE\n"
        "set authentication.pointOfSale.server=s\nset authentication.pointOfSale.serverPath=\n"
        "set authentication.convenience.continueOrCloseSession=\n";
    EXPECT_EQ(creator.clonePosAttributesHelper(node()), TRUE);
    EXPECT_EQ(readFile(path(kPosFile)), expected);
    EXPECT_EQ(outline(), "node: data/pos/\n");
    EXPECT_EQ(messages("ERROR"), Strings{"Value of authentication.convenience.continueOrCloseSession holds a line "
                                         "break; it is written empty"});

    // The same element once more finds the directory.
    clearLog();
    EXPECT_EQ(creator.clonePosAttributesHelper(node()), FALSE);
    EXPECT_EQ(messages("ERROR"), Strings{"POS config settings unable to be cloned - cannot create directory."});
}

TEST_F(CaptureTest, PosSettingsOnAFullDisk)
{
    const struct {
        const char* options;
        std::string error;
    } cases[] = {{"nr_inodes=2", "POS config settings unable to be cloned - cannot create file."},
                 {"size=64k", kPosFile + " cannot be written: No space left on device; POS config settings are not cloned"}};
    for (const auto& c : cases) {
        TmpfsMount mount(path(kData), c.options);
        CLONE_SKIP_UNLESS_MOUNTED(mount);
        if (std::string(c.options) == "size=64k") {
            writeFile(path(kData + "filler"), std::string(65536, 'x'));
        }
        clearLog();
        EXPECT_EQ(creator.clonePosAttributesHelper(node()), FALSE);
        EXPECT_EQ(messages("ERROR"), Strings{c.error});
        EXPECT_FALSE(exists(path(kPosFile)));
        EXPECT_EQ(outline(), "node\n");
    }
}

}  // namespace
