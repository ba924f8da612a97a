// Attribute-list transformations: the bytes and order of the lists they write, the scratch files
// they leave behind (none), and what a list that cannot be written whole becomes.
#include <optional>

#include "CaptureTest.h"

namespace {

using namespace std::string_literals;
using namespace clonetest;

const char kList[] = "/xpaths/tmp_cloningData/nvram_attr_list";
const char kSource[] = "/xpaths/tmp_cloningData/source";
const char kAutoLine[] = ":TCPIP_ANY_TOKEN:TCPIP_AUTO_ADDRESSING_TAG:1";
const Strings kWorkFiles = {"/xpaths/tmp_cloningData/attr_list.tmp",
                                             "/xpaths/tmp_cloningData/auto_address.in",
                                             "/xpaths/tmp_cloningData/auto_address.out"};

class AttributeListTest : public DeviceTest {
protected:
    void TearDown() override
    {
        for (const std::string& file : kWorkFiles) {
            EXPECT_FALSE(exists(path(file))) << file << " left behind";
        }
        DeviceTest::TearDown();
    }
    std::string list() const { return readFile(path(kList)); }

    CloneCreator creator{const_cast<char*>("/tmp")};
};

enum class Op { Convert, Sort, KeepOrder, RemoveDuplicates };

const std::string kLong(5000, 'x');

TEST_F(AttributeListTest, TransformedBytes)
{
    const struct {
        const char* name;
        Op op;
        std::optional<std::string> in;  // none: there is no file to read
        std::string out;
    } cases[] = {
        {"ConvertWithoutListMakesAnEmptyOne", Op::Convert, std::nullopt, ""},
        {"ConvertShortForm", Op::Convert, "TCPIP_ANY_TOKEN:TCPIP_AUTO_ADDRESSING_TAG\n", kAutoLine + "\n"s},
        {"ConvertLeavesOtherFieldCounts", Op::Convert, "a:b:c\nnocolon\n:a:b:1\n", "a:b:c\nnocolon\n:a:b:1\n"},
        {"ConvertDropsEmptyLinesAndEndsTheLast", Op::Convert, "\na:b\n\n\nc:d", ":a:b:1\n:c:d:1\n"},
        {"ConvertKeepsCrAndNulAsLineBytes", Op::Convert, "a:b\r\nx\0y:z\n"s, ":a:b\r:1\n:x\0y:z:1\n"s},
        {"ConvertLongLine", Op::Convert, kLong + ":" + kLong, ":" + kLong + ":" + kLong + ":1\n"},
        {"SortExpandsAndRemovesRepeats", Op::Sort, "b\na[<profile/>].b\n\na[wired].b\nb\n",
         "a[wired].b\na[wireless].b\nb\n"},
        {"KeepOrderExpandsAndRemovesRepeats", Op::KeepOrder, "z\na[<profile/>].b\nz\n\na[wired].b",
         "z\na[wired].b\na[wireless].b\n"},
        {"OnlyFirstPlaceholderReplaced", Op::KeepOrder, "<profile/>.x.<profile/>\n",
         "wired.x.<profile/>\nwireless.x.<profile/>\n"},
        {"RemoveDuplicatesFirstOccurrence", Op::RemoveDuplicates, "c\na\nc\n\nb\na", "c\na\nb\n"},
        {"RemoveDuplicatesComparesBytes", Op::RemoveDuplicates, "a\r\na\na\0b\na\0c\na\r\na\0b"s,
         "a\r\na\na\0b\na\0c\n"s},
        {"RemoveDuplicatesLongLines", Op::RemoveDuplicates, kLong + "1\n" + kLong + "2\n" + kLong + "1\n",
         kLong + "1\n" + kLong + "2\n"},
        {"RemoveDuplicatesWithoutSourceEmptiesTheList", Op::RemoveDuplicates, std::nullopt, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(path(kList).c_str());
        ::unlink(path(kSource).c_str());
        if (c.op == Op::RemoveDuplicates) {
            writeFile(path(kList), "stale\n");
        }
        if (c.in) {
            writeFile(path(c.op == Op::RemoveDuplicates ? kSource : kList), *c.in);
        }
        switch (c.op) {
        case Op::Convert:
            creator.convertNVRamAttributeFormat(kList);
            break;
        case Op::Sort:
        case Op::KeepOrder:
            creator.expandConnectionNames(kList, c.op == Op::KeepOrder);
            break;
        case Op::RemoveDuplicates:
            creator.removeDuplicates(kSource, kList);
            break;
        }
        EXPECT_TRUE(exists(path(kList)));
        EXPECT_EQ(list(), c.out);
    }
    EXPECT_TRUE(messages("ERROR").empty());
}

// The automatic-addressing line stays only when saveCnConfig reports a value that is not static.
TEST_F(AttributeListTest, AutoAddressingLineStaysUnlessStatic)
{
    const struct {
        const char* name;
        const char* value;  // in the device's NVRAM store
        const char* mode;   // sim.tool.saveCnConfig; empty: behaves
        bool kept;
    } cases[] = {{"Static", "static", "", false},
                 {"Dhcp", "dhcp", "", true},
                 {"ToolFails", "dhcp", "fail", false},
                 {"EmptyAnswer", "dhcp", "empty", false},
                 {"GarbageAnswer", "static", "garbage", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clearLog();
        writeFile(path("/config/nvram"), "TCPIP_ANY_TOKEN:TCPIP_AUTO_ADDRESSING_TAG="s + c.value + "\n");
        setAttribute("sim.tool.saveCnConfig", c.mode);
        writeFile(path(kList), ":A:B:1\n"s + kAutoLine + "\n:C:D:1\n");
        creator.removeStaticAddressCloning();
        EXPECT_EQ(list(), c.kept ? ":A:B:1\n"s + kAutoLine + "\n:C:D:1\n" : ":A:B:1\n:C:D:1\n");
        EXPECT_EQ(toolCalls(), Strings{"saveCnConfig -i " +
                                                        path("/xpaths/tmp_cloningData/auto_address.in") + " -o " +
                                                        path("/xpaths/tmp_cloningData/auto_address.out")});
    }
}

// The list line itself is asked, and it is written once per non-static answer line.
TEST_F(AttributeListTest, StaticFilterKeepsTheLineOncePerNonStaticAnswer)
{
    replaceTool("/xpaths/nc_dlms/clone/apps/saveCnConfig",
                "cp \"$2\" \"$CLONE_DEVICE_ROOT/asked\"; printf 'a\\n\\nb 737461746963\\nc' > \"$4\"");
    writeFile(path(kList), "x"s + kAutoLine + "\r\n");
    creator.removeStaticAddressCloning();
    EXPECT_EQ(readFile(path("/asked")), "x"s + kAutoLine + "\r\n");
    EXPECT_EQ(list(), "x"s + kAutoLine + "\r\n" + "x" + kAutoLine + "\r\n");
}

TEST_F(AttributeListTest, RebootForNetworkTokensAnywhereInALine)
{
    const std::pair<std::string, bool_t> cases[] = {
        {":A:B:1\nxIPV6_ANY_TOKENy\n", TRUE}, {":TCPIP_ANY_TOKEN:T:1\n", TRUE},
        {":IP_INTERFACE_ANY_TOKEN:T:1\n", TRUE}, {":A:B:1\n:PCI_ENET_TOKEN:T:1", TRUE},
        {":HTTP_ANY_TOKEN:T:1\nTCPIP_ANY_TOKE\n", FALSE}, {"", FALSE}};
    for (const auto& [content, reboot] : cases) {
        writeFile(path(kList), content);
        EXPECT_EQ(creator.isRebootRequired(), reboot) << content;
    }
    ::unlink(path(kList).c_str());
    EXPECT_EQ(creator.isRebootRequired(), FALSE);
}

// A scratch file on a full disk: the list is dropped, never left short or unconverted.
TEST_F(AttributeListTest, FullDiskDropsTheList)
{
    if (!exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this machine";
    }
    const std::vector<std::pair<std::string, void (*)(CloneCreator&)>> ops = {
        {"convertNVRamAttributeFormat", [](CloneCreator& c) { c.convertNVRamAttributeFormat(kList); }},
        {"expandConnectionNames", [](CloneCreator& c) { c.expandConnectionNames(kList, FALSE); }},
        {"removeStaticAddressCloning", [](CloneCreator& c) { c.removeStaticAddressCloning(); }}};
    for (const auto& [name, op] : ops) {
        clearLog();
        ASSERT_EQ(::symlink("/dev/full", path(kWorkFiles[0]).c_str()), 0);
        writeFile(path(kList), "a:b\n");
        op(creator);
        EXPECT_FALSE(exists(path(kList))) << name;
        EXPECT_EQ(messages("ERROR"),
                  Strings{name + ": " + kList + " cannot be written completely and is dropped"});
    }
}

}  // namespace
