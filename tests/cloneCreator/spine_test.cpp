// The export spine: group line parsing, clone type, the manifest walk and the entry point's result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <map>
#include <set>
#include <filesystem>
#include <string>
#include <vector>

#include <libxml/parser.h>

#include "CaptureBoundary.h"
#include "CloneCreator.h"
#include "CloneFileTestUtil.h"
#include "DevicePath.h"
#include "DeviceTest.h"
#include "ElementTables.h"
#include "ManifestSchema.h"
#include "ManifestSchemas.h"
#include "Handles.h"
#include "clone_schema.h"
#include "XmlTree.h"

namespace {

using clonetest::DeviceTest;
using Groups = std::vector<std::string>;

// Only tokens that end in "GROUP" and are followed by a space are groups.
TEST(GroupLineTest, YieldsTheGroupsFollowedByASpace)
{
    const struct {
        const char* name;
        const char* line;
        Groups groups;
    } cases[] = {
        {"LastGroupWithoutTrailingSpaceIsLost", "NET_GROUP SCAN_GROUP", {"NET_GROUP"}},
        {"EmptyLine", "", {}},
        {"ConsecutiveSpacesAreSkipped", "  NET_GROUP   SCAN_GROUP  ", {"NET_GROUP", "SCAN_GROUP"}},
        {"GroupAloneDoesNotCount", "GROUP ", {}},
        {"SixCharacterTokenCounts", "AGROUP ", {"AGROUP"}},
        {"LowerCaseSuffixIgnored", "NET_group NET_Group ", {}},
        {"AnythingAfterGroupIgnored", "NET_GROUPS NET_GROUP_ NET_GROUP1 ", {}},
        {"TabIsNotASeparator", "NET_GROUP\tSCAN_GROUP ", {"NET_GROUP\tSCAN_GROUP"}},
        {"OrderAndRepeatsKept", "B_GROUP A_GROUP B_GROUP ", {"B_GROUP", "A_GROUP", "B_GROUP"}}};
    for (const auto& c : cases) {
        EXPECT_EQ(selectedGroups(c.line), c.groups) << c.name;
    }
}

// The clone type is decided on the whole line, before any group is expanded; the self-clone type
// of an earlier export does not outlive it.
TEST_F(DeviceTest, CloneTypeIsDecidedOnTheWholeLine)
{
    const struct {
        const char* name;
        const char* line;
        const char* dlmType;
        long expandedGroups;
    } cases[] = {{"OrdinaryGroups", "NET_GROUP SCAN_GROUP ", "clone", 2},
                 {"SelfGroupAndAnother", "NET_GROUP CLONE_TO_SELF_GROUP ", "cloneSelf", 2},
                 {"SelfGroupWithoutTrailingSpaceStillDecides", "NET_GROUP CLONE_TO_SELF_GROUP", "cloneSelf", 1},
                 {"SelfGroupInsideALongerToken", "XCLONE_TO_SELF_GROUPS ", "cloneSelf", 0}};
    const clonetest::ScopedEnv trace("CLONE_LOG_TRACE", "1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        srtCloneSelfType = "cloneSelf";
        clearLog();
        std::string line = c.line;
        CloneCreator creator(const_cast<char*>("/tmp"));
        EXPECT_EQ(creator.createGroups(&line[0]), c.dlmType);
        EXPECT_EQ(srtCloneSelfType, std::string(c.dlmType) == "cloneSelf" ? "cloneSelf" : "");
        const std::vector<std::string> entered = messages("ENTER");
        EXPECT_EQ(std::count(entered.begin(), entered.end(), "createListForGroups()"), c.expandedGroups);
    }
    srtCloneSelfType.clear();
}

TEST_F(DeviceTest, RelativeOrMissingOutputLocationIsRefused)
{
    char relative[] = "out/dir";
    char groups[] = "NET_GROUP ";
    EXPECT_EQ(createCloneDLM(relative, "pw", groups), 1);
    EXPECT_EQ(createCloneDLM(nullptr, "pw", groups), 1);
    EXPECT_EQ(messages("ERROR"), (std::vector<std::string>{"Output location out/dir is not an absolute path",
                                                           "Output location (null) is not an absolute path"}));
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

// Every element is handed to the helper of its exact name, at any depth, also children a helper
// added; a nameless node is renamed and logged, and its children and siblings are walked all the same.
TEST_F(DeviceTest, WalkHandsEveryElementToItsHelper)
{
    const struct {
        const char* name;
        const char* manifest;
        bool unnameFirstChild;  // the root's first child loses its name before the walk
        const char* outline;
        std::vector<std::string> errors;
    } cases[] = {
        {"AnyDepthButNotOtherCase",
         "<CloningManifest><cloningData><a><b><version/></b></a></cloningData><Version/></CloningManifest>", false,
         "CloningManifest\n  cloningData\n    a\n      b\n        version: 1.0.0\n  Version\n", {}},
        {"ChildrenAddedByAHelper", "<CloningManifest><addsVersion/></CloningManifest>", false,
         "CloningManifest\n  addsVersion\n    version: 1.0.0\n", {}},
        {"NamelessNode", "<CloningManifest><x><version/></x><version/></CloningManifest>", true,
         "CloningManifest\n  --\n    version: 1.0.0\n  version: 1.0.0\n",
         {"Current Node has bad name. Moving to next node"}},
        // Entity references lead into the declarations, which refer to each other: not walked.
        {"EntitiesLeftAlone",
         "<!DOCTYPE CloningManifest [<!ENTITY version \"<x/>\"><!ENTITY b \"&version;\">]>"
         "<CloningManifest>&b;<version/></CloningManifest>",
         false, "CloningManifest\n  version: 1.0.0\n", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clearLog();
        cloneutil::XmlDoc doc(xmlReadMemory(c.manifest, static_cast<int>(std::strlen(c.manifest)), "m.xml", nullptr,
                                            XML_PARSE_NOBLANKS));
        ASSERT_TRUE(doc);
        if (c.unnameFirstChild) {
            xmlNodePtr nameless = xmlDocGetRootElement(doc.get())->children;
            if (doc->dict == nullptr || !xmlDictOwns(doc->dict, nameless->name)) {
                xmlFree(const_cast<xmlChar*>(nameless->name));
            }
            nameless->name = nullptr;
        }
        ChildAddingCreator creator;
        creator.processStubManifestXML(xmlDocGetRootElement(doc.get()));
        EXPECT_EQ(clonetest::xmlOutline(doc.get()), c.outline);
        EXPECT_EQ(messages("ERROR"), c.errors);
    }
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

class UnsafeStagingTest : public DeviceTest, public ::testing::WithParamInterface<UnsafeCase> {};

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

const UnsafeCase kUnsafeCases[] = {
    {"StagingLinkLeadsOutside", Unsafe::StagingLinkLeadsOutside, "NET_GROUP ",
     "/xpaths/tmp_cloningData/ leads outside the device root; no export runs"},
    {"ExportTreeIsALink", Unsafe::ExportTreeIsALink, nullptr,
     "/xpaths/tmp_cloningData/cloningExport/ is not a directory of its own; no export runs"},
    {"GroupFileIsAFifo", Unsafe::GroupFileIsAFifo, "NET_GROUP ", "Failed to open tmp_groups_parsed File"},
    {"ManifestIsAFifo", Unsafe::ManifestIsAFifo, nullptr, "Stub Manifest file is not created"}};

INSTANTIATE_TEST_SUITE_P(Cases, UnsafeStagingTest, ::testing::ValuesIn(kUnsafeCases), clonetest::RowName());

// A root that cannot be used is refused before anything runs: the staging clean-up would otherwise
// be skipped (its command cannot be formed) and one export would leak into the next.
TEST_F(DeviceTest, RootTooLongOrMissingIsRefusedBeforeAnythingRuns)
{
    std::string longRoot = root() + "/long";
    while (longRoot.size() <= cloneutil::kMaxDeviceRootLength) {
        longRoot += "/" + std::string(200, 'r');
    }
    clonetest::makeDirs(longRoot + "/xpaths/tmp_cloningData");
    clonetest::writeFile(longRoot + "/xpaths/tmp_cloningData/earlier", "an earlier export");
    std::string out = root() + "/out";
    std::string groups = "NET_GROUP ";
    for (const std::string& unusable : {longRoot, root() + "/missing"}) {
        clonetest::ScopedEnv deviceRoot("CLONE_DEVICE_ROOT", unusable);
        EXPECT_EQ(createCloneDLM(&out[0], kClonePassword, &groups[0]), 1) << unusable;
    }
    EXPECT_EQ(clonetest::readFile(longRoot + "/xpaths/tmp_cloningData/earlier"), "an earlier export");
    const std::string log = clonetest::readFile(longRoot + "/var/log/clone.log");
    EXPECT_NE(log.find("cannot be used: it is longer than 1024 characters; no export runs"), std::string::npos)
        << log;
    EXPECT_FALSE(clonetest::exists(out + "/cloning.dlm"));
}

// What a table row of an element must agree with, each missing piece named: the schemas declare
// the element (clonefile verify and the library refuse a manifest with an undeclared one; where the
// tables place it, under that parent), and a
// plain copy reads inside the device's data trees and lands in the export data.
std::vector<std::string> missingPieces(const std::string& element, const cloneutil::PlainCopy* copy = nullptr)
{
    std::string schemas;
    for (const char* file : {"ManifestTypes.xsd", "CloningManifest.xsd", "ConfigurationManifest.xsd"}) {
        schemas += clonetest::readFile(clonetest::sourceDir() + "/schemas/" + file);
    }
    std::vector<std::string> missing;
    if (schemas.find("<xs:element name=\"" + element + "\"") == std::string::npos) {
        missing.push_back(element + ": no declaration in schemas/");
    }
    if (copy != nullptr) {
        const std::string source = copy->source;
        if (std::none_of(std::begin(cloneutil::kDeviceDataTrees), std::end(cloneutil::kDeviceDataTrees),
                         [&](const char* tree) { return source.rfind(tree, 0) == 0; })) {
            missing.push_back(element + ": its source is in none of kDeviceDataTrees");
        }
        if (std::string(copy->staged).rfind(CLONE_EXPORT_DATA_DIR, 0) != 0) {
            missing.push_back(element + ": it is not staged below " CLONE_EXPORT_DATA_DIR);
        }
    }
    return missing;
}

// Every element of the tables is known wherever elements are listed, and belongs to one row only:
// a second row of the same name would silently take the first one's place.
TEST(ElementTablesTest, EveryElementIsKnownEverywhereAndOnce)
{
    std::vector<std::string> missing;
    std::map<std::string, int> rows;
    std::set<std::string> keys;
    for (const cloneutil::HelperRow& row : cloneutil::kHelperTable) {
        ++rows[row.element];
    }
    for (const cloneutil::PlainCopyRow& row : cloneutil::kPlainCopies) {
        ++rows[row.element];
        const std::vector<std::string> more = missingPieces(row.element, &row.copy);
        missing.insert(missing.end(), more.begin(), more.end());
        for (const char* parent : row.parents) {
            rows.emplace(parent, 0);
        }
        EXPECT_TRUE(row.key == nullptr || keys.insert(row.key).second) << row.key;
    }
    for (const cloneutil::MiscRow& row : cloneutil::kMiscRows) {
        EXPECT_TRUE(keys.insert(row.key).second) << row.key;
        for (const char* name : row.path) {
            rows.emplace(name, 0);
        }
    }
    for (const cloneutil::CompanionRow& row : cloneutil::kCertificateCompanions) {
        rows.emplace(row.companion, 0);
    }
    // Each element where the tables put it: declared in its parent's type, not just somewhere.
    std::map<std::string, std::map<std::string, std::string>> typesIn;  // type -> element -> its type
    for (const cloneutil::SchemaChild& row : cloneutil::kSchemaChildren) {
        typesIn[row.type][row.element] = row.childType;
    }
    const auto placed = [&](const std::vector<std::string>& path) {
        std::string type = "CloningData", parent = "cloningData";
        for (const std::string& name : path) {
            const auto found = typesIn[type].find(name);
            if (found == typesIn[type].end()) {
                missing.push_back(name + ": not declared under " + parent);
                return;
            }
            type = found->second, parent = name;
        }
    };
    for (const cloneutil::PlainCopyRow& row : cloneutil::kPlainCopies) {
        std::vector<std::string> path(row.parents.begin(), row.parents.end());
        path.emplace_back(row.element);
        if (row.key != nullptr) {
            placed(path);
        }
    }
    for (const cloneutil::MiscRow& row : cloneutil::kMiscRows) {
        placed({row.path.begin(), row.path.end()});
    }
    for (const cloneutil::CompanionRow& row : cloneutil::kCertificateCompanions) {
        placed({"Certificates", row.companion});
    }
    for (const auto& [element, count] : rows) {
        EXPECT_LE(count, 1) << element << " has more than one row";
        if (count == 0) {
            const std::vector<std::string> more = missingPieces(element);
            missing.insert(missing.end(), more.begin(), more.end());
        }
    }
    EXPECT_EQ(missing, std::vector<std::string>{});
}

// The library's built-in manifest rules refuse whatever clonefile verify's schemas refuse, and
// accept what they accept.
TEST_F(DeviceTest, BuiltInManifestRulesAgreeWithTheSchemas)
{
    const std::string ns = " xmlns=\"http://www.clonecreator.local/ConfigManifest\"";
    std::string declarations;  // more than an element may carry
    for (int i = 0; i < 16; ++i) {
        declarations += " xmlns:a" + std::to_string(i) + "=\"urn:a\"";
    }
    const auto clone = [&ns](const std::string& data) {
        return "<CloningManifest" + ns + "><cloningData>" + data + "</cloningData></CloningManifest>";
    };
    const struct {
        std::string manifest;
        bool valid;
    } cases[] = {
        {clone("<version>1</version><snmp><!-- c --><trapKeyList> </trapKeyList></snmp>"), true},
        {clone("<version/>"), false},
        {clone("<note>x</note>"), false},
        {clone("<mailbox>a</mailbox><mailbox>b</mailbox>"), false},
        {clone("<snmp>x<trapKeyList>a</trapKeyList></snmp>"), false},
        {clone("<version>1<b/></version>"), false},
        {clone("<version a=\"1\">1</version>"), false},
        {clone("<x:version xmlns:x=\"urn:other\">1</x:version>"), false},
        {clone("<accounting><accountingMode/></accounting>"), false},
        {clone("<accounting><accountingMode><qtm>q</qtm></accountingMode></accounting>"), true},
        {clone("<addressbooks><version><addressbookData>d</addressbookData></version></addressbooks>"), false},
        {clone("<addressbooks><version number=\"1.0.0\"><addressbookData>d</addressbookData></version></addressbooks>"),
         true},
        {clone("<addressbooks><version number=\"\"><addressbookData>d</addressbookData></version></addressbooks>"),
         false},
        {"<CloningManifest" + ns + "/>", false},
        {"<CloningManifest><cloningData><version>1</version></cloningData></CloningManifest>", false},
        {"<ConfigurationManifest" + ns + "><serialNumber>s</serialNumber></ConfigurationManifest>", false},
        {"<!DOCTYPE CloningManifest []>" + clone("<version>1</version>"), false},
        {"<CloningManifest" + ns + "><cloningData/><cloningData/></CloningManifest>", false},
        {"<CloningManifest" + ns + declarations + "><cloningData><version>1</version></cloningData></CloningManifest>",
         false},
    };
    const std::string file = root() + "/manifest.xml";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.manifest);
        clonetest::writeFile(file, c.manifest);
        std::string error;
        EXPECT_EQ(clonefmt::validateManifest(c.manifest, clonetest::sourceDir() + "/schemas", "CloningManifest", error),
                  c.valid) << error;
        EXPECT_EQ(cloneutil::manifestSchemaFault(file.c_str(), "clone").empty(), c.valid)
            << cloneutil::manifestSchemaFault(file.c_str(), "clone");
    }
}

// A new plain-copy element is one row: the walk reaches it without a helper of its own, stages the
// file with its mode and times and names it, or logs the row's message and leaves nothing; and the
// check above names what else it needs.
TEST_F(DeviceTest, APlainCopyRowAloneCapturesItsElement)
{
    const cloneutil::PlainCopy synthetic = {
        "/xpaths/nc_nvram/synthetic", nullptr, nullptr, CLONE_EXPORT_DATA_DIR "synthetic/settings",
        cloneutil::MakeDir::MakeOrAccept, "Creating %s is failed", "Synthetic settings are not able to clone",
        nullptr, false};
    const char manifest[] = "<CloningManifest><cloningData><syntheticCopy/></cloningData></CloningManifest>";
    for (const bool present : {true, false}) {
        SCOPED_TRACE(present ? "present" : "missing");
        clearLog();
        std::filesystem::remove_all(path(CLONE_EXPORT_DATA_DIR));
        clonetest::makeDirs(path(CLONE_EXPORT_DATA_DIR));
        if (present) {
            clonetest::makeDirs(path("/xpaths/nc_nvram"));
            clonetest::writeFile(path(synthetic.source), "synthetic");
            ASSERT_EQ(::chmod(path(synthetic.source).c_str(), 0640), 0);
        } else {
            std::filesystem::remove(path(synthetic.source));
        }
        cloneutil::XmlDoc doc(xmlReadMemory(manifest, sizeof manifest - 1, "m.xml", nullptr, XML_PARSE_NOBLANKS));
        CloneCreator creator(const_cast<char*>("/tmp"));
        creator.addPlainCopy("syntheticCopy", nullptr, synthetic);
        creator.processStubManifestXML(xmlDocGetRootElement(doc.get()));
        EXPECT_EQ(clonetest::xmlOutline(doc.get()), std::string("CloningManifest\n  cloningData\n    syntheticCopy") +
                                                        (present ? ": data/synthetic/settings\n" : "\n"));
        EXPECT_EQ(messages("INFO"), present ? std::vector<std::string>{}
                                            : std::vector<std::string>{"Synthetic settings are not able to clone"});
        struct stat st;
        EXPECT_EQ(::stat(path(synthetic.staged).c_str(), &st) == 0 && (st.st_mode & 07777) == 0640, present);
        EXPECT_EQ(clonetest::exists(path(CLONE_EXPORT_DATA_DIR "synthetic")), present);
    }
    EXPECT_EQ(missingPieces("syntheticCopy", &synthetic),
              std::vector<std::string>{"syntheticCopy: no declaration in schemas/"});
}

}  // namespace
