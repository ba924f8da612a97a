// Staging primitives the clone helpers share: directory modes, device commands, element text.
#include <gtest/gtest.h>

#include <string>

#include <libxml/tree.h>

#include "DeviceTest.h"
#include "Handles.h"
#include "Staging.h"

namespace {

using clonetest::DeviceTest;
using cloneutil::MakeDir;

struct MakeDirCase {
    const char* name;
    MakeDir how;
    bool existsBefore;
    bool parentMissing;
    bool result;
};

class MakeStagingDirTest : public DeviceTest, public ::testing::WithParamInterface<MakeDirCase> {};

TEST_P(MakeStagingDirTest, AcceptsWhatItsModeAccepts)
{
    const MakeDirCase& c = GetParam();
    const char* dir = c.parentMissing ? "/xpaths/tmp_cloningData/cloningExport/data/a/b/" :
                                        "/xpaths/tmp_cloningData/cloningExport/";
    if (c.existsBefore) {
        clonetest::makeDirs(path(dir));
    }
    EXPECT_EQ(cloneutil::makeStagingDir(dir, c.how), c.result);
    EXPECT_EQ(clonetest::exists(path(dir)), c.result || c.existsBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, MakeStagingDirTest,
    ::testing::Values(MakeDirCase{"OrAcceptNew", MakeDir::MakeOrAccept, false, false, true},
                      MakeDirCase{"OrAcceptExisting", MakeDir::MakeOrAccept, true, false, true},
                      MakeDirCase{"OrAcceptMissingParent", MakeDir::MakeOrAccept, false, true, false},
                      MakeDirCase{"NewNew", MakeDir::MakeNew, false, false, true},
                      MakeDirCase{"NewExisting", MakeDir::MakeNew, true, false, false},
                      MakeDirCase{"PathMissingParent", MakeDir::MakePath, false, true, true},
                      MakeDirCase{"PathExisting", MakeDir::MakePath, true, true, true}),
    [](const ::testing::TestParamInfo<MakeDirCase>& info) { return std::string(info.param.name); });

TEST_F(DeviceTest, DeviceCommandRunsUnderTheRootAndGivesTheStatus)
{
    EXPECT_EQ(cloneutil::runDeviceCommand("echo %s > /xpaths/tmp_cloningData/out", "it ran"), 0);
    EXPECT_EQ(clonetest::readFile(path("/xpaths/tmp_cloningData/out")), "it ran\n");
    EXPECT_NE(cloneutil::runDeviceCommand("exit 3"), 0);
    EXPECT_EQ(cloneutil::runDeviceCommand("echo %s", std::string(5000, 'x').c_str()), -1) << "never cut";
}

struct NodeTextCase {
    const char* name;
    const char* text;
    bool taken;
};

CLONE_PRINT_BY_NAME(NodeTextCase)

class SetNodeTextTest : public DeviceTest, public ::testing::WithParamInterface<NodeTextCase> {};

// Node text is taken as it is, "&" included; text that XML 1.0 cannot hold would make the saved
// manifest unreadable, so it is refused, logged, and the node keeps what it had.
TEST_P(SetNodeTextTest, TakesXmlTextRefusesTheRest)
{
    cloneutil::XmlNode node(xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("serialNumber")));
    ASSERT_TRUE(cloneutil::setNodeText(node.get(), "old"));
    EXPECT_EQ(cloneutil::setNodeText(node.get(), GetParam().text), GetParam().taken);
    cloneutil::XmlChar text(xmlNodeGetContent(node.get()));
    EXPECT_STREQ(reinterpret_cast<const char*>(text.get()), GetParam().taken ? GetParam().text : "old");
    EXPECT_EQ(node->children, node->last) << "one text node";
    EXPECT_EQ(messages("ERROR").size(), GetParam().taken ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SetNodeTextTest,
    ::testing::Values(NodeTextCase{"AmpersandsAndBrackets", "A&B &amp; <C>", true},
                      NodeTextCase{"MultiByteUtf8", "Seri\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
                      NodeTextCase{"TabLineFeedReturn", "a\tb\nc\r", true},
                      NodeTextCase{"ControlCharacter", "SIM\x01", false},
                      NodeTextCase{"Escape", "\x1b[31m", false},
                      NodeTextCase{"NotUtf8", "\xff\xfe", false},
                      NodeTextCase{"CutSequence", "ab\xC3", false},
                      NodeTextCase{"Overlong", "\xC0\xAF", false},
                      NodeTextCase{"Surrogate", "\xED\xA0\x80", false},
                      NodeTextCase{"NonCharacter", "\xEF\xBF\xBE", false},
                      NodeTextCase{"BeyondUnicode", "\xF4\x90\x80\x80", false}),
    [](const ::testing::TestParamInfo<NodeTextCase>& info) { return std::string(info.param.name); });

}  // namespace
