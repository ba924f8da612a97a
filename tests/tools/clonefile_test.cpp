// The clonefile command as an integrator uses it: verify an export's clone file, read its manifest,
// list and unpack it safely, and provision a device's password and signing key.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "CloneFileTestUtil.h"
#include "ClonefileCommand.h"
#include "CloneMaker.h"
#include "DeviceTest.h"
#include "clone_container.h"

namespace {

using namespace clonetest;

class ClonefileTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        makeDirs(root() + "/out");
        makeDirs(root() + "/io");
    }

    CommandResult clonefile(const std::vector<std::string>& args, const std::string& input = "",
                            bool withoutRoot = false)
    {
        return runClonefile(root() + "/io/command", args, input, withoutRoot);
    }

    // A clone file signed by this device around a hand-made archive.
    std::string cloneFileOf(const std::vector<TarEntry>& entries)
    {
        std::string out = root() + "/out";
        writeGzip(out + "/made.tar", tarArchive(entries));
        EXPECT_EQ(CloneMaker().cloneHandler(&out[0], "clone", "made"), TRUE);
        return out + "/made.dlm";
    }
};

// list shows links and escapes control characters; extract keeps links that stay inside DIR, and a
// file repeated is written again, the later one winning as with tar; manifest finds none here.
TEST_F(ClonefileTest, ReadersOfAnArchiveWithLinksAndNoManifest)
{
    const std::string file = cloneFileOf({{"./data/", '5', "", ""}, {"./data/a\nb", '0', "", "older"},
                                          {"./data/a\nb", '0', "", "note"}, {"./data/same", '1', "./data/a\nb", ""},
                                          {"./latest", '2', "data/a\nb", ""}});
    const CommandResult list = clonefile({"list", file});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "./data/\n./data/a\\012b\n./data/a\\012b\n./data/same link to ./data/a\\012b\n"
                        "./latest -> data/a\\012b\n");
    const CommandResult manifest = clonefile({"manifest", file});
    EXPECT_EQ(manifest.status, 1);
    EXPECT_TRUE(manifest.out.empty());
    EXPECT_NE(manifest.err.find("no CloningManifest.xml"), std::string::npos) << manifest.err;
    const std::string dir = root() + "/unpacked";
    const CommandResult run = clonefile({"extract", file, dir});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile(dir + "/data/same"), "note");
    char target[64] = {};
    ASSERT_GT(::readlink((dir + "/latest").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "data/a\nb");
}

// A pax header that gives the member after it KEY=VALUE.
TarEntry pax(const std::string& key, const std::string& value)
{
    return {"./PaxHeaders/member", 'x', "", paxRecord(key, value)};
}

// A relative name of SIZE bytes whose every component is short enough.
std::string deepName(std::size_t size)
{
    std::string name;
    while (name.size() + 251 < size) {
        name += std::string(250, 'p') + "/";
    }
    return "./" + name + std::string(size - name.size(), 'x');
}

// With a key, a file is checked and read through one descriptor: a second open of it, which strace
// makes fail here, never comes, so nothing put in its place after the check is read.
TEST_F(ClonefileTest, CheckedAndReadThroughOneDescriptor)
{
    if (std::string(CLONEFILE_EMULATOR).empty() == false || ::access("/usr/bin/strace", X_OK) != 0) {
        GTEST_SKIP() << "needs strace and a native clonefile";
    }
    const std::string file = cloneFileOf({{"./", '5', "", ""}, {"./first.txt", '0', "", "checked"}});
    // LeakSanitizer cannot work under strace: a sanitizer build checks everything but leaks here.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string noLeakCheck =
        "ASAN_OPTIONS=" + std::string(asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") + "detect_leaks=0";
    const std::vector<std::string> secondOpenFails = {"/usr/bin/strace", "-f", "-o", "/dev/null", "-E", noLeakCheck,
                                                      "-P", file, "-e", "trace=open,openat", "-e",
                                                      "inject=open,openat:error=EACCES:when=2+"};
    for (const std::string command : {"verify", "list", "extract"}) {
        std::vector<std::string> args = {command, "--key", signingPublicKey(), file};
        if (command == "extract") {
            args.push_back(root() + "/unpacked");
        }
        const CommandResult run = runClonefile(root() + "/io/command", args, "", false, 0, secondOpenFails);
        EXPECT_EQ(run.status, 0) << command << ": " << run.err;
    }
    EXPECT_EQ(readFile(root() + "/unpacked/first.txt"), "checked");
}

// Members that would land outside DIR, or that could not all be written, are refused before
// anything at all is written (the harmless member comes first, so an empty DIR shows it).
TEST_F(ClonefileTest, HostileMembersAreRefusedWithNothingWritten)
{
    const struct {
        const char* name;
        std::vector<TarEntry> entries;
    } cases[] = {
        {"absoluteName", {{root() + "/abs/evil", '0', "", "x"}}}, {"parentName", {{"./d/../../evil", '0', "", "x"}}},
        {"symlinkAbsolute", {{"./link", '2', "/etc", ""}}}, {"symlinkEmpty", {{"./link", '2', "", ""}}},
        {"symlinkUpFromSubdir", {{"./d/", '5', "", ""}, {"./d/link", '2', "../../evil", ""}}},
        {"writeThroughOwnSymlink", {{"./sub/", '5', "", ""}, {"./link", '2', "sub", ""}, {"./link/x", '0', "", "x"}}},
        {"writeBelowOwnFile", {{"./file", '0', "", "x"}, {"./file/evil", '0', "", "x"}}},
        {"hardLinkUp", {{"./hard", '1', "../evil", ""}}}, {"hardLinkToNothing", {{"./hard", '1', "./missing", ""}}},
        {"hardLinkToItself", {{"./h", '1', "./first.txt", ""}, {"./h", '1', "./h", ""}}},
        {"fifo", {{"./fifo", '6', "", ""}}}, {"fileOverRoot", {{".", '0', "", "x"}}},
        // The file system sees a name only up to a NUL: "..\0/x" would be a link to "..".
        {"nulInLinkTarget", {pax("linkpath", std::string("..\0/x", 5)), {"./link", '2', "x", ""}}},
        {"nameTooLong", {pax("path", "./" + std::string(300, 'n')), {"./long", '0', "", "x"}}},
        {"pathTooLong", {pax("path", deepName(4090)), {"./deep", '0', "", "x"}}},
        // Longer than the library ever archives: it would not unpack into every folder.
        {"pathLongerThanACloneFileHolds", {pax("path", deepName(3074)), {"./deep", '0', "", "x"}}},
        {"linkTargetTooLong", {pax("linkpath", std::string(5000, 't')), {"./link", '2', "x", ""}}},
        // One name, two types: the later member could not be written over the earlier one.
        {"fileOverImplicitDirectory", {{"./d/x", '0', "", "x"}, {"./d", '0', "", "x"}}},
        {"directoryOverFile", {{"./f", '0', "", "x"}, {"./f/", '5', "", ""}}}};
    const std::string dir = root() + "/unpacked";
    makeDirs(dir);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TarEntry> entries = {{"./", '5', "", ""}, {"./first.txt", '0', "", "harmless"}};
        entries.insert(entries.end(), c.entries.begin(), c.entries.end());
        const CommandResult run = clonefile({"extract", cloneFileOf(entries), dir});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("refusing"), std::string::npos) << run.err;
        EXPECT_TRUE(listDir(dir).empty()) << "extraction began before the refusal";
    }
}

// What DIR already holds is checked before anything is written, and a link there is never followed.
TEST_F(ClonefileTest, ExtractChecksTheFolderFirstAndDoesNotFollowLinksThere)
{
    const std::string dir = root() + "/unpacked";
    const std::string outside = root() + "/outside";
    makeDirs(dir + "/taken");
    makeDirs(outside);
    ASSERT_EQ(::symlink(outside.c_str(), (dir + "/data").c_str()), 0);

    // A member below the link, and a file where a directory is, are refused.
    for (const TarEntry& member : {TarEntry{"./data/evil", '0', "", "x"}, TarEntry{"./taken", '0', "", "x"}}) {
        const CommandResult run = clonefile({"extract", cloneFileOf({{"./first.txt", '0', "", "x"}, member}), dir});
        EXPECT_EQ(run.status, 1) << member.name;
        EXPECT_NE(run.err.find("refusing"), std::string::npos) << run.err;
        EXPECT_FALSE(exists(dir + "/first.txt")) << member.name << ": extraction began before the refusal";
    }

    // A directory member of that name replaces the link itself, as tar does.
    const std::string replacing = cloneFileOf({{"./data/", '5', "", ""}, {"./data/evil", '0', "", "x"}});
    const CommandResult replaced = clonefile({"extract", replacing, dir});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_TRUE(listDir(outside).empty());
    struct stat st;
    ASSERT_EQ(::lstat((dir + "/data").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(readFile(dir + "/data/evil"), "x");
}

// A FIFO (or a device) where a file is expected is refused at once: reading it could wait for ever.
// info reads the header unverified, so a name with a terminal escape in it is refused, not printed.
TEST_F(ClonefileTest, FilesThatCannotBeReadSafelyAreRefusedWithoutWaiting)
{
    const std::vector<std::uint8_t> header = clonefmt::encodeHeader("clone", "x\x1b[2J", clonefmt::KeyId{}, 1);
    writeFile(root() + "/escape.dlm",
              std::string(header.begin(), header.end()) + "x" + std::string(clonefmt::kSignatureSize, '\0'));
    const std::string fifo = root() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
        {{"verify", "--key", signingPublicKey(), fifo}, "not a regular file"}, {{"info", root() + "/none.dlm"}, ""},
        {{"info", root() + "/escape.dlm"}, "malformed name field"}};
    if (exists("/dev/ptmx")) {  // its reads block
        runs.push_back({{"verify", "--key", "/dev/ptmx", cloneFileOf({{"./a", '0', "", "x"}})}, "not a regular file"});
    }
    for (const auto& r : runs) {
        const CommandResult run = runClonefile(root() + "/io/command", r.first, "", false, 10);
        EXPECT_EQ(run.status, 1) << r.first[0] << " " << r.first.back();
        EXPECT_NE(run.err.find(r.second), std::string::npos) << run.err;
    }
}

// verify holds the manifest to its schema: the elements the library writes, where it writes them,
// and nothing else. (What the library writes validates: ExportTest.)
TEST_F(ClonefileTest, VerifyValidatesTheManifest)
{
    const std::string cloning = "<CloningManifest xmlns=\"http://www.clonecreator.local/ConfigManifest\"><cloningData>";
    const std::string self = "<ConfigurationManifest xmlns=\"http://www.clonecreator.local/ConfigManifest\">";
    const std::string end = "</cloningData></CloningManifest>";
    const char* const kCloning = "./CloningManifest.xml";
    const struct {
        const char* name;
        const char* member;
        std::string xml;
        int status;
    } cases[] = {
        {"prunedToNothing", kCloning, "<?xml version=\"1.0\"?>\n", 0},
        {"unknownElement", kCloning, cloning + "<bogus>x</bogus>" + end, 1},
        {"misplacedElement", kCloning, cloning + "<templates><nvRAM>x</nvRAM></templates>" + end, 1},
        {"selfOnlyElement", kCloning, cloning + "<version>1</version></cloningData><serialNumber>S</serialNumber>"
                                                "</CloningManifest>", 1},
        {"versionWithoutNumber", kCloning,
         cloning + "<addressbooks><version><addressbookData>d</addressbookData></version></addressbooks>" + end, 1},
        {"emptyElement", kCloning, cloning + "<mailbox/>" + end, 1},
        {"repeatedElement", kCloning, cloning + "<mailbox>a</mailbox><mailbox>b</mailbox>" + end, 1},
        {"noNamespace", kCloning, "<CloningManifest><cloningData><version>1</version>" + end, 1},
        {"otherManifestsRoot", kCloning, self + "<version>1</version></ConfigurationManifest>", 1},
        {"notWellFormed", "./ConfigurationManifest.xml", self, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult run =
            clonefile({"verify", "--key", signingPublicKey(), cloneFileOf({{c.member, '0', "", c.xml}})});
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.err.find(std::string("manifest ") + (c.member + 2) + ": ") != std::string::npos, c.status != 0)
            << run.err;
    }
}

// 0 and the usage for help; 2, nothing on the standard output and a reason and the usage for misuse.
TEST_F(ClonefileTest, ExitStatusAndStreams)
{
    const std::string pub = signingPublicKey();
    const std::vector<std::string> misuse[] = {
        {}, {"sign", "x"}, {"verify", "f.dlm"}, {"verify", "--key"}, {"verify", "--key", pub},
        {"verify", "--key", pub, "a", "b"}, {"list"}, {"list", "--color", "f.dlm"}, {"extract", "f.dlm"},
        {"keygen", "--root", root()}, {"set-password", "--root", root(), "secret"},
        {"set-password", "--iterations", "0"}, {"set-password", "--iterations", "9x"},
        {"set-password", "--iterations", "-5"}};
    for (const std::vector<std::string>& args : misuse) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const CommandResult run = clonefile(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(run.err.rfind("clonefile: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("usage: clonefile COMMAND"), std::string::npos) << run.err;
    }
    for (const char* command : {"--help", "verify"}) {
        const CommandResult help = clonefile({command, "--help"});
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_NE(help.out.find("usage: clonefile"), std::string::npos) << command;
    }
    const CommandResult version = clonefile({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("clonefile ", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("libarchive"), std::string::npos) << version.out;
}

// The password comes from the standard input, without its line end; the root from --root or the
// environment. An empty password, or no root at all, keeps the old verifier.
TEST_F(ClonefileTest, SetPasswordMakesTheDeviceAcceptOnlyTheNewPassword)
{
    const std::vector<std::string> withRoot = {"set-password", "--root", root(), "--iterations", "1000"};
    const struct {
        std::vector<std::string> args;
        const char* input;
        int status;            // 2: run without CLONE_DEVICE_ROOT
        const char* error;     // in the standard error
        const char* accepted;  // the password the device takes afterwards; null: the old verifier is kept
    } cases[] = {{withRoot, "new secret pass\n", 0, "", "new secret pass"},
                 {{"set-password", "--iterations", "1000"}, "windows-pass\r\n", 0, "", "windows-pass"},
                 {withRoot, "", 1, "empty password", nullptr},
                 {withRoot, "\r\n", 1, "empty password", nullptr},
                 {{"set-password"}, "pw\n", 2, "CLONE_DEVICE_ROOT", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.input));
        const std::string before = readFile(root() + "/config/clone_password");
        const CommandResult run = clonefile(c.args, c.input, c.status == 2);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
        CloneMaker maker;
        if (c.accepted != nullptr) {
            EXPECT_EQ(maker.Process_Authentication_DLM(c.accepted), 0);
            EXPECT_NE(maker.Process_Authentication_DLM(kClonePassword), 0);
        } else {
            EXPECT_EQ(readFile(root() + "/config/clone_password"), before);
        }
    }
}

TEST_F(ClonefileTest, KeygenKeepsAnExistingKeyUnlessForced)
{
    const std::string key = root() + "/config/clone_signing_key.pem";
    const std::string before = readFile(key);
    EXPECT_EQ(clonefile({"keygen", "--root", root(), root() + "/new.pub.pem"}).status, 1);
    EXPECT_EQ(readFile(key), before);
    EXPECT_FALSE(exists(root() + "/new.pub.pem"));

    const CommandResult forced = clonefile({"keygen", "--root", root(), "--force", root() + "/new.pub.pem"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    struct stat st;
    ASSERT_EQ(::stat(key.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Clone files made from now on check against the new public key, and name it; with the old
    // key, neither verify nor a reader given it accepts them (any changed byte fails alike).
    const std::string file = cloneFileOf({{"./CloningManifest.xml", '0', "", "<?xml version=\"1.0\"?>\n"}});
    clonefmt::CloneFileInfo info;
    ASSERT_TRUE(verifiesWith(root() + "/new.pub.pem", file, &info));
    for (const char* command : {"verify", "manifest"}) {
        const CommandResult oldKey = clonefile({command, "--key", signingPublicKey(), file});
        EXPECT_EQ(oldKey.status, 1) << command;
        EXPECT_NE(oldKey.err.find("verification failed"), std::string::npos) << oldKey.err;
        EXPECT_TRUE(oldKey.out.empty()) << command;
    }
    const std::string keyId = clonefmt::hex(info.keyId.data(), info.keyId.size());
    EXPECT_NE(clonefile({"info", file}).out.find("\nkey-id: " + keyId + "\n"), std::string::npos);
}

}  // namespace
