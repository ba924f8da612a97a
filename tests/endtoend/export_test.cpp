// Whole exports on the sample device, seen as the receiving side sees them (through the clonefile
// command). What each helper stages is pinned by the capture tests; here only what no other test sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "ExportTest.h"
#include "CloneFileTestUtil.h"
#include "ClonefileCommand.h"
#include "CloningExportPortal.h"
#include "DeviceTest.h"
#include "XmlTree.h"
#include "CloneCreator.h"
#include "cloneCreator.h"

namespace {

using namespace clonetest;

// Where the sample groups place every kind of data, and which elements survive pruning. The SNMP
// community strings have nothing to stage, and the address book certificates none either: with the
// network group first they come before the address book, whose directory they are staged in.
const std::string kOtherDevicesOutline = "CloningManifest[xmlns=http://www.clonecreator.local/ConfigManifest]"
                                         "[xmlns:xsi=http://www.w3.org/2001/XMLSchema-instance]"
                                         "[xsi:schemaLocation=http://www.clonecreator.local/ConfigManifest "
                                         "CloningManifest.xsd]\n"
                                         "  cloningData\n"
                                         "    version: 1.0.0\n"
                                         "    cloningAttributes\n"
                                         "      nvRAM: data/cloneStorage/nvm_clone\n"
                                         "      configServer: data/cloneStorage/cfg_clone\n"
                                         "      ccsNVM: data/cloneStorage/ccs_clone\n"
                                         "      dataStore: data/cloneStorage/ds_clone\n"
                                         "      ccsDataStore: data/cloneStorage/ds_ccs_clone\n"
                                         "    ipSettings\n"
                                         "      ipTables\n"
                                         "        defaultRules: data/ipTables/ipTablesDefaultRules.cfg\n"
                                         "        customRules: data/ipTables/ipTablesCustomRules.cfg\n"
                                         "      ipsec: data/ipSec/cfgipsec.xml\n"
                                         "      dlmEnable: data/ipTables/dlmEnableClone\n"
                                         "    Certificates\n"
                                         "      ipsecCertificates: data/ipSec/trusted/\n"
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

// What the sample plug-ins write for the attributes the fixture gives the device: every attribute
// of their own name space, in name order, the last value of a name.
const std::pair<const char*, const char*> kPluginContents[] = {
    {"data/cmlAttributes/cmlAttributes", "set media.custom.1.name=Cardstock\nset media.custom.1.weight=220\n"},
    {"data/fdiAttributes/fdiAttributes", "set fdi.device.interfaceEnabled=TRUE\nset fdi.vendor.id=0x1A2B\n"},
};


// The groups the sample device offers another device of its kind.
TEST_F(ExportTest, CloneFileCarriesWhatTheGroupsSelected)
{
    const std::string outputDir = root() + "/out";
    const std::string cloneFile = outputDir + "/cloning.dlm";

    ASSERT_EQ(exportTo(outputDir, "NETWORK_GROUP SECURITY_GROUP SCAN_GROUP ACCOUNTING_GROUP PRINT_GROUP "), 0);
    EXPECT_EQ(sortedDir(outputDir), std::vector<std::string>{"cloning.dlm"});
    EXPECT_EQ(verifiedOutline(cloneFile), kOtherDevicesOutline);
    const std::vector<std::string> info = lines(clonefile({"info", cloneFile}).out);
    EXPECT_TRUE(contains(info, "clone-type: clone") && contains(info, "name: cloning"))
        << ::testing::PrintToString(info);
    const std::string unpacked = root() + "/unpacked";
    EXPECT_EQ(clonefile({"extract", "--key", signingPublicKey(), cloneFile, unpacked}).status, 0);
    for (const auto& [member, content] : kPluginContents) {
        EXPECT_EQ(readFile(unpacked + "/" + member), content) << member;
    }

    // The export tree went into the archive; the configuration list, which the ConfigServer plug-in
    // reads, stays for the next export, and so does the lock file that keeps exports apart.
    EXPECT_EQ(sortedDir(path("/xpaths/tmp_cloningData")), kStagingLeft);
    EXPECT_TRUE(logged("FORCEINFO", "Clone Creation Succeeded - clone file size: " +
                                        std::to_string(std::filesystem::file_size(cloneFile))));
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"Creating /xpaths/tmp_cloningData/cloningExport/data/"
                                                          "addressBook/email_certs/ is failed"});
}

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
    EXPECT_TRUE(contains(lines(clonefile({"info", cloneFile}).out), "name: pclFonts"));
    EXPECT_EQ(sortedDir(outputDir), std::vector<std::string>{"pclFonts.dlm"});
}

// The benchmark's generated profile (a fiftieth of its unit size) exports whole: its three lists and
// every file it lays out, so that the benchmark times a whole export.
class ProfileExportTest : public ExportTest {
protected:
    std::string profileScale() const override { return "0.02"; }
};

TEST_F(ProfileExportTest, GeneratedProfileExportsWhole)
{
    ASSERT_EQ(exportTo(root() + "/out", lines(readFile(path("/config/profile_groups"))).at(0).c_str()), 0);
    const std::vector<std::string> names = members(root() + "/out/cloning.dlm");
    for (const char* list : {"nvm_clone", "cfg_clone", "ds_clone"}) {
        EXPECT_TRUE(contains(names, std::string("./data/cloneStorage/") + list)) << list;
    }
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& m) { return m.find("/profile_") != std::string::npos; }),
              40);
}

// The demo's self-clone, on a device root with blanks and shell syntax, which every command must take
// as a name. With the scan group first the address book is staged before its certificates. The
// export fills every helper's element but the font capture's (only through a placed manifest)
// and the SNMP community strings' (they travel with the configuration attributes), and leaves no
// self-clone list behind.
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
    ASSERT_EQ(exportTo(root() + "/out", "SCAN_GROUP NETWORK_GROUP SECURITY_GROUP ACCOUNTING_GROUP PRINT_GROUP "
                                        "CLONE_TO_SELF_GROUP "),
              0);
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{});
    EXPECT_EQ(sortedDir(path("/xpaths/tmp_cloningData")), kStagingLeft);
    EXPECT_TRUE(contains(lines(clonefile({"info", root() + "/out/cloning.dlm"}).out), "clone-type: cloneSelf"));
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

// The capture boundary, tried as an attacker would on the sample device: links out of the device's
// data (to a file or folder outside the device, to its password verifier or a private key, to
// /dev/zero), special files, a tree too deep to unpack, tools stopped part way. Whatever a row
// plants, a result of 0 comes only with a clone file that verifies and unpacks whole and holds no
// byte of what lies outside; 1 only without a clone file; the files outside stay as they were.
using Plants = std::vector<std::pair<std::string, std::string>>;

struct Attack {
    const char* name;
    // Device path (or "sim.tool.NAME" attribute, "tool:PATH" with a script body, or "limit:stack" in bytes): its content, "-> TARGET" a link ("@secret",
    // "@secretdir", "@verifier", "@key" for the files below), "<fifo>", "<socket>", "<chardev>",
    // "<dir>", "<many>" (600 long-named files beside it), "<deep>" (a tree 400 folders deep, past the paths a clone file can hold).
    Plants plants;
    std::string named;  // an ERROR names it
    std::vector<std::string> absent, present;  // members the clone file must lack, and still have
    bool fonts = false;  // the font flow: a placed manifest and no group line
};
CLONE_PRINT_BY_NAME(Attack)

const std::string kJobs = "/usr/ui/pum/nvm/data/copy/CopySvcUI/CopyStoredJob/";
const std::string kPoolDir = "/xpaths/temp/template/pool/";
const std::string kScanImages = "/xpaths/nc_dlms_data/http/data/htdocs/images/customscan/";
const std::string kEmailCerts = "/xpaths/temp/certs/encryptionfiles/";
const std::string kWireless = "/xpaths/nc_dlms_data/http/data/";
const std::string kSslDir = "/xpaths/nc_var_etc/ssl/";

const Attack kAttacks[] = {
    // Links out of the device, in each place a capture copies from.
    {"AddressBookCertificate", {{kEmailCerts + "evil.pem", "-> @secret"}}, "evil.pem", {}, {"./data/addressBook/email_certs/alice.pem"}},
    {"WirelessCertificate", {{kWireless + "evil.pem", "-> @secret"}}, "evil.pem", {}, {"./data/wirelessCertificates/wirelessClient.pem"}},
    {"IPsecCertificate", {{kSslDir + "trusted/evil.pem", "-> @secret"}}, "evil.pem", {}, {"./data/ipSec/trusted/demoRootCA.pem"}},
    {"DomainCertificate", {{kSslDir + "domain/evil.pem", "-> @secret"}}, "evil.pem", {}, {}},
    {"StoredJob", {{kJobs + "evil.xml", "-> @secret"}}, "evil.xml", {}, {"./data/copySvcJob/job_01.xml"}},
    {"StoredJobToTheVerifier", {{kJobs + "evil.xml", "-> @verifier"}}, "evil.xml", {}, {"./data/copySvcJob/job_01.xml"}},
    {"ScanButtonImage", {{kScanImages + "custom_scan_3_evil.png", "-> @secret"}}, "custom_scan_3_evil.png", {},
     {"./data/singleTouch/custom_scan_1_email.png"}},
    {"UploadedLogo", {{"/xpaths/customer_logo/uploaded_logo.png", "-> @secret"}}, "uploaded_logo.png", {}, {}},
    {"ScanToDefaults", {{kPoolDir + "scanto/SCANTO.XST", "-> @secret"}}, "SCANTO.XST", {}, {}},
    {"PoolFolderLeadsOut", {{kPoolDir + "web", "-> @secretdir"}}, kPoolDir + "web/", {},
     {"./data/mailbox/template/pool/usb/USB.xst"}},
    {"IPsecConfiguration", {{"/xpaths/ipsec/cfgipsec.xml", "-> @secret"}}, "cfgipsec.xml", {}, {}},
    {"TrapRegistrations", {{"/xpaths/nc_nvram/trap_reg", "-> @secret"}}, "trap_reg", {}, {}},
    {"DefaultRules", {{"/xpaths/nc_nvram/ipTablesDefaultRules.cfg", "-> @secret"}}, "ipTablesDefaultRules.cfg", {},
     {"./data/ipTables/ipTablesCustomRules.cfg"}},
    {"CustomRules", {{"/xpaths/nc_nvram/ipTablesCustomRules.cfg", "-> @secret"}}, "ipTablesCustomRules.cfg", {}, {}},
    {"NvramDefaults", {{"/usr/ui/pum/nvm/defaults/Default/NVM.xml", "-> @secret"}}, "NVM.xml", {"./data/cloneStorage/NVM.xml"}, {}},
    // Links that stay on the device but leave their folder.
    {"TemplateToAPrivateKey", {{kPoolDir + "web/key.xst", "-> @key"}}, "key.xst", {}, {"./data/mailbox/template/pool/web/Invoices.xst"}},
    {"CertificateToDevZero", {{kEmailCerts + "zero.pem", "-> /dev/zero"}}, "zero.pem", {}, {"./data/addressBook/email_certs/alice.pem"}},
    // Certificate store links that an installing device would make again.
    {"StoreLinksOut",
     {{kSslDir + "certstore/Evil", "-> @secret"}, {kSslDir + "certstore/Up", "-> ../../../../../../../../../etc/passwd"},
      {kSslDir + "certstore/Gone", "-> /xpaths/nc_var_etc/ssl/trusted/gone.pem"}},
     "Certificate store entry Evil", {}, {"./data/rootCertificates/rootCertificates.ln"}},
    // Special files: left out, and nothing waits on them.
    {"SpecialFilesInTemplates",
     {{kPoolDir + "web/fifo.xst", "<fifo>"}, {kPoolDir + "system/null.xst", "<chardev>"}, {kPoolDir + "usb/s.xst", "<socket>"}},
     "fifo.xst", {}, {"./data/mailbox/template/pool/web/Invoices.xst", "./data/defaultTemplate/system/DEFAULT.XST"}},
    {"FifoInEveryFlatFolder",
     {{kEmailCerts + "f.pem", "<fifo>"}, {kWireless + "f.pem", "<fifo>"}, {kSslDir + "trusted/f.pem", "<fifo>"},
      {kSslDir + "domain/f.pem", "<fifo>"}, {kJobs + "f.xml", "<fifo>"}, {kScanImages + "custom_scan_4_f.png", "<fifo>"}},
     "f.pem", {}, {"./data/copySvcJob/job_01.xml", "./data/singleTouch/custom_scan_1_email.png"}},
    // What the receiving side could not unpack: an absolute link (inside its folder: its file goes),
    // a tree too deep.
    {"AbsoluteLinkInTemplates", {{kPoolDir + "web/copy.xst", "-> /xpaths/temp/template/pool/web/Invoices.xst"}}, "", {},
     {"./data/mailbox/template/pool/web/copy.xst"}},
    {"TreeTooDeep", {{kPoolDir + "usb/deep", "<deep>"}}, "usb/deep/", {}, {"./data/mailbox/template/pool/usb/USB.xst"}},
    // A failed copy ships nothing of what it copied; a link loop is left out, the rest goes.
    {"FolderAmongJobs", {{kJobs + "sub", "<dir>"}}, "", {"./data/copySvcJob/job_01.xml"}, {}},
    {"LinkLoopAmongJobs", {{kJobs + "loop.xml", "-> loop.xml"}}, "loop.xml", {}, {"./data/copySvcJob/job_01.xml"}},
    // What a tool leaves in the export tree that could not be unpacked is taken out before archiving.
    {"ToolLeavesALinkOutAndAFifo",
     {{"tool:/xpaths/nc_dlms/clone/apps/srtClone",
       "echo srt=1 > \"$1\"; d=$(dirname \"$1\"); ln -s /etc/passwd \"$d/passwd\"; mkfifo \"$d/fifo\""}},
     "serviceRegistry/passwd", {"./data/serviceRegistry/passwd", "./data/serviceRegistry/fifo"},
     {"./data/serviceRegistry/srtFile"}},
    // More stored jobs than one command line can name are captured all the same (with a stack of
    // 512 KB, commands take 128 KB of arguments).
    {"MoreJobsThanOneCommandLineHolds", {{"limit:stack", "524288"}, {kJobs + "many", "<many>"}}, "", {},
     {"./data/copySvcJob/" + std::string(240, 'j') + "599.xml", "./data/copySvcJob/job_01.xml"}},
    // Tools stopped part way stage nothing.
    {"ToolsStopped", {{"sim.tool.saveCnConfig", "hang"}, {"sim.tool.configClient", "hang"}, {"sim.tool.srtClone", "hang"}},
     "Command stopped", {"./data/cloneStorage/nvm_cloneself", "./data/cloneStorage/cfg_cloneself",
                         "./data/serviceRegistry/srtFile"}, {"./data/cloneStorage/ds_clone"}},
    // The font installation writes nothing through a link and takes no start file from outside.
    {"FontSumToolDestination", {{"/xpaths/nc_dlms/http/apps/sum", "-> @secret"}}, "/xpaths/nc_dlms/http/apps/sum", {},
     {"./data/pclFonts/datafiles/start.pcl"}, true},
    {"FontDeviceStartFile", {{"/xpaths/nc_dlms/pcl6-dmn/data/start.pcl", "-> @secret"}}, "pcl6-dmn/data/start.pcl", {},
     {"./data/pclFonts/datafiles/start.pcl"}, true},
    {"FontBackup", {{"/xpaths/nc_dlms/pcl6-dmn/data/start_pcl.orig", "-> @secret"}}, "start_pcl.orig", {},
     {"./data/pclFonts/datafiles/start.pcl"}, true},
    {"FontUploaded", {{"/xpaths/nc_dlms/http/apps/start.pcl", "-> @secret"}}, "/xpaths/nc_dlms/http/apps/start.pcl",
     {"./data/pclFonts/datafiles/start.pcl"}, {}, true},
};

class AttackTest : public ExportTest, public testing::WithParamInterface<Attack> {
protected:
    void SetUp() override
    {
        ExportTest::SetUp();
        ASSERT_EQ(::getrlimit(RLIMIT_STACK, &stack_), 0);
    }
    void TearDown() override
    {
        ::setrlimit(RLIMIT_STACK, &stack_);
        std::filesystem::remove_all(secretDir());
        std::filesystem::remove(secret());
        ExportTest::TearDown();
    }
    // Outside the device root, of this test alone.
    std::string secret() const { return root() + ".secret"; }
    std::string secretDir() const { return root() + ".secretdir"; }
    struct rlimit stack_ = {};

    std::string linkTarget(const std::string& target) const
    {
        const std::map<std::string, std::string> named = {
            {"@secret", secret()}, {"@secretdir", secretDir()}, {"@verifier", path("/config/clone_password")},
            {"@key", path(kSslDir + "private/attack.key")}};
        if (named.count(target) != 0) {
            return named.at(target);
        }
        return target.compare(0, 5, "@root") == 0 ? root() + target.substr(5) : target;
    }

    void plant(const std::string& where, const std::string& what)
    {
        if (where.compare(0, 9, "sim.tool.") == 0) {
            setAttribute(where, what);
            return;
        }
        if (where.compare(0, 5, "tool:") == 0) {
            replaceTool(where.substr(5), what);
            return;
        }
        if (where == "limit:stack") {
            struct rlimit lower = stack_;
            lower.rlim_cur = std::stoul(what);
            ASSERT_EQ(::setrlimit(RLIMIT_STACK, &lower), 0);
            return;
        }
        const std::string p = path(where);
        std::filesystem::remove_all(p);
        makeDirs(p.substr(0, p.rfind('/')));
        if (what.compare(0, 3, "-> ") == 0) {
            ASSERT_EQ(::symlink(linkTarget(what.substr(3)).c_str(), p.c_str()), 0) << where;
        } else if (what == "<fifo>") {
            ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0) << where;
        } else if (what == "<chardev>") {
            // Only root makes device nodes; elsewhere the row tries the rest.
            if (::mknod(p.c_str(), S_IFCHR | 0644, makedev(1, 3)) != 0) {
                writeFile(p, "not a device node");
            }
        } else if (what == "<socket>") {
            struct sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            ASSERT_LT(p.size(), sizeof address.sun_path) << where;
            std::copy(p.begin(), p.end(), address.sun_path);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            ::close(fd);
            ASSERT_EQ(bound, 0) << where;
        } else if (what == "<dir>") {
            makeDirs(p);
        } else if (what == "<many>") {
            // Beside WHERE, 600 files whose paths take more than 128 KB together.
            const std::string dir = p.substr(0, p.rfind('/') + 1);
            for (int i = 0; i < 600; ++i) {
                writeFile(dir + std::string(240, 'j') + std::to_string(i) + ".xml", "job");
            }
        } else if (what == "<deep>") {
            makeDirs(p);
            int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY);
            for (int level = 0; level < 400 && fd >= 0; ++level) {
                ASSERT_EQ(::mkdirat(fd, "deep-folder", 0755), 0);
                const int next = ::openat(fd, "deep-folder", O_RDONLY | O_DIRECTORY);
                ::close(fd);
                fd = next;
            }
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::close(::openat(fd, "bottom.xst", O_WRONLY | O_CREAT, 0644)), 0);
            ::close(fd);
        } else {
            writeFile(p, what);
        }
    }
};

TEST_P(AttackTest, NothingFromOutsideAndOnlyCloneFilesThatUnpack)
{
    const Attack& a = GetParam();
    const std::string out = root() + "/out";
    writeFile(secret(), "SECRET outside the device");
    makeDirs(secretDir());
    writeFile(secretDir() + "/outside.xst", "SECRET folder outside the device");
    writeFile(path(kSslDir + "private/attack.key"), "SECRET private key");
    // What lies outside, and the store links that lead there.
    const std::vector<std::string> forbidden = {"SECRET", readFile(path("/config/clone_password")), "certstore/Evil",
                                                "certstore/Up", "certstore/Gone"};
    for (const auto& p : a.plants) {
        plant(p.first, p.second);
    }
    // Tools made to hang are stopped quickly; any other command that runs into the limit hangs on
    // something planted (a FIFO), and a limit a loaded machine cannot break shows that all the same.
    const ScopedEnv limit("CLONE_COMMAND_TIME_LIMIT", a.named == "Command stopped" ? "1" : "30");
    const ScopedEnv pathVariable("PATH", root() + "/bin:" + std::getenv("PATH"));
    int result;
    if (a.fonts) {
        makeDirs(path("/xpaths/tmp_cloningData/cloningExport"));
        writeFile(path("/xpaths/tmp_cloningData/cloningExport/CloningManifest.xml"),
                  "<CloningManifest xmlns=\"http://www.clonecreator.local/ConfigManifest\"><cloningData><pclFont/>"
                  "</cloningData></CloningManifest>");
        result = exportTo(out, nullptr);
    } else {
        result = exportTo(out, "SCAN_GROUP NETWORK_GROUP SECURITY_GROUP ACCOUNTING_GROUP PRINT_GROUP "
                               "CLONE_TO_SELF_GROUP ");
    }

    std::vector<std::string> cloneFiles;
    for (const std::string& name : listDir(out)) {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dlm") == 0) {
            cloneFiles.push_back(out + "/" + name);
        }
    }
    ASSERT_TRUE(result == 0 || result == 1) << result;
    ASSERT_EQ(cloneFiles.size(), result == 0 ? 1u : 0u);
    if (result == 0) {
        EXPECT_EQ(clonefile({"verify", "--key", signingPublicKey(), cloneFiles[0]}).status, 0);
        const std::string unpacked = root() + "/unpacked";
        const CommandResult extract = clonefile({"extract", cloneFiles[0], unpacked});
        EXPECT_EQ(extract.status, 0) << extract.err;
        for (const std::string& text : forbidden) {
            EXPECT_EQ(filesContaining(unpacked, text), std::vector<std::string>{}) << text;
        }
        const std::vector<std::string> names = members(cloneFiles[0]);
        for (const std::string& member : a.absent) {
            EXPECT_FALSE(contains(names, member)) << member;
        }
        for (const std::string& member : a.present) {
            EXPECT_TRUE(contains(names, member)) << member;
        }
    }
    EXPECT_EQ(readFile(secret()), "SECRET outside the device");
    EXPECT_EQ(listDir(secretDir()), std::vector<std::string>{"outside.xst"});
    EXPECT_EQ(readFile(secretDir() + "/outside.xst"), "SECRET folder outside the device");
    if (!a.named.empty()) {
        const std::vector<std::string> errors = messages("ERROR");
        EXPECT_TRUE(std::any_of(errors.begin(), errors.end(),
                                [&](const std::string& e) { return e.find(a.named) != std::string::npos; }))
            << ::testing::PrintToString(errors);
    }
    // Nothing waited for the time limit but the tools made to hang.
    EXPECT_EQ(anyError("Command stopped"), a.named == "Command stopped");
}

INSTANTIATE_TEST_SUITE_P(Boundary, AttackTest, testing::ValuesIn(kAttacks), RowName());

}  // namespace
