// Scan templates, the template pool and stored copy jobs: what is staged (tree, bytes, modes,
// times), what the element says, and what each fault leaves behind.
#include "CaptureTest.h"

namespace {

using namespace clonetest;

const std::string kPool = "/xpaths/temp/template/pool/";
const std::string kJobs = "/usr/ui/pum/nvm/data/copy/CopySvcUI/CopyStoredJob/";
const std::string kLeftOut = " is left out of the clone: ";

// The scan templates are taken over into a staging directory already there (a node met twice).
const CopyCase kTemplates[] = {
    {"ScanToHome", &CloneCreator::cloneScanToHomeTemplatesHelper, kPool + "s2home/home.xst", "s2HomeTemplate",
     "s2home/home.xst", "data/s2HomeTemplate/", "ScanToHome Templates are not able to clone", true},
    {"Default", &CloneCreator::cloneDefaultTemplatesHelper, kPool + "system/email.xst", "defaultTemplate",
     "system/email.xst", "data/defaultTemplate/", "Default Templates are not able to clone", true},
    {"ScanToDefaults", &CloneCreator::cloneScanToDefaultsTemplatesHelper, kPool + "scanto/SCANTO.XST",
     "scanto_defaults", "SCANTO.XST", "data/scanto_defaults/", "ScanToDefault Templates are not able to clone", false},
};

TEST_P(CopyCaseTest, StagesTheTemplatesOrLeavesNothing)
{
    expectStagedOrNothing();
}

// The shared faults on one helper that copies with cp and one with xcopyp.
CLONE_CASES_WITH_FAULTS(Templates, CopyCaseTest, kTemplates, kCopyFaults, kSharedCopyFaults, kTemplates[0],
                        kTemplates[2]);

// Job names reach cp through the shell's own pattern expansion, never as command text. Stored
// jobs are never merged with an earlier capture's directory.
TEST_F(CaptureTest, CopyJobs)
{
    const std::string dir = kExportData + "copySvcJob/";
    const Strings odd = {"job1.xml", "-rf", "a b", "q'uote\"", "new\nline", "$(touch pwned);x", "*"};
    const struct {
        const char* name;
        bool jobDir;
        Strings jobs;            // in the job directory, each holding "job NAME"
        std::string extra;       // "earlier": a staging directory is there; "folder": one among the jobs
        Strings errors, infos, left;  // left: the staging tree afterwards
    } cases[] = {
        {"OddNames", true, odd, "", {}, {}, sorted(odd)},
        {"NoJobDirectory", false, {}, "", {"Copy Job Setting Path, " + kJobs + " is not accessible"}, {}, {"<none>"}},
        {"NoStoredJob", true, {}, "", {}, {"Copy Job Settings Cloning is failed"}, {"<none>"}},
        {"EarlierDirectory", true, {"job"}, "earlier", {"Creating of " + dir + " is failed"}, {}, {"earlier"}},
        // cp copies the files and refuses the folder: the copy counts as failed, the element stays
        // empty and nothing that cp copied is left unnamed.
        {"FolderAmongJobs", true, {"job"}, "folder", {}, {"Copy Job Settings Cloning is failed"}, {"<none>"}},
        // Only what stays inside the job folder goes, the rest is named in an ERROR; a link to a
        // job goes as a copy of it.
        {"LinksAndSpecialFiles", true, {"job"}, "links",
         {kJobs + "fifo" + kLeftOut + "it is not a regular file or folder",
          kJobs + "key" + kLeftOut + "it is a link that leads outside its folder",
          kJobs + "loop" + kLeftOut + "it is a link that leads nowhere",
          kJobs + "outside" + kLeftOut + "it is a link that leads outside its folder"},
         {}, {"inside", "job"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        removeTree("/usr/ui/pum/nvm/data");
        removeTree(dir);
        clearLog();
        xmlNodeSetContent(node(), nullptr);
        if (c.jobDir) {
            makeDirs(path(kJobs));
        }
        for (const std::string& name : c.jobs) {
            writeSource(kJobs + name, "job " + name);
        }
        if (c.extra == "earlier") {
            writeSource(dir + "earlier", "kept");
        } else if (c.extra == "folder") {
            makeDirs(path(kJobs + "folder"));
        } else if (c.extra == "links") {
            writeFile(path("/config/verifier"), "the device's password verifier");
            ASSERT_EQ(::symlink("job", path(kJobs + "inside").c_str()), 0);
            ASSERT_EQ(::symlink(path("/config/verifier").c_str(), path(kJobs + "key").c_str()), 0);
            ASSERT_EQ(::symlink("loop", path(kJobs + "loop").c_str()), 0);
            ASSERT_EQ(::symlink("/etc/passwd", path(kJobs + "outside").c_str()), 0);
            ASSERT_EQ(::mkfifo(path(kJobs + "fifo").c_str(), 0600), 0);
        }
        const bool staged = c.left != Strings{"<none>"} && c.left != Strings{"earlier"};
        EXPECT_EQ(run(&CloneCreator::cloneCopySaveJobHelper), staged ? TRUE : FALSE);
        EXPECT_EQ(outline(), staged ? "node: data/copySvcJob/\n" : "node\n");
        EXPECT_EQ(messages("ERROR"), c.errors);
        EXPECT_EQ(messages("INFO"), c.infos);
        EXPECT_EQ(stagedTree(dir), c.left);
        for (const std::string& name : staged ? c.jobs : Strings{}) {
            expectKept(dir + name, "job " + name);
        }
        if (c.extra == "links") {
            expectKept(dir + "inside", "job job");
        }
    }
    EXPECT_FALSE(exists(path("/pwned")));
    EXPECT_FALSE(exists("pwned"));
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
    {"NoTemplates", {}, FALSE, {"Default Templates are not able retrieved", "Web Templates are not able retrieved",
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
    EXPECT_EQ(treeOf(path(kExportData + "mailbox")), sorted(tree));
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
