// The stub manifest: where each kind of section puts its elements in the manifest of each clone
// type, and what happens when the manifest or its directory cannot be used.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

#include "GroupFixture.h"

namespace {

using clonetest::cloneRootLine;
using clonetest::GroupFixture;

// The stub of each clone type, as the first section writes it.
const std::string kCloneStub = cloneRootLine("CloningManifest") + "  cloningData\n    version\n";
const std::string kSelfRoot = cloneRootLine("ConfigurationManifest");

std::string section(const std::string& subgroup, const std::string& tag, const std::string& firstLine)
{
    return subgroup + "\n" + tag + "\n" + firstLine + "\n</" + tag.substr(1) + "\n";
}

std::string misc(const std::string& subgroup, const std::string& key)
{
    return section(subgroup, "<MISC>", key);
}

class StubTest : public GroupFixture {};

// With a file where the export tree belongs, or without a staging directory, no manifest can be
// written: the section is skipped and nothing is made.
TEST_F(StubTest, SectionWithoutUsableStagingIsSkipped)
{
    const std::string exportTree = path("/xpaths/tmp_cloningData/cloningExport");
    writeGroups("G_GROUP\nNV1\n");
    writeAttrib(section("NV1", "<NVRAM>", "A:1"));
    clonetest::writeFile(exportTree, "x");
    EXPECT_EQ(expand("G_GROUP"), 0);
    EXPECT_EQ(file("/xpaths/tmp_cloningData/nvram_attr_list"), "<missing>");

    ASSERT_EQ(::unlink(exportTree.c_str()), 0);
    ASSERT_EQ(::rmdir(path("/xpaths/tmp_cloningData").c_str()), 0);
    EXPECT_EQ(expand("G_GROUP"), 0);
    EXPECT_FALSE(clonetest::exists(path("/xpaths/tmp_cloningData")));
    const std::vector<std::string> errors = {
        "Creating directory /xpaths/tmp_cloningData/cloningExport/ is failed", "Error creating path to clone files",
        "/xpaths/tmp_cloningData/ is not available. Clone Export is failed", "Error creating path to clone files"};
    EXPECT_EQ(messages("ERROR"), errors);
}

struct ManifestCase {
    const char* name;
    std::string groups;
    std::string attrib;
    std::string manifest;  // outline of the manifest of the clone type
    std::vector<std::string> selected = {"G_GROUP"};
};

CLONE_PRINT_BY_NAME(ManifestCase)

const std::vector<ManifestCase> kManifestCases = {
    {"EmptySectionMakesOnlyTheStub", "G_GROUP\nE1\n", "E1\n<NVRAM>\n</NVRAM>\n", kCloneStub},
    {"MiscWithoutKeyMakesCloningAttributes", "G_GROUP\nM1\n", misc("M1", "not.a.key"),
     kCloneStub + "    cloningAttributes\n"},
    {"DlmSectionMakesDlmEnableOnce", "G_GROUP\nCFG1\nD1\nNV1\nD2\n",
     section("CFG1", "<CONFIGSERVER>", "c.d") + section("D1", "<DLM>", "scanToCloud") +
         section("NV1", "<NVRAM>", "A:1") + section("D2", "<DLM>", "airPrint"),
     kCloneStub + "    cloningAttributes\n      configServer\n      nvRAM\n    ipSettings\n      dlmEnable\n"},
    {"EmptyDlmSectionMakesNoDlmEnable", "G_GROUP\nD1\nNV1\n", "D1\n<DLM>\n</DLM>\n" + section("NV1", "<NVRAM>", "A:1"),
     kCloneStub + "    cloningAttributes\n      nvRAM\n"},
    // The community strings are never filled, so no whole export shows where their element goes.
    {"RepeatedMiscSectionsAddNothing", "G_GROUP\nPAB\nPAB\nIPS\nIPS\nCOMM\nCOMM\n",
     misc("PAB", "<PUBLIC_ADDRESS_BOOK>") + misc("IPS", "<IP_SEC_CUSTOM>") + misc("COMM", "<SNMP_COMMUNITY_STRINGS>"),
     kCloneStub +
         "    addressbooks\n      version[number=1.0.0]\n        addressbookData\n"
         "    Certificates\n      addressBookCertificates\n      ipsecCertificates\n    ipSettings\n      ipsec\n"
         "    snmp\n      communityString\n"},
    {"MiscOfSelfGroupGoesUnderCloningData", "CLONE_TO_SELF_GROUP\nMB\nWIRELESS_CERTS\nS1\n",
     misc("MB", "<MAILBOX>") + misc("WIRELESS_CERTS", "<WIRELESS>") + section("S1", "<NVRAM>", "X:1"),
     kSelfRoot +
         "  cloningData\n    version\n    mailbox\n  version\n  serialNumber\n  wirelessCertificates\n"
         "  configurationAttributes\n",
     {"CLONE_TO_SELF_GROUP"}},
    {"SelfSectionWithoutSelfListMakesNothing", "CLONE_TO_SELF_GROUP\nDS1\n", section("DS1", "<DATASTORE>", "d.e"),
     kSelfRoot + "  cloningData\n    version\n  version\n  serialNumber\n", {"CLONE_TO_SELF_GROUP"}},
};

class ManifestTest : public GroupFixture, public ::testing::WithParamInterface<ManifestCase> {};

TEST_P(ManifestTest, Elements)
{
    const ManifestCase& c = GetParam();
    writeGroups(c.groups);
    writeAttrib(c.attrib);
    expandAll(c.selected);
    EXPECT_EQ(manifest(), c.manifest);
    // Only the manifest of the clone type is written.
    EXPECT_FALSE(clonetest::exists(path(type == "clone" ? CLONE_MANIFEST_CLONESELF : CLONE_MANIFEST_CLONE)));
}

INSTANTIATE_TEST_SUITE_P(Sections, ManifestTest, ::testing::ValuesIn(kManifestCases), clonetest::RowName());

// Nothing of an earlier export's manifest or lists is carried into the next. The manifest is saved
// as UTF-8 with one element per line, so that re-saving never accumulates blanks.
TEST_F(StubTest, SecondExportStartsANewManifest)
{
    writeGroups("G_GROUP\nNV1\nH_GROUP\nCFG1\n");
    writeAttrib(section("NV1", "<NVRAM>", "A:1") + section("CFG1", "<CONFIGSERVER>", "c.d"));
    CloneCreator creator(const_cast<char*>("/tmp"));
    char first[] = "G_GROUP ";
    char second[] = "H_GROUP ";
    creator.createGroups(first);
    creator.createGroups(second);
    EXPECT_EQ(manifest(), kCloneStub + "    cloningAttributes\n      configServer\n");
    EXPECT_EQ(file("/xpaths/tmp_cloningData/nvram_attr_list"), "<missing>");
    const std::string text = clonetest::readFile(path(CLONE_MANIFEST_CLONE));
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CloningManifest ", 0), 0u) << text;
    EXPECT_NE(text.find("\n      <configServer/>\n"), std::string::npos) << text;
}

// A manifest that cannot be read back is left alone, and so is the section: rewriting the stub
// would silently drop what earlier sections added.
TEST_F(StubTest, BrokenManifestSkipsTheSectionAndMakesTheExportIncomplete)
{
    writeGroups("G_GROUP\nNV1\nH_GROUP\nNV2\n");
    writeAttrib(section("NV1", "<NVRAM>", "A:1") + section("NV2", "<NVRAM>", "B:1"));
    for (const std::string content : {"<?xml version=\"1.0\"?>\n<CloningManifest><cloningData>",  // truncated
                                      "<?xml version=\"1.0\"?>\n<CloningManifest/>\n",
                                      "<CloningManifest>x<cloningData/></CloningManifest>"}) {
        SCOPED_TRACE(content);
        CloneCreator(const_cast<char*>("/tmp")).cleanUpCloneDirectory();
        ASSERT_EQ(expand("G_GROUP"), 0);
        ASSERT_FALSE(incomplete);
        clonetest::writeFile(path(CLONE_MANIFEST_CLONE), content);
        clearLog();
        EXPECT_EQ(expand("H_GROUP"), 0);
        EXPECT_TRUE(incomplete);
        EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"Failed to parse stub cloning xml file /xpaths/"
                                                              "tmp_cloningData/cloningExport/CloningManifest.xml, "
                                                              "section skipped"});
        EXPECT_EQ(clonetest::readFile(path(CLONE_MANIFEST_CLONE)), content);
        EXPECT_EQ(file("/xpaths/tmp_cloningData/nvram_attr_list"), "A:1\n");
    }
}

// An export whose expansion left an attribute list unwritten becomes no clone file, even when
// everything after it works: the clone would silently lack what the list held.
TEST_F(StubTest, AnUnwrittenListMakesNoCloneFile)
{
    writeGroups("G_GROUP\nM1\n");
    writeAttrib(misc("M1", "not.a.key"));
    std::string out = root() + "/out", line = "G_GROUP ";
    EXPECT_EQ(createCloneDLM(&out[0], kClonePassword, &line[0]), 1);
    EXPECT_TRUE(logged("ERROR", "The manifest or an attribute list of this export could not be written or read back "
                                "whole; no clone file is made"))
        << ::testing::PrintToString(messages("ERROR"));
    EXPECT_FALSE(clonetest::exists(out + "/cloning.dlm"));
}

}  // namespace
