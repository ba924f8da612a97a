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
const Strings kWorkFiles = {"/xpaths/tmp_cloningData/attr_list.tmp", "/xpaths/tmp_cloningData/auto_address.in",
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
        {"ConvertShortFormDropsEmptyLines", Op::Convert, "\nTCPIP_ANY_TOKEN:TCPIP_AUTO_ADDRESSING_TAG\n\nc:d",
         kAutoLine + "\n:c:d:1\n"s},
        {"ConvertLeavesOtherFieldCounts", Op::Convert, "a:b:c\nnocolon\n:a:b:1\n", "a:b:c\nnocolon\n:a:b:1\n"},
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

// saveCnConfig is asked about the list line itself; the line is written once for every answer line
// that is not the static value, so no answer, or a failed tool, keeps nothing (the simulated tool's
// static and dynamic answers: NvramTest).
TEST_F(AttributeListTest, AutoAddressingLineKeptOncePerNonStaticAnswer)
{
    const std::string line = "x"s + kAutoLine + "\r";
    const std::pair<std::string, int> cases[] = {  // what the tool does after it noted the question, lines kept
        {"exit 1", 0}, {": > \"$4\"", 0}, {"printf 'a\\n\\nb 737461746963\\nc' > \"$4\"", 2},
        {"printf '\\0\\377' > \"$4\"", 1}};
    for (const auto& [answer, kept] : cases) {
        replaceTool("/xpaths/nc_dlms/clone/apps/saveCnConfig", "cp \"$2\" \"$CLONE_DEVICE_ROOT/asked\"; " + answer);
        writeFile(path(kList), ":A:B:1\n" + line + "\n");
        creator.removeStaticAddressCloning();
        EXPECT_EQ(readFile(path("/asked")), line + "\n") << answer;
        std::string expected = ":A:B:1\n";
        for (int i = 0; i < kept; ++i) {
            expected += line + "\n";
        }
        EXPECT_EQ(list(), expected) << answer;
    }
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
    const std::vector<std::pair<std::string, void (*)(CloneCreator&)>> ops = {
        {"convertNVRamAttributeFormat", [](CloneCreator& c) { c.convertNVRamAttributeFormat(kList); }},
        {"expandConnectionNames", [](CloneCreator& c) { c.expandConnectionNames(kList, FALSE); }},
        {"removeStaticAddressCloning", [](CloneCreator& c) { c.removeStaticAddressCloning(); }}};
    const TmpfsMount full(path("/xpaths/tmp_cloningData"), "size=16k");
    CLONE_SKIP_UNLESS_MOUNTED(full);
    for (const auto& [name, op] : ops) {
        clearLog();
        ::unlink((path("/xpaths/tmp_cloningData") + "/.filler").c_str());
        writeFile(path(kList), "a:b\n");
        full.fill();
        op(creator);
        EXPECT_FALSE(exists(path(kList))) << name;
        EXPECT_EQ(messages("ERROR"),
                  Strings{name + ": " + kList + " cannot be written completely and is dropped: No space left on device"});
    }
}

}  // namespace
