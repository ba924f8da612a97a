// The stub manifest: where each kind of section puts its elements in the manifest of each clone
// type, and what happens when the manifest or its directory cannot be used.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
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
    std::vector<std::string> selected;
    std::string type;
    std::string manifest;  // outline of the manifest of TYPE
};

CLONE_PRINT_BY_NAME(ManifestCase)

const std::vector<ManifestCase> kManifestCases = {
    {"ListsShareOneCloningAttributes", "G_GROUP\nNV1\nCFG1\nNV2\nDS1\nCCS1\nCCS2\n",
     section("NV1", "<NVRAM>", "A:1") + section("CFG1", "<CONFIGSERVER>", "c.d") + section("NV2", "<NVRAM>", "B:1") +
         section("DS1", "<DATASTORE>", "d.e") + section("CCS1", "<CCS_CONFIGSERVER>", "c.e") +
         section("CCS2", "<CCS_DATASTORE>", "d.f"),
     {"G_GROUP"}, "clone",
     kCloneStub +
         "    cloningAttributes\n      nvRAM\n      configServer\n      dataStore\n      ccsNVM\n      ccsDataStore\n"},
    {"EmptySectionMakesOnlyTheStub", "G_GROUP\nE1\n", "E1\n<NVRAM>\n</NVRAM>\n", {"G_GROUP"}, "clone", kCloneStub},
    {"MiscWithoutKeyMakesCloningAttributes", "G_GROUP\nM1\n", misc("M1", "not.a.key"), {"G_GROUP"}, "clone",
     kCloneStub + "    cloningAttributes\n"},
    // Every other misc key: paths of one, two and three names; those that share a first name meet under it.
    {"MiscPaths", "G_GROUP\nT1\nT2\nT3\nT4\nA\nB\nC\nD\nE\nF\nJOB\nTRAP\nCOMM\nROOT\nDC\n",
     misc("T1", "<SCANTO_DEFAULTS>") + misc("T2", "<DEFAULT_TEMPLATES>") + misc("T3", "<TEMPLATES>") +
         misc("T4", "<S2HOME_DEFAULT_TEMPLATE>") + misc("ROOT", "<ROOT_CERTIFICATES>") +
         misc("DC", "<DOMAIN_CONTROLLER_CERTIFICATES>") +
         misc("A", "<MAILBOX>") + misc("B", "<SERVICE_REGISTRY>") + misc("C", "<CUSTOMER_LOGO_FILE>") +
         misc("D", "<SINGLE_TOUCH_SETTINGS>") + misc("E", "<CUSTOM_MEDIA_TYPES>") + misc("F", "<POS_ATTRIBUTES>") +
         misc("JOB", "<RETRIEVE_JOB_SETTINGS>") + misc("TRAP", "<SNMP_TRAP_REGISTRATION>") +
         misc("COMM", "<SNMP_COMMUNITY_STRINGS>"),
     {"G_GROUP"}, "clone",
     kCloneStub +
         "    templates\n      scanToDefaults\n      default\n      templatePool\n      scanToHome\n    mailbox\n"
         "    serviceRegistryAttributes\n    customLogo\n    singleTouchScanSettings\n    cmlAttributes\n"
         "    posAttributes\n    copy\n      saveJobList\n        saveJob\n    snmp\n      trapKeyList\n"
         "      communityString\n    Certificates\n      rootCertificates\n      domainCertificates\n"},
    {"DlmSectionMakesDlmEnableOnce", "G_GROUP\nCFG1\nD1\nNV1\nD2\n",
     section("CFG1", "<CONFIGSERVER>", "c.d") + section("D1", "<DLM>", "scanToCloud") +
         section("NV1", "<NVRAM>", "A:1") + section("D2", "<DLM>", "airPrint"),
     {"G_GROUP"}, "clone",
     kCloneStub + "    cloningAttributes\n      configServer\n      nvRAM\n    ipSettings\n      dlmEnable\n"},
    {"EmptyDlmSectionMakesNoDlmEnable", "G_GROUP\nD1\nNV1\n",
     "D1\n<DLM>\n</DLM>\n" + section("NV1", "<NVRAM>", "A:1"), {"G_GROUP"}, "clone",
     kCloneStub + "    cloningAttributes\n      nvRAM\n"},
    {"IpSettingsSharedByDlmAndMisc", "G_GROUP\nD1\nIPT\nIPS\n",
     section("D1", "<DLM>", "scanToCloud") + misc("IPT", "<IP_TABLES_CUSTOM>") + misc("IPS", "<IP_SEC_CUSTOM>"),
     {"G_GROUP"}, "clone",
     kCloneStub +
         "    cloningAttributes\n    ipSettings\n      dlmEnable\n      ipTables\n      ipsec\n"
         "    Certificates\n      ipsecCertificates\n"},
    {"CertificateCompanionsAreSiblings", "G_GROUP\nIPS\nPAB\n",
     misc("IPS", "<IP_SEC_CUSTOM>") + misc("PAB", "<PUBLIC_ADDRESS_BOOK>"), {"G_GROUP"}, "clone",
     kCloneStub +
         "    ipSettings\n      ipsec\n    Certificates\n      ipsecCertificates\n      addressBookCertificates\n"
         "    addressbooks\n      version[number=1.0.0]\n        addressbookData\n"},
    {"RepeatedMiscSectionsAddNothing", "G_GROUP\nPAB\nPAB\nIPS\nIPS\n",
     misc("PAB", "<PUBLIC_ADDRESS_BOOK>") + misc("IPS", "<IP_SEC_CUSTOM>"), {"G_GROUP"}, "clone",
     kCloneStub +
         "    addressbooks\n      version[number=1.0.0]\n        addressbookData\n"
         "    Certificates\n      addressBookCertificates\n      ipsecCertificates\n    ipSettings\n      ipsec\n"},
    {"AccountingPathsMeet", "G_GROUP\nACC\nQTM\nJBA\nFDI_ATTR\n",
     misc("ACC", "<ACCOUNTING>") + misc("QTM", "<QTM_PRINT_EXCEPTIONS>") + misc("JBA", "<JBA_PRINT_EXCEPTIONS>") +
         section("FDI_ATTR", "<CONFIGSERVER>", "fdi.a"),
     {"G_GROUP"}, "clone",
     kCloneStub +
         "    accounting\n      accountingMode\n        qtm\n      accountingValidation\n        qtmExceptions\n"
         "        jbaExceptions\n      accountingAttributes\n        fdiAttributes\n"},
    {"MiscOfSelfGroupGoesUnderCloningData", "CLONE_TO_SELF_GROUP\nMB\nWIRELESS_CERTS\nS1\n",
     misc("MB", "<MAILBOX>") + misc("WIRELESS_CERTS", "<WIRELESS>") + section("S1", "<NVRAM>", "X:1"),
     {"CLONE_TO_SELF_GROUP"}, "cloneSelf",
     kSelfRoot +
         "  cloningData\n    version\n    mailbox\n  version\n  serialNumber\n  wirelessCertificates\n"
         "  configurationAttributes\n"},
    {"OrdinaryGroupInSelfManifest", "G_GROUP\nNV1\nCLONE_TO_SELF_GROUP\nNV1\n", section("NV1", "<NVRAM>", "A:1"),
     {"G_GROUP", "CLONE_TO_SELF_GROUP"}, "cloneSelf",
     kSelfRoot +
         "  cloningData\n    version\n    cloningAttributes\n      nvRAM\n  version\n  serialNumber\n"
         "  configurationAttributes\n"},
    {"SelfSectionWithoutSelfListMakesNothing", "CLONE_TO_SELF_GROUP\nDS1\n", section("DS1", "<DATASTORE>", "d.e"),
     {"CLONE_TO_SELF_GROUP"}, "cloneSelf", kSelfRoot + "  cloningData\n    version\n  version\n  serialNumber\n"},
};

class ManifestTest : public GroupFixture, public ::testing::WithParamInterface<ManifestCase> {};

TEST_P(ManifestTest, Elements)
{
    const ManifestCase& c = GetParam();
    writeGroups(c.groups);
    writeAttrib(c.attrib);
    expandAll(c.selected, c.type);
    EXPECT_EQ(manifest(c.type), c.manifest);
    // Only the manifest of the clone type is written.
    EXPECT_FALSE(clonetest::exists(path(c.type == "clone" ? CLONE_MANIFEST_CLONESELF : CLONE_MANIFEST_CLONE)));
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

// Every element the helper table dispatches is made by some section tag or misc key of the
// tables, in the manifest of one clone type or the other; except these, which no section makes.
const std::set<std::string> kNotMadeBySections = {"pclFont"};

TEST_F(StubTest, EveryHelperElementCanBeMade)
{
    CloneGroupsProcessor tables;
    std::string ordinary = "ALL_GROUP\n";
    std::string self = "CLONE_TO_SELF_GROUP\nWIRELESS_CERTS\n";
    std::string attrib = misc("WIRELESS_CERTS", "<WIRELESS>");
    int n = 0;
    for (const auto* lists : {&tables.cloneListMap, &tables.cloneSelfListMap}) {
        for (const auto& row : *lists) {
            if (row.first != "<MISC>") {
                const std::string name = "TAG" + std::to_string(n++);
                (lists == &tables.cloneListMap ? ordinary : self) += name + "\n";
                attrib += section(name, row.first, "line");
            }
        }
    }
    for (const auto& row : tables.cloneMiscMap) {
        const std::string name = "MISC" + std::to_string(n++);
        ordinary += name + "\n";
        attrib += misc(name, row.first);
    }
    writeGroups(ordinary + self);
    writeAttrib(attrib);

    CloneCreator creator(const_cast<char*>("/tmp"));
    std::set<std::string> names;
    for (const std::string type : {"clone", "cloneSelf"}) {
        creator.cleanUpCloneDirectory();
        expandAll({"ALL_GROUP", "CLONE_TO_SELF_GROUP"}, type);
        std::istringstream outline(manifest(type));
        for (std::string line; std::getline(outline, line);) {
            const std::size_t start = line.find_first_not_of(' ');
            names.insert(line.substr(start, line.find_first_of("[: ", start) - start));
        }
    }
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{});
    ASSERT_GT(names.size(), 40u);
    for (const auto& row : creator.mapOfHelpers) {
        EXPECT_EQ(names.count(row.first), kNotMadeBySections.count(row.first) == 0 ? 1u : 0u)
            << "the element \"" << row.first << "\" is made by no section, or by one though listed as made by none";
    }
}

}  // namespace
