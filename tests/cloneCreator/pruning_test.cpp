// Pruning of the filled manifest: what one pass removes, and where the repetition ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <libxml/parser.h>

#include "CloneCreator.h"
#include "DeviceTest.h"
#include "Handles.h"
#include "XmlTree.h"

namespace {

using clonetest::readFile;
using clonetest::writeFile;
using clonetest::xmlFileOutline;

struct PassCase {
    const char* name;
    std::string manifest;
    bool removed;
    std::string after;  // outline after one pass
};

CLONE_PRINT_BY_NAME(PassCase)

const std::vector<PassCase> kPassCases = {
    {"GroupLosesOnlyChildAndItself", "<r><k>x</k><g><leaf/></g></r>", true, "r\n  k: x\n"},
    {"EmptyChainGoesInOnePass", "<r><a><b><c/></b></a><k>x</k></r>", true, "r\n  k: x\n"},
    {"SecondGroupWaitsForNextPass", "<r><g1><a/></g1><g2><b/></g2><k>x</k></r>", true, "r\n  g2\n    b\n  k: x\n"},
    {"LaterEmptySiblingsGoWithoutDescent", "<r><a/><g><c/></g><b/></r>", true, "r\n  g\n    c\n"},
    {"AttributesDoNotCount", "<r><a number=\"1.0.0\"/><k>x</k></r>", true, "r\n  k: x\n"},
    {"CommentKeepsElement", "<r><a><!--kept--></a></r>", false, "r\n  a\n    #comment: kept\n"},
    {"TextKeepsElement", "<r><a>data/x</a></r>", false, "r\n  a: data/x\n"},
    {"IndentationIsNotContent", "<r>\n  <g>\n    <a/>\n  </g>\n  <k>x</k>\n</r>\n", true, "r\n  k: x\n"},
    {"CommentBeforeRootDoesNotHideIt", "<!--head--><r><a/><k>x</k></r>", true, "#comment: head\nr\n  k: x\n"},
    {"EntityContentIsNotPruned", "<!DOCTYPE r [<!ENTITY e \"<a/>\">]><r><k>x</k>&e;</r>", false, "r\n  k: x\n"},
};

class PassTest : public clonetest::DeviceTest, public ::testing::WithParamInterface<PassCase> {};

TEST_P(PassTest, OnePass)
{
    const PassCase& c = GetParam();
    const std::string file = path("/xpaths/tmp_cloningData/manifest.xml");
    writeFile(file, c.manifest);
    CloneCreator creator(const_cast<char*>("/tmp"));
    EXPECT_EQ(creator.removeEmptyNodes(file), c.removed ? TRUE : FALSE);
    EXPECT_EQ(xmlFileOutline(file), c.after);
}

INSTANTIATE_TEST_SUITE_P(Manifests, PassTest, ::testing::ValuesIn(kPassCases),
                         [](const ::testing::TestParamInfo<PassCase>& info) { return info.param.name; });

class PruningTest : public clonetest::DeviceTest {
protected:
    std::string file() const { return path("/xpaths/tmp_cloningData/manifest.xml"); }

    // Passes until one removes nothing, as the export does; the number of removing passes.
    int prune()
    {
        CloneCreator creator(const_cast<char*>("/tmp"));
        int passes = 0;
        while (creator.removeEmptyNodes(file())) {
            if (++passes > 100) {
                ADD_FAILURE() << "pruning does not end";
                break;
            }
        }
        return passes;
    }
};

TEST_F(PruningTest, RepetitionLeavesNoEmptyElement)
{
    writeFile(file(),
              "<r><cloningData><version>1.0.0</version><cloningAttributes><nvRAM/><configServer/></cloningAttributes>"
              "<Certificates><rootCertificates/><domainCertificates>data/d</domainCertificates></Certificates>"
              "<templates><default/></templates><snmp><trapKeyList/></snmp></cloningData><serialNumber/></r>");
    EXPECT_EQ(prune(), 4);
    EXPECT_EQ(xmlFileOutline(file()),
              "r\n  cloningData\n    version: 1.0.0\n    Certificates\n      domainCertificates: data/d\n");
}

TEST_F(PruningTest, NothingCapturedLeavesNoRoot)
{
    writeFile(file(), "<r><cloningData><version/></cloningData><serialNumber/></r>");
    EXPECT_EQ(prune(), 1);
    EXPECT_EQ(readFile(file()), "<?xml version=\"1.0\"?>\n");
    CloneCreator creator(const_cast<char*>("/tmp"));
    EXPECT_FALSE(creator.removeEmptyNodes(file()));
    EXPECT_EQ(readFile(file()), "<?xml version=\"1.0\"?>\n");
}

TEST_F(PruningTest, PassWithoutRemovalStillRewritesFormatted)
{
    writeFile(file(), "<r><a>x</a></r>");
    CloneCreator creator(const_cast<char*>("/tmp"));
    EXPECT_FALSE(creator.removeEmptyNodes(file()));
    EXPECT_EQ(readFile(file()), "<?xml version=\"1.0\"?>\n<r>\n  <a>x</a>\n</r>\n");
}

TEST_F(PruningTest, UnreadableManifestEndsTheRepetition)
{
    for (const std::string& content : {std::string("<r><a/>"), std::string("")}) {
        writeFile(file(), content);
        EXPECT_EQ(prune(), 0);
        EXPECT_EQ(readFile(file()), content);
    }
    EXPECT_EQ(prune(), 0) << "missing file";
}

TEST_F(PruningTest, NullListRemovesNothing)
{
    CloneCreator creator(const_cast<char*>("/tmp"));
    EXPECT_FALSE(creator.removeEmptyNodesProcess(nullptr));
}

TEST_F(PruningTest, AddChildNodeAppendsAfterExistingChildren)
{
    const std::string text = "<r xmlns=\"urn:x\"><a>1</a><!--c--></r>";
    cloneutil::XmlDoc doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, 0));
    ASSERT_TRUE(doc);
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    CloneCreator creator(const_cast<char*>("/tmp"));
    xmlNodePtr child = creator.addChildNode(root, const_cast<xmlChar*>(reinterpret_cast<const xmlChar*>("b")));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(root->last, child);
    EXPECT_EQ(child->parent, root);
    EXPECT_EQ(child->ns, nullptr);
    EXPECT_EQ(clonetest::xmlOutline(doc.get()), "r[xmlns=urn:x]\n  a: 1\n  #comment: c\n  b\n");
}

}  // namespace
