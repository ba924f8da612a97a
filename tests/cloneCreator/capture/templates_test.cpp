// Scan templates, the template pool and stored copy jobs: what is staged (tree, bytes, modes,
// times), what the element says, and what each fault leaves behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "CaptureTest.h"

namespace {

using namespace clonetest;

const std::string kPool = "/xpaths/temp/template/pool/";
const std::string kJobs = "/usr/ui/pum/nvm/data/copy/CopySvcUI/CopyStoredJob/";

struct TemplateCase {
    const char* name;
    CloneCreator::Helper helper;
    std::string source;  // the one template file the device has
    std::string dir;     // staging directory, below the export data
    std::string staged;  // where the template lands, below the staging directory
    const char* text;
    const char* failure;
};

CLONE_PRINT_BY_NAME(TemplateCase)

const TemplateCase kTemplates[] = {
    {"ScanToHome", &CloneCreator::cloneScanToHomeTemplatesHelper, kPool + "s2home/home.xst", "s2HomeTemplate",
     "s2home/home.xst", "data/s2HomeTemplate/", "ScanToHome Templates are not able to clone"},
    {"Default", &CloneCreator::cloneDefaultTemplatesHelper, kPool + "system/email.xst", "defaultTemplate",
     "system/email.xst", "data/defaultTemplate/", "Default Templates are not able to clone"},
    {"ScanToDefaults", &CloneCreator::cloneScanToDefaultsTemplatesHelper, kPool + "scanto/SCANTO.XST",
     "scanto_defaults", "SCANTO.XST", "data/scanto_defaults/", "ScanToDefault Templates are not able to clone"},
};

enum class Fault { None, EarlierDirectory, SourceMissing, SourceIsDirectory, FileInTheWay };

struct FaultCase {
    const char* name;
    Fault fault;
};

CLONE_PRINT_BY_NAME(FaultCase)

const FaultCase kFaults[] = {
    {"Works", Fault::None},
    {"EarlierDirectoryTakenOver", Fault::EarlierDirectory},
    {"SourceMissing", Fault::SourceMissing},
    {"SourceIsDirectory", Fault::SourceIsDirectory},
    {"FileInTheWay", Fault::FileInTheWay},
};

class TemplateTest : public CaptureTest, public testing::WithParamInterface<std::tuple<TemplateCase, FaultCase>> {};

TEST_P(TemplateTest, StagesTheTemplatesOrLeavesNothing)
{
    const TemplateCase& c = std::get<0>(GetParam());
    const Fault fault = std::get<1>(GetParam()).fault;
    const std::string dir = kExportData + c.dir + "/";
    if (fault == Fault::SourceIsDirectory) {
        makeDirs(path(c.source) + "/inner");
    } else if (fault != Fault::SourceMissing) {
        writeSource(c.source, "template " + c.source);
    }
    if (fault == Fault::EarlierDirectory) {
        makeDirs(path(dir));
        writeFile(path(dir + "earlier"), "kept");
    } else if (fault == Fault::FileInTheWay) {
        writeFile(path(kExportData + c.dir), "kept");
    }

    const bool staged = fault == Fault::None || fault == Fault::EarlierDirectory ||
                        (fault == Fault::SourceIsDirectory && c.helper != &CloneCreator::cloneScanToDefaultsTemplatesHelper);
    EXPECT_EQ(run(c.helper), staged ? TRUE : FALSE);
    EXPECT_EQ(outline(), staged ? std::string("node: ") + c.text + "\n" : "node\n");
    EXPECT_EQ(messages("ERROR"), fault == Fault::FileInTheWay ? Strings{"Creating " + dir + " is failed"} : Strings{});
    EXPECT_EQ(messages("INFO"), staged || fault == Fault::FileInTheWay ? Strings{} : Strings{c.failure});
    if (fault == Fault::None || fault == Fault::EarlierDirectory) {
        expectKept(dir + c.staged, "template " + c.source);
    }
    if (fault == Fault::EarlierDirectory) {
        EXPECT_EQ(readFile(path(dir + "earlier")), "kept");
    } else if (fault == Fault::FileInTheWay) {
        EXPECT_EQ(readFile(path(kExportData + c.dir)), "kept");
    } else if (!staged) {
        // A failed copy leaves no staging directory, and so nothing unnamed in the clone file.
        EXPECT_FALSE(exists(path(dir)));
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, TemplateTest, testing::Combine(testing::ValuesIn(kTemplates), testing::ValuesIn(kFaults)),
                         caseAndFaultName<TemplateTest::ParamType>);

class CopyJobTest : public CaptureTest {};

// Every stored job is copied whatever its name: names reach cp through the shell's own pattern
// expansion, never as command text.
TEST_F(CopyJobTest, EveryStoredJobWhateverItsName)
{
    const Strings names = {"job1.xml", "-rf", "a b", "q'uote\"", "new\nline", "$(touch pwned);x", "*"};
    for (const std::string& name : names) {
        writeSource(kJobs + name, "job " + name);
    }
    EXPECT_EQ(run(&CloneCreator::cloneCopySaveJobHelper), TRUE);
    EXPECT_EQ(outline(), "node: data/copySvcJob/\n");
    for (const std::string& name : names) {
        expectKept(kExportData + "copySvcJob/" + name, "job " + name);
    }
    EXPECT_EQ(treeOf(path(kExportData + "copySvcJob")).size(), names.size());
    EXPECT_FALSE(exists(path("/pwned")));
    EXPECT_FALSE(exists("pwned"));
}

TEST_F(CopyJobTest, Faults)
{
    const std::string dir = kExportData + "copySvcJob/";
    enum Setup { NoJobDirectory, NoStoredJob, EarlierDirectory, FolderAmongJobs };
    const struct {
        const char* name;
        Setup setup;
        Strings errors;
        Strings infos;
        Strings left;  // the staging directory's tree afterwards; {"<none>"}: no directory
    } cases[] = {
        {"NoJobDirectory", NoJobDirectory, {"Copy Job Setting Path, " + kJobs + " is not accessible"}, {}, {"<none>"}},
        {"NoStoredJob", NoStoredJob, {}, {"Copy Job Settings Cloning is failed"}, {"<none>"}},
        {"EarlierDirectory", EarlierDirectory, {"Creating of " + dir + " is failed"}, {}, {"earlier"}},
        // cp copies the files and refuses the folder: the copy counts as failed, the element stays
        // empty and the copied jobs stay where they are.
        {"FolderAmongJobs", FolderAmongJobs, {}, {"Copy Job Settings Cloning is failed"}, {"job"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(std::system(("rm -rf '" + path("/usr/ui/pum/nvm/data") + "' '" + path(dir) + "'").c_str()), 0);
        clearLog();
        xmlNodeSetContent(node(), nullptr);
        if (c.setup != NoJobDirectory) {
            makeDirs(path(kJobs));
        }
        if (c.setup == EarlierDirectory || c.setup == FolderAmongJobs) {
            writeSource(kJobs + "job", "x");
        }
        if (c.setup == EarlierDirectory) {
            makeDirs(path(dir));
            writeFile(path(dir + "earlier"), "kept");
        } else if (c.setup == FolderAmongJobs) {
            makeDirs(path(kJobs + "folder"));
        }
        EXPECT_EQ(run(&CloneCreator::cloneCopySaveJobHelper), FALSE);
        EXPECT_EQ(outline(), "node\n");
        EXPECT_EQ(messages("ERROR"), c.errors);
        EXPECT_EQ(messages("INFO"), c.infos);
        EXPECT_EQ(exists(path(dir)) ? treeOf(path(dir)) : Strings{"<none>"}, c.left);
    }
}

struct PoolCase {
    const char* name;
    Strings parts;  // of system, web, mailbox, usb: those the device has
    bool_t staged;
    Strings infos;
};

CLONE_PRINT_BY_NAME(PoolCase)

const PoolCase kPoolCases[] = {
    {"AllParts", {"system", "web", "mailbox", "usb"}, TRUE, {}},
    {"NoMailboxTemplates", {"system", "web", "usb"}, TRUE, {"Mailbox Templates are not able retrieved"}},
    {"NoWebTemplates", {"system", "mailbox", "usb"}, FALSE, {"Web Templates are not able retrieved"}},
    {"NoTemplates",
     {},
     FALSE,
     {"Default Templates are not able retrieved", "Web Templates are not able retrieved",
      "Mailbox Templates are not able retrieved", "USB Templates are not able retrieved"}},
};

class TemplatePoolTest : public CaptureTest, public testing::WithParamInterface<PoolCase> {};

// Each part is copied whatever became of the others; what was copied stays even when the
// element is left empty. The mailbox capture's file in data/mailbox/ is not disturbed.
TEST_P(TemplatePoolTest, CopiesEveryPartItFinds)
{
    const PoolCase& c = GetParam();
    makeDirs(path(kExportData + "mailbox"));
    writeFile(path(kExportData + "mailbox/cfg_clone_mailbox"), "a=1\n");
    for (const std::string& part : c.parts) {
        writeSource(kPool + part + "/" + part + ".xst", part);
    }
    EXPECT_EQ(run(&CloneCreator::cloneTemplatePoolHelper), c.staged);
    EXPECT_EQ(outline(), c.staged ? "node: data/mailbox/template/pool/\n" : "node\n");
    EXPECT_EQ(messages("INFO"), c.infos);
    EXPECT_EQ(messages("ERROR"), Strings{});
    Strings tree = {"cfg_clone_mailbox", "template/", "template/pool/"};
    for (const std::string& part : c.parts) {
        tree.push_back("template/pool/" + part + "/");
        tree.push_back("template/pool/" + part + "/" + part + ".xst");
        expectKept(kExportData + "mailbox/template/pool/" + part + "/" + part + ".xst", part);
    }
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(treeOf(path(kExportData + "mailbox")), tree);
}

INSTANTIATE_TEST_SUITE_P(Pool, TemplatePoolTest, testing::ValuesIn(kPoolCases), RowName());

TEST_F(CaptureTest, TemplatePoolParentInTheWay)
{
    writeFile(path(kExportData + "mailbox"), "kept");
    EXPECT_EQ(run(&CloneCreator::cloneTemplatePoolHelper), FALSE);
    EXPECT_EQ(messages("ERROR"), Strings{"Creating " + kExportData + "mailbox/template/pool/ is failed"});
    EXPECT_EQ(readFile(path(kExportData + "mailbox")), "kept");
}

}  // namespace
