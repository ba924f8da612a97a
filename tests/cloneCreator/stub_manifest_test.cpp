// The stub manifest: the skeleton of each clone type, where each kind of section puts its
// elements, and the failures of writing it.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>

#include "GroupFixture.h"

namespace {

using clonetest::cloneRootLine;
using clonetest::GroupFixture;
using clonetest::xmlOutline;

const std::string kCloneRoot = cloneRootLine("CloningManifest");
const std::string kSelfRoot = cloneRootLine("ConfigurationManifest");

std::string section(const std::string& subgroup, const std::string& tag, const std::string& firstLine)
{
    const std::string end = "</" + tag.substr(1);
    return subgroup + "\n" + tag + "\n" + firstLine + "\n" + end + "\n";
}

std::string misc(const std::string& subgroup, const std::string& key)
{
    return section(subgroup, "<MISC>", key);
}

// ---------------------------------------------------------------------------------------------
// The skeleton.

class StubTest : public GroupFixture {};

TEST_F(StubTest, SkeletonOfEachCloneType)
{
    CloneGroupsProcessor p;
    p.dlmType = "clone";
    cloneutil::XmlDoc clone(p.createStubXmlFile());
    ASSERT_TRUE(clone);
    EXPECT_EQ(xmlOutline(clone.get()), kCloneRoot + "  cloningData\n    version\n");

    p.dlmType = "cloneSelf";
    cloneutil::XmlDoc self(p.createStubXmlFile());
    ASSERT_TRUE(self);
    EXPECT_EQ(xmlOutline(self.get()), kSelfRoot + "  cloningData\n    version\n  version\n  serialNumber\n");
    EXPECT_TRUE(messages("ERROR").empty());
}

TEST_F(StubTest, SavedManifestIsUtf8InTheManifestNamespace)
{
    writeGroups("G_GROUP\nNV1\n");
    writeAttrib(section("NV1", "<NVRAM>", "A:1"));
    ASSERT_EQ(expand("G_GROUP"), 0);
    const std::string text = clonetest::readFile(path(CLONE_MANIFEST_CLONE));
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CloningManifest ", 0), 0u) << text;
    // Indented: re-saving must never accumulate blanks, so one element per line.
    EXPECT_NE(text.find("\n      <nvRAM/>\n"), std::string::npos) << text;

    // Elements the sections added fall into the root's default namespace once saved.
    cloneutil::XmlDoc doc(xmlReadFile(path(CLONE_MANIFEST_CLONE).c_str(), nullptr, XML_PARSE_NOBLANKS));
    ASSERT_TRUE(doc);
    const xmlNodePtr nvram = xmlDocGetRootElement(doc.get())->children->last->children;
    ASSERT_NE(nvram, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(nvram->name), "nvRAM");
    ASSERT_NE(nvram->ns, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(nvram->ns->href), CLONE_MANIFEST_NAMESPACE);
}

TEST_F(StubTest, UnsupportedTypeHasNoStub)
{
    CloneGroupsProcessor p;
    p.dlmType = "bogus";
    EXPECT_EQ(p.createStubXmlFile(), nullptr);
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"createStubXmlFile: DLM Type is not supported"});
    EXPECT_EQ(messages("LIBENTER"), std::vector<std::string>{"createStubXmlFile"});
    EXPECT_TRUE(messages("LIBRETURN").empty());
}

struct PathCase {
    const char* name;
    std::function<void(const std::string& root)> arrange;
    std::string type;
    std::string path;
    std::vector<std::string> errors;
};

CLONE_PRINT_BY_NAME(PathCase)

class ManifestPathTest : public GroupFixture, public ::testing::WithParamInterface<PathCase> {};

void removeStaging(const std::string& root)
{
    ASSERT_EQ(::rmdir((root + "/xpaths/tmp_cloningData").c_str()), 0);
}

void blockExportTree(const std::string& root)
{
    clonetest::writeFile(root + "/xpaths/tmp_cloningData/cloningExport", "x");
}

const std::vector<PathCase> kPathCases = {
    {"Clone", nullptr, "clone", "/xpaths/tmp_cloningData/cloningExport/CloningManifest.xml", {}},
    {"CloneSelf", nullptr, "cloneSelf", "/xpaths/tmp_cloningData/cloningExport/ConfigurationManifest.xml", {}},
    {"OtherType", nullptr, "Clone", "NULL", {"CloningManifestFilePath: Clone dlm type is not supported"}},
    {"NoStagingDirectory", removeStaging, "clone", "NULL",
     {"/xpaths/tmp_cloningData/ is not available. Clone Export is failed"}},
    {"ExportTreeIsAFile", blockExportTree, "clone", "NULL",
     {"Creating directory /xpaths/tmp_cloningData/cloningExport/ is failed"}},
};

TEST_P(ManifestPathTest, PathByCloneType)
{
    const PathCase& c = GetParam();
    if (c.arrange) {
        c.arrange(root());
    }
    CloneGroupsProcessor p;
    p.dlmType = c.type;
    EXPECT_EQ(p.CloningManifestFilePath(), c.path);
    EXPECT_EQ(messages("ERROR"), c.errors);
    if (c.errors.empty()) {
        struct stat st;
        EXPECT_EQ(::stat(path("/xpaths/tmp_cloningData/cloningExport").c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, ManifestPathTest, ::testing::ValuesIn(kPathCases),
                         [](const ::testing::TestParamInfo<PathCase>& info) { return info.param.name; });

TEST_F(StubTest, SectionWithoutStagingDirectoryIsSkipped)
{
    ASSERT_EQ(::rmdir(path("/xpaths/tmp_cloningData").c_str()), 0);
    writeGroups("G_GROUP\nNV1\n");
    writeAttrib(section("NV1", "<NVRAM>", "A:1"));
    EXPECT_EQ(expand("G_GROUP"), 0);
    const std::vector<std::string> errors = {"/xpaths/tmp_cloningData/ is not available. Clone Export is failed",
                                             "Error creating path to clone files"};
    EXPECT_EQ(messages("ERROR"), errors);
    EXPECT_FALSE(clonetest::exists(path("/xpaths/tmp_cloningData")));
}

// Each wrapper reports a refused writer call with its own message.
struct WriterCase {
    const char* name;
    std::function<void(xmlTextWriterPtr)> misuse;
    std::vector<std::string> errors;
};

CLONE_PRINT_BY_NAME(WriterCase)

const std::vector<WriterCase> kWriterCases = {
    {"DocumentInsideElement",
     [](xmlTextWriterPtr w) {
         CloneGroupsProcessor::createDoc(w);
         CloneGroupsProcessor::startElement(w, "a");
         EXPECT_EQ(CloneGroupsProcessor::createDoc(w), -1);
     },
     {"Error on creating new xml document"}},
    {"ElementWithoutName", [](xmlTextWriterPtr w) { EXPECT_EQ(CloneGroupsProcessor::startElement(w, ""), -1); },
     {"Error on creating xml element"}},
    {"AttributeOutsideStartTag",
     [](xmlTextWriterPtr w) {
         CloneGroupsProcessor::createDoc(w);
         EXPECT_EQ(CloneGroupsProcessor::writeAttribute(w, "number", "1"), -1);
     },
     {"Error on creating xml attribute"}},
    {"AddedElementWithoutName", [](xmlTextWriterPtr w) { EXPECT_EQ(CloneGroupsProcessor::addElement(w, "", "x"), -1); },
     {"Error on adding xml element"}},
    {"EndWithoutElement", [](xmlTextWriterPtr w) { EXPECT_EQ(CloneGroupsProcessor::endElement(w), -1); },
     {"Error on ending xml element"}},
};

class WriterTest : public GroupFixture, public ::testing::WithParamInterface<WriterCase> {};

TEST_P(WriterTest, FailureIsLogged)
{
    xmlDocPtr built = nullptr;
    cloneutil::XmlDoc doc;
    cloneutil::XmlTextWriter writer(xmlNewTextWriterDoc(&built, 0));
    doc.reset(built);
    ASSERT_TRUE(writer);
    GetParam().misuse(writer.get());
    EXPECT_EQ(messages("ERROR"), GetParam().errors);
}

INSTANTIATE_TEST_SUITE_P(Wrappers, WriterTest, ::testing::ValuesIn(kWriterCases),
                         [](const ::testing::TestParamInfo<WriterCase>& info) { return info.param.name; });

TEST_F(StubTest, EndDocumentReportsBothMessagesAndReleasesTheWriter)
{
    xmlDocPtr built = nullptr;
    cloneutil::XmlDoc doc;
    cloneutil::XmlTextWriter writer(xmlNewTextWriterDoc(&built, 0));
    doc.reset(built);
    ASSERT_TRUE(writer);
    CloneGroupsProcessor::createDoc(writer.get());
    EXPECT_EQ(CloneGroupsProcessor::endDocument(writer), -1);
    EXPECT_FALSE(writer);
    EXPECT_EQ(messages("ERROR"),
              (std::vector<std::string>{"Error on ending xml element", "Error on ending xml document"}));
}

// ---------------------------------------------------------------------------------------------
// Where sections put their elements.

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
    {"NvramOnly", "G_GROUP\nNV1\n", section("NV1", "<NVRAM>", "A:1"), {"G_GROUP"}, "clone",
     kCloneRoot + "  cloningData\n    version\n    cloningAttributes\n      nvRAM\n"},
    {"SelfConfigServer", "CLONE_TO_SELF_GROUP\nS1\n", section("S1", "<CONFIGSERVER>", "a.b"), {"CLONE_TO_SELF_GROUP"},
     "cloneSelf",
     kSelfRoot + "  cloningData\n    version\n  version\n  serialNumber\n  configurationAttributes\n"},
    {"ListsShareOneCloningAttributes", "G_GROUP\nNV1\nCFG1\nNV2\nDS1\n",
     section("NV1", "<NVRAM>", "A:1") + section("CFG1", "<CONFIGSERVER>", "c.d") + section("NV2", "<NVRAM>", "B:1") +
         section("DS1", "<DATASTORE>", "d.e"),
     {"G_GROUP"}, "clone",
     kCloneRoot + "  cloningData\n    version\n    cloningAttributes\n      nvRAM\n      configServer\n      dataStore\n"},
    {"EmptySectionMakesOnlyTheStub", "G_GROUP\nE1\n", "E1\n<NVRAM>\n</NVRAM>\n", {"G_GROUP"}, "clone",
     kCloneRoot + "  cloningData\n    version\n"},
    {"MiscWithoutKeyMakesCloningAttributes", "G_GROUP\nM1\n", misc("M1", "not.a.key"), {"G_GROUP"}, "clone",
     kCloneRoot + "  cloningData\n    version\n    cloningAttributes\n"},
    {"TemplatesInAnyOrder", "G_GROUP\nT1\nT2\nT3\n",
     misc("T1", "<SCANTO_DEFAULTS>") + misc("T2", "<DEFAULT_TEMPLATES>") + misc("T3", "<TEMPLATES>"), {"G_GROUP"},
     "clone",
     kCloneRoot + "  cloningData\n    version\n    templates\n      scanToDefaults\n      default\n      templatePool\n"},
    {"DlmSectionMakesDlmEnableOnce", "G_GROUP\nCFG1\nD1\nNV1\nD2\n",
     section("CFG1", "<CONFIGSERVER>", "c.d") + section("D1", "<DLM>", "scanToCloud") +
         section("NV1", "<NVRAM>", "A:1") + section("D2", "<DLM>", "airPrint"),
     {"G_GROUP"}, "clone",
     kCloneRoot +
         "  cloningData\n    version\n    cloningAttributes\n      configServer\n      nvRAM\n"
         "    ipSettings\n      dlmEnable\n"},
    {"EmptyDlmSectionMakesNoDlmEnable", "G_GROUP\nD1\nNV1\n",
     "D1\n<DLM>\n</DLM>\n" + section("NV1", "<NVRAM>", "A:1"), {"G_GROUP"}, "clone",
     kCloneRoot + "  cloningData\n    version\n    cloningAttributes\n      nvRAM\n"},
    {"IpSettingsSharedByDlmAndMisc", "G_GROUP\nD1\nIPT\nIPS\n",
     section("D1", "<DLM>", "scanToCloud") + misc("IPT", "<IP_TABLES_CUSTOM>") + misc("IPS", "<IP_SEC_CUSTOM>"),
     {"G_GROUP"}, "clone",
     kCloneRoot +
         "  cloningData\n    version\n    cloningAttributes\n    ipSettings\n      dlmEnable\n      ipTables\n"
         "      ipsec\n    Certificates\n      ipsecCertificates\n"},
    {"CertificateCompanionsAreSiblings", "G_GROUP\nIPS\nPAB\n",
     misc("IPS", "<IP_SEC_CUSTOM>") + misc("PAB", "<PUBLIC_ADDRESS_BOOK>"), {"G_GROUP"}, "clone",
     kCloneRoot +
         "  cloningData\n    version\n    ipSettings\n      ipsec\n    Certificates\n      ipsecCertificates\n"
         "      addressBookCertificates\n    addressbooks\n      version[number=1.0.0]\n        addressbookData\n"},
    {"AddressBookInFreshManifest", "G_GROUP\nPAB\n", misc("PAB", "<PUBLIC_ADDRESS_BOOK>"), {"G_GROUP"}, "clone",
     kCloneRoot +
         "  cloningData\n    version\n    addressbooks\n      version[number=1.0.0]\n        addressbookData\n"
         "    Certificates\n      addressBookCertificates\n"},
    {"RepeatedMiscSectionsAddNothing", "G_GROUP\nPAB\nPAB\nIPS\nIPS\n",
     misc("PAB", "<PUBLIC_ADDRESS_BOOK>") + misc("IPS", "<IP_SEC_CUSTOM>"), {"G_GROUP"}, "clone",
     kCloneRoot +
         "  cloningData\n    version\n    addressbooks\n      version[number=1.0.0]\n        addressbookData\n"
         "    Certificates\n      addressBookCertificates\n      ipsecCertificates\n    ipSettings\n      ipsec\n"},
    {"AccountingPathsMeet", "G_GROUP\nACC\nQTM\nJBA\nFDI_ATTR\n",
     misc("ACC", "<ACCOUNTING>") + misc("QTM", "<QTM_PRINT_EXCEPTIONS>") + misc("JBA", "<JBA_PRINT_EXCEPTIONS>") +
         section("FDI_ATTR", "<CONFIGSERVER>", "fdi.a"),
     {"G_GROUP"}, "clone",
     kCloneRoot +
         "  cloningData\n    version\n    accounting\n      accountingMode\n        qtm\n"
         "      accountingValidation\n        qtmExceptions\n        jbaExceptions\n"
         "      accountingAttributes\n        fdiAttributes\n"},
    {"SingleNameMiscPaths", "G_GROUP\nA\nB\nC\nD\nE\nF\n",
     misc("A", "<MAILBOX>") + misc("B", "<SERVICE_REGISTRY>") + misc("C", "<CUSTOMER_LOGO_FILE>") +
         misc("D", "<SINGLE_TOUCH_SETTINGS>") + misc("E", "<CUSTOM_MEDIA_TYPES>") + misc("F", "<POS_ATTRIBUTES>"),
     {"G_GROUP"}, "clone",
     kCloneRoot +
         "  cloningData\n    version\n    mailbox\n    serviceRegistryAttributes\n    customLogo\n"
         "    singleTouchScanSettings\n    cmlAttributes\n    posAttributes\n"},
    {"JobSettingsAndSnmp", "G_GROUP\nJOB\nTRAP\nCOMM\n",
     misc("JOB", "<RETRIEVE_JOB_SETTINGS>") + misc("TRAP", "<SNMP_TRAP_REGISTRATION>") +
         misc("COMM", "<SNMP_COMMUNITY_STRINGS>"),
     {"G_GROUP"}, "clone",
     kCloneRoot +
         "  cloningData\n    version\n    copy\n      saveJobList\n        saveJob\n    snmp\n      trapKeyList\n"
         "      communityString\n"},
    {"MiscOfSelfGroupGoesUnderCloningData", "CLONE_TO_SELF_GROUP\nMB\nWIRELESS_CERTS\nS1\n",
     misc("MB", "<MAILBOX>") + misc("WIRELESS_CERTS", "<WIRELESS>") + section("S1", "<NVRAM>", "X:1"),
     {"CLONE_TO_SELF_GROUP"}, "cloneSelf",
     kSelfRoot +
         "  cloningData\n    version\n    mailbox\n  version\n  serialNumber\n  wirelessCertificates\n"
         "  configurationAttributes\n"},
    {"WirelessCertsWithTagOutsideSelfTable", "CLONE_TO_SELF_GROUP\nWIRELESS_CERTS\n",
     section("WIRELESS_CERTS", "<CERTS>", "wifi.pem"), {"CLONE_TO_SELF_GROUP"}, "cloneSelf",
     kSelfRoot + "  cloningData\n    version\n  version\n  serialNumber\n  wirelessCertificates\n"},
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
    EXPECT_EQ(c.type == "clone" ? cloneManifest() : selfManifest(), c.manifest);
    // Only the manifest of the clone type is written.
    EXPECT_FALSE(clonetest::exists(path(c.type == "clone" ? CLONE_MANIFEST_CLONESELF : CLONE_MANIFEST_CLONE)));
}

INSTANTIATE_TEST_SUITE_P(Sections, ManifestTest, ::testing::ValuesIn(kManifestCases),
                         [](const ::testing::TestParamInfo<ManifestCase>& info) { return info.param.name; });

TEST_F(StubTest, SecondExportStartsANewManifest)
{
    writeGroups("G_GROUP\nNV1\nH_GROUP\nCFG1\n");
    writeAttrib(section("NV1", "<NVRAM>", "A:1") + section("CFG1", "<CONFIGSERVER>", "c.d"));
    CloneCreator creator(const_cast<char*>("/tmp"));
    char first[] = "G_GROUP ";
    char second[] = "H_GROUP ";
    creator.createGroups(first);
    creator.createGroups(second);
    EXPECT_EQ(cloneManifest(), kCloneRoot + "  cloningData\n    version\n    cloningAttributes\n      configServer\n");
    EXPECT_EQ(file("/xpaths/tmp_cloningData/nvram_attr_list"), "<missing>");
    EXPECT_EQ(messages("LIBENTER"),
              (std::vector<std::string>{"CloneCreator", "addXmlNodes Called", "createStubXmlFile",
                                        "addXmlNodes Called", "createStubXmlFile"}));
}

// A manifest that cannot be read back is left alone, and so is the section.
struct BrokenCase {
    const char* name;
    std::string content;
};

CLONE_PRINT_BY_NAME(BrokenCase)

class BrokenManifestTest : public GroupFixture, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenManifestTest, SectionIsSkipped)
{
    writeGroups("G_GROUP\nNV1\nH_GROUP\nNV2\n");
    writeAttrib(section("NV1", "<NVRAM>", "A:1") + section("NV2", "<NVRAM>", "B:1"));
    ASSERT_EQ(expand("G_GROUP"), 0);
    clonetest::writeFile(path(CLONE_MANIFEST_CLONE), GetParam().content);
    EXPECT_EQ(expand("H_GROUP"), 0);
    EXPECT_EQ(messages("ERROR"),
              std::vector<std::string>{"Failed to parse stub cloning xml file "
                                       "/xpaths/tmp_cloningData/cloningExport/CloningManifest.xml, section skipped"});
    EXPECT_EQ(clonetest::readFile(path(CLONE_MANIFEST_CLONE)), GetParam().content);
    EXPECT_EQ(file("/xpaths/tmp_cloningData/nvram_attr_list"), "A:1\n");
}

const BrokenCase kBrokenCases[] = {
    {"Truncated", "<?xml version=\"1.0\"?>\n<CloningManifest><cloningData>"},
    {"Empty", ""},
    {"RootWithoutChildren", "<?xml version=\"1.0\"?>\n<CloningManifest/>\n"},
    {"RootStartsWithText", "<CloningManifest>x<cloningData/></CloningManifest>"},
};

INSTANTIATE_TEST_SUITE_P(Manifests, BrokenManifestTest, ::testing::ValuesIn(kBrokenCases),
                         [](const ::testing::TestParamInfo<BrokenCase>& info) { return info.param.name; });

// The name search: depth first until the first match, then later siblings by name only.
struct SearchCase {
    const char* name;
    std::string document;
    std::string search;
    int found;
    std::string id;  // "id" attribute of the element found
};

CLONE_PRINT_BY_NAME(SearchCase)

const std::vector<SearchCase> kSearchCases = {
    {"StartItself", "<r><x id='1'/></r>", "x", 1, "1"},
    {"FirstMatchInDocumentOrder", "<r><a><b><x id='1'/></b><c><x id='2'/></c></a><d/></r>", "x", 1, "1"},
    {"LaterSiblingReplacesMatch", "<r><a><b><x id='1'/></b><c><x id='2'/></c><x id='3'/></a><x id='4'/></r>", "x", 1,
     "4"},
    {"NoDescentAfterMatch", "<r><a><x id='1'/></a><b><x id='2'/></b></r>", "x", 1, "1"},
    {"NamesAreCaseSensitive", "<r><a><X id='1'/></a></r>", "x", 0, "none"},
    {"TextIsNotAnElement", "<r><a>text</a></r>", "text", 0, "none"},
};

class NameSearchTest : public GroupFixture, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(NameSearchTest, Finds)
{
    const SearchCase& c = GetParam();
    cloneutil::XmlDoc doc(xmlReadMemory(c.document.data(), static_cast<int>(c.document.size()), nullptr, nullptr, 0));
    ASSERT_TRUE(doc);
    CloneGroupsProcessor p;
    xmlDocPtr raw = doc.get();
    retNode = nullptr;
    EXPECT_EQ(p.processXmlCurrentNodes(c.search, xmlDocGetRootElement(raw)->children, raw), c.found);
    std::string id = "none";
    if (retNode != nullptr) {
        cloneutil::XmlChar value(xmlGetProp(retNode, reinterpret_cast<const xmlChar*>("id")));
        id = value ? reinterpret_cast<const char*>(value.get()) : "?";
    }
    EXPECT_EQ(id, c.id);
}

INSTANTIATE_TEST_SUITE_P(Searches, NameSearchTest, ::testing::ValuesIn(kSearchCases),
                         [](const ::testing::TestParamInfo<SearchCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// The helper table only dispatches what the manifest can hold.

// Helper-table rows whose element no section makes (checked below to stay true).
const std::set<std::string> kNotMadeBySections = {
    "pclFont",  // the PCL font element has no section tag or misc key
};

class HelperCoverageTest : public GroupFixture {
protected:
    // Expands one subgroup per section tag and per misc key of the tables, and collects the
    // element names of the manifests of both clone types.
    std::set<std::string> producibleNames()
    {
        CloneGroupsProcessor tables;
        std::string ordinary = "ALL_GROUP\n";
        std::string self = "CLONE_TO_SELF_GROUP\nWIRELESS_CERTS\n";
        std::string attrib = "WIRELESS_CERTS\n<MISC>\n<WIRELESS>\n</MISC>\n";
        int n = 0;
        for (const auto& row : tables.cloneListMap) {
            if (row.first != "<MISC>") {
                const std::string name = "TAG" + std::to_string(n++);
                ordinary += name + "\n";
                attrib += name + "\n" + row.first + "\nline\n" + row.second.second + "\n";
            }
        }
        for (const auto& row : tables.cloneSelfListMap) {
            if (row.first != "<MISC>") {
                const std::string name = "TAG" + std::to_string(n++);
                self += name + "\n";
                attrib += name + "\n" + row.first + "\nline\n" + row.second.second + "\n";
            }
        }
        for (const auto& row : tables.cloneMiscMap) {
            const std::string name = "MISC" + std::to_string(n++);
            ordinary += name + "\n";
            attrib += misc(name, row.first);
        }
        writeGroups(ordinary + self);
        writeAttrib(attrib);

        std::set<std::string> names;
        for (const std::string type : {"clone", "cloneSelf"}) {
            CloneCreator cleaner(const_cast<char*>("/tmp"));
            cleaner.cleanUpCloneDirectory();
            expandAll({"ALL_GROUP", "CLONE_TO_SELF_GROUP"}, type);
            const char* manifest = type == "clone" ? CLONE_MANIFEST_CLONE : CLONE_MANIFEST_CLONESELF;
            std::istringstream in(clonetest::elementNames(path(manifest)));
            for (std::string name; std::getline(in, name);) {
                names.insert(name);
            }
        }
        EXPECT_EQ(messages("ERROR"), std::vector<std::string>{});
        return names;
    }
};

TEST_F(HelperCoverageTest, EveryHelperElementCanBeMade)
{
    const std::set<std::string> names = producibleNames();
    ASSERT_GT(names.size(), 40u);
    CloneCreator creator(const_cast<char*>("/tmp"));
    for (const auto& row : creator.mapOfHelpers) {
        if (kNotMadeBySections.count(row.first) == 0) {
            EXPECT_EQ(names.count(row.first), 1u) << "no section makes the element \"" << row.first << "\"";
        }
    }
    for (const std::string& name : kNotMadeBySections) {
        EXPECT_EQ(names.count(name), 0u) << name << " is made now; drop it from the exceptions";
    }
}

}  // namespace
