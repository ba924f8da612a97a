// Serial number and clone format version, written straight into their manifest elements.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <libxml/parser.h>

#include "CloneCreator.h"
#include "DeviceTest.h"
#include "Handles.h"
#include "XmlTree.h"

namespace {

using clonetest::xmlOutline;

cloneutil::XmlDoc parse(const std::string& text)
{
    return cloneutil::XmlDoc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, 0));
}

class IdentityTest : public clonetest::DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        // Only the attributes a case sets.
        clonetest::writeFile(path("/config/attributes"), "");
    }
    CloneCreator creator{const_cast<char*>("/tmp")};
};

struct SerialCase {
    const char* name;
    std::string manifest;   // the root's first child is the node handed to the helper
    const char* serial;     // null: not configured
    bool_t result;
    std::string after;
};

CLONE_PRINT_BY_NAME(SerialCase)

const std::vector<SerialCase> kSerialCases = {
    {"Written", "<r><serialNumber/></r>", "SIM0123456789", TRUE, "r\n  serialNumber: SIM0123456789\n"},
    {"ReplacesOldContent", "<r><serialNumber>OLD<x/></serialNumber></r>", "NEW1", TRUE, "r\n  serialNumber: NEW1\n"},
    {"MarkupCharactersStayText", "<r><serialNumber/></r>", "A&B<C>&amp;", TRUE, "r\n  serialNumber: A&B<C>&amp;\n"},
    {"EmptyValue", "<r><serialNumber/></r>", "", TRUE, "r\n  serialNumber\n"},
    {"Unreadable", "<r><serialNumber>kept</serialNumber></r>", nullptr, FALSE, "r\n  serialNumber: kept\n"},
};

class SerialTest : public IdentityTest, public ::testing::WithParamInterface<SerialCase> {};

TEST_P(SerialTest, Content)
{
    const SerialCase& c = GetParam();
    if (c.serial != nullptr) {
        setAttribute("sysMgmt.serialNumber", c.serial);
    }
    cloneutil::XmlDoc doc = parse(c.manifest);
    ASSERT_TRUE(doc);
    EXPECT_EQ(creator.cloneSerialNumberHelper(xmlDocGetRootElement(doc.get())->children), c.result);
    // Compared after a save and a parse: the manifest must stay well-formed.
    const std::string file = path("/xpaths/tmp_cloningData/manifest.xml");
    ASSERT_NE(xmlSaveFormatFile(file.c_str(), doc.get(), 1), -1);
    EXPECT_EQ(clonetest::xmlFileOutline(file), c.after);
    EXPECT_EQ(messages("ERROR"), c.result ? std::vector<std::string>{}
                                          : std::vector<std::string>{
                                                "cloneSerialNumberHelper:, Serial Number is not able to retrieved"});
}

INSTANTIATE_TEST_SUITE_P(Serials, SerialTest, ::testing::ValuesIn(kSerialCases),
                         [](const ::testing::TestParamInfo<SerialCase>& info) { return info.param.name; });

struct VersionCase {
    const char* name;
    std::string manifest;
    int calls;
    std::string after;
};

CLONE_PRINT_BY_NAME(VersionCase)

const std::vector<VersionCase> kVersionCases = {
    {"EmptyGetsVersion", "<r><version/></r>", 1, "r\n  version: 1.0.0\n"},
    {"SecondCallAddsNothing", "<r><version/></r>", 2, "r\n  version: 1.0.0\n"},
    {"WrittenValueIsKept", "<r><version>2.1.0</version></r>", 1, "r\n  version: 2.1.0\n"},
    {"AnyChildIsKept", "<r><version number=\"1.0.0\"><addressbookData/></version></r>", 1,
     "r\n  version[number=1.0.0]\n    addressbookData\n"},
    {"CommentCountsAsChild", "<r><version><!--c--></version></r>", 1, "r\n  version\n    #comment: c\n"},
};

class VersionTest : public IdentityTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionTest, Content)
{
    const VersionCase& c = GetParam();
    cloneutil::XmlDoc doc = parse(c.manifest);
    ASSERT_TRUE(doc);
    for (int i = 0; i < c.calls; ++i) {
        EXPECT_EQ(creator.cloneVersionHelper(xmlDocGetRootElement(doc.get())->children), TRUE);
    }
    EXPECT_EQ(xmlOutline(doc.get()), c.after);
    EXPECT_TRUE(messages("ERROR").empty());
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionTest, ::testing::ValuesIn(kVersionCases),
                         [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

TEST_F(IdentityTest, NullVersionNode)
{
    EXPECT_EQ(creator.cloneVersionHelper(nullptr), FALSE);
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"Version Node is NULL"});
}

// Dispatched by name wherever the element stands, through the helper table.
TEST_F(IdentityTest, WalkFillsEveryVersionAndTheSerialNumber)
{
    setAttribute("sysMgmt.serialNumber", "SN42");
    cloneutil::XmlDoc doc = parse(
        "<ConfigurationManifest><cloningData><version/><addressbooks><version number=\"1.0.0\"/></addressbooks>"
        "</cloningData><version/><serialNumber/><Version/></ConfigurationManifest>");
    ASSERT_TRUE(doc);
    creator.processStubManifestXML(xmlDocGetRootElement(doc.get()));
    EXPECT_EQ(xmlOutline(doc.get()),
              "ConfigurationManifest\n  cloningData\n    version: 1.0.0\n    addressbooks\n"
              "      version[number=1.0.0]: 1.0.0\n  version: 1.0.0\n  serialNumber: SN42\n  Version\n");
}

}  // namespace
