// Whole exports on the sample device, seen as the receiving side sees them (through the clonefile
// command). What each helper stages is pinned by the capture tests; here only what no other test sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
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
        // Something in the plug-ins' name spaces, a later value that wins and a neighbour not theirs.
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

    // The outline of the verified clone file's manifest (verify checks its schema). Each element's
    // text, but a version's or the serial number, names a member or a folder with members in it.
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

// The groups the sample device offers another device of its kind.
TEST_F(ExportTest, CloneFileCarriesWhatTheGroupsSelected)
{
    const std::string outputDir = root() + "/out";
    const std::string cloneFile = outputDir + "/cloning.dlm";

    ASSERT_EQ(exportTo(outputDir, "NETWORK_GROUP SECURITY_GROUP SCAN_GROUP ACCOUNTING_GROUP PRINT_GROUP "), 0);
    EXPECT_EQ(sortedDir(outputDir), (std::vector<std::string>{"cloning.dlm", "cloning.tar"}));
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
    // reads, stays for the next export.
    EXPECT_EQ(listDir(path("/xpaths/tmp_cloningData")), std::vector<std::string>{"cfg_attr_list"});
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
    EXPECT_EQ(sortedDir(outputDir), (std::vector<std::string>{"pclFonts.dlm", "pclFonts.tar"}));
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
    EXPECT_EQ(listDir(path("/xpaths/tmp_cloningData")), std::vector<std::string>{"cfg_attr_list"});
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

}  // namespace
