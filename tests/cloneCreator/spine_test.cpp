// The export spine: group line parsing, clone type, the manifest walk and the entry point's result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

#include <libxml/parser.h>

#include "CloneCreator.h"
#include "DevicePath.h"
#include "DeviceTest.h"
#include "Handles.h"

namespace {

using clonetest::DeviceTest;
using Groups = std::vector<std::string>;

struct GroupLineCase {
    const char* name;
    const char* line;
    Groups groups;
};

class GroupLineTest : public ::testing::TestWithParam<GroupLineCase> {};

TEST_P(GroupLineTest, YieldsTheGroupsFollowedByASpace)
{
    EXPECT_EQ(selectedGroups(GetParam().line), GetParam().groups);
}

INSTANTIATE_TEST_SUITE_P(
    Parsing, GroupLineTest,
    ::testing::Values(
        GroupLineCase{"TwoGroupsEachFollowedByASpace", "NET_GROUP SCAN_GROUP ", {"NET_GROUP", "SCAN_GROUP"}},
        GroupLineCase{"LastGroupWithoutTrailingSpaceIsLost", "NET_GROUP SCAN_GROUP", {"NET_GROUP"}},
        GroupLineCase{"NoSpaceAtAllYieldsNothing", "NET_GROUP", {}},
        GroupLineCase{"EmptyLine", "", {}},
        GroupLineCase{"ConsecutiveSpacesAreSkipped", "  NET_GROUP   SCAN_GROUP  ", {"NET_GROUP", "SCAN_GROUP"}},
        GroupLineCase{"GroupAloneDoesNotCount", "GROUP ", {}},
        GroupLineCase{"SixCharacterTokenCounts", "AGROUP ", {"AGROUP"}},
        GroupLineCase{"LowerCaseSuffixIgnored", "NET_group NET_Group ", {}},
        GroupLineCase{"AnythingAfterGroupIgnored", "NET_GROUPS NET_GROUP_ NET_GROUP1 ", {}},
        GroupLineCase{"SelfGroupIsAGroupToo", "NET_GROUP CLONE_TO_SELF_GROUP ", {"NET_GROUP", "CLONE_TO_SELF_GROUP"}},
        GroupLineCase{"TabIsNotASeparator", "NET_GROUP\tSCAN_GROUP ", {"NET_GROUP\tSCAN_GROUP"}},
        GroupLineCase{"OrderAndRepeatsKept", "B_GROUP A_GROUP B_GROUP ", {"B_GROUP", "A_GROUP", "B_GROUP"}}),
    [](const ::testing::TestParamInfo<GroupLineCase>& info) { return std::string(info.param.name); });

struct CloneTypeCase {
    const char* name;
    const char* line;
    const char* dlmType;
    int expandedGroups;
};

class CloneTypeTest : public DeviceTest, public ::testing::WithParamInterface<CloneTypeCase> {};

// The clone type is decided on the whole line, before any group is expanded.
TEST_P(CloneTypeTest, DecidedOnTheWholeLine)
{
    srtCloneSelfType.clear();
    std::string line = GetParam().line;
    CloneCreator creator(const_cast<char*>("/tmp"));
    EXPECT_EQ(creator.createGroups(&line[0]), GetParam().dlmType);
    EXPECT_EQ(srtCloneSelfType, std::string(GetParam().dlmType) == "cloneSelf" ? "cloneSelf" : "");
    int expanded = 0;
    for (const std::string& m : messages("ENTER")) {
        expanded += m == "createListForGroups()";
    }
    EXPECT_EQ(expanded, GetParam().expandedGroups);
}

INSTANTIATE_TEST_SUITE_P(
    Parsing, CloneTypeTest,
    ::testing::Values(CloneTypeCase{"OrdinaryGroups", "NET_GROUP SCAN_GROUP ", "clone", 2},
                      CloneTypeCase{"SelfGroupAndAnother", "NET_GROUP CLONE_TO_SELF_GROUP ", "cloneSelf", 2},
                      CloneTypeCase{"SelfGroupWithoutTrailingSpaceStillDecides", "NET_GROUP CLONE_TO_SELF_GROUP",
                                    "cloneSelf", 1},
                      CloneTypeCase{"SelfGroupInsideALongerToken", "XCLONE_TO_SELF_GROUPS ", "cloneSelf", 0}),
    [](const ::testing::TestParamInfo<CloneTypeCase>& info) { return std::string(info.param.name); });

TEST_F(DeviceTest, SelfCloneTypeDoesNotOutliveItsExport)
{
    CloneCreator creator(const_cast<char*>("/tmp"));
    std::string self = "CLONE_TO_SELF_GROUP ";
    std::string ordinary = "NET_GROUP ";
    EXPECT_EQ(creator.createGroups(&self[0]), "cloneSelf");
    EXPECT_EQ(srtCloneSelfType, "cloneSelf");
    EXPECT_EQ(creator.createGroups(&ordinary[0]), "clone");
    EXPECT_EQ(srtCloneSelfType, "");
}

class SpineTest : public DeviceTest {
protected:
    // Walks a manifest given as XML text and returns the document.
    cloneutil::XmlDoc walk(CloneCreator& creator, const char* xml)
    {
        xmlKeepBlanksDefault(0);
        cloneutil::XmlDoc doc(xmlReadMemory(xml, static_cast<int>(std::strlen(xml)), "manifest.xml", nullptr, 0));
        EXPECT_TRUE(doc);
        if (doc) {
            creator.processStubManifestXML(xmlDocGetRootElement(doc.get()));
        }
        return doc;
    }

    static std::string contentOf(xmlDoc* doc, const char* xpathLike)
    {
        // Depth-first search for the first element with that name.
        std::vector<xmlNodePtr> stack{xmlDocGetRootElement(doc)};
        while (!stack.empty()) {
            xmlNodePtr n = stack.back();
            stack.pop_back();
            if (n == nullptr) {
                continue;
            }
            if (n->type == XML_ELEMENT_NODE && n->name != nullptr &&
                std::strcmp(reinterpret_cast<const char*>(n->name), xpathLike) == 0) {
                cloneutil::XmlChar text(xmlNodeGetContent(n));
                return text ? reinterpret_cast<const char*>(text.get()) : "";
            }
            stack.push_back(n->next);
            stack.push_back(n->children);
        }
        return "<missing>";
    }
};

TEST_F(SpineTest, NullGroupLineReportsNoGroupsAndNoManifest)
{
    std::string out = root() + "/out";
    EXPECT_EQ(createCloneDLM(&out[0], "pw", nullptr), 1);
    const std::vector<std::string> errors = messages("ERROR");
    EXPECT_EQ(errors, (std::vector<std::string>{"No cloning groups received", "Stub Manifest file is not created"}));
    EXPECT_EQ(messages("LIBENTER").front(), "createCloneDLM");
    EXPECT_EQ(messages("LIBRETURN").back(), "createCloneDLM");
}

TEST_F(SpineTest, RelativeOrMissingOutputLocationIsRefused)
{
    char relative[] = "out/dir";
    char groups[] = "NET_GROUP ";
    EXPECT_EQ(createCloneDLM(relative, "pw", groups), 1);
    EXPECT_EQ(createCloneDLM(nullptr, "pw", groups), 1);
    EXPECT_EQ(messages("ERROR"), (std::vector<std::string>{"Output location out/dir is not an absolute path",
                                                           "Output location (null) is not an absolute path"}));
}

TEST_F(SpineTest, VersionDispatchedAtAnyDepthButNotOtherCase)
{
    CloneCreator creator(const_cast<char*>("/tmp"));
    cloneutil::XmlDoc doc = walk(creator,
                                 "<CloningManifest><cloningData><a><b><version/></b></a></cloningData>"
                                 "<Version/></CloningManifest>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(contentOf(doc.get(), "version"), "1.0.0");
    EXPECT_EQ(contentOf(doc.get(), "Version"), "");
}

TEST_F(SpineTest, RootElementIsDispatchedToo)
{
    CloneCreator creator(const_cast<char*>("/tmp"));
    cloneutil::XmlDoc doc = walk(creator, "<version/>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(contentOf(doc.get(), "version"), "1.0.0");
}

// A helper that adds children to its node: the walk must visit them after it returns.
class ChildAddingCreator : public CloneCreator {
public:
    ChildAddingCreator() : CloneCreator(const_cast<char*>("/tmp"))
    {
        mapOfHelpers["addsVersion"] = static_cast<Helper>(&ChildAddingCreator::addVersionChild);
    }
    bool_t addVersionChild(xmlNodePtr node)
    {
        addChildNode(node, const_cast<xmlChar*>(reinterpret_cast<const xmlChar*>("version")));
        return TRUE;
    }
};

TEST_F(SpineTest, ChildrenAddedByAHelperAreWalked)
{
    ChildAddingCreator creator;
    cloneutil::XmlDoc doc = walk(creator, "<CloningManifest><addsVersion/></CloningManifest>");
    ASSERT_TRUE(doc);
    EXPECT_EQ(contentOf(doc.get(), "version"), "1.0.0");
}

TEST_F(SpineTest, NamelessNodeIsRenamedLoggedAndItsChildrenWalked)
{
    CloneCreator creator(const_cast<char*>("/tmp"));
    xmlKeepBlanksDefault(0);
    const char xml[] = "<CloningManifest><nameless><version/></nameless><version/></CloningManifest>";
    cloneutil::XmlDoc doc(xmlReadMemory(xml, sizeof xml - 1, "m.xml", nullptr, 0));
    ASSERT_TRUE(doc);
    xmlNodePtr nameless = xmlDocGetRootElement(doc.get())->children;
    if (doc->dict == nullptr || !xmlDictOwns(doc->dict, nameless->name)) {
        xmlFree(const_cast<xmlChar*>(nameless->name));
    }
    nameless->name = nullptr;

    creator.processStubManifestXML(xmlDocGetRootElement(doc.get()));

    EXPECT_STREQ(reinterpret_cast<const char*>(nameless->name), "--");
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"Current Node has bad name. Moving to next node"});
    cloneutil::XmlChar inner(xmlNodeGetContent(nameless->children));
    EXPECT_STREQ(reinterpret_cast<const char*>(inner.get()), "1.0.0");
    cloneutil::XmlChar sibling(xmlNodeGetContent(nameless->next));
    EXPECT_STREQ(reinterpret_cast<const char*>(sibling.get()), "1.0.0");
}

// A device root or staging area the library cannot use safely: nothing runs, nothing outside is
// touched, the call never blocks, and the result is 1 without a clone file.
enum class Unsafe { StagingLinkLeadsOutside, ExportTreeIsALink, GroupFileIsAFifo, ManifestIsAFifo };

struct UnsafeCase {
    const char* name;
    Unsafe what;
    const char* groups;  // null: the pipeline from the manifest placed in the export tree
    const char* error;
};

CLONE_PRINT_BY_NAME(UnsafeCase)

class UnsafeStagingTest : public SpineTest, public ::testing::WithParamInterface<UnsafeCase> {};

TEST_P(UnsafeStagingTest, RefusedWithoutTouchingAnythingElse)
{
    const UnsafeCase& c = GetParam();
    const std::string elsewhere = root() + "/elsewhere";
    clonetest::makeDirs(elsewhere);
    clonetest::writeFile(elsewhere + "/precious", "keep");
    clonetest::writeFile(elsewhere + "/CloningManifest.xml", "<CloningManifest><version/></CloningManifest>");
    const std::string staging = path("/xpaths/tmp_cloningData");
    switch (c.what) {
    case Unsafe::StagingLinkLeadsOutside: {
        // Outside the device: a second temporary directory beside the root.
        const std::string outside = root() + ".outside";
        clonetest::makeDirs(outside);
        clonetest::writeFile(outside + "/precious", "keep");
        ASSERT_EQ(::rmdir(staging.c_str()), 0);
        ASSERT_EQ(::symlink(outside.c_str(), staging.c_str()), 0);
        break;
    }
    case Unsafe::ExportTreeIsALink:
        ASSERT_EQ(::symlink(elsewhere.c_str(), path("/xpaths/tmp_cloningData/cloningExport").c_str()), 0);
        break;
    case Unsafe::GroupFileIsAFifo:
        ASSERT_EQ(::mkfifo(path("/xpaths/nc_dlms_data/clone/data/tmp_groups_parsed").c_str(), 0644), 0);
        break;
    case Unsafe::ManifestIsAFifo:
        clonetest::makeDirs(path("/xpaths/tmp_cloningData/cloningExport"));
        ASSERT_EQ(::mkfifo(path("/xpaths/tmp_cloningData/cloningExport/CloningManifest.xml").c_str(), 0644), 0);
        break;
    }
    std::string out = root() + "/out";
    std::string groups = c.groups != nullptr ? c.groups : "";

    EXPECT_EQ(createCloneDLM(&out[0], kClonePassword, c.groups != nullptr ? &groups[0] : nullptr), 1);
    const std::vector<std::string> errors = messages("ERROR");
    EXPECT_NE(std::find(errors.begin(), errors.end(), c.error), errors.end()) << ::testing::PrintToString(errors);
    EXPECT_EQ(clonetest::readFile(elsewhere + "/precious"), "keep");
    EXPECT_FALSE(clonetest::exists(out + "/cloning.dlm"));
    if (c.what == Unsafe::StagingLinkLeadsOutside) {
        EXPECT_EQ(clonetest::readFile(root() + ".outside/precious"), "keep");
        ::system(("rm -rf '" + root() + ".outside'").c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnsafeStagingTest,
    ::testing::Values(UnsafeCase{"StagingLinkLeadsOutside", Unsafe::StagingLinkLeadsOutside, "NET_GROUP ",
                                 "/xpaths/tmp_cloningData/ leads outside the device root; no export runs"},
                      UnsafeCase{"ExportTreeIsALink", Unsafe::ExportTreeIsALink, nullptr,
                                 "/xpaths/tmp_cloningData/cloningExport/ is not a directory of its own; no export "
                                 "runs"},
                      UnsafeCase{"GroupFileIsAFifo", Unsafe::GroupFileIsAFifo, "NET_GROUP ",
                                 "Failed to open tmp_groups_parsed File"},
                      UnsafeCase{"ManifestIsAFifo", Unsafe::ManifestIsAFifo, nullptr,
                                 "Stub Manifest file is not created"}),
    [](const ::testing::TestParamInfo<UnsafeCase>& info) { return std::string(info.param.name); });

// A root that cannot be used is refused before anything runs: the staging clean-up would otherwise
// be skipped (its command cannot be formed) and one export would leak into the next.
TEST(DeviceRootTest, RootTooLongOrMissingIsRefusedBeforeAnythingRuns)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string longRoot = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/longroot.XXXXXX";
    ASSERT_NE(::mkdtemp(&longRoot[0]), nullptr);
    const std::string top = longRoot;
    while (longRoot.size() <= cloneutil::kMaxDeviceRootLength) {
        longRoot += "/" + std::string(200, 'r');
    }
    clonetest::makeDirs(longRoot + "/xpaths/tmp_cloningData");
    clonetest::writeFile(longRoot + "/xpaths/tmp_cloningData/earlier", "an earlier export");
    std::string out = top + "/out";
    std::string groups = "NET_GROUP ";

    for (const std::string& root : {longRoot, top + "/missing"}) {
        ::setenv("CLONE_DEVICE_ROOT", root.c_str(), 1);
        EXPECT_EQ(createCloneDLM(&out[0], "clone-demo", &groups[0]), 1) << root;
    }
    ::unsetenv("CLONE_DEVICE_ROOT");
    EXPECT_EQ(clonetest::readFile(longRoot + "/xpaths/tmp_cloningData/earlier"), "an earlier export");
    const std::string log = clonetest::readFile(longRoot + "/var/log/clone.log");
    EXPECT_NE(log.find("cannot be used: it is longer than 1024 characters; no export runs"), std::string::npos)
        << log;
    EXPECT_FALSE(clonetest::exists(out + "/cloning.dlm"));
    ::system(("rm -rf '" + top + "'").c_str());
}

}  // namespace
