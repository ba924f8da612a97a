// Pruning of the filled manifest: what one pass removes, and where the repetition ends.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "CloneCreator.h"
#include "DeviceTest.h"
#include "XmlTree.h"

namespace {

using clonetest::DeviceTest;
using clonetest::readFile;
using clonetest::writeFile;
using clonetest::xmlFileOutline;

// One pass removes every empty element it meets and the groups it emptied, but descends no further
// once something went; comments and text count as content, attributes and indentation do not.
TEST_F(DeviceTest, OnePassOfPruning)
{
    const struct {
        const char* name;
        std::string manifest;
        bool removed;
        std::string after;  // outline after one pass
    } cases[] = {
        {"GroupLosesOnlyChildAndItself", "<r><k>x</k><g><leaf/></g></r>", true, "r\n  k: x\n"},
        {"EmptyChainGoesInOnePass", "<r><a><b><c/></b></a><k>x</k></r>", true, "r\n  k: x\n"},
        {"SecondGroupWaitsForNextPass", "<r><g1><a/></g1><g2><b/></g2><k>x</k></r>", true,
         "r\n  g2\n    b\n  k: x\n"},
        {"LaterEmptySiblingsGoWithoutDescent", "<r><a/><g><c/></g><b/></r>", true, "r\n  g\n    c\n"},
        {"AttributesDoNotCount", "<r><a number=\"1.0.0\"/><k>x</k></r>", true, "r\n  k: x\n"},
        {"CommentKeepsElement", "<r><a><!--kept--></a></r>", false, "r\n  a\n    #comment: kept\n"},
        {"TextKeepsElement", "<r><a>data/x</a></r>", false, "r\n  a: data/x\n"},
        {"IndentationIsNotContent", "<r>\n  <g>\n    <a/>\n  </g>\n  <k>x</k>\n</r>\n", true, "r\n  k: x\n"},
        {"CommentBeforeRootDoesNotHideIt", "<!--head--><r><a/><k>x</k></r>", true, "#comment: head\nr\n  k: x\n"},
        {"EntityContentIsNotPruned", "<!DOCTYPE r [<!ENTITY e \"<a/>\">]><r><k>x</k>&e;</r>", false, "r\n  k: x\n"}};
    const std::string file = path("/xpaths/tmp_cloningData/manifest.xml");
    for (const auto& c : cases) {
        writeFile(file, c.manifest);
        CloneCreator creator(const_cast<char*>("/tmp"));
        EXPECT_EQ(creator.removeEmptyNodes(file), c.removed ? TRUE : FALSE) << c.name;
        EXPECT_EQ(xmlFileOutline(file), c.after) << c.name;
    }
}

class PruningTest : public clonetest::DeviceTest {
protected:
    std::string file() const { return path("/xpaths/tmp_cloningData/manifest.xml"); }

    // Passes until one removes nothing, as the export does; the number of removing passes.
    int prune(CloneCreator& creator)
    {
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

// A manifest emptied by pruning no longer parses; that ends the repetition and is no failure. One
// that is broken, empty or missing from the start is reported, left alone and makes the export
// incomplete.
TEST_F(PruningTest, EmptiedOrUnreadableManifest)
{
    const std::string cannotParse = "Manifest " + file() + " cannot be parsed";
    const struct {
        std::string before;  // "missing": no file
        int passes;
        std::string after;
    } cases[] = {{"<r><cloningData><version/></cloningData><serialNumber/></r>", 1, "<?xml version=\"1.0\"?>\n"},
                 {"<r><a/>", 0, "<r><a/>"}, {"", 0, ""}, {"missing", 0, "missing"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        c.before == "missing" ? static_cast<void>(::unlink(file().c_str())) : writeFile(file(), c.before);
        clearLog();
        CloneCreator creator(const_cast<char*>("/tmp"));
        EXPECT_EQ(prune(creator), c.passes);
        EXPECT_EQ(clonetest::exists(file()) ? readFile(file()) : "missing", c.after);
        EXPECT_EQ(creator.exportIncomplete, c.passes == 0);
        EXPECT_EQ(messages("ERROR"), c.passes == 0 ? std::vector<std::string>{cannotParse} : std::vector<std::string>{});
    }
}

// The export prunes in one walk; it must end where repeated passes end, byte for byte, for the
// cases above and for generated manifests mixing empty elements, text, blanks and comments.
TEST_F(PruningTest, OneWalkEndsWherePassesEnd)
{
    std::vector<std::string> manifests = {
        "<r><g1><a/></g1><g2><b/></g2><k>x</k></r>", "<r><a/><g><c/></g><b/></r>",
        "<r>\n  <g>\n    <a/>\n  </g>\n  <k> </k>\n</r>\n", "<!--head--><r><a><b/><!--c--></a></r>",
        "<r><cloningData><version/></cloningData><serialNumber/></r>", "<r><a/>"};
    unsigned seed = 7;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
    const std::function<std::string(int)> element = [&](int depth) {
        std::string xml = "<e" + std::to_string(next() % 4) + ">";
        for (unsigned i = 0, n = depth < 5 ? next() % 4 : 0; i < n; ++i) {
            const unsigned kind = next() % 10;
            xml += kind == 0 ? "text" : kind == 1 ? "<!--c-->" : kind == 2 ? "\n  " : element(depth + 1);
        }
        return xml + "</e" + xml.substr(2, 1) + ">";
    };
    for (int i = 0; i < 200; ++i) {
        manifests.push_back("<?xml version=\"1.0\"?>\n" + element(0));
    }
    const std::string once = path("/xpaths/tmp_cloningData/once.xml");
    for (const std::string& manifest : manifests) {
        writeFile(file(), manifest);
        writeFile(once, manifest);
        clearLog();
        CloneCreator passes(const_cast<char*>("/tmp"));
        prune(passes);
        const std::vector<std::string> passErrors = messages("ERROR");
        clearLog();
        CloneCreator walk(const_cast<char*>("/tmp"));
        walk.pruneManifest(once);
        EXPECT_EQ(readFile(once), readFile(file())) << manifest;
        EXPECT_EQ(walk.exportIncomplete, passes.exportIncomplete) << manifest;
        EXPECT_EQ(messages("ERROR").size(), passErrors.size()) << manifest;
    }
}

}  // namespace
