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
     TRUE, {"Start file " + kPcl6 + "start.pcl cannot be backed up; it is not replaced"}, {}},
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
    // WHAT at the device path NAME: "<dir>", "<gone>" or a file's content.
    void put(const std::string& name, const std::string& what) const
    {
        removeTree(name);
        makeDirs(path(name.substr(0, name.rfind('/'))));
        if (what == "<dir>") {
            makeDirs(path(name));
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
    const Tree before = snapshot(root());
    clearLog();

    EXPECT_EQ(run(&CloneCreator::clonePCLFontsHelper), c.result);
    EXPECT_EQ(outline(), c.result ? "node: data/pclFonts/datafiles\n" : "node\n");
    EXPECT_EQ(creator.nameOfDLM, c.result ? "pclFonts" : "cloning");
    EXPECT_EQ(messages("ERROR"), c.errors);
    EXPECT_EQ(messages("INFO"), c.infos);
    EXPECT_EQ(toolCalls(), Strings{"dmpr " + path(kUpload)});
    // What changed on the device, against what should have.
    Tree expected = c.changes, changes, after = snapshot(root());
    if (before.count(kSumTool) != 0) {
        expected["/xpaths/nc_dlms/http/apps/sum"] = kSum;
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
