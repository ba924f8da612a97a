// Pruning of the filled manifest: a manifest lists only what was captured.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

#include "CloneCreator.h"
#include "DeviceTest.h"
#include "XmlTree.h"

namespace {

using clonetest::DeviceTest;

// An entity's declaration is never pruned through a reference. A manifest that pruning empties is
// no failure; one that is broken, empty or missing beforehand is reported, left alone and makes
// the export incomplete.
TEST_F(DeviceTest, PruningKeepsOnlyElementsThatHoldSomething)
{
    const struct {
        const char* name;
        std::string manifest;  // "missing": no file
        std::string after;     // the outline, or the file's text when it is broken
        bool broken;
    } cases[] = {
        {"EmptyChainsAndGroupsGo", "<r><a/><g1><a/></g1><b><c><d/></c><e/></b><k>x</k><g2><f/><h/></g2><z/></r>",
         "r\n  k: x\n", false},
        {"AttributesDoNotCount", "<r><a number=\"1.0.0\"/><k>x</k></r>", "r\n  k: x\n", false},
        {"CommentsAndTextCount", "<r><a><b/><!--kept--></a><c><d/>data/x</c></r>",
         "r\n  a\n    #comment: kept\n  c: data/x\n", false},
        {"IndentationIsNotContent", "<r>\n  <g>\n    <a/>\n  </g>\n  <k>x</k>\n</r>\n", "r\n  k: x\n", false},
        {"CommentBeforeRootDoesNotHideIt", "<!--head--><r><a/><k>x</k></r>", "#comment: head\nr\n  k: x\n", false},
        {"EntityContentIsNotPruned", "<!DOCTYPE r [<!ENTITY e \"<a/>\">]><r><k>x</k>&e;</r>", "r\n  k: x\n", false},
        {"EmptiedWhole", "<r><cloningData><version/></cloningData><serialNumber/></r>", "<unparseable>", false},
        {"Truncated", "<r><a/>", "<r><a/>", true},
        {"Empty", "", "", true},
        {"Missing", "missing", "missing", true}};
    const std::string file = path("/xpaths/tmp_cloningData/manifest.xml");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.manifest == "missing" ? static_cast<void>(::unlink(file.c_str())) : clonetest::writeFile(file, c.manifest);
        clearLog();
        CloneCreator creator(const_cast<char*>("/tmp"));
        creator.pruneManifest(file);
        const std::string text = clonetest::exists(file) ? clonetest::readFile(file) : "missing";
        EXPECT_EQ(c.broken ? text : clonetest::xmlFileOutline(file), c.after);
        EXPECT_EQ(creator.exportIncomplete, c.broken);
        EXPECT_EQ(messages("ERROR"), c.broken ? std::vector<std::string>{"Manifest " + file + " cannot be parsed"}
                                              : std::vector<std::string>{});
    }
}

}  // namespace
