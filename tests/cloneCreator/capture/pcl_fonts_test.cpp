// PCL fonts: which of the device's start files is backed up and replaced, the installer's call, the
// staged start file and the clone file's name; every change to the device is compared, so nothing
// is written where it should not be.
#include <filesystem>
#include <map>

#include "CaptureTest.h"

namespace {

using namespace clonetest;
using Tree = std::map<std::string, std::string>;  // device path: content, "<dir>", "<fifo>", "<gone>"

const std::string kUpload = "/xpaths/nc_dlms/http/apps/start.pcl", kUploaded = "\033E\033*c1D uploaded fonts";
const std::string kSumTool = "/xpaths/nc_dlms/clone/apps/sum", kSum = "#!/bin/sh\n";
const std::string kVarEtc = "/xpaths/nc_var_etc/", kPcl6 = "/xpaths/nc_dlms/pcl6-dmn/data/";
const std::string kPcl5c = "/xpaths/nc_dlms/pcl5c-dmn/data/", kPcl = "/xpaths/nc_dlms/pcl/data/";
const std::string kStaged = "/xpaths/tmp_cloningData/cloningExport/data/pclFonts";
const std::string kNotStaged = "Creation of pclFonts.dlm failed";
const std::string kSumInstalled = "/xpaths/nc_dlms/http/apps/sum";
const std::string kNotWritten = " is a link, has other names or is not a regular file; it is not written";
// A link to a file outside the device (see PclFontTest::outside).
const std::string kToOutside = "<link to outside>";

// Everything on the device but its logs.
Tree snapshot(const std::string& root)
{
    namespace fs = std::filesystem;
    Tree tree;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        const fs::file_type type = e.symlink_status().type();
        const std::string name = e.path().string().substr(root.size());
        tree[name] = type == fs::file_type::directory ? "<dir>"
                     : type == fs::file_type::fifo    ? "<fifo>"
                     : type == fs::file_type::symlink ? "-> " + fs::read_symlink(e.path()).string()
                                                      : readFile(e.path());
    }
    tree.erase(tree.lower_bound("/var/log"), tree.upper_bound("/var/log/~"));
    return tree;
}

struct PclCase {
    const char* name;
    Tree setup;  // on top of an uploaded start file and the sum tool
    const char* dmpr;  // sim.tool.dmpr
    Tree changes;  // besides the sum tool's copy and, on success, the staged start file
    bool_t result;
    Strings errors, infos;
};
CLONE_PRINT_BY_NAME(PclCase)

const PclCase kPclCases[] = {
    {"VarEtcWinsOverPcl6", {{kVarEtc + "start.pcl", "etc"}, {kPcl6 + "start.pcl", "pcl6"}}, "",
     {{kVarEtc + "start_pcl.orig", "etc"}, {kVarEtc + "start.pcl", kUploaded}}, TRUE, {}, {}},
    {"Pcl6", {{kPcl6 + "start.pcl", "pcl6"}}, "",
     {{kPcl6 + "start_pcl.orig", "pcl6"}, {kPcl6 + "start.pcl", kUploaded}}, TRUE, {}, {}},
    {"Pcl5cWithoutAStartFile", {{kPcl5c, "<dir>"}}, "", {{kPcl5c + "start.pcl", kUploaded}}, TRUE, {}, {}},
    {"PclData", {{kPcl + "start.pcl", "pcl"}}, "", {{kPcl + "start_pcl.orig", "pcl"}, {kPcl + "start.pcl", kUploaded}},
     TRUE, {}, {}},
    {"NoStartFileAnywhere", {}, "", {}, TRUE, {}, {}},
    {"NoSumTool", {{kSumTool, "<gone>"}}, "", {}, TRUE, {}, {}},
    // Only a shell that cannot start at all is a failed installation.
    {"DmprFails", {}, "fail", {}, TRUE, {}, {}},
    {"BackupImpossibleKeepsTheDevicesOwn", {{kPcl6 + "start.pcl", "pcl6"}, {kPcl6 + "start_pcl.orig", "<dir>"}}, "", {},
     TRUE, {kPcl6 + "start_pcl.orig" + kNotWritten, "Start file " + kPcl6 + "start.pcl cannot be backed up; it is not replaced"},
     {}},
    // Nothing is written through a link, and nothing is read through one that leads out of the
    // device's data: the file outside stays as it was.
    {"BackupIsALink", {{kPcl6 + "start.pcl", "pcl6"}, {kPcl6 + "start_pcl.orig", kToOutside}}, "", {}, TRUE,
     {kPcl6 + "start_pcl.orig" + kNotWritten, "Start file " + kPcl6 + "start.pcl cannot be backed up; it is not replaced"},
     {}},
    {"StartFileIsALink", {{kPcl6 + "start.pcl", kToOutside}}, "", {}, TRUE,
     {kPcl6 + "start.pcl" + kNotWritten, "Start file " + kPcl6 + "start.pcl is not replaced"}, {}},
    {"InstalledSumIsALink", {{kSumInstalled, kToOutside}}, "", {}, TRUE, {kSumInstalled + kNotWritten}, {}},
    {"UploadedLeadsOutside", {{kUpload, kToOutside}, {kPcl6 + "start.pcl", "pcl6"}}, "", {}, FALSE,
     {kUpload + " is a link; it is not read"}, {kNotStaged}},
    {"NoUploadedStartFile", {{kUpload, "<gone>"}, {kPcl6 + "start.pcl", "pcl6"}}, "",
     {{kPcl6 + "start_pcl.orig", "pcl6"}}, FALSE, {}, {kNotStaged}},
    {"UploadedIsDirectory", {{kUpload, "<dir>"}, {kPcl6 + "start.pcl", "pcl6"}}, "",
     {{kPcl6 + "start_pcl.orig", "pcl6"}}, FALSE, {}, {kNotStaged}},
    {"StagingBlockedAfterTheDeviceChanged", {{kStaged, "in the way"}, {kPcl6 + "start.pcl", "pcl6"}}, "",
     {{kPcl6 + "start_pcl.orig", "pcl6"}, {kPcl6 + "start.pcl", kUploaded}}, FALSE,
     {"Creating " + kStaged + "/datafiles/ is failed"}, {}},
};

class PclFontTest : public CaptureTest, public testing::WithParamInterface<PclCase> {
protected:
    void TearDown() override
    {
        ::unlink(outside().c_str());
        CaptureTest::TearDown();
    }
    // A file beside the device root, of this test alone.
    std::string outside() const { return root() + ".outside"; }

    // WHAT at the device path NAME: "<dir>", "<gone>" or a file's content.
    void put(const std::string& name, const std::string& what) const
    {
        removeTree(name);
        makeDirs(path(name.substr(0, name.rfind('/'))));
        if (what == "<dir>") {
            makeDirs(path(name));
        } else if (what == kToOutside) {
            ASSERT_EQ(::symlink(outside().c_str(), path(name).c_str()), 0);
        } else if (what != "<gone>") {
            writeFile(path(name), what);
        }
    }
};

TEST_P(PclFontTest, InstallsTheUploadedStartFileAndStagesIt)
{
    const PclCase& c = GetParam();
    // The helper finds dmpr through PATH.
    const ScopedEnv bin("PATH", root() + "/bin:" + (std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/bin"));
    put(kUpload, kUploaded);
    put(kSumTool, kSum);
    for (const auto& p : c.setup) {
        put(p.first, p.second);
    }
    setAttribute("sim.tool.dmpr", c.dmpr);
    writeFile(outside(), "outside bytes");
    const Tree before = snapshot(root());
    clearLog();

    EXPECT_EQ(run(&CloneCreator::clonePCLFontsHelper), c.result);
    EXPECT_EQ(outline(), c.result ? "node: data/pclFonts/datafiles\n" : "node\n");
    EXPECT_EQ(creator.nameOfDLM, c.result ? "pclFonts" : "cloning");
    EXPECT_EQ(messages("ERROR"), c.errors);
    EXPECT_EQ(messages("INFO"), c.infos);
    const bool refused = c.setup.count(kUpload) != 0 && c.setup.at(kUpload) == kToOutside;
    EXPECT_EQ(toolCalls(), refused ? Strings{} : Strings{"dmpr " + path(kUpload)});
    EXPECT_EQ(readFile(outside()), "outside bytes");
    // What changed on the device, against what should have.
    Tree expected = c.changes, changes, after = snapshot(root());
    if (before.count(kSumTool) != 0 && c.setup.count(kSumInstalled) == 0 && !refused) {
        expected[kSumInstalled] = kSum;
    }
    if (c.result) {
        expected.insert({{kStaged, "<dir>"}, {kStaged + "/datafiles", "<dir>"}});
        expected.insert({kStaged + "/datafiles/start.pcl", kUploaded});
    }
    for (const auto& f : before) {
        after.insert({f.first, "<gone>"});
    }
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::inserter(changes, changes.end()));
    EXPECT_EQ(changes, expected);
}

INSTANTIATE_TEST_SUITE_P(StartFiles, PclFontTest, testing::ValuesIn(kPclCases), RowName());

}  // namespace
