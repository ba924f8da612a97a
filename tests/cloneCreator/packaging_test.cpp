// Archive and clone file packaging: the archive command, the output directory, the export tree's
// removal, authentication and the clone file's presence as the result.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "CloneCreator.h"
#include "CloneFileTestUtil.h"
#include "DeviceTest.h"
#include "clone_container.h"
#include "clone_password.h"

namespace {

using namespace clonetest;

std::string currentDirectory()
{
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : std::string();
}

class PackagingTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        out_ = root() + "/caller/out";
        makeDirs(out_);
    }

    // What the walk and pruning leave behind: the manifest, one data file, an attribute list.
    void placeExport(const std::string& payload = "note")
    {
        makeDirs(path(CLONE_EXPORT_DATA_DIR));
        writeFile(path(CLONE_EXPORT_DATA_DIR "note.txt"), payload);
        writeFile(path(CLONE_MANIFEST_CLONE), kTestManifest);
        writeFile(path(CLONE_STAGING_DIR "nvram_attr_list"), "attr\n");
    }

    // The pipeline from the stub manifest on: a null group line leaves the staging area as placed.
    int exportTo(const std::string& out, const char* password = kClonePassword)
    {
        std::string location = out;
        return createCloneDLM(&location[0], password, nullptr);
    }

    static std::string cloneFile(const std::string& out, const std::string& name = "cloning")
    {
        return out + "/" + name + ".dlm";
    }
    bool verifies(const std::string& file) const { return verifiesWith(signingPublicKey(), file); }

    void expectExportTreeGoneAttributeListsKept() const
    {
        EXPECT_FALSE(exists(path(CLONE_EXPORT_TREE)));
        EXPECT_TRUE(exists(path(CLONE_STAGING_DIR "nvram_attr_list")));
    }

    std::string out_;
};

// A refused password is refused before anything is captured: no clone file attempt, no result
// record for one, and the clone file of an earlier export is gone. The password reaches neither the log nor
// any file (the output directory lies under the device root), whether the export succeeds or fails.
TEST_F(PackagingTest, RefusedPasswordSignsNothingAndNoPasswordIsKept)
{
    const std::string secret = "Pw-7f3c9e1b-only-in-memory";
    std::string error;
    ASSERT_TRUE(clonefmt::writePasswordFile(root() + "/config/clone_password", secret, 1000, error)) << error;
    const std::string wrong = secret + "-wrong";
    const char* const refused = "Clone Process Authentication Failed";
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {wrong.c_str(), {refused}},
        // The signing library says why before the export does.
        {nullptr, {"No clone password given", refused}}};
    for (const auto& [password, errors] : cases) {
        SCOPED_TRACE(password != nullptr ? password : "(null)");
        placeExport();
        writeFile(cloneFile(out_), "clone file of an earlier export");
        writeFile(cloneFile(out_, "pclFonts"), "font clone file of an earlier export");
        clearLog();

        EXPECT_EQ(exportTo(out_, password), 1);
        EXPECT_FALSE(exists(cloneFile(out_)));
        EXPECT_FALSE(exists(cloneFile(out_, "pclFonts")));
        EXPECT_EQ(messages("ERROR"), errors);
        EXPECT_TRUE(messages("FORCEINFO").empty());
        expectExportTreeGoneAttributeListsKept();
    }
    placeExport();
    ASSERT_EQ(exportTo(out_, secret.c_str()), 0);
    placeExport();
    // cppcheck-suppress unreadVariable ; replaces the tool for as long as it lives
    ScopedTool tar(root() + "/failing", "tar", "exit 1");
    ASSERT_EQ(exportTo(out_, secret.c_str()), 1);
    EXPECT_EQ(filesContaining(root(), secret), std::vector<std::string>{});
    EXPECT_EQ(filesContaining(root(), "only-in-memory"), std::vector<std::string>{});
}

// The archive command is run from inside the export tree with exactly these arguments, the
// archive path arriving as one word.
TEST_F(PackagingTest, ArchiveCommandRunsInExportTreeWithFixedArguments)
{
    placeExport();
    const std::string record = root() + "/tar-args";
    ScopedEnv recordTo("TAR_RECORD", record);
    // cppcheck-suppress unreadVariable ; replaces the tool for as long as it lives
    ScopedTool tar(root() + "/wrap", "tar",
                   "pwd -P > \"$TAR_RECORD.cwd\"; printf '%s\\n' \"$@\" > \"$TAR_RECORD\"; "
                   "PATH=${PATH#*:} exec tar \"$@\"");
    const std::string before = currentDirectory();
    ASSERT_EQ(exportTo(out_), 0);
    EXPECT_EQ(currentDirectory(), before);
    EXPECT_EQ(lines(readFile(record)),
              (std::vector<std::string>{"-cz", "-b", "64", "-f", out_ + "/cloning.tar", "."}));
    char real[PATH_MAX];
    ASSERT_NE(::realpath(root().c_str(), real), nullptr);
    EXPECT_EQ(readFile(record + ".cwd"), std::string(real) + "/xpaths/tmp_cloningData/cloningExport\n");
}

TEST_F(PackagingTest, UnenterableExportTreeIsNotArchived)
{
    // No export tree: archiving "." would pack whatever directory the process is in.
    const std::string before = currentDirectory();
    CloneCreator creator(&out_[0]);
    creator.generateCompressedFile();
    EXPECT_TRUE(logged("ERROR", "Export tree /xpaths/tmp_cloningData/cloningExport/ cannot be entered; nothing is "
                                "archived"));
    EXPECT_FALSE(exists(out_ + "/cloning.tar"));
    EXPECT_EQ(currentDirectory(), before);
}

// The caller's directory is data: shell syntax, quotes, blanks, a line feed or format directives in
// it run nothing, and the clone file lands in exactly that directory.
TEST_F(PackagingTest, ShellSyntaxInOutputDirectoryRunsNothing)
{
    const std::string marker = root() + "/pwned";
    ScopedEnv pwned("PWNED", marker);
    const std::string dir =
        "it's x' ; touch \"$PWNED\" ; '$(touch \"$PWNED\")`touch \"$PWNED\"`a;b>c<d|e& *?  \n%s%n%d";
    placeExport();
    EXPECT_EQ(exportTo(root() + "/odd/" + dir), 0);
    EXPECT_FALSE(exists(marker)) << "a command in the directory name ran";
    EXPECT_TRUE(verifies(cloneFile(root() + "/odd/" + dir)));
    EXPECT_EQ(listDir(root() + "/odd"), std::vector<std::string>{dir});
}

// What an earlier export, a careless caller or a full disk leaves in the way: the result is 0 only
// for a clone file this call wrote; on 1 no clone file of that name and no temporary file is left.
// Once packaging began, the export tree is gone and the attribute lists are kept.
enum class InTheWay {
    EmptyDirectoryNamedLikeCloneFile, DirectoryNamedLikeCloneFile, OldCloneFileInReadOnlyDirectory,
    OverlongOutputLocation, StaleArchiveWhereArchiveCommandDoesNotFit, StaleArchiveAndFailingArchiveCommand,
    ArchiveCommandStopped, FullOutputDisk, FullStagingDisk, SerialNumberXmlCannotHold, ManifestOutsideNamespace, ManifestWithUnknownElement,
    EarlierCloneFilesAndNoManifest
};

struct InTheWayCase {
    const char* name;
    InTheWay what;
    int result;
    std::vector<std::string> errors;  // ERROR records that start so
};
CLONE_PRINT_BY_NAME(InTheWayCase)

class InTheWayTest : public PackagingTest, public ::testing::WithParamInterface<InTheWayCase> {
protected:
    std::string schemaFault(const std::string& fault) const
    {
        return "Manifest " + path(CLONE_MANIFEST_CLONE) + " does not pass its schema: " + fault + "; no clone file is made";
    }
};

TEST_P(InTheWayTest, ResultIsZeroOnlyForThisExportsCloneFile)
{
    const InTheWayCase& c = GetParam();
    std::string out = out_;
    std::unique_ptr<TmpfsMount> mount;
    std::unique_ptr<ScopedTool> tar;
    std::unique_ptr<ScopedEnv> limit;
    placeExport();
    std::string wholeError;  // an ERROR record expected whole
    switch (c.what) {
    case InTheWay::EmptyDirectoryNamedLikeCloneFile:
        makeDirs(cloneFile(out));
        break;
    case InTheWay::DirectoryNamedLikeCloneFile:
        makeDirs(cloneFile(out) + "/inside");
        break;
    case InTheWay::OldCloneFileInReadOnlyDirectory:
        out = root() + "/ro";
        mount.reset(new TmpfsMount(out, "size=1m"));
        CLONE_SKIP_UNLESS_MOUNTED(*mount);
        writeFile(cloneFile(out), "an earlier export");
        ASSERT_TRUE(mount->remountReadOnly());
        break;
    case InTheWay::OverlongOutputLocation:
        out = root() + "/" + std::string(4090 - root().size(), 'o');
        break;
    case InTheWay::StaleArchiveWhereArchiveCommandDoesNotFit: {
        // The archive's path fits a path buffer; the command around it does not.
        const std::size_t fits = 4080 - std::strlen("/cloning.tar");
        out = root() + "/deep";
        while (out.size() + 250 < fits) {
            out += "/" + std::string(240, 'd');
        }
        out += "/" + std::string(fits - out.size() - 1, 'e');
        makeDirs(out);
        makeDirs(root() + "/old");
        writeFile(root() + "/old/old", "earlier export");
        archiveTree(root() + "/old", out + "/cloning.tar");
        break;
    }
    case InTheWay::StaleArchiveAndFailingArchiveCommand:
        // An archive of an earlier export must not be signed in place of the missing one.
        archiveTree(path(CLONE_EXPORT_TREE), out + "/cloning.tar");
        tar.reset(new ScopedTool(root() + "/failing", "tar", "exit 1"));
        break;
    case InTheWay::ArchiveCommandStopped:
        limit.reset(new ScopedEnv("CLONE_COMMAND_TIME_LIMIT", "1"));
        tar.reset(new ScopedTool(root() + "/hanging", "tar", "exec sleep 30"));
        wholeError = "Archive command did not finish; " + out + "/cloning.tar is not made";
        break;
    case InTheWay::FullOutputDisk: {
        out = root() + "/small";
        mount.reset(new TmpfsMount(out, "size=64k"));
        CLONE_SKIP_UNLESS_MOUNTED(*mount);
        // Incompressible: the archive fits into the 64 KiB, the clone file beside it does not.
        std::string noise(40000, '\0');
        unsigned x = 4242;
        for (char& byte : noise) {
            byte = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
        }
        placeExport(noise);
        break;
    }
    case InTheWay::FullStagingDisk: {
        // The manifest grows past its page when the walk fills it in, on a disk with no page left.
        const std::string staging = path(CLONE_STAGING_DIR);
        mount.reset(new TmpfsMount(staging, "size=64k"));
        CLONE_SKIP_UNLESS_MOUNTED(*mount);
        placeExport();
        writeFile(path(CLONE_MANIFEST_CLONE), std::string("<?xml version=\"1.0\"?>\n" CLONE_TEST_MANIFEST_ROOT "<!--") +
                                                  std::string(3925, 'p') + "--><cloningData><version/></cloningData>"
                                                  "</CloningManifest>\n");
        ASSERT_NE(std::system(("dd if=/dev/zero of=" + quoted(staging + "fill") + " bs=4k 2>/dev/null").c_str()), 0)
            << "the disk should have filled up";
        wholeError = "Manifest " + path(CLONE_MANIFEST_CLONE) + " cannot be saved: No space left on device";
        break;
    }
    case InTheWay::SerialNumberXmlCannotHold:
        setAttribute("sysMgmt.serialNumber", "SIM\x01\xff");
        writeFile(path(CLONE_MANIFEST_CLONE), CLONE_TEST_MANIFEST_ROOT "<serialNumber/><cloningData><version/>"
                                              "</cloningData></CloningManifest>");
        break;
    // A caller's manifest that clonefile verify would refuse makes no clone file.
    case InTheWay::ManifestOutsideNamespace:
        writeFile(path(CLONE_MANIFEST_CLONE), "<CloningManifest><cloningData><version/></cloningData></CloningManifest>");
        wholeError = schemaFault("its root is not CloningManifest of http://www.clonecreator.local/ConfigManifest");
        break;
    case InTheWay::ManifestWithUnknownElement:
        writeFile(path(CLONE_MANIFEST_CLONE), CLONE_TEST_MANIFEST_ROOT "<cloningData><version/><note>data/note.txt</note>"
                                              "</cloningData></CloningManifest>");
        wholeError = schemaFault("element note is not expected in element cloningData");
        break;
    // An export that fails before packaging leaves no earlier clone file either name.
    case InTheWay::EarlierCloneFilesAndNoManifest:
        writeFile(cloneFile(out), "an earlier export");
        writeFile(cloneFile(out, "pclFonts"), "an earlier font export");
        ASSERT_EQ(::unlink(path(CLONE_MANIFEST_CLONE).c_str()), 0);
        break;
    }

    EXPECT_EQ(exportTo(out), c.result);
    if (!wholeError.empty()) {
        EXPECT_TRUE(logged("ERROR", wholeError)) << ::testing::PrintToString(messages("ERROR"));
    }
    for (const std::string& error : c.errors) {
        EXPECT_TRUE(anyError(error)) << error << " in " << ::testing::PrintToString(messages("ERROR"));
    }
    struct stat st;
    if (c.result == 0) {
        EXPECT_TRUE(verifies(cloneFile(out)));
    } else if (c.what != InTheWay::OldCloneFileInReadOnlyDirectory) {
        EXPECT_FALSE(::lstat(cloneFile(out).c_str(), &st) == 0 && S_ISREG(st.st_mode));
        EXPECT_FALSE(exists(cloneFile(out, "pclFonts")));
    }
    EXPECT_TRUE(dotFiles(out).empty()) << "a temporary file was left";
    if (c.what < InTheWay::FullStagingDisk) {
        expectExportTreeGoneAttributeListsKept();
    }
    if (c.what == InTheWay::StaleArchiveWhereArchiveCommandDoesNotFit ||
        c.what == InTheWay::StaleArchiveAndFailingArchiveCommand || c.what == InTheWay::ArchiveCommandStopped) {
        EXPECT_FALSE(exists(out + "/cloning.tar")) << "the stale archive is removed before anything can fail";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InTheWayTest,
    ::testing::Values(
        InTheWayCase{"EmptyDirectoryNamedLikeCloneFile", InTheWay::EmptyDirectoryNamedLikeCloneFile, 0, {}},
        InTheWayCase{"DirectoryNamedLikeCloneFile", InTheWay::DirectoryNamedLikeCloneFile, 1, {"Clone file "}},
        InTheWayCase{"OldCloneFileInReadOnlyDirectory", InTheWay::OldCloneFileInReadOnlyDirectory, 1, {"Clone file "}},
        // Refused, not cut: a cut path would name some other file.
        InTheWayCase{"OverlongOutputLocation", InTheWay::OverlongOutputLocation, 1,
                     {"Archive path in ", "Clone file path in "}},
        InTheWayCase{"StaleArchiveWhereArchiveCommandDoesNotFit", InTheWay::StaleArchiveWhereArchiveCommandDoesNotFit,
                     1, {"Archive command for "}},
        InTheWayCase{"StaleArchiveAndFailingArchiveCommand", InTheWay::StaleArchiveAndFailingArchiveCommand, 1,
                     {"Clone Creation Failed - file size is zero"}},
        InTheWayCase{"ArchiveCommandStopped", InTheWay::ArchiveCommandStopped, 1,
                     {"Command stopped after 1 s: tar -cz -b 64 -f "}},
        InTheWayCase{"FullOutputDisk", InTheWay::FullOutputDisk, 1,
                     {"Clone file ", "Clone Creation Failed - file size is zero"}},
        InTheWayCase{"FullStagingDisk", InTheWay::FullStagingDisk, 1, {"Manifest "}},
        InTheWayCase{"SerialNumberXmlCannotHold", InTheWay::SerialNumberXmlCannotHold, 0,
                     {"Value for serialNumber is not XML text"}},
        InTheWayCase{"ManifestOutsideNamespace", InTheWay::ManifestOutsideNamespace, 1,
                     {"Manifest "}},
        InTheWayCase{"ManifestWithUnknownElement", InTheWay::ManifestWithUnknownElement, 1,
                     {"Manifest "}},
        InTheWayCase{"EarlierCloneFilesAndNoManifest", InTheWay::EarlierCloneFilesAndNoManifest, 1,
                     {"Stub Manifest file is not created"}}),
    RowName());

}  // namespace
