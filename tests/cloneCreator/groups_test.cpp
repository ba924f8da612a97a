// Group expansion: reading the group definition files, preconditions and the bytes of the
// attribute lists, including what happens with malformed definition files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "GroupFixture.h"

namespace {

using clonetest::GroupFixture;
using clonetest::writeFile;

const char kNvramList[] = "/xpaths/tmp_cloningData/nvram_attr_list";
const char kCfgList[] = "/xpaths/tmp_cloningData/cfg_attr_list";
const char kSelfCfgList[] = "/xpaths/tmp_cloningData/cfg_attr_listcloneself";
const char kSelfNvramList[] = "/xpaths/tmp_cloningData/nvram_attr_listcloneself";

const char kNoGroup[] = "Selected Group Name Is Not There On tmp_groups_parsed File ";
const char kNoValue[] = "Failed to get precondition value";
const char kLongAttribLine[] =
    "A line of tmp_attrib_parsed is longer than 4095 characters, the rest of the file is ignored";
// Stands for "do not write this file".
const char kAbsent[] = "<absent>";

const std::string kNv1 = "NV1\n<NVRAM>\nA:1\nB:2\n</NVRAM>\n";
const std::string kNv2 = "NV2\n<NVRAM>\nC:3\n</NVRAM>\n";
const std::string kCfg1 = "CFG1\n<CONFIGSERVER>\nnet.a\n</CONFIGSERVER>\n";

// Every attribute list a section can append to.
const char* const kAllLists[] = {
    kNvramList, kCfgList, kSelfCfgList, kSelfNvramList, "/xpaths/tmp_cloningData/cfg_ccs_attr_list",
    "/xpaths/tmp_cloningData/ds_ccs_attr_list", "/xpaths/tmp_cloningData/ds_attr_list",
    "/xpaths/tmp_cloningData/dlm_attr_list"};

struct ExpansionCase {
    const char* name;
    std::string groups;
    std::string attrib;
    int result;
    std::map<std::string, std::string> lists;  // every list not named here must not exist
    std::vector<std::string> errors;           // every ERROR record, in order
    std::vector<std::string> selected = {"G_GROUP"};
};

CLONE_PRINT_BY_NAME(ExpansionCase)

const std::vector<ExpansionCase> kExpansionCases = {
    {"OnlyFirstAttributeLineIsTrimmed", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\nA:1 \t\r\nB:2 \r\n</NVRAM>\n", 0,
     {{kNvramList, "A:1\nB:2 \r\n"}}, {}},
    {"EachTagHasItsList", "G_GROUP\nS1\nS2\nS3\nS4\nS5\nS6\n",
     "S1\n<CCS_CONFIGSERVER>\nccs.c\n</CCS_CONFIGSERVER>\nS2\n<CCS_DATASTORE>\nccs.d\n</CCS_DATASTORE>\n"
     "S3\n<NVRAM>\nN:1\n</NVRAM>\nS4\n<DATASTORE>\nds.a\n</DATASTORE>\nS5\n<CONFIGSERVER>\ncfg.a\n</CONFIGSERVER>\n"
     "S6\n<DLM>\nscanToCloud\n</DLM>\n",
     0,
     {{"/xpaths/tmp_cloningData/cfg_ccs_attr_list", "ccs.c\n"},
      {"/xpaths/tmp_cloningData/ds_ccs_attr_list", "ccs.d\n"},
      {kNvramList, "N:1\n"},
      {"/xpaths/tmp_cloningData/ds_attr_list", "ds.a\n"},
      {kCfgList, "cfg.a\n"},
      {"/xpaths/tmp_cloningData/dlm_attr_list", "scanToCloud\n"}},
     {}},
    // Appended in the order of the groups and their subgroups, repeats included.
    {"GroupsOfOneExportShareTheLists", "G_GROUP\nNV1\nH_GROUP\nNV2\nNV1\n", kNv1 + kNv2, 0,
     {{kNvramList, "C:3\nA:1\nB:2\nA:1\nB:2\n"}}, {}, {"H_GROUP", "G_GROUP"}},
    // Blank lines are no subgroups; a group that expands to nothing is reported by its result.
    {"OnlyBlankAndMissingSubgroups", "G_GROUP\n\n  \n\t\r\nNOPE\nH_GROUP\nNV1\n", kNv1, 1, {},
     {"No Such Attribute On tmp_attrib_parsed File : NOPE"}},
    {"EmptyGroupAtEndOfFile", "H_GROUP\nNV1\nG_GROUP\n", kNv1, 0, {}, {}},
    {"GroupMatchesWholeLineOnly", "G_GROUPS\nNV1\nMY_G_GROUP\nNV1\n", kNv1, 1, {}, {kNoGroup}},
    {"HeaderAndSubgroupLinesAreTrimmed", "G_GROUP \t\r\nNV1 \r\n", "NV1 \t\r\n<NVRAM>\nA:1\nB:2\n</NVRAM>\n", 0,
     {{kNvramList, "A:1\nB:2\n"}}, {}},
    // Lines before the first header, other groups and a second header of the same name.
    {"OnlyTheFirstHeaderOfTheGroupCounts", "NV2\nH_GROUP\nNV2\nG_GROUP\nNV1\nG_GROUP\nNV2\n", kNv1 + kNv2, 0,
     {{kNvramList, "A:1\nB:2\n"}}, {}},
    {"GroupSuffixAloneIsAHeaderShorterLineIsNot", "G_GROUP\nNV\nGROUP\nNV1\n", "NV\n<NVRAM>\nX:1\n</NVRAM>\n" + kNv1,
     0, {{kNvramList, "X:1\n"}}, {}},
    {"MissingSubgroupIsSkipped", "G_GROUP\nNOPE\nNV1\nNOPE\nH_GROUP\n", kNv1, 0, {{kNvramList, "A:1\nB:2\n"}},
     {"No Such Attribute On tmp_attrib_parsed File : NOPE", "No Such Attribute On tmp_attrib_parsed File : NOPE"}},
    {"SubgroupSearchTakesFirstMatchingLine", "G_GROUP\nNV1\n", "X1\n<NVRAM>\nNV1\n</NVRAM>\n" + kNv1, 0, {},
     {"</NVRAM> is not in the cloneListMap"}},
    {"TagIsMatchedExactly", "G_GROUP\nU1\nU2\nU3\nU4\n",
     "U1\n<BOGUS>\nx\n</BOGUS>\nU2\n<NVRAM> \nx\n</NVRAM>\nU3\n<nvram>\nx\n</nvram>\nU4\nNVRAM\nx\n/NVRAM\n", 0, {},
     {"<BOGUS> is not in the cloneListMap", "<NVRAM>  is not in the cloneListMap",
      "<nvram> is not in the cloneListMap", "NVRAM is not in the cloneListMap"}},
    {"EmptySection", "G_GROUP\nE1\nE2\n", "E1\n<NVRAM>\n</NVRAM>\nE2\n<NVRAM>\n</NVRAM> \r\n", 0, {},
     {"No attributes under the E1", "No attributes under the E2"}},
    {"EndTagAfterFirstLineIsNotTrimmed", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\nA:1\n</NVRAM> \n" + kNv2, 0,
     {{kNvramList, "A:1\n</NVRAM> \nNV2\n<NVRAM>\nC:3\n"}}, {}},
    {"MiscSectionWithoutMiscKey", "G_GROUP\nM1\n", "M1\n<MISC>\nnot.a.key\n</MISC>\n", 0, {},
     {"cannot open output file"}},
    // A misc key, in any section, and the foreign device interface make elements and no list lines.
    {"MiscKeysAppendNothing", "G_GROUP\nM1\nM2\nFDI_ATTR\n",
     "M1\n<MISC>\n<MAILBOX>\nignored\n</MISC>\nM2\n<NVRAM>\n<MAILBOX>\nA:1\n</NVRAM>\n"
     "FDI_ATTR\n<NVRAM>\nA:1\n</NVRAM>\n",
     0, {}, {}},
    // Data store and DLM sections have no self list.
    {"SelfGroupUsesSelfLists", "CLONE_TO_SELF_GROUP\nS_CFG\nS_NV\nS_DS\nS_DLM\nWIRELESS_CERTS\n",
     "S_CFG\n<CONFIGSERVER>\na.b\n</CONFIGSERVER>\nS_NV\n<NVRAM>\nX:1\n</NVRAM>\nS_DS\n<DATASTORE>\nds.a\n"
     "</DATASTORE>\nS_DLM\n<DLM>\nscanToCloud\n</DLM>\nWIRELESS_CERTS\n<MISC>\n<WIRELESS>\n</MISC>\n",
     0, {{kSelfCfgList, "a.b\n"}, {kSelfNvramList, "X:1\n"}}, {}, {"CLONE_TO_SELF_GROUP"}},
    {"WirelessCertsWithSelfListAppends", "CLONE_TO_SELF_GROUP\nWIRELESS_CERTS\n",
     "WIRELESS_CERTS\n<CONFIGSERVER>\nwifi.cert\n</CONFIGSERVER>\n", 0, {{kSelfCfgList, "wifi.cert\n"}}, {},
     {"CLONE_TO_SELF_GROUP"}},
    {"OrdinaryGroupInSelfExport", "G_GROUP\nCFG1\nCLONE_TO_SELF_GROUP\nCFG1\n", kCfg1, 0,
     {{kCfgList, "net.a\n"}, {kSelfCfgList, "net.a\n"}}, {}, {"G_GROUP", "CLONE_TO_SELF_GROUP"}},
    {"MissingGroupsFile", kAbsent, kNv1, 1, {}, {"Failed to open tmp_groups_parsed File"}},
    {"MissingAttribFile", "G_GROUP\nNV1\nNV2\n", kAbsent, 1, {}, {"Failed To Open tmp_attrib_parsed"}},

    // Malformed definition files.
    {"CrlfTagIsNotFound", "G_GROUP\r\nNV1\r\n", "NV1\r\n<NVRAM>\r\nA:1\r\n</NVRAM>\r\n", 0, {},
     {"<NVRAM>\r is not in the cloneListMap"}},
    // Text after the last line feed is not a line, in either file.
    {"UnterminatedLastLineIsIgnored", "G_GROUP\nNV1\nNV2", "NV1\n<NVRAM>\nA:1\nB:2", 0, {{kNvramList, "A:1\n"}}, {}},
    {"SectionCutByEndOfFile", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\n", 0, {}, {"No attributes under the NV1"}},
    {"SubgroupLineAtEndOfFile", "G_GROUP\nNV1\n", "NV1\n", 0, {}, {" is not in the cloneListMap"}},
    {"PreconditionWithoutEndMarkerTakesNoTag", "G_GROUP\nP1\n", "P1\n<PRECONDITION>\nFALSE\n<NVRAM>\nA:1\n</NVRAM>\n",
     0, {}, {kNoValue, " is not in the cloneListMap"}},
    {"LineOfMaximumLengthIsKept", "G_GROUP\nNV1\n", "NV1\n<NVRAM>\nA:1\n" + std::string(4095, 'x') + "\n</NVRAM>\n",
     0, {{kNvramList, "A:1\n" + std::string(4095, 'x') + "\n"}}, {}},
    {"OverLongAttribLineEndsTheFile", "G_GROUP\nNV1\nNV2\n",
     "NV1\n<NVRAM>\nA:1\n" + std::string(4096, 'x') + "\nB:2\n</NVRAM>\n" + kNv2, 0, {{kNvramList, "A:1\n"}},
     {kLongAttribLine, kLongAttribLine, "No Such Attribute On tmp_attrib_parsed File : NV2"}},
    {"OverLongGroupsLineEndsTheFile", "G_GROUP\n" + std::string(5000, 'y') + "\nNV1\n", kNv1, 0, {},
     {"A line of tmp_groups_parsed is longer than 4095 characters, the rest of the file is ignored"}},
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
    EXPECT_EQ(expandAll(c.selected), c.result);
    for (const std::string list : kAllLists) {
        const auto expected = c.lists.find(list);
        EXPECT_EQ(file(list), expected != c.lists.end() ? expected->second : "<missing>") << list;
    }
    EXPECT_EQ(messages("ERROR"), c.errors);
}

INSTANTIATE_TEST_SUITE_P(GroupFiles, ExpansionTest, ::testing::ValuesIn(kExpansionCases),
                         clonetest::RowName());

// Preconditions: whether the guarded section reaches the attribute list.
struct PreconditionCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string preconditionLine;
    bool processed;
    std::vector<std::string> errors;
};

CLONE_PRINT_BY_NAME(PreconditionCase)

const char kCopyController[] = "HW.copyController.configuration";

const std::vector<PreconditionCase> kPreconditionCases = {
    {"MfpOnMfpDevice", {{kCopyController, "mfp"}}, "HW.copyController.configuration=mfp", true, {}},
    {"MfpOnOtherDevice", {{kCopyController, "sfp"}}, "HW.copyController.configuration=mfp", false, {}},
    {"MfpValueIsExact", {{kCopyController, "mfp2"}}, "HW.copyController.configuration=mfp", false, {}},
    {"MfpUnreadable", {}, "HW.copyController.configuration=mfp", false, {kNoValue}},
    {"FalseValueOnOtherDevice", {{kCopyController, "sfp"}}, "HW.copyController.configuration=FALSE", true, {}},
    {"CopyControllerNameWithBlankIsBoolean", {{kCopyController, "mfp"}}, "HW.copyController.configuration =mfp",
     false, {kNoValue}},
    {"TrueOnTrue", {{"Feature.enabled", "TRUE"}}, "Feature.enabled=TRUE", true, {}},
    {"TrueOnFalse", {{"Feature.enabled", "FALSE"}}, "Feature.enabled=TRUE", false, {}},
    {"FalseOnFalse", {{"Feature.enabled", "false"}}, "Feature.enabled=FALSE", true, {}},
    {"FalseUnreadable", {}, "Feature.enabled=FALSE", true, {kNoValue}},
    {"FalseOnTrue", {{"Feature.enabled", "1"}}, "Feature.enabled=FALSE", false, {}},
    {"BooleanNameIsTrimmed", {{"Feature.enabled", "TRUE"}}, "Feature.enabled \t=TRUE", true, {}},
    {"ValueFoundAnywhereInLine", {{"Feature.TRUEness", "TRUE"}}, "Feature.TRUEness=FALSE", true, {}},
    {"NoEqualsSign", {}, "FALSE", true, {kNoValue}},
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
                         clonetest::RowName());

// A list that cannot be opened or written whole is reported and marks the export incomplete; the
// section's element is made all the same.
TEST_F(GroupFixture, ListThatCannotBeWrittenKeepsTheElements)
{
    writeGroups("G_GROUP\nNV1\n");
    writeAttrib(kNv1);
    const std::pair<const char*, const char*> traps[] = {{"directory", "cannot open output file"},
                                                         {"device node", "cannot open output file"}};
    for (const auto& [trap, error] : traps) {
        SCOPED_TRACE(trap);
        ASSERT_EQ(std::system(("rm -rf '" + path(kNvramList) + "'").c_str()), 0);
        if (std::string(trap) == "directory") {
            clonetest::makeDirs(path(kNvramList));
        } else if (::mknod(path(kNvramList).c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
            continue;  // /dev/full's numbers: a list is never written into anything but its own file
        }
        clearLog();
        EXPECT_EQ(expand("G_GROUP"), 0);
        EXPECT_EQ(messages("ERROR"), std::vector<std::string>{error});
        EXPECT_TRUE(incomplete);
        EXPECT_EQ(manifest(), clonetest::cloneRootLine("CloningManifest") +
                                  "  cloningData\n    version\n    cloningAttributes\n      nvRAM\n");
    }
}

}  // namespace
