// Whole exports on the sample device, checked the way the receiving side sees them: the clone file
// is verified and opened with the clonefile command, its manifest and members are compared with
// what the sample groups select and what the sample plug-ins write, and the device is left as the
// next export expects it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <libxml/parser.h>

#include "CloneFileTestUtil.h"
#include "ClonefileCommand.h"
#include "CloningExportPortal.h"
#include "DeviceTest.h"
#include "ManifestSchema.h"
#include "XmlTree.h"
#include "CloneCreator.h"
#include "Handles.h"
#include "cloneCreator.h"

namespace {

using namespace clonetest;

// The groups the sample device offers another device of its kind.
const char kOtherDevicesLine[] = "NETWORK_GROUP SECURITY_GROUP SCAN_GROUP ACCOUNTING_GROUP PRINT_GROUP ";
const char kSelfLine[] = "NETWORK_GROUP CLONE_TO_SELF_GROUP ";

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

// What the sample plug-ins write for the attributes the fixture gives the device: every attribute
// of their own name space, in name order, the last value of a name.
const char kCmlExport[] = "set media.custom.1.name=Cardstock\nset media.custom.1.weight=220\n";
const char kFdiExport[] = "set fdi.device.interfaceEnabled=TRUE\nset fdi.vendor.id=0x1A2B\n";

// A member of the archive (relative to the export tree) and its exact content.
struct Member {
    const char* path;
    const char* content;
};
const Member kCml = {kCmlMember, kCmlExport};
const Member kFdi = {kFdiMember, kFdiExport};
const char* const kPluginMembers[] = {kCmlMember, kFdiMember};

bool listed(const std::vector<Member>& members, const std::string& path)
{
    for (const Member& m : members) {
        if (path == m.path) {
            return true;
        }
    }
    return false;
}

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

// What the configuration server and the data store hold for the sample lists: "<profile/>" asked
// for both profiles, names the stores lack left out, the CCS data store in list order.
const char kNetworkSettings[] =
    "set connectivity.8021x[wired].enabled=TRUE\nset connectivity.8021x[wireless].enabled=FALSE\n"
    "set connectivity.8021x[wired].authenticationMethod=PEAP\nset connectivity.ipv6[wired].enabled=TRUE\n"
    "set connectivity.ipv6[wireless].enabled=FALSE\nset network.proxy.server=proxy.office.example\n"
    "set network.proxy.port=8080\nset network.ntp.server=ntp.office.example\n";
const std::string kConfigServerExport = std::string(kNetworkSettings) +
                                        "set security.passwordPolicy.minLength=12\n"
                                        "set security.passwordPolicy.lockoutAttempts=5\n"
                                        "set security.auditLog.enabled=TRUE\nset security.tls.minimumVersion=1.2\n"
                                        "set scan.defaults.resolution=300\nset scan.defaults.colorMode=auto\n"
                                        "set scan.defaults.fileFormat=pdf\n";
const std::vector<Member> kOtherDevicesCaptured = {
    // The database dumps, whose bytes are the dump tool's own.
    {"data/addressBook/dab_clone", nullptr},
    {"data/qtm/qtm_clone", nullptr},
    {"data/qtmException/qtm_exception_clone", nullptr},
    {"data/jbaException/jba_exception_clone", nullptr},
    {"data/cloneStorage/nvm_clone", nullptr},
    {"data/cloneStorage/cfg_clone", kConfigServerExport.c_str()},
    {"data/cloneStorage/ccs_clone",
     "set ccs.scan.quotaEnabled=TRUE\nset ccs.security.allowGuestAccess=FALSE\n"
     "set ccs.security.certificateCheck[wired]=strict\nset ccs.security.sessionTimeout=900\n"},
    {"data/cloneStorage/ds_clone",
     "accounting.jobLog.retention=90\nscanService.jobHistory.retention=30\nscanService.network.folderTimeout=120\n"
     "scanService.smb[wired].signing=required\n"},
    {"data/cloneStorage/ds_ccs_clone",
     "ccs.accounting.userLimits[wired]=500\nccs.accounting.userLimits[wireless]=200\n"
     "ccs.accounting.departmentCodes=SALES,ENG,OPS\nccs.accounting.balanceMode=monthly\n"},
    // Service data: airPrint has no DLM directory; the stock button image is not the user's.
    {"data/ipTables/dlmEnableClone", "scanToCloud:ON\nmobilePrint:OFF\n"},
    {"data/singleTouch/custom_scan_1_email.png", nullptr},
    {"data/singleTouch/custom_scan_2_folder.png", nullptr},
    {"data/singleTouch/single_touch_clone",
     "button.1.label=Scan to e-mail\nbutton.1.destination=email\nbutton.2.label=Scan to folder\n"
     "button.2.destination=smb://files.office.example/scans\n"},
    {"data/mailbox/cfg_clone_mailbox", "sales=box-sales-1\nengineering=box-eng-7\n"},
    {"data/pos/posConfigAttributes.txt",
     "set authentication.pointOfSale.storeID=STORE-042\nset authentication.pointOfSale.enabled=TRUE\n"
     "set authentication.convenience.useXMLWrapping=FALSE\nset authentication.pointOfSale.usePOSInit=TRUE\n"
     "set authentication.pointOfSale.server=pos.office.example\nset authentication.pointOfSale.serverPath=\n"
     "set authentication.convenience.continueOrCloseSession=close\n"},
    {"data/serviceRegistry/srtFile",
     "service.scan.endpoint=/scan/v2\nservice.print.endpoint=/print/v3\nservice.fax.enabled=FALSE\n"},
    // Files copied as they are need no row here: EveryCaptureTest checks that each element names
    // a member of the clone file.
    {"data/customLogo/customerLogoConfigValues.txt", "authentication.convenience.blockingScreenImageType=png"},
};
const std::vector<Member> kSelfCaptured = {
    {"data/cloneStorage/nvm_clone", nullptr},
    {"data/cloneStorage/cfg_clone", kNetworkSettings},
    {"data/cloneStorage/cfg_cloneself",
     "set connectivity.8021x[wired].authenticationMethod=PEAP\nset connectivity.8021x[wired].enabled=TRUE\n"
     "set connectivity.8021x[wireless].enabled=FALSE\nset network.proxy.server=proxy.office.example\n"
     "set scan.defaults.resolution=300\nset security.passwordPolicy.minLength=12\n"
     "set connectivity.8021x[wired].configDone=TRUE\nset connectivity.8021x[wireless].configDone=TRUE\n"},
    {"data/cloneStorage/nvm_cloneself", nullptr},
    {"data/ipTables/dlmEnableClone", "scanToCloud:ON\nmobilePrint:OFF\n"},
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

// Every file the clone staging directory holds after an export, with its content: the lists that
// no capture consumes.
struct StagedList {
    const char* devicePath;
    std::string content;
};

const std::vector<StagedList> kOtherDevicesLists = {
    {"/xpaths/tmp_cloningData/cfg_attr_list", std::string(kNetworkConfig) + kSecurityConfig + kScanConfig},
};

// Names (not paths) of every entry below DIR, at any depth, whose name is NAME.
std::vector<std::string> findNamed(const std::string& dir, const std::string& name)
{
    std::vector<std::string> hits;
    for (const std::string& entry : listDir(dir)) {
        const std::string path = dir + "/" + entry;
        if (entry == name) {
            hits.push_back(path);
        }
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            for (const std::string& hit : findNamed(path, name)) {
                hits.push_back(hit);
            }
        }
    }
    return hits;
}

std::string currentDirectory()
{
    char buf[4096];
    return ::getcwd(buf, sizeof buf) != nullptr ? buf : "";
}

bool contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
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
        makeDirs(root() + "/unpacked");
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

    int exportTo(const std::string& outputDir, const std::string& groupLine, const char* password = kClonePassword)
    {
        std::string out = outputDir;
        std::string line = groupLine;
        return createCloneDLM(&out[0], password, &line[0]);
    }

    CommandResult clonefile(const std::vector<std::string>& args) const
    {
        return runClonefile(root() + "/io/command", args);
    }

    void expectVerifies(const std::string& cloneFile) const
    {
        const CommandResult verify = clonefile({"verify", "--key", signingPublicKey(), cloneFile});
        EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    }

    // The outline of the manifest that `clonefile manifest` prints from the verified clone file.
    std::string manifestOutline(const std::string& cloneFile) const
    {
        const CommandResult manifest = clonefile({"manifest", "--key", signingPublicKey(), cloneFile});
        EXPECT_EQ(manifest.status, 0) << manifest.err;
        EXPECT_TRUE(validManifest(manifest.out));
        const std::string saved = root() + "/io/manifest.xml";
        writeFile(saved, manifest.out);
        return xmlFileOutline(saved);
    }

    std::vector<std::string> members(const std::string& cloneFile) const
    {
        const CommandResult list = clonefile({"list", "--key", signingPublicKey(), cloneFile});
        EXPECT_EQ(list.status, 0) << list.err;
        return lines(list.out);
    }

    // Unpacks the verified clone file into a directory of its own and returns that directory.
    std::string extract(const std::string& cloneFile, const std::string& name) const
    {
        const std::string dir = root() + "/unpacked/" + name;
        const CommandResult extracted = clonefile({"extract", "--key", signingPublicKey(), cloneFile, dir});
        EXPECT_EQ(extracted.status, 0) << extracted.err;
        return dir;
    }

    // The archive holds exactly the plug-in exports of EXPECTED, each with its content, and no
    // other plug-in's.
    void expectPluginMembers(const std::string& cloneFile, const std::vector<std::string>& names,
                             const std::vector<Member>& expected) const
    {
        const std::string unpacked = extract(cloneFile, "plugins");
        for (const char* member : kPluginMembers) {
            const bool wanted = listed(expected, member);
            EXPECT_EQ(contains(names, std::string("./") + member), wanted) << member;
            EXPECT_EQ(exists(unpacked + "/" + member), wanted) << member;
        }
        for (const Member& m : expected) {
            EXPECT_EQ(readFile(unpacked + "/" + m.path), m.content) << m.path;
        }
    }

    // The size logged as a success, or -1 when the export logged none.
    long long loggedSize() const
    {
        static const std::string kSucceeded = "Clone Creation Succeeded - clone file size: ";
        long long size = -1;
        for (const std::string& message : messages("FORCEINFO")) {
            if (message.compare(0, kSucceeded.size(), kSucceeded) == 0) {
                EXPECT_EQ(size, -1) << "more than one success record";
                size = std::atoll(message.c_str() + kSucceeded.size());
            }
        }
        return size;
    }

    static long long fileSize(const std::string& path)
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
    }
};

// One successful export per row; the rows differ only in what they select and where the clone
// file goes.
struct ExportCase {
    const char* name;
    const char* groupLine;
    const char* outputDir;  // below ROOT/exports/, which does not exist before the export
    const char* cloneType;
    const char* manifestMember;
    std::string outline;
    std::vector<Member> pluginMembers;  // the plug-in exports the archive holds; the others it lacks
    std::vector<StagedList> lists;
    std::vector<Member> captured;  // staged stores the archive holds; a null content is not compared
    const char* selfType;  // srtCloneSelfType afterwards
    // ERROR records the sample data produces, in order.
    std::vector<std::string> errors;
};

CLONE_PRINT_BY_NAME(ExportCase)

const ExportCase kExportCases[] = {
    {"OtherDevices", kOtherDevicesLine, "out", "clone", "./CloningManifest.xml", kOtherDevicesOutline,
     {kCml, kFdi}, kOtherDevicesLists, kOtherDevicesCaptured, "", {kEmailCerts}},
    {"Self", kSelfLine, "self", "cloneSelf", "./ConfigurationManifest.xml", kSelfOutline, {},
     {{"/xpaths/tmp_cloningData/cfg_attr_list", kNetworkConfig}},
     kSelfCaptured, "cloneSelf", {}},
};

class ExportCaseTest : public ExportTest, public testing::WithParamInterface<ExportCase> {};

TEST_P(ExportCaseTest, CloneFileCarriesWhatTheGroupsSelected)
{
    const ExportCase& c = GetParam();
    const std::string parent = root() + "/exports";
    const std::string outputDir = parent + "/" + c.outputDir;
    const std::string cloneFile = outputDir + "/cloning.dlm";
    ASSERT_FALSE(exists(parent));

    ASSERT_EQ(exportTo(outputDir, c.groupLine), 0);

    // The clone file, and the archive it was made of, in exactly the named directory.
    EXPECT_EQ(listDir(parent), std::vector<std::string>{c.outputDir});
    std::vector<std::string> written = listDir(outputDir);
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"cloning.dlm", "cloning.tar"}));
    EXPECT_EQ(srtCloneSelfType, c.selfType);

    expectVerifies(cloneFile);
    const CommandResult info = clonefile({"info", cloneFile});
    EXPECT_EQ(info.status, 0) << info.err;
    // The clone file wraps the archive that was left beside it, under the export's type and name.
    const std::vector<std::string> header = lines(info.out);
    EXPECT_TRUE(contains(header, std::string("clone-type: ") + c.cloneType)) << info.out;
    EXPECT_TRUE(contains(header, "name: cloning")) << info.out;
    EXPECT_TRUE(contains(header, "archive-size: " + std::to_string(fileSize(outputDir + "/cloning.tar"))))
        << info.out;
    EXPECT_EQ(manifestOutline(cloneFile), c.outline);

    const std::vector<std::string> names = members(cloneFile);
    EXPECT_TRUE(contains(names, c.manifestMember)) << c.manifestMember;
    expectPluginMembers(cloneFile, names, c.pluginMembers);
    const std::string unpacked = extract(cloneFile, "captured");
    for (const Member& m : c.captured) {
        EXPECT_TRUE(contains(names, std::string("./") + m.path)) << m.path;
        if (m.content != nullptr) {
            EXPECT_EQ(readFile(unpacked + "/" + m.path), m.content) << m.path;
        }
    }

    // The export tree went into the archive; the attribute lists stay for the next export.
    std::vector<std::string> staged = listDir(path("/xpaths/tmp_cloningData"));
    std::sort(staged.begin(), staged.end());
    std::vector<std::string> expectedStaged;
    for (const StagedList& list : c.lists) {
        EXPECT_EQ(readFile(path(list.devicePath)), list.content) << list.devicePath;
        expectedStaged.push_back(std::string(list.devicePath).substr(sizeof "/xpaths/tmp_cloningData/" - 1));
    }
    std::sort(expectedStaged.begin(), expectedStaged.end());
    EXPECT_EQ(staged, expectedStaged) << "the export tree or a stray file is left in the staging directory";
    EXPECT_FALSE(exists(path("/xpaths/tmp_cloningData/cloningExport/")));

    EXPECT_EQ(loggedSize(), fileSize(cloneFile));
    EXPECT_EQ(messages("ERROR"), c.errors);
    EXPECT_EQ(filesContaining(root(), kClonePassword), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(SampleDevice, ExportCaseTest, testing::ValuesIn(kExportCases),
                         [](const testing::TestParamInfo<ExportCase>& info) { return info.param.name; });

// The demo's group line: with the scan group first the address book is staged before its
// certificates, and the self-clone group adds what only the device itself takes back.
const char kEveryCaptureLine[] =
    "SCAN_GROUP NETWORK_GROUP SECURITY_GROUP ACCOUNTING_GROUP PRINT_GROUP CLONE_TO_SELF_GROUP ";

// The elements of a pruned manifest with their text (empty for those that only group others),
// in document order.
using Filled = std::vector<std::pair<std::string, std::string>>;
void filledElements(xmlNodePtr node, Filled& filled)
{
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) {
            continue;
        }
        // Pruning leaves only elements with text or with such elements below them.
        const bool text =
            node->children != nullptr && node->children->type == XML_TEXT_NODE && node->children->next == nullptr;
        cloneutil::XmlChar content(text ? xmlNodeGetContent(node) : nullptr);
        filled.emplace_back(reinterpret_cast<const char*>(node->name),
                            text ? reinterpret_cast<const char*>(content.get()) : "");
        filledElements(node->children, filled);
    }
}

class EveryCaptureTest : public ExportTest {
protected:
    // The elements of the verified clone file's manifest; each text names a member of the clone
    // file, or a folder with members in it.
    Filled verifiedFilledElements(const std::string& cloneFile) const
    {
        expectVerifies(cloneFile);
        const CommandResult manifest = clonefile({"manifest", "--key", signingPublicKey(), cloneFile});
        EXPECT_EQ(manifest.status, 0) << manifest.err;
        EXPECT_TRUE(validManifest(manifest.out));
        cloneutil::XmlDoc doc(xmlReadMemory(manifest.out.data(), static_cast<int>(manifest.out.size()), nullptr,
                                            nullptr, XML_PARSE_NOBLANKS));
        Filled filled;
        filledElements(doc ? xmlDocGetRootElement(doc.get()) : nullptr, filled);
        const std::vector<std::string> names = members(cloneFile);
        for (const auto& element : filled) {
            if (element.second.empty() || element.first == "version" || element.first == "serialNumber") {
                continue;  // groups and values, not files
            }
            const std::string named = "./" + element.second;
            const std::string folder = named.back() == '/' ? named : named + "/";
            const bool held = std::any_of(names.begin(), names.end(), [&](const std::string& m) {
                return m == named ||
                       (m.size() > folder.size() && m.back() != '/' && m.compare(0, folder.size(), folder) == 0);
            });
            EXPECT_TRUE(held) << element.first << ": " << named;
        }
        return filled;
    }
    static bool has(const Filled& filled, const std::string& name)
    {
        return std::any_of(filled.begin(), filled.end(), [&](const auto& e) { return e.first == name; });
    }
};

// Every clone helper of the table fills its element from the demo device in one export, except the
// font capture (reached only through a placed manifest) and the SNMP community strings, which
// travel with the configuration attributes and leave their element as the stub wrote it.
TEST_F(EveryCaptureTest, DemoGroupsFillEveryHelpersElement)
{
    const std::string outputDir = root() + "/out";
    ASSERT_EQ(exportTo(outputDir, kEveryCaptureLine), 0);
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{});
    const Filled filled = verifiedFilledElements(outputDir + "/cloning.dlm");
    CloneCreator creator(const_cast<char*>("/out"));
    for (const auto& row : creator.mapOfHelpers) {
        EXPECT_EQ(has(filled, row.first), row.first != "pclFont" && row.first != "communityString") << row.first;
    }
}

// The caller's way to a font clone: a manifest naming "pclFont" placed in the export tree, and a
// call without a group line. A clone file left by an earlier export does not survive it.
TEST_F(EveryCaptureTest, PlacedManifestFillsTheFontElement)
{
    const std::string outputDir = root() + "/out";
    makeDirs(outputDir);
    writeFile(outputDir + "/cloning.dlm", "an earlier export");
    makeDirs(path("/xpaths/tmp_cloningData/cloningExport"));
    writeFile(path("/xpaths/tmp_cloningData/cloningExport/CloningManifest.xml"),
              "<CloningManifest xmlns=\"http://www.clonecreator.local/ConfigManifest\"><cloningData><pclFont/>"
              "</cloningData></CloningManifest>");
    const std::string bin = root() + "/bin";
    ScopedEnv pathVariable("PATH", bin + ":" + std::getenv("PATH"));

    std::string out = outputDir;
    ASSERT_EQ(createCloneDLM(&out[0], kClonePassword, nullptr), 0);
    const Filled filled = verifiedFilledElements(outputDir + "/pclFonts.dlm");
    EXPECT_EQ(filled, (Filled{{"CloningManifest", ""}, {"cloningData", ""}, {"pclFont", "data/pclFonts/datafiles"}}));
    EXPECT_TRUE(contains(members(outputDir + "/pclFonts.dlm"), "./data/pclFonts/datafiles/start.pcl"));
    std::vector<std::string> written = listDir(outputDir);
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"pclFonts.dlm", "pclFonts.tar"}));
    EXPECT_EQ(toolCalls(), std::vector<std::string>{"dmpr " + root() + "/xpaths/nc_dlms/http/apps/start.pcl"});
}

// What a receiving device does with the certificates of a clone file: the trusted and domain
// certificate files go back to their folders and every link of the two link lists is made anew.
// Each restored link then leads to a certificate with the bytes its original led to.
TEST_F(EveryCaptureTest, ExtractedLinkListsRestoreTheCertificateStore)
{
    const std::string outputDir = root() + "/out";
    ASSERT_EQ(exportTo(outputDir, "NETWORK_GROUP SECURITY_GROUP "), 0);
    const std::string unpacked = extract(outputDir + "/cloning.dlm", "certificates");
    EXPECT_TRUE(validManifest(readFile(unpacked + "/CloningManifest.xml")));
    const std::string target = root() + "/restored";
    const std::string ssl = "/xpaths/nc_var_etc/ssl/";
    const std::string store = ssl + "certstore/";
    makeDirs(target + store);
    ASSERT_EQ(std::system(("mkdir -p '" + target + ssl + "trusted' '" + target + ssl + "domain' && cp '" + unpacked +
                           "'/data/ipSec/trusted/* '" + target + ssl + "trusted/' && cp '" + unpacked +
                           "'/data/domainCertificates/*.pem '" + target + ssl + "domain/'")
                              .c_str()),
              0);

    // Root entries are lines; domain entries run together, each link path followed by the next
    // target, and both begin with a device path.
    std::vector<std::pair<std::string, std::string>> links;
    for (const std::string& line : lines(readFile(unpacked + "/data/rootCertificates/rootCertificates.ln"))) {
        links.emplace_back(line.substr(0, line.find(',')), line.substr(line.find(',') + 1));
    }
    const std::string domain = readFile(unpacked + "/data/domainCertificates/domainCertificates.ln");
    for (std::size_t at = 0; at < domain.size();) {
        const std::size_t comma = domain.find(',', at);
        const std::size_t next = domain.find("/xpaths/", domain.find(store, comma) + store.size());
        links.emplace_back(domain.substr(at, comma - at), domain.substr(comma + 1, next - comma - 1));
        at = next == std::string::npos ? domain.size() : next;
    }
    std::vector<std::string> names;
    for (const auto& link : links) {
        ASSERT_EQ(link.second.compare(0, store.size(), store), 0) << link.second;
        ASSERT_EQ(::symlink(link.first.c_str(), (target + link.second).c_str()), 0) << link.second;
        char original[4096] = {};
        ASSERT_GT(::readlink(path(link.second).c_str(), original, sizeof original - 1), 0) << link.second;
        EXPECT_EQ(link.first, original);
        EXPECT_EQ(readFile(target + link.first), readFile(path(original))) << link.second;
        names.push_back(link.second.substr(store.size()));
    }
    std::sort(names.begin(), names.end());
    // The device's own TLS certificate stays with the device; its domain certificate is listed.
    EXPECT_EQ(names, (std::vector<std::string>{"Corp Domain CA", "Demo Root CA", "Device Domain", "Partner CA"}));
}

// A generated profile (a fiftieth of the benchmark's unit size) exports whole: every list, the
// staged files and the elements that name them.
class ProfileExportTest : public ExportTest {
protected:
    std::string profileScale() const override { return "0.02"; }
};

TEST_F(ProfileExportTest, GeneratedProfileExportsWhole)
{
    const std::string outputDir = root() + "/out";
    ASSERT_EQ(exportTo(outputDir, lines(readFile(path("/config/profile_groups"))).at(0)), 0);
    expectVerifies(outputDir + "/cloning.dlm");
    const std::string outline = manifestOutline(outputDir + "/cloning.dlm");
    for (const char* element : {"nvRAM: ", "configServer: ", "dataStore: ", "templatePool: ", "scanToHome: ",
                                "ipsecCertificates: "}) {
        EXPECT_NE(outline.find(element), std::string::npos) << element;
    }
    const std::vector<std::string> names = members(outputDir + "/cloning.dlm");
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& m) { return m.find("/profile_") != std::string::npos; }),
              40);
}

// A device whose root path holds blanks and shell syntax: the library's own commands ("rm", "tar")
// must take it as a name as well.
class OddDeviceRootTest : public ExportTest {
protected:
    void SetUp() override
    {
        const char* tmp = std::getenv("TMPDIR");
        savedTmp_ = tmp != nullptr ? tmp : "";
        std::string templ = (savedTmp_.empty() ? std::string("/tmp") : savedTmp_) +
                            "/odd root; $(touch pwned) & `touch pwned` XXXXXX";
        ASSERT_NE(::mkdtemp(&templ[0]), nullptr);
        oddParent_ = templ;
        ::setenv("TMPDIR", oddParent_.c_str(), 1);
        ExportTest::SetUp();
        restoreTmp();
    }
    void TearDown() override
    {
        ExportTest::TearDown();
        restoreTmp();
        if (!oddParent_.empty()) {
            EXPECT_EQ(::rmdir(oddParent_.c_str()), 0) << "something was left beside the device root";
        }
    }
    void restoreTmp() const
    {
        if (savedTmp_.empty()) {
            ::unsetenv("TMPDIR");
        } else {
            ::setenv("TMPDIR", savedTmp_.c_str(), 1);
        }
    }

    std::string savedTmp_;
    std::string oddParent_;
};

TEST_F(OddDeviceRootTest, ExportRunsNothingHiddenInTheRootPath)
{
    const std::string outputDir = root() + "/out";
    const std::string cloneFile = outputDir + "/cloning.dlm";
    ASSERT_EQ(exportTo(outputDir, kOtherDevicesLine), 0);
    expectVerifies(cloneFile);
    EXPECT_EQ(manifestOutline(cloneFile), kOtherDevicesOutline);
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{kEmailCerts});
    EXPECT_FALSE(exists(path("/xpaths/tmp_cloningData/cloningExport/")));

    // A second export clears the staging directory under the same root.
    writeFile(path("/xpaths/tmp_cloningData/stale_list"), "stale\n");
    ASSERT_EQ(exportTo(outputDir, kOtherDevicesLine), 0);
    EXPECT_FALSE(exists(path("/xpaths/tmp_cloningData/stale_list")));
    EXPECT_EQ(findNamed(oddParent_, "pwned"), std::vector<std::string>{});
    EXPECT_FALSE(exists(currentDirectory() + "/pwned"));
}

}  // namespace
