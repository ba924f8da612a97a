// Archive and clone file packaging: the archive command, the output directory, the export tree's
// removal, authentication and the clone file's presence as the result.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>

#include "CloneCreator.h"
#include "CloneFileTestUtil.h"
#include "Handles.h"
#include "DeviceTest.h"
#include "clone_container.h"
#include "clone_io.h"
#include "clone_password.h"

namespace {

using namespace clonetest;

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string realPath(const std::string& path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : std::string();
}

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

    std::string cloneFile(const std::string& out, const std::string& name = "cloning") const
    {
        return out + "/" + name + ".dlm";
    }

    bool verifies(const std::string& file, clonefmt::CloneFileInfo* infoOut = nullptr) const
    {
        clonefmt::SigningKey key;
        clonefmt::CloneFileInfo info;
        std::string error;
        const bool ok = key.loadPublic(signingPublicKey(), error) && clonefmt::verifyCloneFile(file, key, info, error);
        if (infoOut != nullptr) {
            *infoOut = info;
        }
        return ok;
    }

    // The manifest inside OUT's archive (which the clone file wraps byte for byte) parses.
    bool manifestParses(const std::string& out, const char* manifest = "CloningManifest.xml") const
    {
        const std::string text = out + "/manifest.out";
        const std::string command = "tar -xzOf " + quoted(out + "/cloning.tar") + " ./" + manifest + " > " +
                                    quoted(text);
        if (std::system(command.c_str()) != 0) {
            return false;
        }
        const std::string xml = readFile(text);
        ::unlink(text.c_str());
        cloneutil::XmlDoc doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                            XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
        return doc != nullptr;
    }

    // A regular file named like the clone file is in OUT.
    bool cloneFileLeft(const std::string& out) const
    {
        struct stat st;
        return ::lstat(cloneFile(out).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }

    bool anyError(const std::string& prefix) const
    {
        for (const std::string& m : messages("ERROR")) {
            if (startsWith(m, prefix)) {
                return true;
            }
        }
        return false;
    }

    std::vector<std::string> dotFiles(const std::string& dir) const
    {
        std::vector<std::string> dots;
        for (const std::string& name : listDir(dir)) {
            if (name[0] == '.') {
                dots.push_back(name);
            }
        }
        return dots;
    }

    void expectExportTreeGoneAttributeListsKept() const
    {
        EXPECT_FALSE(exists(path(CLONE_EXPORT_TREE)));
        EXPECT_TRUE(exists(path(CLONE_STAGING_DIR "nvram_attr_list")));
    }

    std::string out_;
};

TEST_F(PackagingTest, ExportEndsInSignedCloneFileAndLogsItsSize)
{
    placeExport();
    ASSERT_EQ(exportTo(out_), 0);

    const std::string file = cloneFile(out_);
    clonefmt::CloneFileInfo info;
    ASSERT_TRUE(verifies(file, &info));
    EXPECT_EQ(info.cloneType, "clone");
    EXPECT_EQ(info.name, "cloning");
    EXPECT_TRUE(exists(out_ + "/cloning.tar")) << "the archive is left where it is";
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_TRUE(logged("FORCEINFO", "Clone Creation Succeeded - clone file size: " + std::to_string(st.st_size)));
    expectExportTreeGoneAttributeListsKept();
    EXPECT_TRUE(dotFiles(out_).empty());
}

TEST_F(PackagingTest, CloneFileStepLogsEntryResultAndReturnInOrder)
{
    placeExport();
    ASSERT_EQ(exportTo(out_), 0);
    std::vector<std::string> seen;
    for (const LogRecord& r : log()) {
        if (r.message == "generateCloneDLM" || startsWith(r.message, "Clone Creation")) {
            seen.push_back(r.record + " " + r.message.substr(0, 24));
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"LIBENTER generateCloneDLM", "FORCEINFO Clone Creation Succeeded",
                                              "LIBRETURN generateCloneDLM"}));
}

struct RefusedCase {
    const char* name;
    const char* password;
    std::vector<std::string> errors;  // every ERROR record, in order
};

CLONE_PRINT_BY_NAME(RefusedCase)

const char kRefused[] = "Clone Process Authentication Failed";

class RefusedPasswordTest : public PackagingTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedPasswordTest, RemovesOldCloneFileAndSignsNothing)
{
    placeExport();
    writeFile(cloneFile(out_), "clone file of an earlier export");

    EXPECT_EQ(exportTo(out_, GetParam().password), 1);
    EXPECT_FALSE(exists(cloneFile(out_)));
    // The signing step is skipped altogether: no clone file attempt, no result record for one.
    std::vector<std::string> errors = {"No cloning groups received"};  // exportTo's null group line
    errors.insert(errors.end(), GetParam().errors.begin(), GetParam().errors.end());
    EXPECT_EQ(messages("ERROR"), errors);
    EXPECT_TRUE(messages("FORCEINFO").empty());
    EXPECT_TRUE(logged("LIBRETURN", "generateCloneDLM"));
    expectExportTreeGoneAttributeListsKept();
}

INSTANTIATE_TEST_SUITE_P(Passwords, RefusedPasswordTest,
                         ::testing::Values(RefusedCase{"wrong", "not-the-password", {kRefused}},
                                           RefusedCase{"empty", "", {kRefused}},
                                           // The signing library says why before the export does.
                                           RefusedCase{"null", nullptr, {"No clone password given", kRefused}}),
                         [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST_F(PackagingTest, MissingOutputDirectoryIsCreatedWithItsParents)
{
    placeExport();
    const std::string out = root() + "/new/a/b/c";
    ASSERT_FALSE(exists(root() + "/new"));
    ASSERT_EQ(exportTo(out), 0);
    EXPECT_TRUE(verifies(cloneFile(out)));
    struct stat st;
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// The archive command is run from inside the export tree with exactly these arguments, the
// archive path arriving as one word.
TEST_F(PackagingTest, ArchiveCommandRunsInExportTreeWithFixedArguments)
{
    placeExport();
    const std::string record = root() + "/tar-args";
    ScopedEnv recordTo("TAR_RECORD", record);
    ScopedTool tar(root() + "/wrap", "tar",
                   "pwd -P > \"$TAR_RECORD.cwd\"; printf '%s\\n' \"$@\" > \"$TAR_RECORD\"; "
                   "PATH=${PATH#*:} exec tar \"$@\"");
    const std::string before = currentDirectory();
    ASSERT_EQ(exportTo(out_), 0);
    EXPECT_EQ(currentDirectory(), before);
    EXPECT_EQ(lines(readFile(record)),
              (std::vector<std::string>{"-cz", "-b", "64", "-f", out_ + "/cloning.tar", "."}));
    EXPECT_EQ(readFile(record + ".cwd"), realPath(root()) + "/xpaths/tmp_cloningData/cloningExport\n");
}

TEST_F(PackagingTest, FailingArchiveCommandStillRemovesExportTreeAndSignsNoStaleArchive)
{
    placeExport();
    // An archive of an earlier export must not be signed in place of the missing one.
    makeDirs(root() + "/old");
    writeFile(root() + "/old/data", "earlier export");
    archiveTree(root() + "/old", out_ + "/cloning.tar");
    ScopedTool tar(root() + "/failing", "tar", "exit 1");

    EXPECT_EQ(exportTo(out_), 1);
    EXPECT_TRUE(logged("INFO", "Clone file compression operation got failed"));
    EXPECT_TRUE(logged("ERROR", "Clone Creation Failed - file size is zero"));
    EXPECT_FALSE(exists(cloneFile(out_)));
    EXPECT_FALSE(exists(out_ + "/cloning.tar"));
    expectExportTreeGoneAttributeListsKept();
}

TEST_F(PackagingTest, CorruptArchiveGivesNoCloneFile)
{
    placeExport();
    // Exits 0 but writes no gzip'd tar.
    ScopedTool tar(root() + "/garbage", "tar",
                   "while [ $# -gt 0 ]; do [ \"$1\" = -f ] && echo garbage > \"$2\"; shift; done; exit 0");

    EXPECT_EQ(exportTo(out_), 1);
    EXPECT_FALSE(exists(cloneFile(out_)));
    EXPECT_TRUE(dotFiles(out_).empty());
    EXPECT_TRUE(anyError("Clone file " + cloneFile(out_) + " not written: the archive "));
    EXPECT_TRUE(logged("ERROR", "Clone Creation Failed - file size is zero"));
    expectExportTreeGoneAttributeListsKept();
}

TEST_F(PackagingTest, PclFontsNameNamesArchiveAndCloneFile)
{
    placeExport();
    CloneCreator creator(&out_[0]);
    creator.nameOfDLM = "pclFonts";
    creator.generateCompressedFile();
    std::string password = kClonePassword;
    EXPECT_EQ(creator.generateCloneDLM(&password[0], "clone"), 0);

    clonefmt::CloneFileInfo info;
    EXPECT_TRUE(verifies(cloneFile(out_, "pclFonts"), &info));
    EXPECT_EQ(info.name, "pclFonts");
    EXPECT_TRUE(exists(out_ + "/pclFonts.tar"));
    EXPECT_FALSE(exists(out_ + "/cloning.tar"));
    EXPECT_FALSE(exists(cloneFile(out_)));
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

TEST_F(PackagingTest, OverlongOutputLocationIsRefusedNotCut)
{
    placeExport();
    const std::string out = root() + "/" + std::string(4090 - root().size(), 'o');
    EXPECT_EQ(exportTo(out), 1);
    EXPECT_TRUE(anyError("Archive path in "));
    EXPECT_TRUE(anyError("Clone file path in "));
    expectExportTreeGoneAttributeListsKept();
}

struct OddDirCase {
    const char* name;
    const char* dir;
};

CLONE_PRINT_BY_NAME(OddDirCase)

class OddOutputDirTest : public PackagingTest, public ::testing::WithParamInterface<OddDirCase> {};

// The caller's directory is data: shell syntax in it runs nothing, and the clone file lands in
// exactly that directory.
TEST_P(OddOutputDirTest, ShellSyntaxInOutputDirectoryRunsNothing)
{
    placeExport();
    const std::string marker = root() + "/pwned";
    ScopedEnv pwned("PWNED", marker);
    const std::string out = root() + "/odd/" + GetParam().dir;

    EXPECT_EQ(exportTo(out), 0);
    EXPECT_FALSE(exists(marker)) << "a command in the directory name ran";
    EXPECT_TRUE(verifies(cloneFile(out)));
    EXPECT_EQ(listDir(root() + "/odd"), std::vector<std::string>{GetParam().dir});
}

INSTANTIATE_TEST_SUITE_P(
    Names, OddOutputDirTest,
    ::testing::Values(OddDirCase{"quote", "it's"}, OddDirCase{"quotes", "x' ; touch \"$PWNED\" ; '"},
                      OddDirCase{"semicolon", "a;touch \"$PWNED\";b"},
                      OddDirCase{"commandSubstitution", "$(touch \"$PWNED\")"},
                      OddDirCase{"backquotes", "`touch \"$PWNED\"`"}, OddDirCase{"blanks", "with  two spaces"},
                      OddDirCase{"glob", "star*and?"}, OddDirCase{"redirect", "a>b<c|d&"},
                      OddDirCase{"printfDirectives", "%s%n%d"}, OddDirCase{"newline", "new\nline"}),
    [](const ::testing::TestParamInfo<OddDirCase>& info) { return info.param.name; });

TEST_F(PackagingTest, FullDiskGivesCleanFailure)
{
    const std::string out = root() + "/small";
    TmpfsMount mount(out, "size=64k");
    CLONE_SKIP_UNLESS_MOUNTED(mount);
    // Incompressible: the archive fits into the 64 KiB, the clone file beside it does not.
    std::string noise;
    unsigned x = 4242;
    for (int i = 0; i < 40000; ++i) {
        x = x * 1103515245u + 12345u;
        noise += static_cast<char>(x >> 24);
    }
    placeExport(noise);

    EXPECT_EQ(exportTo(out), 1);
    EXPECT_FALSE(exists(cloneFile(out)));
    EXPECT_TRUE(dotFiles(out).empty()) << "a temporary file was left";
    EXPECT_TRUE(anyError("Clone file " + cloneFile(out) + " not written: "));
    EXPECT_TRUE(logged("ERROR", "Clone Creation Failed - file size is zero"));
    expectExportTreeGoneAttributeListsKept();
}

TEST_F(PackagingTest, ReadOnlyOutputDirectoryGivesCleanFailure)
{
    // Root ignores permission bits, so a read-only mount stands for an unwritable directory.
    const std::string out = root() + "/ro";
    TmpfsMount mount(out, "size=1m");
    CLONE_SKIP_UNLESS_MOUNTED(mount);
    ASSERT_TRUE(mount.remountReadOnly());
    placeExport();

    EXPECT_EQ(exportTo(out), 1);
    EXPECT_TRUE(logged("INFO", "Clone file compression operation got failed"));
    EXPECT_TRUE(logged("ERROR", "Clone Creation Failed - file size is zero"));
    EXPECT_TRUE(listDir(out).empty());
    expectExportTreeGoneAttributeListsKept();
}

// What an earlier export, a careless caller or a full disk leaves in the way: the result is 0 only
// for a clone file this call wrote, which verifies and holds a manifest that parses; on 1 no
// clone file of that name is left.
enum class InTheWay {
    EmptyDirectoryNamedLikeCloneFile,
    DirectoryNamedLikeCloneFile,
    OldCloneFileInReadOnlyDirectory,
    StaleArchiveWhereArchiveCommandDoesNotFit,
    FullStagingDisk,
    SerialNumberXmlCannotHold,
};

struct InTheWayCase {
    const char* name;
    InTheWay what;
    int result;
    const char* error;  // an ERROR record that starts so
};

CLONE_PRINT_BY_NAME(InTheWayCase)

class InTheWayTest : public PackagingTest, public ::testing::WithParamInterface<InTheWayCase> {};

TEST_P(InTheWayTest, ResultIsZeroOnlyForThisExportsCloneFile)
{
    const InTheWayCase& c = GetParam();
    std::string out = out_;
    std::unique_ptr<TmpfsMount> mount;
    placeExport();
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
    case InTheWay::StaleArchiveWhereArchiveCommandDoesNotFit: {
        // The archive's path fits a path buffer; the command around it does not.
        out = root() + "/deep";
        while (out.size() + 250 < 4080 - std::strlen("/cloning.tar")) {
            out += "/" + std::string(240, 'd');
        }
        out += "/" + std::string(4080 - std::strlen("/cloning.tar") - out.size() - 1, 'e');
        makeDirs(out);
        makeDirs(root() + "/old");
        writeFile(root() + "/old/old", "earlier export");
        archiveTree(root() + "/old", out + "/cloning.tar");
        break;
    }
    case InTheWay::FullStagingDisk: {
        // The manifest grows past its page when the walk fills it in, on a disk with no page left.
        const std::string staging = path(CLONE_STAGING_DIR);
        mount.reset(new TmpfsMount(staging, "size=64k"));
        CLONE_SKIP_UNLESS_MOUNTED(*mount);
        placeExport();
        writeFile(path(CLONE_MANIFEST_CLONE), "<?xml version=\"1.0\"?>\n<CloningManifest><!--" +
                                                  std::string(3980, 'p') + "--><version/><testItem>data/note.txt</testItem>"
                                                  "</CloningManifest>\n");
        ASSERT_EQ(std::system(("dd if=/dev/zero of=" + quoted(staging + "fill") + " bs=4k 2>/dev/null").c_str()) == 0,
                  false) << "the disk should have filled up";
        break;
    }
    case InTheWay::SerialNumberXmlCannotHold:
        setAttribute("sysMgmt.serialNumber", "SIM\x01\xff");
        writeFile(path(CLONE_MANIFEST_CLONE), "<CloningManifest><serialNumber/><testItem>data/note.txt</testItem>"
                                              "</CloningManifest>");
        break;
    }

    EXPECT_EQ(exportTo(out), c.result);
    if (c.error != nullptr) {
        EXPECT_TRUE(anyError(c.error)) << ::testing::PrintToString(messages("ERROR"));
    }
    if (c.result == 0) {
        EXPECT_TRUE(verifies(cloneFile(out)));
        EXPECT_TRUE(manifestParses(out));
    } else if (c.what != InTheWay::OldCloneFileInReadOnlyDirectory) {
        EXPECT_FALSE(cloneFileLeft(out));
    }
    if (c.what == InTheWay::StaleArchiveWhereArchiveCommandDoesNotFit) {
        EXPECT_FALSE(exists(out + "/cloning.tar")) << "the stale archive is removed before anything can fail";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InTheWayTest,
    ::testing::Values(
        InTheWayCase{"EmptyDirectoryNamedLikeCloneFile", InTheWay::EmptyDirectoryNamedLikeCloneFile, 0, nullptr},
        InTheWayCase{"DirectoryNamedLikeCloneFile", InTheWay::DirectoryNamedLikeCloneFile, 1, "Clone file "},
        InTheWayCase{"OldCloneFileInReadOnlyDirectory", InTheWay::OldCloneFileInReadOnlyDirectory, 1, "Clone file "},
        InTheWayCase{"StaleArchiveWhereArchiveCommandDoesNotFit", InTheWay::StaleArchiveWhereArchiveCommandDoesNotFit,
                     1, "Archive command for "},
        InTheWayCase{"FullStagingDisk", InTheWay::FullStagingDisk, 1, "Manifest "},
        InTheWayCase{"SerialNumberXmlCannotHold", InTheWay::SerialNumberXmlCannotHold, 0,
                     "Value for serialNumber is not XML text"}),
    [](const ::testing::TestParamInfo<InTheWayCase>& info) { return std::string(info.param.name); });

TEST_F(PackagingTest, PasswordNeverReachesLogOrAnyFile)
{
    const std::string secret = "Pw-7f3c9e1b-only-in-memory";
    std::string error;
    ASSERT_TRUE(clonefmt::writePasswordFile(root() + "/config/clone_password", secret, 1000, error)) << error;

    placeExport();
    ASSERT_EQ(exportTo(out_, secret.c_str()), 0);
    placeExport();
    ASSERT_EQ(exportTo(out_, (secret + "-wrong").c_str()), 1);
    placeExport();
    ScopedTool tar(root() + "/failing", "tar", "exit 1");
    ASSERT_EQ(exportTo(out_, secret.c_str()), 1);

    // The output directory lies under the device root, so this covers the clone file too.
    EXPECT_EQ(filesContaining(root(), secret), std::vector<std::string>{});
    EXPECT_EQ(filesContaining(root(), "only-in-memory"), std::vector<std::string>{});
}

}  // namespace
