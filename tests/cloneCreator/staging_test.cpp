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

TEST(SetNodeTextTest, ReplacesContentAndKeepsAmpersandsAsText)
{
    cloneutil::XmlNode node(xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("serialNumber")));
    cloneutil::setNodeText(node.get(), "old");
    cloneutil::setNodeText(node.get(), "A&B &amp; <C>");
    cloneutil::XmlChar text(xmlNodeGetContent(node.get()));
    EXPECT_STREQ(reinterpret_cast<const char*>(text.get()), "A&B &amp; <C>");
    EXPECT_EQ(node->children, node->last) << "one text node";
}

}  // namespace
