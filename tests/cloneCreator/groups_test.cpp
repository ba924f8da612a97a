// Group expansion: reading the group definition files, preconditions and the bytes of the
// attribute lists, including what happens with malformed definition files.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "GroupFixture.h"

namespace {

using clonetest::GroupFixture;
using clonetest::LogRecord;
using clonetest::kAttribPath;
using clonetest::makeDirs;
using clonetest::writeFile;

const char kNvramList[] = "/xpaths/tmp_cloningData/nvram_attr_list";
const char kCfgList[] = "/xpaths/tmp_cloningData/cfg_attr_list";
const char kCcsCfgList[] = "/xpaths/tmp_cloningData/cfg_ccs_attr_list";
const char kCcsDsList[] = "/xpaths/tmp_cloningData/ds_ccs_attr_list";
const char kDsList[] = "/xpaths/tmp_cloningData/ds_attr_list";
const char kDlmList[] = "/xpaths/tmp_cloningData/dlm_attr_list";
const char kSelfCfgList[] = "/xpaths/tmp_cloningData/cfg_attr_listcloneself";
const char kSelfNvramList[] = "/xpaths/tmp_cloningData/nvram_attr_listcloneself";

const char kNoGroup[] = "Selected Group Name Is Not There On tmp_groups_parsed File ";
const char kLongAttribLine[] = "A line of tmp_attrib_parsed is longer than 4095 characters, the rest of the file is ignored";
const char kLongGroupsLine[] = "A line of tmp_groups_parsed is longer than 4095 characters, the rest of the file is ignored";
// Stands for "do not write this file".
const char kAbsent[] = "<absent>";

const std::string kNv1 = "NV1\n<NVRAM>\nA:1\nB:2\n</NVRAM>\n";
const std::string kNv2 = "NV2\n<NVRAM>\nC:3\n</NVRAM>\n";
const std::string kCfg1 = "CFG1\n<CONFIGSERVER>\nnet.a\n</CONFIGSERVER>\n";

struct ExpansionCase {
    const char* name;
    std::string groups;
    std::string attrib;
    std::vector<std::string> selected;
    std::string type;
    int result;
    std::map<std::string, std::string> lists;  // every list not named here must not exist
    std::vector<std::string> errors;           // every ERROR record, in order
};

CLONE_PRINT_BY_NAME(ExpansionCase)

const std::vector<ExpansionCase> kExpansionCases = {
    {"OneNvramSection", "G_GROUP\nNV1\n", kNv1, {"G_GROUP"}, "clone", 0, {{kNvramList, "A:1\nB:2\n"}}, {}},
    {"OnlyFirstAttributeLineIsTrimmed", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\nA:1 \t\r\nB:2 \r\n</NVRAM>\n", {"G_GROUP"},
     "clone", 0, {{kNvramList, "A:1\nB:2 \r\n"}}, {}},
    {"SameTagAppendsInSubgroupOrder", "G_GROUP\nNV2\nNV1\n", kNv1 + kNv2, {"G_GROUP"}, "clone", 0,
     {{kNvramList, "C:3\nA:1\nB:2\n"}}, {}},
    {"RepeatedSubgroupIsAppendedTwice", "G_GROUP\nNV1\nNV1\n", kNv1, {"G_GROUP"}, "clone", 0,
     {{kNvramList, "A:1\nB:2\nA:1\nB:2\n"}}, {}},
    {"EachTagHasItsList", "G_GROUP\nS1\nS2\nS3\nS4\nS5\nS6\n",
     "S1\n<CCS_CONFIGSERVER>\nccs.c\n</CCS_CONFIGSERVER>\nS2\n<CCS_DATASTORE>\nccs.d\n</CCS_DATASTORE>\n"
     "S3\n<NVRAM>\nN:1\n</NVRAM>\nS4\n<DATASTORE>\nds.a\n</DATASTORE>\nS5\n<CONFIGSERVER>\ncfg.a\n</CONFIGSERVER>\n"
     "S6\n<DLM>\nscanToCloud\n</DLM>\n",
     {"G_GROUP"}, "clone", 0,
     {{kCcsCfgList, "ccs.c\n"},
      {kCcsDsList, "ccs.d\n"},
      {kNvramList, "N:1\n"},
      {kDsList, "ds.a\n"},
      {kCfgList, "cfg.a\n"},
      {kDlmList, "scanToCloud\n"}},
     {}},
    {"GroupsOfOneExportShareTheLists", "G_GROUP\nNV1\nH_GROUP\nNV2\nNV1\n", kNv1 + kNv2, {"H_GROUP", "G_GROUP"},
     "clone", 0, {{kNvramList, "C:3\nA:1\nB:2\nA:1\nB:2\n"}}, {}},
    {"HeaderFollowedByHeaderYieldsNothing", "G_GROUP\nH_GROUP\nNV1\n", kNv1, {"G_GROUP"}, "clone", 1, {}, {}},
    {"HeaderFollowedByBlankLinesAndHeader", "G_GROUP\n\n  \n\t\r\nH_GROUP\nNV1\n", kNv1, {"G_GROUP"}, "clone", 1, {},
     {}},
    {"EmptyGroupAtEndOfFile", "H_GROUP\nNV1\nG_GROUP\n", kNv1, {"G_GROUP"}, "clone", 0, {}, {}},
    {"GroupNotThere", "H_GROUP\nNV1\n", kNv1, {"G_GROUP"}, "clone", 1, {}, {kNoGroup}},
    {"GroupMatchesWholeLineOnly", "G_GROUPS\nNV1\nMY_G_GROUP\nNV1\n", kNv1, {"G_GROUP"}, "clone", 1, {}, {kNoGroup}},
    {"HeaderAndSubgroupLinesAreTrimmed", "G_GROUP \t\r\nNV1 \r\n", kNv1, {"G_GROUP"}, "clone", 0,
     {{kNvramList, "A:1\nB:2\n"}}, {}},
    {"LinesBeforeFirstHeaderAreIgnored", "NV2\nG_GROUP\nNV1\n", kNv1 + kNv2, {"G_GROUP"}, "clone", 0,
     {{kNvramList, "A:1\nB:2\n"}}, {}},
    {"OtherGroupsAreIgnored", "H_GROUP\nNV2\nG_GROUP\nNV1\nK_GROUP\nNV2\n", kNv1 + kNv2, {"G_GROUP"}, "clone", 0,
     {{kNvramList, "A:1\nB:2\n"}}, {}},
    {"FirstHeaderCounts", "G_GROUP\nNV1\nG_GROUP\nNV2\n", kNv1 + kNv2, {"G_GROUP"}, "clone", 0,
     {{kNvramList, "A:1\nB:2\n"}}, {}},
    {"ShortLineIsASubgroup", "G_GROUP\nNV\n", "NV\n<NVRAM>\nX:1\n</NVRAM>\n", {"G_GROUP"}, "clone", 0,
     {{kNvramList, "X:1\n"}}, {}},
    {"GroupAloneIsAHeader", "G_GROUP\nGROUP\nNV1\n", kNv1, {"G_GROUP"}, "clone", 1, {}, {}},
    {"MissingSubgroupIsSkipped", "G_GROUP\nNOPE\nNV1\n", kNv1, {"G_GROUP"}, "clone", 0, {{kNvramList, "A:1\nB:2\n"}},
     {"No Such Attribute On tmp_attrib_parsed File : NOPE"}},
    {"OnlyMissingSubgroupsBeforeHeader", "G_GROUP\nNOPE\nH_GROUP\nNV1\n", kNv1, {"G_GROUP"}, "clone", 1, {},
     {"No Such Attribute On tmp_attrib_parsed File : NOPE"}},
    {"FoundSubgroupBeforeHeader", "G_GROUP\nNV1\nNOPE\nH_GROUP\n", kNv1, {"G_GROUP"}, "clone", 0,
     {{kNvramList, "A:1\nB:2\n"}}, {"No Such Attribute On tmp_attrib_parsed File : NOPE"}},
    {"SubgroupSearchTakesFirstMatchingLine", "G_GROUP\nNV1\n", "X1\n<NVRAM>\nNV1\n</NVRAM>\n" + kNv1, {"G_GROUP"},
     "clone", 0, {}, {"</NVRAM> is not in the cloneListMap"}},
    {"SubgroupLineInAttribIsTrimmed", "G_GROUP\nNV1\n", "NV1 \t\r\n<NVRAM>\nA:1\n</NVRAM>\n", {"G_GROUP"}, "clone", 0,
     {{kNvramList, "A:1\n"}}, {}},
    {"UnknownTag", "G_GROUP\nU1\n", "U1\n<BOGUS>\nx\n</BOGUS>\n", {"G_GROUP"}, "clone", 0, {},
     {"<BOGUS> is not in the cloneListMap"}},
    {"TagIsNotTrimmed", "G_GROUP\nU1\n", "U1\n<NVRAM> \nx\n</NVRAM>\n", {"G_GROUP"}, "clone", 0, {},
     {"<NVRAM>  is not in the cloneListMap"}},
    {"TagsAreCaseSensitiveWithBrackets", "G_GROUP\nU1\nU2\n", "U1\n<nvram>\nx\n</nvram>\nU2\nNVRAM\nx\n/NVRAM\n",
     {"G_GROUP"}, "clone", 0, {}, {"<nvram> is not in the cloneListMap", "NVRAM is not in the cloneListMap"}},
    {"DlmTagIsNotASelfTag", "CLONE_TO_SELF_GROUP\nD1\n", "D1\n<DLM>\nscanToCloud\n</DLM>\n", {"CLONE_TO_SELF_GROUP"},
     "cloneSelf", 0, {}, {}},
    {"EmptySection", "G_GROUP\nE1\n", "E1\n<NVRAM>\n</NVRAM>\n", {"G_GROUP"}, "clone", 0, {},
     {"No attributes under the E1"}},
    {"EndTagAfterFirstLineIsNotTrimmed", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\nA:1\n</NVRAM> \n" + kNv2, {"G_GROUP"},
     "clone", 0, {{kNvramList, "A:1\n</NVRAM> \nNV2\n<NVRAM>\nC:3\n"}}, {}},
    {"FirstLineEqualToEndTagAfterTrimming", "G_GROUP\nE1\n", "E1\n<NVRAM>\n</NVRAM> \r\n", {"G_GROUP"}, "clone", 0, {},
     {"No attributes under the E1"}},
    {"MissingEndTagStopsAtEndOfFile", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\nA:1\nB:2\n", {"G_GROUP"}, "clone", 0,
     {{kNvramList, "A:1\nB:2\n"}}, {}},
    {"MiscSectionWithoutMiscKey", "G_GROUP\nM1\n", "M1\n<MISC>\nnot.a.key\n</MISC>\n", {"G_GROUP"}, "clone", 0, {},
     {"cannot open output file"}},
    {"MiscKeyAppendsNothing", "G_GROUP\nM1\n", "M1\n<MISC>\n<MAILBOX>\nignored\n</MISC>\n", {"G_GROUP"}, "clone", 0,
     {}, {}},
    {"MiscKeyInAnyTagAppendsNothing", "G_GROUP\nM1\n", "M1\n<NVRAM>\n<MAILBOX>\nA:1\n</NVRAM>\n", {"G_GROUP"}, "clone",
     0, {}, {}},
    {"FdiSubgroupAppendsNothing", "G_GROUP\nFDI_ATTR\n", "FDI_ATTR\n<NVRAM>\nA:1\n</NVRAM>\n", {"G_GROUP"}, "clone",
     0, {}, {}},
    {"SelfGroupUsesSelfLists", "CLONE_TO_SELF_GROUP\nS_CFG\nS_NV\nS_DS\nWIRELESS_CERTS\n",
     "S_CFG\n<CONFIGSERVER>\na.b\n</CONFIGSERVER>\nS_NV\n<NVRAM>\nX:1\n</NVRAM>\n"
     "S_DS\n<DATASTORE>\nds.a\n</DATASTORE>\nWIRELESS_CERTS\n<MISC>\n<WIRELESS>\n</MISC>\n",
     {"CLONE_TO_SELF_GROUP"}, "cloneSelf", 0, {{kSelfCfgList, "a.b\n"}, {kSelfNvramList, "X:1\n"}}, {}},
    {"WirelessCertsWithSelfListAppends", "CLONE_TO_SELF_GROUP\nWIRELESS_CERTS\n",
     "WIRELESS_CERTS\n<CONFIGSERVER>\nwifi.cert\n</CONFIGSERVER>\n", {"CLONE_TO_SELF_GROUP"}, "cloneSelf", 0,
     {{kSelfCfgList, "wifi.cert\n"}}, {}},
    {"OrdinaryGroupInSelfExport", "G_GROUP\nCFG1\nCLONE_TO_SELF_GROUP\nCFG1\n", kCfg1,
     {"G_GROUP", "CLONE_TO_SELF_GROUP"}, "cloneSelf", 0, {{kCfgList, "net.a\n"}, {kSelfCfgList, "net.a\n"}}, {}},
    {"MissingGroupsFile", kAbsent, kNv1, {"G_GROUP"}, "clone", 1, {}, {"Failed to open tmp_groups_parsed File"}},
    {"MissingAttribFile", "G_GROUP\nNV1\nNV2\n", kAbsent, {"G_GROUP"}, "clone", 1, {},
     {"Failed To Open tmp_attrib_parsed"}},

    // Malformed definition files.
    {"CrlfTagIsNotFound", "G_GROUP\r\nNV1\r\n", "NV1\r\n<NVRAM>\r\nA:1\r\n</NVRAM>\r\n", {"G_GROUP"}, "clone", 0, {},
     {"<NVRAM>\r is not in the cloneListMap"}},
    {"CrlfPreconditionIsNotFound", "G_GROUP\nP1\n",
     "P1\r\n<PRECONDITION>\r\nX=FALSE\r\n</PRECONDITION>\r\n<NVRAM>\r\nA:1\r\n</NVRAM>\r\n", {"G_GROUP"}, "clone", 0,
     {}, {"<PRECONDITION>\r is not in the cloneListMap"}},
    {"UnterminatedLastAttribLineIsIgnored", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\nA:1\nB:2", {"G_GROUP"}, "clone", 0,
     {{kNvramList, "A:1\n"}}, {}},
    {"UnterminatedEndTagChangesNothing", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\nA:1\nB:2\n</NVRAM>", {"G_GROUP"}, "clone",
     0, {{kNvramList, "A:1\nB:2\n"}}, {}},
    {"UnterminatedLastSubgroupIsIgnored", "G_GROUP\nNV2\nNV1", kNv1 + kNv2, {"G_GROUP"}, "clone", 0,
     {{kNvramList, "C:3\n"}}, {}},
    {"UnterminatedHeaderIsNotFound", "NV1\nG_GROUP", kNv1, {"G_GROUP"}, "clone", 1, {}, {kNoGroup}},
    {"SectionCutByEndOfFile", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\n", {"G_GROUP"}, "clone", 0, {},
     {"No attributes under the NV1"}},
    {"SubgroupLineAtEndOfFile", "G_GROUP\nNV1\n", "NV1\n", {"G_GROUP"}, "clone", 0, {},
     {" is not in the cloneListMap"}},
    {"LineOfMaximumLengthIsKept", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\nA:1\n" + std::string(4095, 'x') + "\n</NVRAM>\n",
     {"G_GROUP"}, "clone", 0, {{kNvramList, "A:1\n" + std::string(4095, 'x') + "\n"}}, {}},
    {"OverLongAttribLineEndsTheFile", "G_GROUP\nNV1\nNV2\n",
     "NV1\n<NVRAM>\nA:1\n" + std::string(4096, 'x') + "\nB:2\n</NVRAM>\n" + kNv2, {"G_GROUP"}, "clone", 0,
     {{kNvramList, "A:1\n"}},
     {kLongAttribLine, kLongAttribLine, "No Such Attribute On tmp_attrib_parsed File : NV2"}},
    {"OverLongFirstAttributeLine", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\n" + std::string(100000, 'x') + "\n</NVRAM>\n",
     {"G_GROUP"}, "clone", 0, {}, {kLongAttribLine, "No attributes under the NV1"}},
    {"OverLongGroupsLineEndsTheFile", "G_GROUP\n" + std::string(5000, 'y') + "\nNV1\n", kNv1, {"G_GROUP"}, "clone", 0,
     {}, {kLongGroupsLine}},
    {"OverLongLineWithoutLineFeed", std::string(8000, 'y'), kNv1, {"G_GROUP"}, "clone", 1, {},
     {kLongGroupsLine, kNoGroup}},
};

class ExpansionTest : public GroupFixture, public ::testing::WithParamInterface<ExpansionCase> {};

TEST_P(ExpansionTest, ListsResultAndErrors)
{
    const ExpansionCase& c = GetParam();
    if (c.groups != kAbsent) {
        writeGroups(c.groups);
    }
    if (c.attrib != kAbsent) {
        writeAttrib(c.attrib);
    }
    EXPECT_EQ(expandAll(c.selected, c.type), c.result);
    for (const std::string& list : allLists()) {
        const auto expected = c.lists.find(list);
        EXPECT_EQ(file(list), expected != c.lists.end() ? expected->second : "<missing>") << list;
    }
    EXPECT_EQ(messages("ERROR"), c.errors);
}

INSTANTIATE_TEST_SUITE_P(GroupFiles, ExpansionTest, ::testing::ValuesIn(kExpansionCases),
                         [](const ::testing::TestParamInfo<ExpansionCase>& info) { return info.param.name; });

// Preconditions: whether the guarded section reaches the attribute list.
struct PreconditionCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string preconditionLine;
    bool processed;
    std::vector<std::string> errors;
};

CLONE_PRINT_BY_NAME(PreconditionCase)

const char kNoValue[] = "Failed to get precondition value";

const std::vector<PreconditionCase> kPreconditionCases = {
    {"MfpOnMfpDevice", {{"HW.copyController.configuration", "mfp"}}, "HW.copyController.configuration=mfp", true, {}},
    {"MfpOnOtherDevice", {{"HW.copyController.configuration", "sfp"}}, "HW.copyController.configuration=mfp", false,
     {}},
    {"MfpValueIsExact", {{"HW.copyController.configuration", "mfp2"}}, "HW.copyController.configuration=mfp", false,
     {}},
    {"MfpUnreadable", {}, "HW.copyController.configuration=mfp", false, {kNoValue}},
    {"OtherValueOnMfpDevice", {{"HW.copyController.configuration", "mfp"}}, "HW.copyController.configuration=sfp",
     false, {}},
    {"FalseValueOnOtherDevice", {{"HW.copyController.configuration", "sfp"}},
     "HW.copyController.configuration=FALSE", true, {}},
    {"CopyControllerNameWithBlankIsBoolean", {{"HW.copyController.configuration", "mfp"}},
     "HW.copyController.configuration =mfp", false, {kNoValue}},
    {"TrueOnTrue", {{"Feature.enabled", "TRUE"}}, "Feature.enabled=TRUE", true, {}},
    {"TrueOnFalse", {{"Feature.enabled", "FALSE"}}, "Feature.enabled=TRUE", false, {}},
    {"TrueUnreadable", {}, "Feature.enabled=TRUE", false, {kNoValue}},
    {"TrueOnNonBoolean", {{"Feature.enabled", "maybe"}}, "Feature.enabled=TRUE", false, {kNoValue}},
    {"FalseOnFalse", {{"Feature.enabled", "false"}}, "Feature.enabled=FALSE", true, {}},
    {"FalseUnreadable", {}, "Feature.enabled=FALSE", true, {kNoValue}},
    {"FalseOnTrue", {{"Feature.enabled", "1"}}, "Feature.enabled=FALSE", false, {}},
    {"BooleanNameIsTrimmed", {{"Feature.enabled", "TRUE"}}, "Feature.enabled \t=TRUE", true, {}},
    {"ValueFoundAnywhereInLine", {{"Feature.TRUEness", "TRUE"}}, "Feature.TRUEness=FALSE", true, {}},
    {"NoEqualsSign", {}, "FALSE", true, {kNoValue}},
    {"NoEqualsSignTrue", {}, "TRUE", false, {kNoValue}},
    {"NameOf255Characters", {{std::string(255, 'n'), "TRUE"}}, std::string(255, 'n') + "=TRUE", true, {}},
    {"NameOf256Characters", {{std::string(256, 'n'), "TRUE"}}, std::string(256, 'n') + "=TRUE", false,
     {"Precondition name longer than 255 characters in P1, subgroup skipped"}},
};

class PreconditionTest : public GroupFixture, public ::testing::WithParamInterface<PreconditionCase> {};

TEST_P(PreconditionTest, GuardsTheSection)
{
    const PreconditionCase& c = GetParam();
    // The device's own attributes must not decide a case.
    writeFile(path("/config/attributes"), "");
    for (const auto& attribute : c.attributes) {
        setAttribute(attribute.first, attribute.second);
    }
    writeGroups("G_GROUP\nP1\nNV2\n");
    writeAttrib("P1\n<PRECONDITION>\n" + c.preconditionLine +
                "\nskipped line\n</PRECONDITION>\n<NVRAM>\nA:1\n</NVRAM>\n" + kNv2);
    EXPECT_EQ(expand("G_GROUP"), 0);
    EXPECT_EQ(file(kNvramList), c.processed ? "A:1\nC:3\n" : "C:3\n");
    EXPECT_EQ(messages("ERROR"), c.errors);
}

INSTANTIATE_TEST_SUITE_P(Preconditions, PreconditionTest, ::testing::ValuesIn(kPreconditionCases),
                         [](const ::testing::TestParamInfo<PreconditionCase>& info) { return info.param.name; });

class GroupsTest : public GroupFixture {
protected:
    std::vector<std::string> records() const
    {
        std::vector<std::string> out;
        for (const LogRecord& r : log()) {
            out.push_back(r.record + " " + r.message);
        }
        return out;
    }
};

TEST_F(GroupsTest, PreconditionWithoutEndMarkerTakesNoTag)
{
    setAttribute("Feature.enabled", "TRUE");
    writeGroups("G_GROUP\nP1\n");
    writeAttrib("P1\n<PRECONDITION>\nFeature.enabled=TRUE\n<NVRAM>\nA:1\n</NVRAM>\n");
    EXPECT_EQ(expand("G_GROUP"), 0);
    EXPECT_EQ(file(kNvramList), "<missing>");
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{" is not in the cloneListMap"});
}

TEST_F(GroupsTest, LogRecordsOfAnExpansion)
{
    setAttribute("Feature.enabled", "TRUE");
    setAttribute("Feature.other", "FALSE");
    writeGroups("G_GROUP\nP1\nP2\n");
    writeAttrib("P1\n<PRECONDITION>\nFeature.enabled=TRUE\n</PRECONDITION>\n<NVRAM>\nA:1\n</NVRAM>\n"
                "P2\n<PRECONDITION>\nFeature.other=TRUE\n</PRECONDITION>\n<NVRAM>\nB:1\n</NVRAM>\n");
    clearLog();
    EXPECT_EQ(expand("G_GROUP"), 0);
    const std::vector<std::string> expected = {
        "ENTER createListForGroups()",
        "ENTER processGroups()",
        "RETURN processGroups",
        "ENTER processSubGroups()",
        "ENTER insertAttributesInList()",
        "ENTER checkPrecondition()",
        "ENTER createListName()",
        "LIBENTER addXmlNodes Called",
        "LIBENTER createStubXmlFile",
        "LIBRETURN createStubXmlFile",
        "RETURN insertAttributesInList",
        "ENTER insertAttributesInList()",
        "ENTER checkPrecondition()",
        "RETURN checkPrecondition",
        "RETURN insertAttributesInList",
        "RETURN processSubGroups",
        "RETURN createListForGroups",
    };
    EXPECT_EQ(records(), expected);
    for (const LogRecord& r : log()) {
        const std::string file = r.source.substr(0, r.source.find(':'));
        EXPECT_TRUE(file == "CloneGroupsProcessor.cpp" || file == "StubManifest.cpp") << r.source;
    }
}

TEST_F(GroupsTest, GroupEndedByHeaderLogsNoReturnOfSubgroups)
{
    writeGroups("G_GROUP\nH_GROUP\n");
    writeAttrib(kNv1);
    clearLog();
    EXPECT_EQ(expand("G_GROUP"), 1);
    const std::vector<std::string> expected = {
        "ENTER createListForGroups()", "ENTER processGroups()", "RETURN processGroups",
        "ENTER processSubGroups()",    "RETURN createListForGroups",
    };
    EXPECT_EQ(records(), expected);
}

TEST_F(GroupsTest, ListsAreOnlyWrittenInTheStagingDirectory)
{
    CloneGroupsProcessor processor;
    writeAttrib("x\ny\n</END>\n");
    for (const std::string& target : {std::string("NULL"), std::string(""), std::string("/xpaths/other/list"),
                                      std::string("/xpaths/tmp_cloningData/../escaped")}) {
        std::ifstream in(path(kAttribPath));
        std::string first = "w";
        processor.appendAttributesToList(in, first, "</END>", target);
    }
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>(4, "cannot open output file"));
    EXPECT_FALSE(clonetest::exists(path("/xpaths/other/list")));
    EXPECT_FALSE(clonetest::exists(path("/xpaths/escaped")));
    EXPECT_FALSE(clonetest::exists("NULL"));
}

TEST_F(GroupsTest, ListThatCannotBeOpenedKeepsTheElements)
{
    makeDirs(path(kNvramList));  // a directory where the list should be
    writeGroups("G_GROUP\nNV1\n");
    writeAttrib(kNv1);
    EXPECT_EQ(expand("G_GROUP"), 0);
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"cannot open output file"});
    EXPECT_EQ(cloneManifest(), clonetest::cloneRootLine("CloningManifest") +
                                   "  cloningData\n    version\n    cloningAttributes\n      nvRAM\n");
}

TEST_F(GroupsTest, FullDiskIsReported)
{
    if (!clonetest::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    ASSERT_EQ(::symlink("/dev/full", path(kNvramList).c_str()), 0);
    writeGroups("G_GROUP\nNV1\n");
    writeAttrib(kNv1);
    EXPECT_EQ(expand("G_GROUP"), 0);
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"cannot write output file"});
}

// The tables agree with each other.
TEST(LookupTables, TablesAgreeWithEachOther)
{
    CloneGroupsProcessor p;
    // Every end tag closes its own tag.
    for (const auto* table : {&p.cloneListMap, &p.cloneSelfListMap}) {
        for (const auto& row : *table) {
            EXPECT_EQ(row.second.second, "</" + row.first.substr(1)) << row.first;
        }
    }
    // Every tag-table row is the list of some section tag of the matching list table, so its
    // element can be made; the self lists are not ordinary lists and the other way round.
    const auto isListOf = [](const CloneGroupsProcessor::ListMap& lists, const std::string& list) {
        for (const auto& row : lists) {
            if (row.second.first == list) {
                return true;
            }
        }
        return false;
    };
    for (const auto& row : p.cloneTagMap) {
        EXPECT_TRUE(isListOf(p.cloneListMap, row.first)) << row.first;
        EXPECT_FALSE(isListOf(p.cloneSelfListMap, row.first)) << row.first;
    }
    for (const auto& row : p.cloneSelfTagMap) {
        EXPECT_TRUE(isListOf(p.cloneSelfListMap, row.first)) << row.first;
        EXPECT_FALSE(isListOf(p.cloneListMap, row.first)) << row.first;
    }
    // Misc paths are non-empty and misc keys are never section tags.
    for (const auto& row : p.cloneMiscMap) {
        EXPECT_FALSE(row.second.empty()) << row.first;
        EXPECT_EQ(p.cloneListMap.count(row.first), 0u) << row.first;
    }
}

}  // namespace
