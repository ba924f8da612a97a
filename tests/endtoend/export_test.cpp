// Whole exports on the sample device, checked the way the receiving side sees them: the clone file
// is verified and opened with the clonefile command, its manifest and members are compared with
// what the sample groups select, and the device is left as the next export expects it. What each
// helper stages is pinned by the capture tests; here only what no other test sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "CloneFileTestUtil.h"
#include "ClonefileCommand.h"
#include "CloningExportPortal.h"
#include "DeviceTest.h"
#include "XmlTree.h"
#include "CloneCreator.h"
#include "cloneCreator.h"

namespace {

using namespace clonetest;

// The groups the sample device offers another device of its kind.
const char kOtherDevicesLine[] = "NETWORK_GROUP SECURITY_GROUP SCAN_GROUP ACCOUNTING_GROUP PRINT_GROUP ";
const char kSelfLine[] = "NETWORK_GROUP CLONE_TO_SELF_GROUP ";
// The demo's group line: with the scan group first the address book is staged before its
// certificates, and the self-clone group adds what only the device itself takes back.
const char kDemoLine[] = "SCAN_GROUP NETWORK_GROUP SECURITY_GROUP ACCOUNTING_GROUP PRINT_GROUP CLONE_TO_SELF_GROUP ";

const char kCloningRoot[] =
    "CloningManifest[xmlns=http://www.clonecreator.local/ConfigManifest]"
    "[xmlns:xsi=http://www.w3.org/2001/XMLSchema-instance]"
    "[xsi:schemaLocation=http://www.clonecreator.local/ConfigManifest CloningManifest.xsd]\n";
const char kConfigurationRoot[] =
    "ConfigurationManifest[xmlns=http://www.clonecreator.local/ConfigManifest]"
    "[xmlns:xsi=http://www.w3.org/2001/XMLSchema-instance]"
    "[xsi:schemaLocation=http://www.clonecreator.local/ConfigManifest ConfigurationManifest.xsd]\n";

const char kCmlMember[] = "data/cmlAttributes/cmlAttributes";
const char kFdiMember[] = "data/fdiAttributes/fdiAttributes";

// What the network group stages of its files, in both kinds of manifest.
const std::string kNetworkFilesOutline = "    ipSettings\n"
                                         "      ipTables\n"
                                         "        defaultRules: data/ipTables/ipTablesDefaultRules.cfg\n"
                                         "        customRules: data/ipTables/ipTablesCustomRules.cfg\n"
                                         "      ipsec: data/ipSec/cfgipsec.xml\n"
                                         "      dlmEnable: data/ipTables/dlmEnableClone\n"
                                         "    Certificates\n"
                                         "      ipsecCertificates: data/ipSec/trusted/\n";

// The sample data selects every kind of data for other devices; of their elements only those
// whose helpers captured something survive pruning. The SNMP community strings have nothing to
// stage, and the address book certificates none either: with the network group first, their
// element comes before the address book, whose directory they are staged in (see kEmailCerts).
const std::string kOtherDevicesOutline = std::string(kCloningRoot) +
                                         "  cloningData\n"
                                         "    version: 1.0.0\n"
                                         "    cloningAttributes\n"
                                         "      nvRAM: data/cloneStorage/nvm_clone\n"
                                         "      configServer: data/cloneStorage/cfg_clone\n"
                                         "      ccsNVM: data/cloneStorage/ccs_clone\n"
                                         "      dataStore: data/cloneStorage/ds_clone\n"
                                         "      ccsDataStore: data/cloneStorage/ds_ccs_clone\n" +
                                         kNetworkFilesOutline +
                                         "      domainCertificates: data/domainCertificates/domainCertificates.ln\n"
                                         "      rootCertificates: data/rootCertificates/rootCertificates.ln\n"
                                         "    snmp\n"
                                         "      trapKeyList: data/snmp/trap_reg\n"
                                         "    templates\n"
                                         "      default: data/defaultTemplate/\n"
                                         "      scanToHome: data/s2HomeTemplate/\n"
                                         "      templatePool: data/mailbox/template/pool/\n"
                                         "      scanToDefaults: data/scanto_defaults/\n"
                                         "    singleTouchScanSettings\n"
                                         "      singleTouchScanImages: data/singleTouch/\n"
                                         "      singleTouchScanSetting: data/singleTouch/single_touch_clone\n"
                                         "    mailbox: data/mailbox/cfg_clone_mailbox\n"
                                         "    addressbooks\n"
                                         "      version[number=1.0.0]\n"
                                         "        addressbookData: data/addressBook/dab_clone\n"
                                         "    accounting\n"
                                         "      accountingMode\n"
                                         "        qtm: data/qtm/qtm_clone\n"
                                         "      accountingValidation\n"
                                         "        qtmExceptions: data/qtmException/qtm_exception_clone\n"
                                         "        jbaExceptions: data/jbaException/jba_exception_clone\n"
                                         "      accountingAttributes\n"
                                         "        fdiAttributes: data/fdiAttributes/fdiAttributes\n"
                                         "    posAttributes: data/pos/\n"
                                         "    cmlAttributes: data/cmlAttributes/cmlAttributes\n"
                                         "    copy\n"
                                         "      saveJobList\n"
                                         "        saveJob: data/copySvcJob/\n"
                                         "    customLogo: data/customLogo/\n"
                                         "    serviceRegistryAttributes: data/serviceRegistry/srtFile\n";

const char kEmailCerts[] = "Creating /xpaths/tmp_cloningData/cloningExport/data/addressBook/email_certs/ is failed";

// The network group's stores go under "cloningData" here too; the self-clone group's own two
// follow the serial number.
const std::string kSelfOutline = std::string(kConfigurationRoot) +
                                 "  cloningData\n"
                                 "    version: 1.0.0\n"
                                 "    cloningAttributes\n"
                                 "      nvRAM: data/cloneStorage/nvm_clone\n"
                                 "      configServer: data/cloneStorage/cfg_clone\n" +
                                 kNetworkFilesOutline +
                                 "    snmp\n"
                                 "      trapKeyList: data/snmp/trap_reg\n"
                                 "    customLogo: data/customLogo/\n"
                                 "  version: 1.0.0\n"
                                 "  serialNumber: SIM0123456789\n"
                                 "  configurationAttributes\n"
                                 "    configServer: data/cloneStorage/cfg_cloneself\n"
                                 "    nvRAM: data/cloneStorage/nvm_cloneself\n"
                                 "  wirelessCertificates: data/wirelessCertificates/\n";

// A member of the archive (relative to the export tree) and its exact content.
struct Member {
    const char* path;
    const char* content;
};

// What the sample plug-ins write for the attributes the fixture gives the device (every attribute
// of their own name space, in name order, the last value of a name), and what the service tools
// stage for other devices, which the capture tests leave to this one.
const std::vector<Member> kOtherDevicesContents = {
    {kCmlMember, "set media.custom.1.name=Cardstock\nset media.custom.1.weight=220\n"},
    {kFdiMember, "set fdi.device.interfaceEnabled=TRUE\nset fdi.vendor.id=0x1A2B\n"},
    {"data/singleTouch/single_touch_clone",
     "button.1.label=Scan to e-mail\nbutton.1.destination=email\nbutton.2.label=Scan to folder\n"
     "button.2.destination=smb://files.office.example/scans\n"},
    {"data/mailbox/cfg_clone_mailbox", "sales=box-sales-1\nengineering=box-eng-7\n"},
    {"data/serviceRegistry/srtFile",
     "service.scan.endpoint=/scan/v2\nservice.print.endpoint=/print/v3\nservice.fax.enabled=FALSE\n"},
};

// The sample tmp_attrib_parsed lines that the selected sections append to the configuration
// attribute list, which the ConfigServer plug-in reads and leaves in place.
const char kNetworkConfig[] =
    "connectivity.8021x[<profile/>].enabled\nconnectivity.8021x[<profile/>].authenticationMethod\n"
    "connectivity.ipv6[<profile/>].enabled\nnetwork.proxy.server\nnetwork.proxy.port\nnetwork.ntp.server\n";
const char kSecurityConfig[] =
    "security.passwordPolicy.minLength\nsecurity.passwordPolicy.lockoutAttempts\nsecurity.auditLog.enabled\n"
    "security.tls.minimumVersion\n";
const char kScanConfig[] =
    "scan.defaults.resolution\nscan.defaults.colorMode\nscan.defaults.fileFormat\nscan.email.maxAttachmentSize\n";

bool contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::string> sortedDir(const std::string& dir)
{
    std::vector<std::string> names = listDir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// The element name of an outline line.
std::string elementName(const std::string& line)
{
    const std::size_t start = line.find_first_not_of(' ');
    return line.substr(start, line.find_first_of("[:", start) - start);
}

class ExportTest : public DeviceTest {
protected:
    bool bareDevice() const override { return false; }
    bool withPlugins() const override { return true; }

    void SetUp() override
    {
        // The portal and the clone type outlive every export of a process; each test starts as
        // a freshly loaded library does, whichever tests ran before it in the same program.
        cloneutil::cloningPortal().GetPluginMap().clear();
        srtCloneSelfType.clear();
        DeviceTest::SetUp();
        makeDirs(root() + "/io");
        // The sample configuration has nothing in the plug-ins' name spaces; give them something
        // to export, a later value that wins and a neighbour that does not belong to them.
        setAttribute("media.custom.1.name", "Cardstock");
        setAttribute("media.custom.1.weight", "176");
        setAttribute("media.custom.1.weight", "220");
        setAttribute("mediaTray.1.size", "A4");
        setAttribute("fdi.vendor.id", "0x1A2B");
        setAttribute("fdi.device.interfaceEnabled", "TRUE");
    }
    void TearDown() override
    {
        cloneutil::cloningPortal().GetPluginMap().clear();
        DeviceTest::TearDown();
    }

    // A null GROUPLINE: the pipeline from the manifest placed in the export tree.
    int exportTo(const std::string& outputDir, const char* groupLine)
    {
        std::string out = outputDir;
        std::string line = groupLine != nullptr ? groupLine : "";
        return createCloneDLM(&out[0], kClonePassword, groupLine != nullptr ? &line[0] : nullptr);
    }

    CommandResult clonefile(const std::vector<std::string>& args) const
    {
        return runClonefile(root() + "/io/command", args);
    }

    std::vector<std::string> members(const std::string& cloneFile) const
    {
        const CommandResult list = clonefile({"list", "--key", signingPublicKey(), cloneFile});
        EXPECT_EQ(list.status, 0) << list.err;
        return lines(list.out);
    }

    // The outline of the manifest of the verified clone file (verify checks it against its schema). Each
    // element's text, but a version's or the serial number, names a member of the clone file or a
    // folder with members in it.
    std::string verifiedOutline(const std::string& cloneFile) const
    {
        const CommandResult verify = clonefile({"verify", "--key", signingPublicKey(), cloneFile});
        EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
        const CommandResult manifest = clonefile({"manifest", "--key", signingPublicKey(), cloneFile});
        EXPECT_EQ(manifest.status, 0) << manifest.err;
        writeFile(root() + "/io/manifest.xml", manifest.out);
        const std::string outline = xmlFileOutline(root() + "/io/manifest.xml");
        const std::vector<std::string> names = members(cloneFile);
        for (const std::string& line : lines(outline)) {
            const std::size_t text = line.find(": ");
            if (text == std::string::npos || elementName(line) == "version" || elementName(line) == "serialNumber") {
                continue;
            }
            const std::string named = "./" + line.substr(text + 2);
            const std::string folder = named.back() == '/' ? named : named + "/";
            EXPECT_TRUE(std::any_of(names.begin(), names.end(), [&](const std::string& m) {
                return m == named ||
                       (m.size() > folder.size() && m.back() != '/' && m.compare(0, folder.size(), folder) == 0);
            })) << line;
        }
        return outline;
    }

};

// One successful export per row; the rows differ only in what they select.
struct ExportCase {
    const char* name;
    const char* groupLine;
    const char* cloneType;
    std::string outline;
    std::vector<Member> contents;     // members compared byte for byte
    std::vector<std::string> absent;  // plug-in exports the groups did not select
    std::string attributeList;        // the configuration attribute list, the one list left in place
    std::vector<std::string> errors;  // ERROR records the sample data produces, in order
};

CLONE_PRINT_BY_NAME(ExportCase)

const ExportCase kExportCases[] = {
    {"OtherDevices", kOtherDevicesLine, "clone", kOtherDevicesOutline, kOtherDevicesContents, {},
     std::string(kNetworkConfig) + kSecurityConfig + kScanConfig, {kEmailCerts}},
    {"Self", kSelfLine, "cloneSelf", kSelfOutline, {}, {kCmlMember, kFdiMember}, kNetworkConfig, {}},
};

class ExportCaseTest : public ExportTest, public testing::WithParamInterface<ExportCase> {};

TEST_P(ExportCaseTest, CloneFileCarriesWhatTheGroupsSelected)
{
    const ExportCase& c = GetParam();
    const std::string outputDir = root() + "/out";
    const std::string cloneFile = outputDir + "/cloning.dlm";

    ASSERT_EQ(exportTo(outputDir, c.groupLine), 0);
    EXPECT_EQ(sortedDir(outputDir), (std::vector<std::string>{"cloning.dlm", "cloning.tar"}));
    EXPECT_EQ(verifiedOutline(cloneFile), c.outline);
    const std::vector<std::string> info = lines(clonefile({"info", cloneFile}).out);
    EXPECT_TRUE(contains(info, std::string("clone-type: ") + c.cloneType) && contains(info, "name: cloning"))
        << ::testing::PrintToString(info);
    const std::vector<std::string> names = members(cloneFile);
    for (const std::string& member : c.absent) {
        EXPECT_FALSE(contains(names, "./" + member)) << member;
    }
    const std::string unpacked = root() + "/unpacked";
    EXPECT_EQ(clonefile({"extract", "--key", signingPublicKey(), cloneFile, unpacked}).status, 0);
    for (const Member& m : c.contents) {
        EXPECT_EQ(readFile(unpacked + "/" + m.path), m.content) << m.path;
    }

    // The export tree went into the archive; the attribute list stays for the next export.
    EXPECT_EQ(listDir(path("/xpaths/tmp_cloningData")), std::vector<std::string>{"cfg_attr_list"})
        << "the export tree or a stray file is left in the staging directory";
    EXPECT_EQ(readFile(path("/xpaths/tmp_cloningData/cfg_attr_list")), c.attributeList);
    EXPECT_TRUE(logged("FORCEINFO", "Clone Creation Succeeded - clone file size: " +
                                        std::to_string(std::filesystem::file_size(cloneFile))));
    EXPECT_EQ(messages("ERROR"), c.errors);
}

INSTANTIATE_TEST_SUITE_P(SampleDevice, ExportCaseTest, testing::ValuesIn(kExportCases), RowName());

// The caller's way to a font clone: a manifest naming "pclFont" placed in the export tree, and a
// call without a group line. The clone file and archive take the font clone's name, and a clone
// file left by an earlier export does not survive: a caller could not tell it from this one's.
TEST_F(ExportTest, PlacedManifestFillsTheFontElement)
{
    const std::string outputDir = root() + "/out";
    const std::string cloneFile = outputDir + "/pclFonts.dlm";
    makeDirs(outputDir);
    writeFile(outputDir + "/cloning.dlm", "an earlier export");
    makeDirs(path("/xpaths/tmp_cloningData/cloningExport"));
    writeFile(path("/xpaths/tmp_cloningData/cloningExport/CloningManifest.xml"),
              "<CloningManifest xmlns=\"http://www.clonecreator.local/ConfigManifest\"><cloningData><pclFont/>"
              "</cloningData></CloningManifest>");
    ScopedEnv pathVariable("PATH", root() + "/bin:" + std::getenv("PATH"));

    ASSERT_EQ(exportTo(outputDir, nullptr), 0);
    EXPECT_EQ(verifiedOutline(cloneFile), "CloningManifest[xmlns=http://www.clonecreator.local/ConfigManifest]\n"
                                          "  cloningData\n    pclFont: data/pclFonts/datafiles\n");
    EXPECT_TRUE(contains(members(cloneFile), "./data/pclFonts/datafiles/start.pcl"));
    EXPECT_TRUE(contains(lines(clonefile({"info", cloneFile}).out), "name: pclFonts"));
    EXPECT_EQ(sortedDir(outputDir), (std::vector<std::string>{"pclFonts.dlm", "pclFonts.tar"}));
}

// A generated profile (a fiftieth of the benchmark's unit size) exports whole: every list, the
// staged files and the elements that name them.
class ProfileExportTest : public ExportTest {
protected:
    std::string profileScale() const override { return "0.02"; }
};

TEST_F(ProfileExportTest, GeneratedProfileExportsWhole)
{
    const std::string cloneFile = root() + "/out/cloning.dlm";
    ASSERT_EQ(exportTo(root() + "/out", lines(readFile(path("/config/profile_groups"))).at(0).c_str()), 0);
    const std::string outline = verifiedOutline(cloneFile);
    for (const char* element : {"nvRAM: ", "configServer: ", "dataStore: ", "templatePool: ", "scanToHome: ",
                                "ipsecCertificates: "}) {
        EXPECT_NE(outline.find(element), std::string::npos) << element;
    }
    const std::vector<std::string> names = members(cloneFile);
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& m) { return m.find("/profile_") != std::string::npos; }),
              40);
}

// The demo's groups, on a device whose root path holds blanks and shell syntax: every command the
// library runs must take the root as a name. The export fills the element of every clone helper of
// the table but the font capture (reached only through a placed manifest) and the SNMP community
// strings, which travel with the configuration attributes and leave their element as the stub wrote it.
class OddDeviceRootTest : public ExportTest {
protected:
    void SetUp() override
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                            "/odd root; $(touch pwned) & `touch pwned` XXXXXX";
        ASSERT_NE(::mkdtemp(&templ[0]), nullptr);
        oddParent_ = templ;
        ScopedEnv rootBeside("TMPDIR", oddParent_);
        ExportTest::SetUp();
    }
    void TearDown() override
    {
        ExportTest::TearDown();
        if (!oddParent_.empty()) {
            EXPECT_EQ(::rmdir(oddParent_.c_str()), 0) << "something was left beside the device root";
        }
    }

    std::string oddParent_;
};

TEST_F(OddDeviceRootTest, DemoExportFillsEveryHelpersElementAndRunsNothingHidden)
{
    ASSERT_EQ(exportTo(root() + "/out", kDemoLine), 0);
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{});
    const std::vector<std::string> outline = lines(verifiedOutline(root() + "/out/cloning.dlm"));
    CloneCreator creator(const_cast<char*>("/out"));
    for (const auto& row : creator.mapOfHelpers) {
        const bool filled = std::any_of(outline.begin(), outline.end(),
                                        [&](const std::string& line) { return elementName(line) == row.first; });
        EXPECT_EQ(filled, row.first != "pclFont" && row.first != "communityString") << row.first;
    }
    EXPECT_FALSE(exists("pwned"));
    namespace fs = std::filesystem;
    for (const fs::directory_entry& e :
         fs::recursive_directory_iterator(oddParent_, fs::directory_options::skip_permission_denied)) {
        EXPECT_NE(e.path().filename(), "pwned") << e.path();
    }
}

}  // namespace
