// Whole exports on the sample device, seen as the receiving side sees them (through the clonefile
// command). What each helper stages is pinned by the capture tests; here only what no other test sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>
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
#include "Descriptors.h"
#include "ElementTables.h"
#include "DeviceTest.h"
#include "XmlTree.h"
#include "CloneCreator.h"
#include "cloneCreator.h"

namespace {

using namespace clonetest;

// Where the sample groups place every kind of data, and which elements survive pruning, one line
// per element (tests/endtoend/demo-outline.txt). The SNMP community strings have nothing to stage,
// and the address book certificates none either: with the network group first they come before
// the address book, whose directory they are staged in.
const std::string kOtherDevicesOutline = readFile(DEMO_OUTLINE_PATH);

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
// self-clone list behind. One INFO record names what the clone file holds and why each other
// element is not in it: with the USB templates gone, the template pool is left out, and says why.
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
    // An export and its one summary record: what the record names as filled comes before " left out:".
    const auto summary = [this](const std::string& out) {
        clearLog();
        EXPECT_EQ(exportTo(root() + out, "SCAN_GROUP NETWORK_GROUP SECURITY_GROUP ACCOUNTING_GROUP PRINT_GROUP "
                                         "CLONE_TO_SELF_GROUP "),
                  0);
        std::vector<std::string> found = messages("INFO");
        found.erase(std::remove_if(found.begin(), found.end(),
                                   [](const std::string& m) { return m.rfind("Clone file elements: ", 0) != 0; }),
                    found.end());
        EXPECT_EQ(found.size(), 1U) << ::testing::PrintToString(found);
        return found.empty() ? std::string() : found.back() + " ";
    };
    const auto filled = [](const std::string& record, const std::string& name) {
        const std::string list = record.substr(0, record.find(" left out:")) + " ";
        return list.find(" " + name + " ") != std::string::npos || list.find(" " + name + ";") != std::string::npos;
    };
    const std::string all = summary("/out");
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{});
    EXPECT_EQ(sortedDir(path("/xpaths/tmp_cloningData")), kStagingLeft);
    EXPECT_TRUE(contains(lines(clonefile({"info", root() + "/out/cloning.dlm"}).out), "clone-type: cloneSelf"));
    const std::vector<std::string> outline = lines(verifiedOutline(root() + "/out/cloning.dlm"));
    CloneCreator creator(const_cast<char*>("/out"));
    for (const auto& row : creator.mapOfHelpers) {
        const bool inOutline = std::any_of(outline.begin(), outline.end(),
                                           [&](const std::string& line) { return elementName(line) == row.first; });
        EXPECT_EQ(inOutline, row.first != "pclFont" && row.first != "communityString") << row.first;
    }
    EXPECT_TRUE(filled(all, "version") && filled(all, "templatePool")) << all;
    EXPECT_NE(all.find("communityString (its capture found nothing on the device)"), std::string::npos) << all;
    std::filesystem::remove_all(path("/xpaths/temp/template/pool/usb"));
    const std::string withoutUsb = summary("/out2");
    EXPECT_FALSE(filled(withoutUsb, "templatePool")) << withoutUsb;
    EXPECT_NE(withoutUsb.find("templatePool (its capture left it empty: USB Templates are not able retrieved)"),
              std::string::npos)
        << withoutUsb;
    EXPECT_FALSE(exists("pwned"));
    namespace fs = std::filesystem;
    for (const fs::directory_entry& e :
         fs::recursive_directory_iterator(oddParent_, fs::directory_options::skip_permission_denied)) {
        EXPECT_NE(e.path().filename(), "pwned") << e.path();
    }
}

// The capture boundary, tried as an attacker would on the sample device: links and hard links out
// of the device's data (to a file or folder outside the device, to its password verifier, signing
// key or a private key, to /dev/zero), data trees that are links, entries swapped for links while
// they are copied, another user writing into staging, special, sparse and growing files, a tree too
// deep to unpack, tools stopped part way, a refused password, a killed host. Whatever a row plants,
// a result of 0 comes only with an owner-only clone file, alone in its folder, that verifies and
// unpacks whole and holds no byte of what lies outside; 1 only with nothing at all in the output
// folder; the files outside stay as they were.
using Plants = std::vector<std::pair<std::string, std::string>>;

struct Attack {
    std::string name;
    // Device path (or "sim.tool.NAME" attribute, "tool:PATH" with a script body, or "limit:stack" in
    // bytes): its content, "-> TARGET" a link or "=> TARGET" a hard link ("@secret", "@secretdir",
    // "@verifier", "@key", "@signingkey" for the files below), "<fifo>", "<socket>", "<chardev>",
    // "<many>" (600 long-named files beside it), "<deep>" (a tree 400 folders deep, past the
    // paths a clone file can hold), "<sparse>" (24 MiB of hole), "<grow>" (4 MiB, growing to 64
    // once read), "<swap>" (exchanged with a link out, every 100 microseconds), "<tmpfs>" (a 16 MiB file
    // system of its own).
    Plants plants;
    std::string named;  // an ERROR names it
    std::vector<std::string> absent, present;  // members the clone file must lack, and still have
    // The cloningData of a manifest placed in the export tree, exported with no group line (as the
    // font flow is); null: the groups below.
    const char* placed = nullptr;
    const char* groups = "SCAN_GROUP NETWORK_GROUP SECURITY_GROUP ACCOUNTING_GROUP PRINT_GROUP CLONE_TO_SELF_GROUP ";
    int exports = 1;
    const char* password = "clone-demo";
    bool intruder = false;  // umask 000, and another user writing into whatever it can reach
    bool killHost = false;  // the calling process killed while tar runs; then an export as usual
};
CLONE_PRINT_BY_NAME(Attack)

const std::string kJobs = "/usr/ui/pum/nvm/data/copy/CopySvcUI/CopyStoredJob/";
const std::string kPoolDir = "/xpaths/temp/template/pool/";
const std::string kScanImages = "/xpaths/nc_dlms_data/http/data/htdocs/images/customscan/";
const std::string kEmailCerts = "/xpaths/temp/certs/encryptionfiles/";
const std::string kWireless = "/xpaths/nc_dlms_data/http/data/";
const std::string kSslDir = "/xpaths/nc_var_etc/ssl/";
const std::string kPcl6 = "/xpaths/nc_dlms/pcl6-dmn/data/";
const char* const kLinksOut = "leads through a link";
const char* const kFonts = "<pclFont/>";

const Attack kAttacks[] = {
    // Links out of the device, in each place a capture copies from.
    {"LinkOutInEveryFlatFolder",
     {{kEmailCerts + "evil.pem", "-> @secret"}, {kWireless + "evil.pem", "-> @secret"},
      {kSslDir + "trusted/evil.pem", "-> @secret"}, {kSslDir + "domain/evil.pem", "-> @secret"},
      {kJobs + "evil.xml", "-> @secret"}, {kScanImages + "custom_scan_3_evil.png", "-> @secret"}},
     "evil.pem", {}, {"./data/addressBook/email_certs/alice.pem", "./data/wirelessCertificates/wirelessClient.pem",
                      "./data/ipSec/trusted/demoRootCA.pem", "./data/copySvcJob/job_01.xml",
                      "./data/singleTouch/custom_scan_1_email.png"}},
    {"UploadedLogo", {{"/xpaths/customer_logo/uploaded_logo.png", "-> @secret"}}, "uploaded_logo.png", {}, {}},
    {"PoolFolderLeadsOut", {{kPoolDir + "web", "-> @secretdir"}}, kPoolDir + "web/", {},
     {"./data/mailbox/template/pool/usb/USB.xst"}},
    {"DefaultRules", {{"/xpaths/nc_nvram/ipTablesDefaultRules.cfg", "-> @secret"}}, "ipTablesDefaultRules.cfg", {},
     {"./data/ipTables/ipTablesCustomRules.cfg"}},
    {"CustomRules", {{"/xpaths/nc_nvram/ipTablesCustomRules.cfg", "-> @secret"}}, "ipTablesCustomRules.cfg", {}, {}},
    {"NvramDefaults", {{"/usr/ui/pum/nvm/defaults/Default/NVM.xml", "-> @secret"}}, "NVM.xml", {"./data/cloneStorage/NVM.xml"}, {}},
    // Links that stay on the device but leave their folder.
    {"TemplateToAPrivateKey", {{kPoolDir + "web/key.xst", "-> @key"}}, "key.xst", {}, {"./data/mailbox/template/pool/web/Invoices.xst"}},
    {"CertificateToDevZero", {{kEmailCerts + "zero.pem", "-> /dev/zero"}}, "zero.pem", {}, {"./data/addressBook/email_certs/alice.pem"}},
    // Hard links: a path cannot tell them from the file itself, in any folder users write into.
    {"HardLinksInUserFolders",
     {{kPoolDir + "web/key.xst", "=> @signingkey"}, {kEmailCerts + "evil.pem", "=> @secret"},
      {kSslDir + "trusted/evil.pem", "=> @secret"}, {kSslDir + "domain/evil.pem", "=> @secret"},
      {kWireless + "evil.pem", "=> @secret"}, {kJobs + "evil.xml", "=> @secret"},
      {kScanImages + "custom_scan_3_evil.png", "=> @secret"}, {"/xpaths/customer_logo/uploaded_logo.png", "=> @secret"}},
     "key.xst", {}, {"./data/mailbox/template/pool/web/Invoices.xst", "./data/copySvcJob/job_01.xml"}},
    // Data trees that are links: the boundary does not move with them.
    {"DataTreesAreLinks",
     {{kSslDir + "trusted", "-> @root/xpaths/nc_var_etc/ssl/private"}, {"/xpaths/customer_logo", "-> @secretdir"},
      {"/xpaths/ipsec", "-> @secretdir"}, {"/xpaths/temp", "-> @secretdir"}, {"/xpaths/nc_nvram", "-> @secretdir"}},
     kLinksOut, {"./data/ipSec/trusted/attack.key"}, {}},
    // Certificate store links that an installing device would make again.
    {"StoreLinksOut",
     {{kSslDir + "certstore/Evil", "-> @secret"}, {kSslDir + "certstore/Up", "-> ../../../../../../../../../etc/passwd"},
      {kSslDir + "certstore/Gone", "-> /xpaths/nc_var_etc/ssl/trusted/gone.pem"}},
     "Certificate store entry Evil", {}, {"./data/rootCertificates/rootCertificates.ln"}},
    {"StoreLinksThroughLinksAndDotDot",
     {{"/xpaths/temp/evil", "-> @root/xpaths/nc_var_etc/ssl/trusted"},
      {kSslDir + "certstore/EvilVia", "-> /xpaths/temp/evil/partnerCA.pem"},
      {kSslDir + "certstore/EvilDots", "-> /xpaths/nc_var_etc/ssl/private/../trusted/demoRootCA.pem"}},
     "Certificate store entry EvilVia", {}, {"./data/rootCertificates/rootCertificates.ln"}},
    // Special files: left out, and nothing waits on them.
    {"SpecialFilesInTemplates",
     {{kPoolDir + "web/fifo.xst", "<fifo>"}, {kPoolDir + "system/null.xst", "<chardev>"}, {kPoolDir + "usb/s.xst", "<socket>"}},
     "fifo.xst", {}, {"./data/mailbox/template/pool/web/Invoices.xst", "./data/defaultTemplate/system/DEFAULT.XST"}},
    {"FifoInEveryFlatFolder",
     {{kEmailCerts + "f.pem", "<fifo>"}, {kWireless + "f.pem", "<fifo>"}, {kSslDir + "trusted/f.pem", "<fifo>"},
      {kSslDir + "domain/f.pem", "<fifo>"}, {kJobs + "f.xml", "<fifo>"}, {kScanImages + "custom_scan_4_f.png", "<fifo>"}},
     "f.pem", {}, {"./data/copySvcJob/job_01.xml", "./data/singleTouch/custom_scan_1_email.png"}},
    // Sizes: a sparse file stays sparse on a small staging disk, a growing one is cut where it was.
    {"SparseAndGrowingFiles",
     {{"/xpaths/tmp_cloningData", "<tmpfs>"}, {"/xpaths/ipsec/cfgipsec.xml", "<sparse>"}, {kPoolDir + "web/grow.xst", "<grow>"}},
     "", {}, {"./data/ipSec/cfgipsec.xml", "./data/mailbox/template/pool/web/grow.xst"}},
    // What the receiving side could not unpack: an absolute link (inside its folder: its file goes),
    // a tree too deep.
    {"AbsoluteLinkInTemplates", {{kPoolDir + "web/copy.xst", "-> /xpaths/temp/template/pool/web/Invoices.xst"}}, "", {},
     {"./data/mailbox/template/pool/web/copy.xst"}},
    {"TreeTooDeep", {{kPoolDir + "usb/deep", "<deep>"}}, "usb/deep/", {}, {"./data/mailbox/template/pool/usb/USB.xst"}},
    // What a tool leaves in the export tree that could not be unpacked is taken out before archiving.
    {"ToolLeavesALinkOutAndAFifo",
     {{"tool:/xpaths/nc_dlms/clone/apps/srtClone",
       "echo srt=1 > \"$1\"; d=$(dirname \"$1\"); ln -s /etc/passwd \"$d/passwd\"; mkfifo \"$d/fifo\""}},
     "serviceRegistry/passwd", {"./data/serviceRegistry/passwd", "./data/serviceRegistry/fifo"},
     {"./data/serviceRegistry/srtFile"}},
    // More stored jobs than one command line could name are captured all the same.
    {"MoreJobsThanOneCommandLineHolds", {{"limit:stack", "524288"}, {kJobs + "many", "<many>"}}, "", {},
     {"./data/copySvcJob/" + std::string(240, 'j') + "599.xml", "./data/copySvcJob/job_01.xml"}},
    // Tools stopped part way stage nothing.
    {"ToolsStopped", {{"sim.tool.saveCnConfig", "hang"}, {"sim.tool.configClient", "hang"}, {"sim.tool.srtClone", "hang"}},
     "Command stopped", {"./data/cloneStorage/nvm_cloneself", "./data/cloneStorage/cfg_cloneself",
                         "./data/serviceRegistry/srtFile"}, {"./data/cloneStorage/ds_clone"}},
    // Entries exchanged with links out while they are checked and copied: never once carried in.
    {"EntriesSwappedForLinksOut",
     {{kEmailCerts + "alice.pem", "<swap>"}, {"/xpaths/ipsec/cfgipsec.xml", "<swap>"}, {kPoolDir + "web", "<swap>"}},
     "", {}, {}, "<ipSettings><ipsec/></ipSettings><Certificates><addressBookCertificates/></Certificates>"
                 "<templates><templatePool/></templates>", nullptr, 20},
    // Another user, and the host's umask 000: nothing planted travels, nothing is written through a plant.
    {"AnotherUserWritesDuringTheExport", {}, "", {}, {"./data/mailbox/cfg_clone_mailbox"}, nullptr,
     "SCAN_GROUP NETWORK_GROUP ", 3, "clone-demo", true},
    // A refused password captures nothing and leaves nothing.
    {"RefusedPassword", {}, "", {}, {}, nullptr, "SCAN_GROUP ", 1, "not-the-password"},
    // A host killed while tar runs leaves no tool or archive behind, and the next export is whole.
    {"KilledHost", {}, "", {}, {"./data/mailbox/cfg_clone_mailbox"}, nullptr, "SCAN_GROUP ", 1, "clone-demo", false, true},
    // The font installation writes nothing through a link or into a file with other names, and takes
    // no start file from outside.
    {"FontSumToolDestination", {{"/xpaths/nc_dlms/http/apps/sum", "-> @secret"}}, "/xpaths/nc_dlms/http/apps/sum", {},
     {"./data/pclFonts/datafiles/start.pcl"}, kFonts},
    {"FontDeviceStartFile", {{kPcl6 + "start.pcl", "-> @secret"}}, "pcl6-dmn/data/start.pcl", {},
     {"./data/pclFonts/datafiles/start.pcl"}, kFonts},
    {"FontBackup", {{kPcl6 + "start_pcl.orig", "-> @secret"}}, "start_pcl.orig", {},
     {"./data/pclFonts/datafiles/start.pcl"}, kFonts},
    {"FontUploaded", {{"/xpaths/nc_dlms/http/apps/start.pcl", "-> @secret"}}, "/xpaths/nc_dlms/http/apps/start.pcl",
     {"./data/pclFonts/datafiles/start.pcl"}, {}, kFonts},
    {"FontWriteTargetsAreHardLinks", {{kPcl6 + "start_pcl.orig", "=> @secret"}, {"/xpaths/nc_dlms/http/apps/sum", "=> @secret"}},
     "start_pcl.orig", {}, {"./data/pclFonts/datafiles/start.pcl"}, kFonts},
    {"FontStartFileIsAHardLink", {{kPcl6 + "start.pcl", "=> @secret"}}, "pcl6-dmn/data/start.pcl", {},
     {"./data/pclFonts/datafiles/start.pcl"}, kFonts},
    {"FontFolderIsALink", {{"/xpaths/nc_dlms/pcl6-dmn/data", "-> @secretdir"}}, kLinksOut, {},
     {"./data/pclFonts/datafiles/start.pcl"}, kFonts},
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
        if (intruder_ > 0) {
            ::kill(intruder_, SIGKILL);
            ::waitpid(intruder_, nullptr, 0);
        }
        stop_ = true;
        for (std::thread& t : background_) {
            t.join();
        }
        mounts_.clear();
        ::setrlimit(RLIMIT_STACK, &stack_);
        std::filesystem::remove_all(secretDir());
        std::filesystem::remove(secret());
        ExportTest::TearDown();
    }
    // Outside the device root, of this test alone.
    std::string secret() const { return root() + ".secret"; }
    std::string secretDir() const { return root() + ".secretdir"; }
    struct rlimit stack_ = {};
    std::atomic<bool> stop_{false};
    std::vector<std::thread> background_;
    std::vector<std::unique_ptr<TmpfsMount>> mounts_;
    pid_t intruder_ = 0;

    std::string linkTarget(const std::string& target) const
    {
        const std::map<std::string, std::string> named = {
            {"@secret", secret()}, {"@secretdir", secretDir()}, {"@verifier", path("/config/clone_password")},
            {"@key", path(kSslDir + "private/attack.key")}, {"@signingkey", path("/config/clone_signing_key.pem")}};
        if (named.count(target) != 0) {
            return named.at(target);
        }
        return target.compare(0, 5, "@root") == 0 ? root() + target.substr(5) : target;
    }

    // P exchanged, again and again, with a link beside it that leads out of the device.
    void swapWithLinkOut(const std::string& p)
    {
        const std::string other = p + ".swap";
        ASSERT_EQ(::symlink(std::filesystem::is_directory(p) ? secretDir().c_str() : secret().c_str(), other.c_str()), 0);
        background_.emplace_back([this, p, other] {
            const struct timespec pause = {0, 100000};
            while (!stop_) {
                (void)::renameat2(AT_FDCWD, p.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
                ::nanosleep(&pause, nullptr);
            }
            struct stat st;
            if (::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
                (void)::renameat2(AT_FDCWD, p.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
            }
        });
    }

    // P: 4 MiB that grow a MiB at a time, up to 64 MiB, from the moment something first reads it:
    // far more than the staging disk of its row holds. (A read, not an open: a check of the entry
    // before the copy opens it for reading must not start the growth.)
    void growOnceOpened(const std::string& p)
    {
        writeFile(p, std::string(4 << 20, 'g'));
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(::inotify_add_watch(watch, p.c_str(), IN_ACCESS), 0);
        background_.emplace_back([this, p, watch] {
            struct pollfd opened = {watch, POLLIN, 0};
            while (!stop_ && ::poll(&opened, 1, 50) == 0) {
            }
            std::ofstream out(p, std::ios::app | std::ios::binary);
            const std::string more(1 << 20, 'G');
            for (int i = 0; i < 60 && !stop_; ++i) {
                out.write(more.data(), static_cast<std::streamsize>(more.size())).flush();
            }
            ::close(watch);
        });
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
        if (what == "<swap>") {
            swapWithLinkOut(p);
            return;
        }
        if (what == "<tmpfs>") {
            mounts_.emplace_back(new TmpfsMount(p, "size=16m"));
            CLONE_SKIP_UNLESS_MOUNTED(*mounts_.back());
            return;
        }
        std::filesystem::remove_all(p);
        makeDirs(p.substr(0, p.rfind('/')));
        if (what.compare(0, 3, "-> ") == 0) {
            ASSERT_EQ(::symlink(linkTarget(what.substr(3)).c_str(), p.c_str()), 0) << where;
        } else if (what.compare(0, 3, "=> ") == 0) {
            ASSERT_EQ(::link(linkTarget(what.substr(3)).c_str(), p.c_str()), 0) << where;
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
        } else if (what == "<sparse>") {
            writeFile(p, "");
            ASSERT_EQ(::truncate(p.c_str(), 24 << 20), 0);
        } else if (what == "<grow>") {
            growOnceOpened(p);
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

    // Another user (nobody), for as long as it lives, writes into every folder and file of the
    // staging area it can reach, and plants a link to the file outside at the name of every file
    // it cannot write.
    void startIntruder()
    {
        ::chmod(root().c_str(), 0755);
        intruder_ = ::fork();
        if (intruder_ == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
                ::_exit(1);
            }
            for (;;) {
                std::error_code ec;
                for (auto it = std::filesystem::recursive_directory_iterator(path("/xpaths/tmp_cloningData"), ec);
                     !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
                    const std::string p = it->path().string();
                    if (it->is_directory(ec)) {
                        std::ofstream(p + "/planted.txt") << "PLANTED by another user";
                    } else if (!(std::ofstream(p, std::ios::app) << "PLANTED by another user") &&
                               ::unlink(p.c_str()) == 0) {
                        (void)::symlink(secret().c_str(), p.c_str());
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }

    // The calling process killed while its archive command runs: nothing of it goes on afterwards.
    void killHostDuringArchive(const std::string& out)
    {
        const std::string started = root() + "/tar.started";
        replaceTool("/bin/tar", "echo > '" + started + "'; sleep 3; exec /bin/tar \"$@\"");
        const pid_t host = ::fork();
        if (host == 0) {
            ::_exit(exportTo(out, GetParam().groups));
        }
        for (int i = 0; i < 600 && !exists(started); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(exists(started));
        ::kill(host, SIGKILL);
        ::waitpid(host, nullptr, 0);
        ::sleep(4);
        // The archive made for tar is left as it was made, empty, for the next export to remove.
        for (const std::string& name : listDir(out)) {
            EXPECT_EQ(std::filesystem::file_size(out + "/" + name), 0u) << "an orphaned command wrote " << name;
        }
        for (const auto& e : std::filesystem::directory_iterator("/proc")) {
            const std::string command = readFile(e.path().string() + "/cmdline");
            EXPECT_EQ(command.find(root()), std::string::npos) << "left running: " << command;
        }
        ::unlink(path("/bin/tar").c_str());
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
    const std::vector<std::string> forbidden = {"SECRET", readFile(path("/config/clone_password")),
                                                "PRIVATE KEY", "PLANTED", "certstore/Evil", "certstore/Up",
                                                "certstore/Gone"};
    for (const auto& p : a.plants) {
        plant(p.first, p.second);
        if (HasFatalFailure() || IsSkipped()) {
            return;
        }
    }
    // Tools made to hang are stopped quickly; any other command that runs into the limit hangs on
    // something planted (a FIFO), and a limit a loaded machine cannot break shows that all the same.
    const ScopedEnv limit("CLONE_COMMAND_TIME_LIMIT", a.named == "Command stopped" ? "1" : "30");
    const ScopedEnv pathVariable("PATH", root() + "/bin:" + std::getenv("PATH"));
    if (a.killHost) {
        killHostDuringArchive(out);
    }
    // The host's umask, whatever it is, decides nothing: tried at 000 with the intruder.
    const struct UmaskKept {
        mode_t old;
        ~UmaskKept() { ::umask(old); }
    } umaskKept{::umask(a.intruder ? 0 : 022)};
    if (a.intruder) {
        startIntruder();
    }
    for (int run = 0; run < a.exports; ++run) {
        SCOPED_TRACE("export " + std::to_string(run + 1));
        std::filesystem::remove_all(out);
        std::string location = out;
        std::string line = a.groups != nullptr ? a.groups : "";
        if (a.placed != nullptr) {
            makeDirs(path("/xpaths/tmp_cloningData/cloningExport/data/addressBook"));
            writeFile(path("/xpaths/tmp_cloningData/cloningExport/CloningManifest.xml"),
                      std::string("<CloningManifest xmlns=\"http://www.clonecreator.local/ConfigManifest\"><cloningData>") +
                          a.placed + "</cloningData></CloningManifest>");
        }
        // Half the exports resolve paths by the walk, the other half through openat2 where the kernel has it.
        cloneutil::resolveByWalkOnly(run % 2 == 1);
        const int result = createCloneDLM(&location[0], a.password, a.placed != nullptr ? nullptr : &line[0]);
        cloneutil::resolveByWalkOnly(false);
        const std::vector<std::string> left = listDir(out);
        ASSERT_TRUE(result == 0 || result == 1) << result;
        // A row that names members the clone file keeps expects one.
        ASSERT_TRUE(result == 0 || a.present.empty()) << ::testing::PrintToString(messages("ERROR"));
        // Owner-only, and alone: nothing unsigned beside it.
        ASSERT_EQ(left.size(), result == 0 ? 1u : 0u) << ::testing::PrintToString(left);
        if (result == 1) {
            continue;
        }
        const std::string cloneFile = out + "/" + left[0];
        struct stat st;
        EXPECT_TRUE(::stat(cloneFile.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600) << std::oct << st.st_mode;
        EXPECT_EQ(clonefile({"verify", "--key", signingPublicKey(), cloneFile}).status, 0);
        const std::string unpacked = root() + "/unpacked";
        std::filesystem::remove_all(unpacked);
        const CommandResult extract = clonefile({"extract", cloneFile, unpacked});
        EXPECT_EQ(extract.status, 0) << extract.err;
        for (const std::string& text : forbidden) {
            EXPECT_EQ(filesContaining(unpacked, text), std::vector<std::string>{}) << text;
        }
        const std::vector<std::string> names = members(cloneFile);
        for (const std::string& member : a.absent) {
            EXPECT_FALSE(contains(names, member)) << member;
        }
        for (const std::string& member : a.present) {
            EXPECT_TRUE(contains(names, member)) << member;
        }
        if (std::string(a.name) == "SparseAndGrowingFiles") {
            // Cut where it was when the copy opened it.
            EXPECT_EQ(std::filesystem::file_size(unpacked + "/data/mailbox/template/pool/web/grow.xst"), 4u << 20);
        }
    }
    if (std::string(a.password) != kClonePassword) {
        EXPECT_EQ(toolCalls(), std::vector<std::string>{}) << "captured with a refused password";
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

// The rows above, and every plain copy of the element tables with its source replaced by a link
// out of the device: a new plain-copy element is attacked without a row of its own.
std::vector<Attack> allAttacks()
{
    std::vector<Attack> rows(std::begin(kAttacks), std::end(kAttacks));
    for (const cloneutil::PlainCopyRow& row : cloneutil::kPlainCopies) {
        std::string source = row.copy.source;
        const bool folder = source.back() == '/' || row.copy.cp != nullptr;
        while (source.size() > 1 && source.back() == '/') {
            source.pop_back();
        }
        Attack link;
        link.name = std::string("SourceLinksOut_") + row.element;
        link.plants = {{source, folder ? "-> @secretdir" : "-> @secret"}};
        link.named = source.substr(source.rfind('/') + 1);
        rows.push_back(link);
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Boundary, AttackTest, testing::ValuesIn(allAttacks()), RowName());

}  // namespace
