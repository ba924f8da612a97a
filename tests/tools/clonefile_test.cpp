// The clonefile command as an integrator uses it: verify an export's clone file, read its manifest,
// list and unpack it safely, and provision a device's password and signing key.
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "CloneFileTestUtil.h"
#include "ClonefileCommand.h"
#include "CloneMaker.h"
#include "DeviceTest.h"
#include "ExportTest.h"
#include "JsonValue.h"
#include "clone_container.h"
#include "clone_io.h"

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

    // A clone file signed with this device's key around a hand-made archive, which the signer would
    // refuse to wrap when it is a bomb.
    std::string cloneFileOf(const std::vector<TarEntry>& entries)
    {
        const std::string out = root() + "/out";
        writeGzip(out + "/made.tar", tarArchive(entries));
        const std::string archive = readFile(out + "/made.tar");
        clonefmt::SigningKey key;
        std::string error;
        EXPECT_TRUE(key.loadPrivate(root() + "/config/clone_signing_key.pem", error)) << error;
        const std::vector<std::uint8_t> header = clonefmt::encodeHeader("clone", "made", key.keyId(), archive.size());
        const std::string covered = std::string(header.begin(), header.end()) + archive;
        clonefmt::Digest digest;
        unsigned int size = 0;
        EXPECT_EQ(EVP_Digest(covered.data(), covered.size(), digest.data(), &size, EVP_sha512(), nullptr), 1);
        clonefmt::Signature signature;
        EXPECT_TRUE(key.sign(clonefmt::signedMessage(digest), signature, error)) << error;
        writeFile(out + "/made.dlm", covered + std::string(signature.begin(), signature.end()));
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

// With --key the file is read once into a private copy, checked there and read from there: a
// rewrite of its archive in place (a share, a removable medium) never gets unsigned bytes unpacked,
// nor half a tree. "-" takes the same way from standard input.
TEST_F(ClonefileTest, OnlyCheckedBytesAreReadWhileTheFileIsRewritten)
{
    std::string payload(1u << 20, '\0');
    std::mt19937 random(39);
    for (char& c : payload) {
        c = static_cast<char>(random());
    }
    const std::string file = cloneFileOf({{"./", '5', "", ""}, {"./big", '0', "", payload}});
    const clonefmt::UniqueFd fd(::open(file.c_str(), O_WRONLY));
    ASSERT_TRUE(fd.valid());
    const off_t middle = static_cast<off_t>(readFile(file).size() / 2);
    const char original = readFile(file)[static_cast<std::size_t>(middle)];
    std::atomic<bool> stop(false);
    std::thread rewriter([&] {
        for (char c = static_cast<char>(original ^ 1); !stop; c = static_cast<char>(c ^ 1)) {
            (void)::pwrite(fd.get(), &c, 1, middle);
        }
    });
    const std::string dir = root() + "/unpacked";
    int unpacked = 0;
    for (int run = 0; run < 30; ++run) {
        const CommandResult r = clonefile({"extract", "--key", signingPublicKey(), file, dir});
        EXPECT_EQ(exists(dir), r.status == 0) << r.err;
        if (r.status == 0) {
            ++unpacked;
            EXPECT_TRUE(readFile(dir + "/big") == payload) << "unsigned bytes unpacked";
        }
        std::filesystem::remove_all(dir);
    }
    stop = true;
    rewriter.join();
    ASSERT_EQ(::pwrite(fd.get(), &original, 1, middle), 1);
    const CommandResult piped = clonefile({"extract", "--key", signingPublicKey(), "-", dir}, readFile(file));
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(readFile(dir + "/big") == payload);
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
        {"directoryOverFile", {{"./f", '0', "", "x"}, {"./f/", '5', "", ""}}},
        // A member stated at 1 GiB, beyond 200 times the archive's size plus 64 MiB: refused at its
        // header, before any of its data is decompressed (here there is none).
        {"gzipBomb", {pax("size", "1073741824"), {"./zeros", '0', "", "z"}}},
        // One stored byte standing for a terabyte.
        {"sparseTerabyte",
         {{"./PaxHeaders/big", 'x', "",
           paxRecord("GNU.sparse.major", "1") + paxRecord("GNU.sparse.minor", "0") +
               paxRecord("GNU.sparse.name", "./big") + paxRecord("GNU.sparse.realsize", "1099511627776")},
          {"./GNUSparseFile.0/big", '0', "", "1\n1099511627775\n1\n" + std::string(494, '\0') + "x"}}}};
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

// A manifest is held to its schema by every command given --key (verify refuses it, so do the rest:
// nothing unpacked, diff "trouble"), and one that could expand (a DTD, entities) or is beyond the
// limits is refused by every command, with a key or without, before any parser sees it.
TEST_F(ClonefileTest, EveryCommandHoldsTheManifestToItsSchemaAndLimits)
{
    const std::string cloning = "<CloningManifest xmlns=\"http://www.clonecreator.local/ConfigManifest\"><cloningData>";
    const std::string self = "<ConfigurationManifest xmlns=\"http://www.clonecreator.local/ConfigManifest\">";
    const std::string end = "</cloningData></CloningManifest>";
    const auto repeated = [](const std::string& part, std::size_t times) {
        std::string out;
        for (std::size_t i = 0; i < times; ++i) {
            out += part;
        }
        return out;
    };
    std::string attributes;
    for (int i = 0; i < 17; ++i) {
        attributes += " a" + std::to_string(i) + "=\"v\"";
    }
    const char* const kCloning = "./CloningManifest.xml";
    enum Verdict { Valid, Invalid, Refused };  // Refused: also without --key
    const struct {
        const char* name;
        const char* member;
        std::string xml;
        Verdict verdict;
    } cases[] = {
        {"prunedToNothing", kCloning, "<?xml version=\"1.0\"?>\n", Valid},
        {"predefinedAndCharacterReferences", kCloning, cloning + "<mailbox>a&amp;b&#65;&lt;</mailbox>" + end, Valid},
        {"unknownElement", kCloning, cloning + "<bogus>x</bogus>" + end, Invalid},
        {"misplacedElement", kCloning, cloning + "<templates><nvRAM>x</nvRAM></templates>" + end, Invalid},
        {"selfOnlyElement", kCloning, cloning + "<version>1</version></cloningData><serialNumber>S</serialNumber>"
                                                "</CloningManifest>", Invalid},
        {"versionWithoutNumber", kCloning,
         cloning + "<addressbooks><version><addressbookData>d</addressbookData></version></addressbooks>" + end,
         Invalid},
        {"emptyElement", kCloning, cloning + "<mailbox/>" + end, Invalid},
        {"repeatedElement", kCloning, cloning + "<mailbox>a</mailbox><mailbox>b</mailbox>" + end, Invalid},
        {"noNamespace", kCloning, "<CloningManifest><cloningData><version>1</version>" + end, Invalid},
        {"otherManifestsRoot", kCloning, self + "<version>1</version></ConfigurationManifest>", Invalid},
        {"notWellFormed", "./ConfigurationManifest.xml", self, Invalid},
        // 50,000 characters 200,000 times: gigabytes wherever the reference is expanded.
        {"quadraticEntity", kCloning,
         "<!DOCTYPE CloningManifest [<!ENTITY e \"" + std::string(50000, 'x') + "\">]>" + cloning + "<nvRAM>" +
             repeated("&e;", 200000) + "</nvRAM>" + end,
         Refused},
        {"externalEntity", kCloning,
         "<!DOCTYPE CloningManifest [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>" + cloning + "<nvRAM>&e;</nvRAM>" + end,
         Refused},
        {"undeclaredEntityInAttribute", kCloning, cloning + "<version number=\"&e;\">1</version>" + end, Refused},
        {"tooManyElements", kCloning, cloning + repeated("<a/>", 10001) + end, Refused},
        {"tooManyAttributes", kCloning, cloning + "<version" + attributes + ">1</version>" + end, Refused},
        {"tooDeep", kCloning, cloning + repeated("<a>", 64) + repeated("</a>", 64) + end, Refused},
        {"textTooLong", kCloning, cloning + "<nvRAM>" + std::string(65537, 't') + "</nvRAM>" + end, Refused},
        {"tooLarge", kCloning, cloning + "<!--" + std::string(1u << 20, '-') + "-->" + end, Refused}};
    const std::string key = signingPublicKey();
    const std::string dir = root() + "/unpacked";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = cloneFileOf({{c.member, '0', "", c.xml}});
        const int refused = c.verdict == Valid ? 0 : 1;
        const std::vector<std::pair<std::vector<std::string>, int>> runs = {
            {{"verify", "--key", key, file}, refused}, {{"manifest", "-k", key, file}, refused},
            {{"list", "--key", key, file}, refused}, {{"extract", "--key", key, file, dir}, refused},
            {{"show", "--key", key, file}, refused}, {{"diff", "--key", key, file, file}, 2 * refused},
            {{"show", "--json", file}, c.verdict == Refused ? 1 : 0}, {{"diff", file, file}, c.verdict == Refused ? 2 : 0},
            {{"manifest", file}, c.verdict == Refused ? 1 : 0}};
        for (const auto& r : runs) {
            const CommandResult run = runClonefile(root() + "/io/command", r.first, "", false, 10);
            EXPECT_EQ(run.status, r.second) << r.first[0] << " " << r.first[1] << ": " << run.err;
            EXPECT_EQ(run.err.find(std::string("manifest ") + (c.member + 2)) != std::string::npos, r.second != 0)
                << r.first[0] << " " << r.first[1] << ": " << run.err;
        }
        EXPECT_EQ(exists(dir), c.verdict == Valid) << "unpacked though refused";
        std::filesystem::remove_all(dir);
    }
}

// 0 and the usage for help (1 when it cannot be written); 2, nothing on the standard output and a reason and
// the usage for misuse.
TEST_F(ClonefileTest, ExitStatusAndStreams)
{
    const std::string pub = signingPublicKey();
    const std::vector<std::string> misuse[] = {
        {}, {"sign", "x"}, {"verify", "f.dlm"}, {"verify", "--key"}, {"verify", "--key", pub},
        {"verify", "--key", pub, "a", "b"}, {"list"}, {"list", "--color", "f.dlm"}, {"extract", "f.dlm"},
        {"keygen", "--root", root()}, {"set-password", "--root", root(), "secret"},
        {"set-password", "--iterations", "0"}, {"set-password", "--iterations", "9x"},
        {"set-password", "--iterations", "-5"}, {"show"}, {"show", "-c", "a.dlm"}, {"list", "-k"}, {"show", "a.dlm", "b.dlm"}, {"show", "--content", "a.dlm"},
        {"diff", "a.dlm"}, {"diff", "a.dlm", "b.dlm", "c.dlm"}, {"diff", "--json=yes", "a.dlm", "b.dlm"}};
    for (const std::vector<std::string>& args : misuse) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const CommandResult run = clonefile(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(run.err.rfind("clonefile: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("usage: clonefile COMMAND"), std::string::npos) << run.err;
    }
    // Each command's own help, by either name of the option.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"verify", "--help"}, {"show", "-h"}, {"diff", "a.dlm", "-h"}}) {
        const CommandResult help = clonefile(args);
        EXPECT_EQ(help.status, 0) << args[0];
        EXPECT_EQ(help.out.rfind("usage: clonefile " + (args.size() > 1 ? args[0] + " " : std::string("COMMAND")), 0),
                  0u) << help.out;
    }
    const CommandResult version = clonefile({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("clonefile ", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("libarchive"), std::string::npos) << version.out;
    // Text that could not be written is a failure, not a success.
    const std::vector<std::string> toFull = {"/bin/sh", "-c", "exec \"$0\" \"$@\" > /dev/full"};
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"verify", "--help"}, {"--version"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(runClonefile(root() + "/io/command", args, "", false, 0, toFull).status, 1);
    }
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
    EXPECT_EQ(JsonValue::parse(clonefile({"info", "-j", file}).out)["keyId"].str(), keyId);
}

}  // namespace

namespace {

using namespace clonetest;

// A self-signed EC certificate for COMMONNAME, valid from FROMDAYS to TODAYS around now, in PEM.
std::string certificatePem(const std::string& commonName, long fromDays, long toDays)
{
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    const std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!key || !cert || !bio) {
        return "";
    }
    X509_NAME* name = X509_get_subject_name(cert.get());
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), toDays * 86400);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    char* data = nullptr;
    if (X509_set_issuer_name(cert.get(), name) != 1 || X509_set_pubkey(cert.get(), key.get()) != 1 ||
        X509_sign(cert.get(), key.get(), EVP_sha256()) == 0 || PEM_write_bio_X509(bio.get(), cert.get()) != 1) {
        return "";
    }
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

const JsonValue* findBy(const JsonValue& array, const char* key, const std::string& value)
{
    for (const JsonValue& item : array.items()) {
        if (item[key].str() == value) {
            return &item;
        }
    }
    return nullptr;
}

std::set<std::string> namesIn(const JsonValue& array, const char* key = "name")
{
    std::set<std::string> names;
    for (const JsonValue& item : array.items()) {
        names.insert(item[key].str());
    }
    return names;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class ClonefileInspectTest : public ClonefileTest {
protected:
    CommandResult diff(const std::vector<std::string>& options, const std::string& a, const std::string& b)
    {
        std::vector<std::string> args = {"diff"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(a);
        args.push_back(b);
        return clonefile(args);
    }
    // A clone file holding the text member data/t.txt.
    std::string textCloneFile(const std::string& name, const std::string& text)
    {
        const std::string file = cloneFileOf({{"./", '5', "", ""}, {"./data/t.txt", '0', "", text}});
        const std::string kept = root() + "/out/" + name + ".dlm";
        std::rename(file.c_str(), kept.c_str());
        return kept;
    }
};

// Lines added and removed as diff(1) counts them, and with --content the unified diff itself:
// hunks with three lines of context, joined when the changes are at most six lines apart.
TEST_F(ClonefileInspectTest, DiffOfATextMemberCountsAndShowsTheChangedLines)
{
    std::string twenty;
    for (int i = 1; i <= 20; ++i) {
        twenty += "l" + std::to_string(i) + "\n";
    }
    const auto edited = [&twenty](std::initializer_list<int> lines) {
        std::string text = twenty;
        for (int n : lines) {
            const std::string line = "l" + std::to_string(n) + "\n";
            text.replace(text.find("\n" + line) + 1, line.size(), "L" + std::to_string(n) + "\n");
        }
        return text;
    };
    const struct {
        const char* name;
        std::string before;
        std::string after;
        int added;
        int removed;
        std::string unified;  // after the two header lines
    } cases[] = {
        {"valueChanged", "a\nb\nc\n", "a\nB\nc\n", 1, 1, "@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n"},
        {"appendedWithoutLineEnd", "a\n", "a\nb", 1, 0, "@@ -1,1 +1,2 @@\n a\n+b\n\\ No newline at end of file\n"},
        {"lastLineEndRemoved", "a\nb\n", "a\nb", 1, 1, "@@ -1,2 +1,2 @@\n a\n-b\n+b\n\\ No newline at end of file\n"},
        {"fromEmpty", "", "x\ny\n", 2, 0, "@@ -0,0 +1,2 @@\n+x\n+y\n"},
        {"allRemoved", "x\ny\n", "", 0, 2, "@@ -1,2 +0,0 @@\n-x\n-y\n"},
        {"lineMoved", "a\nb\nc\n", "b\nc\na\n", 1, 1, "@@ -1,3 +1,3 @@\n-a\n b\n c\n+a\n"},
        {"oneLineBecomesTwo", "a\nb\nc\n", "a\nX\nY\nc\n", 2, 1, "@@ -1,3 +1,4 @@\n a\n-b\n+X\n+Y\n c\n"},
        {"twoHunks", twenty, edited({2, 18}), 2, 2,
         "@@ -1,5 +1,5 @@\n l1\n-l2\n+L2\n l3\n l4\n l5\n@@ -15,6 +15,6 @@\n l15\n l16\n l17\n-l18\n+L18\n l19\n l20\n"},
        {"changesSixLinesApartJoin", twenty, edited({2, 9}), 2, 2,
         "@@ -1,12 +1,12 @@\n l1\n-l2\n+L2\n l3\n l4\n l5\n l6\n l7\n l8\n-l9\n+L9\n l10\n l11\n l12\n"},
        {"controlCharactersEscapedTabsKept", "k\tv\n", "k\tv\x1b[2J\n", 1, 1, "@@ -1,1 +1,1 @@\n-k\tv\n+k\tv\\033[2J\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string a = textCloneFile("a", c.before);
        const std::string b = textCloneFile("b", c.after);
        const CommandResult json = diff({"--json", "--content"}, a, b);
        ASSERT_EQ(json.status, 1) << json.err;
        const JsonValue changed = JsonValue::parse(json.out)["members"]["changed"];
        ASSERT_EQ(changed.size(), 1u);
        EXPECT_EQ(changed[0]["name"].str(), "data/t.txt");
        EXPECT_EQ(changed[0]["lines"]["added"].number(), c.added);
        EXPECT_EQ(changed[0]["lines"]["removed"].number(), c.removed);
        EXPECT_TRUE(changed[0]["lines"]["exact"].boolean());
        EXPECT_EQ(changed[0]["diff"].str(), "--- a/data/t.txt\n+++ b/data/t.txt\n" + c.unified);
        const CommandResult human = diff({"--content"}, a, b);
        EXPECT_EQ(human.status, 1);
        EXPECT_TRUE(contains(human.out, "\n+++ b/data/t.txt\n" + c.unified)) << human.out;
        EXPECT_EQ(human.out.find('\x1b'), std::string::npos);
    }
}

// Content is shown only when asked, and only for text up to 1 MiB; a binary change has no line
// counts. The sizes and digests are always there.
TEST_F(ClonefileInspectTest, DiffShowsContentOnlyWhenAskedAndWithinItsLimit)
{
    const std::string big(1100 * 1024, 'x');
    std::string manyA;
    std::string manyB;
    for (int i = 0; i < 15000; ++i) {
        manyA += "a" + std::to_string(i) + "\n";
        manyB += "b" + std::to_string(i) + "\n";
    }
    const struct {
        const char* name;
        std::string before;
        std::string after;
        int added;  // -1: not counted
        int removed;
        bool exact;
        const char* omitted;
    } cases[] = {{"secretLine", "password=old-secret\n", "password=new-secret\n", 1, 1, true, nullptr},
                 {"binary", std::string("a\0b", 3), std::string("a\0c", 3), -1, -1, false, "binary"},
                 {"tooLarge", big + "\n", big + "y\n", 1, 1, true, "too large"},
                 // Beyond 20,000 edits lines are counted, not aligned: moved lines would not count.
                 {"tooManyChanges", manyA, "new\n" + manyB, 15001, 15000, false, "too many changes"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string a = textCloneFile("a", c.before);
        const std::string b = textCloneFile("b", c.after);
        const CommandResult plain = diff({}, a, b);
        EXPECT_EQ(plain.status, 1) << plain.err;
        EXPECT_FALSE(contains(plain.out, "secret")) << plain.out;
        EXPECT_TRUE(contains(plain.out, "~ data/t.txt")) << plain.out;
        const JsonValue json = JsonValue::parse(diff({"--json", "--content"}, a, b).out);
        const JsonValue& m = json["members"]["changed"][0];
        EXPECT_EQ(m["a"]["size"].number(), static_cast<std::int64_t>(c.before.size()));
        EXPECT_EQ(m["b"]["size"].number(), static_cast<std::int64_t>(c.after.size()));
        EXPECT_EQ(m["a"]["sha256"].str().size(), 64u);
        EXPECT_NE(m["a"]["sha256"].str(), m["b"]["sha256"].str());
        EXPECT_EQ(m["lines"].isNull(), c.added < 0);
        if (c.added >= 0) {
            EXPECT_EQ(m["lines"]["added"].number(), c.added);
            EXPECT_EQ(m["lines"]["removed"].number(), c.removed);
            EXPECT_EQ(m["lines"]["exact"].boolean(), c.exact);
        }
        if (c.omitted != nullptr) {
            EXPECT_TRUE(m["diff"].isNull());
            EXPECT_EQ(m["diffOmitted"].str(), c.omitted);
        } else {
            EXPECT_TRUE(contains(m["diff"].str(), "+password=new-secret\n"));
        }
        EXPECT_FALSE(JsonValue::parse(diff({"--json"}, a, b).out)["members"]["changed"][0].has("diff"));
    }
    // A member added or removed is shown against nothing.
    const std::string removing = textCloneFile("a", "old\n");
    const CommandResult moved = diff({"-c"}, removing, cloneFileOf({{"./data/n.txt", '0', "", "new\n"}}));
    EXPECT_TRUE(contains(moved.out, "--- /dev/null\n+++ b/data/n.txt\n@@ -0,0 +1,1 @@\n+new\n")) << moved.out;
    EXPECT_TRUE(contains(moved.out, "--- a/data/t.txt\n+++ /dev/null\n@@ -1,1 +0,0 @@\n-old\n")) << moved.out;
}

// Names, values, link targets and certificate fields from a clone file never reach the output raw:
// control characters (C0, C1) and bytes that are not UTF-8 are escaped, and JSON gives them back
// exactly. An element naming what the archive lacks is marked missing, and a link list's certificate
// that the clone file does not carry is said to be so.
TEST_F(ClonefileInspectTest, ShowEscapesHostileNamesAndMarksWhatIsMissing)
{
    const std::string evilName = "data/evil\x1b]0;owned\x07\x9b" "2J.pem";
    const std::string evilValue = "data/c1\xc2\x9b" "31m/";
    const std::string manifest = "<?xml version=\"1.0\"?>\n<CloningManifest><cloningData>"
                                 "<nvRAM>" + evilValue + "</nvRAM><mailbox>data/absent</mailbox><qtm>data/q</qtm>"
                                 "<domainCertificates>data/domainCertificates/domainCertificates.ln</domainCertificates>"
                                 "</cloningData></CloningManifest>\n";
    // Domain lists end their entries with nothing: the next target begins right after a name.
    const std::string list = "/xpaths/nc_var_etc/ssl/domain/a.pem,/xpaths/nc_var_etc/ssl/certstore/Name \x1b[1mA"
                             "/xpaths/nc_var_etc/ssl/domain/gone.pem,/xpaths/nc_var_etc/ssl/certstore/Gone";
    const std::string file = cloneFileOf(
        {{"./CloningManifest.xml", '0', "", manifest}, {"./" + evilValue + "x", '0', "", "1\n"},
         {"./data/q", '0', "", "no line end\nat the end"},
         {"./data/domainCertificates/domainCertificates.ln", '0', "", list},
         {"./data/domainCertificates/a.pem", '0', "", certificatePem("A\x1b[5m", -1, 100)},
         {"./" + evilName, '0', "", certificatePem("Expired\xc2\x9b", -100, -2)},
         {"./data/link\x1b", '2', "../x\x1b[0m", ""}});
    const CommandResult human = clonefile({"show", file});
    ASSERT_EQ(human.status, 0) << human.err;
    for (const char* raw : {"\x1b", "\x07", "\xc2\x9b"}) {
        EXPECT_FALSE(contains(human.out, raw)) << ::testing::PrintToString(raw);
    }
    EXPECT_EQ(human.out.find('\x9b'), std::string::npos);
    // The arrow follows the tool's locale (checked under LC_ALL=C elsewhere); an emulator may lack
    // the target's UTF-8 locale.
    const std::string arrow = contains(human.out, " \u2192 ") ? "\u2192" : "->";
    for (const std::string& shown : std::initializer_list<std::string>{"nvRAM: data/c1\\302\\23331m/  (folder, 1 file, 2 bytes)",
                              "mailbox: data/absent  (MISSING: not in the archive)",
                              "qtm: data/q  (text, 2 lines, 22 bytes)",
                              "Name \\033[1mA " + arrow + " /xpaths/nc_var_etc/ssl/domain/a.pem  (data/domainCertificates/a.pem)",
                              "Gone " + arrow + " /xpaths/nc_var_etc/ssl/domain/gone.pem  (certificate not in this clone file)",
                              "data/evil\\033]0;owned\\007\\2332J.pem  EXPIRED",
                              "data/link\\033  (symlink to ../x\\033[0m)",
                              "1 element names what the archive lacks", "1 certificate expired"}) {
        EXPECT_TRUE(contains(human.out, shown)) << shown << "\n" << human.out;
    }
    const CommandResult json = clonefile({"show", "--json", file});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out.find_first_of("\x1b\x07\x9b"), std::string::npos);
    const JsonValue v = JsonValue::parse(json.out);
    EXPECT_EQ(v["attention"]["expired"].number(), 1);
    EXPECT_EQ(v["attention"]["missing"].number(), 1);
    EXPECT_EQ(v["manifest"]["schema"].str(), "invalid");
    const JsonValue* evil = findBy(v["certificates"], "member", evilName);
    ASSERT_NE(evil, nullptr);
    EXPECT_EQ((*evil)["status"].str(), "expired");
    EXPECT_LT((*evil)["daysLeft"].number(), 0);
    EXPECT_EQ((*evil)["subject"].str(), "CN=Expired\xc2\x9b");
    const JsonValue* nvram = findBy(v["elements"], "name", "nvRAM");
    ASSERT_NE(nvram, nullptr);
    EXPECT_EQ((*nvram)["text"].str(), evilValue);
    const JsonValue& links = (*findBy(v["elements"], "name", "domainCertificates"))["holds"]["links"];
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0]["name"].str(), "Name \x1b[1mA");
    EXPECT_EQ(links[0]["member"].str(), "data/domainCertificates/a.pem");
    EXPECT_TRUE(links[1]["member"].isNull());
    EXPECT_EQ(namesIn(v["unnamed"]), (std::set<std::string>{evilName, "data/link\x1b"}));
    const std::string hostile = root() + "/out/hostile.dlm";
    ASSERT_EQ(std::rename(file.c_str(), hostile.c_str()), 0);
    const CommandResult changed = diff({}, hostile, cloneFileOf({{"./" + evilName, '0', "", "x"}}));
    EXPECT_EQ(changed.status, 1);
    EXPECT_EQ(changed.out.find_first_of("\x1b\x07\x9b"), std::string::npos) << changed.out;
}

// diff: 0 the same, 1 different, 2 trouble (usage, a file that cannot be read or verified, an
// output that cannot be written); the others: 0, 1 for a failed check or write, 2 for usage. A
// closed pipe ends any command quietly, by SIGPIPE as GNU tools end.
TEST_F(ClonefileInspectTest, ExitStatuses)
{
    const std::string a = textCloneFile("a", "one\n");
    const std::string b = textCloneFile("b", "two\n");
    const std::string damaged = root() + "/out/damaged.dlm";
    std::string bytes = readFile(a);
    bytes[bytes.size() / 2] ^= 1;
    writeFile(damaged, bytes);
    // More than a pipe holds, so the writer meets the closed end.
    const std::string large = cloneFileOf({{"./CloningManifest.xml", '0', "", "<a><!--" + std::string(300000, 'x')}});
    makeDirs(root() + "/other");
    ASSERT_EQ(clonefile({"keygen", "--root", root() + "/other", root() + "/other/key.pub.pem"}).status, 0);
    const std::string key = signingPublicKey();
    const std::string otherKey = root() + "/other/key.pub.pem";
    enum Out { Kept, Full, ClosedPipe };
    const std::vector<std::string> wrappers[] = {
        {}, {"/bin/sh", "-c", "exec \"$0\" \"$@\" > /dev/full"},
        {"/bin/sh", "-c", "(\"$0\" \"$@\"; echo \"status $?\" >&2) | true"}};
    const struct {
        std::vector<std::string> args;
        int status;
        Out out;
    } cases[] = {
        {{"diff", a, a}, 0, Kept},
        {{"diff", "--key", key, a, b}, 1, Kept},
        {{"diff", "--json", a, b}, 1, Kept},
        {{"diff", "--key", otherKey, a, b}, 2, Kept},
        {{"diff", a, damaged}, 2, Kept},
        {{"diff", a, root() + "/none.dlm"}, 2, Kept},
        {{"diff", a}, 2, Kept},
        {{"diff", a, b}, 2, Full},
        {{"show", "--key", key, a}, 0, Kept},
        {{"show", "--key", otherKey, a}, 1, Kept},
        {{"show", damaged}, 1, Kept},
        {{"show", "--json", a}, 1, Full},
        {{"show", a, b}, 2, Kept},
        {{"info", a}, 1, Full},
        {{"verify", "--key", key, a}, 1, Full},
        {{"list", a}, 1, Full},
        {{"manifest", large}, 1, Full},
        {{"manifest", large}, 141, ClosedPipe},
        {{"show", "--json", large}, 141, ClosedPipe},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args) + " " + std::to_string(c.out));
        const CommandResult run = runClonefile(root() + "/io/command", c.args, "", false, 10, wrappers[c.out]);
        if (c.out == ClosedPipe) {
            EXPECT_EQ(run.err, "status 141\n");
            continue;
        }
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.err.empty(), c.status == 0 || (c.status == 1 && c.args[0] == "diff")) << run.err;
        EXPECT_TRUE(c.args[0] != "diff" || c.status != 0 || run.out.empty()) << "diff(1) prints nothing";
    }
}

// Exports of the sample device: one as it is, one after a change to the device.
class ClonefileExportDiffTest : public ExportTest {
protected:
    static constexpr const char* kGroups =
        "SCAN_GROUP NETWORK_GROUP SECURITY_GROUP ACCOUNTING_GROUP PRINT_GROUP CLONE_TO_SELF_GROUP ";

    std::string exportOf(const std::string& name)
    {
        const std::string out = root() + "/" + name;
        makeDirs(out);
        EXPECT_EQ(exportTo(out, kGroups), 0);
        return out + "/cloning.dlm";
    }

    // A certificate in the trusted folder and a store link to it, as the device keeps them.
    void addTrustedCertificate(const std::string& file, const std::string& friendlyName, long fromDays, long toDays)
    {
        writeFile(path("/xpaths/nc_var_etc/ssl/trusted/" + file), certificatePem(friendlyName, fromDays, toDays));
        const std::string link = path("/xpaths/nc_var_etc/ssl/certstore/" + friendlyName);
        ASSERT_EQ(::symlink(("/xpaths/nc_var_etc/ssl/trusted/" + file).c_str(), link.c_str()), 0);
    }

    CommandResult run(const std::vector<std::string>& args) const { return clonefile(args); }
};

// show of the sample device's export: every element with what it holds, checked against the
// members themselves; the link lists resolved; the certificates; what no element names.
TEST_F(ClonefileExportDiffTest, ShowOfTheSampleDeviceExport)
{
    const std::string file = exportOf("out");
    const CommandResult json = run({"show", "--json", "--key", signingPublicKey(), file});
    ASSERT_EQ(json.status, 0) << json.err;
    const JsonValue v = JsonValue::parse(json.out);
    EXPECT_EQ(v["cloneType"].str(), "cloneSelf");
    EXPECT_EQ(v["name"].str(), "cloning");
    EXPECT_EQ(v["signature"].str(), "valid");
    EXPECT_TRUE(v["verified"].boolean());
    EXPECT_EQ(v["manifest"]["member"].str(), "ConfigurationManifest.xml");
    EXPECT_EQ(v["manifest"]["schema"].str(), "valid");
    EXPECT_EQ(v["fileSize"].number(), static_cast<std::int64_t>(readFile(file).size()));
    const std::string tree = root() + "/unpacked";
    ASSERT_EQ(run({"extract", file, tree}).status, 0);
    std::uint64_t files = 0;
    for (const JsonValue& e : v["elements"].items()) {
        const JsonValue& holds = e["holds"];
        if (holds.isNull()) {
            continue;
        }
        SCOPED_TRACE(e["path"].str());
        const std::string named = tree + "/" + e["text"].str();
        EXPECT_NE(holds["kind"].str(), "missing");
        if (holds["kind"].str() == "folder") {
            std::uint64_t count = 0;
            std::uint64_t bytes = 0;
            for (const auto& f : std::filesystem::recursive_directory_iterator(named)) {
                count += f.is_regular_file() ? 1 : 0;
                bytes += f.is_regular_file() ? f.file_size() : 0;
            }
            EXPECT_EQ(holds["files"].number(), static_cast<std::int64_t>(count));
            EXPECT_EQ(holds["bytes"].number(), static_cast<std::int64_t>(bytes));
            ++files;
        } else if (holds["kind"].str() == "text") {
            EXPECT_EQ(holds["bytes"].number(), static_cast<std::int64_t>(readFile(named).size()));
            EXPECT_EQ(holds["lines"].number(), static_cast<std::int64_t>(lines(readFile(named)).size()));
            ++files;
        }
    }
    EXPECT_GE(files, 30u);
    const JsonValue* list = findBy(v["elements"], "name", "rootCertificates");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(namesIn((*list)["holds"]["links"]), (std::set<std::string>{"Partner CA", "Demo Root CA"}));
    const JsonValue* partner = findBy((*list)["holds"]["links"], "name", "Partner CA");
    EXPECT_EQ((*partner)["target"].str(), "/xpaths/nc_var_etc/ssl/trusted/partnerCA.pem");
    EXPECT_EQ((*partner)["member"].str(), "data/ipSec/trusted/partnerCA.pem");
    EXPECT_EQ(namesIn(v["certificates"], "member"),
              (std::set<std::string>{"data/addressBook/email_certs/alice.pem", "data/addressBook/email_certs/bob.pem",
                                     "data/domainCertificates/deviceDomain.pem", "data/domainCertificates/domainCA.pem",
                                     "data/ipSec/trusted/demoRootCA.pem", "data/ipSec/trusted/partnerCA.pem",
                                     "data/wirelessCertificates/wirelessClient.pem"}));
    const JsonValue* partnerCert = findBy(v["certificates"], "member", "data/ipSec/trusted/partnerCA.pem");
    EXPECT_EQ((*partnerCert)["subject"].str(), "CN=Partner CA,O=Partner Services");
    EXPECT_EQ((*partnerCert)["status"].str(), "valid");
    EXPECT_GT((*partnerCert)["daysLeft"].number(), 3000);
    EXPECT_EQ((*partnerCert)["namedBy"][0].str(), "rootCertificates: Partner CA");
    EXPECT_EQ(namesIn(v["unnamed"]), (std::set<std::string>{"data/cloneStorage/NVM.xml",
                                                             "data/cloneStorage/clone_install_requires_reboot"}));
    // list and verify write the fields show writes under the same names.
    const JsonValue listed = JsonValue::parse(run({"list", "-j", file}).out);
    EXPECT_EQ(listed["members"].number(), v["members"].number());
    const JsonValue verified = JsonValue::parse(run({"verify", "-k", signingPublicKey(), "--json", file}).out);
    EXPECT_EQ(verified["manifest"]["member"].str(), v["manifest"]["member"].str());
    EXPECT_TRUE(verified["verified"].boolean());
    // Plain ASCII where the locale does not say UTF-8.
    const CommandResult human = runClonefile(root() + "/human", {"show", "--key", signingPublicKey(), file}, "", false,
                                             0, {"/usr/bin/env", "LC_ALL=C"});
    ASSERT_EQ(human.status, 0) << human.err;
    for (const std::string& shown : std::vector<std::string>
         {"signature    valid\n", "attention    nothing expired or missing\n",
          "      configServer: data/cloneStorage/cfg_clone  (text, " +
              std::to_string(lines(readFile(tree + "/data/cloneStorage/cfg_clone")).size()) + " lines, ",
          "        Partner CA -> /xpaths/nc_var_etc/ssl/trusted/partnerCA.pem  (data/ipSec/trusted/partnerCA.pem)\n",
          "      version number=\"1.0.0\"\n", "\nnot named by the manifest (2)\n"}) {
        EXPECT_TRUE(contains(human.out, shown)) << shown << "\n" << human.out;
    }
}

// One change to the device between two exports, and what diff and show make of it.
struct DeviceChange {
    const char* name;
    std::function<void(ClonefileExportDiffTest&)> apply;
    std::set<std::string> added, removed, changed;  // members
    std::set<std::string> elementsOnlyInA;
    std::string lineChange;  // "MEMBER +ADDED -REMOVED", for one changed text member
    std::string content;     // in diff --content
    std::string certificate; // in show of the second export: "MEMBER STATUS"
};
CLONE_PRINT_BY_NAME(DeviceChange)

class ClonefileDeviceChangeTest : public ClonefileExportDiffTest,
                                  public ::testing::WithParamInterface<DeviceChange> {
public:
    void addCertificate(const std::string& file, const std::string& name, long from, long to)
    {
        addTrustedCertificate(file, name, from, to);
    }
    void attribute(const std::string& name, const std::string& value) { setAttribute(name, value); }
    std::string devicePath(const std::string& p) { return path(p); }
};

TEST_P(ClonefileDeviceChangeTest, DiffAndShowSayWhatChanged)
{
    const DeviceChange& c = GetParam();
    const std::string before = exportOf("before");
    c.apply(*this);
    const std::string after = exportOf("after");
    const CommandResult json = run({"diff", "--json", "--key", signingPublicKey(), before, after});
    ASSERT_EQ(json.status, 1) << json.err << json.out;
    const JsonValue v = JsonValue::parse(json.out);
    EXPECT_FALSE(v["same"].boolean());
    EXPECT_EQ(namesIn(v["members"]["added"]), c.added);
    EXPECT_EQ(namesIn(v["members"]["removed"]), c.removed);
    EXPECT_EQ(namesIn(v["members"]["changed"]), c.changed);
    EXPECT_EQ(namesIn(v["elements"]["onlyInA"], "path"), c.elementsOnlyInA);
    EXPECT_EQ(v["elements"]["onlyInB"].size(), 0u);
    if (!c.lineChange.empty()) {
        const std::string member = c.lineChange.substr(0, c.lineChange.find(' '));
        const JsonValue* m = findBy(v["members"]["changed"], "name", member);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(member + " +" + std::to_string((*m)["lines"]["added"].number()) + " -" +
                      std::to_string((*m)["lines"]["removed"].number()),
                  c.lineChange);
    }
    const CommandResult human = run({"diff", "--content", before, after});
    EXPECT_EQ(human.status, 1) << human.err;
    EXPECT_TRUE(contains(human.out, c.content)) << human.out;
    for (const std::string& m : c.changed) {
        EXPECT_TRUE(contains(human.out, "\n  ~ " + m + "  (")) << m;
    }
    if (!c.certificate.empty()) {
        const JsonValue show = JsonValue::parse(run({"show", "--json", after}).out);
        const std::string member = c.certificate.substr(0, c.certificate.find(' '));
        const JsonValue* cert = findBy(show["certificates"], "member", member);
        ASSERT_NE(cert, nullptr);
        EXPECT_EQ(member + " " + (*cert)["status"].str(), c.certificate);
        EXPECT_EQ(show["attention"][(*cert)["status"].str() == "valid" ? "expired" : (*cert)["status"].str().c_str()]
                      .number(),
                  (*cert)["status"].str() == "valid" ? 0 : 1);
    }
    EXPECT_EQ(run({"diff", after, after}).status, 0);
}

const std::string kTrusted = "data/ipSec/trusted/";
const std::string kRootList = "data/rootCertificates/rootCertificates.ln";

INSTANTIATE_TEST_SUITE_P(
    Rows, ClonefileDeviceChangeTest,
    ::testing::Values(
        DeviceChange{"attributeValueChanged",
                     [](ClonefileExportDiffTest& t) {
                         static_cast<ClonefileDeviceChangeTest&>(t).attribute("scan.defaults.resolution", "600");
                     },
                     {}, {}, {"data/cloneStorage/cfg_clone", "data/cloneStorage/cfg_cloneself"}, {},
                     "data/cloneStorage/cfg_clone +1 -1",
                     "-set scan.defaults.resolution=300\n+set scan.defaults.resolution=600\n", ""},
        DeviceChange{"certificateAdded",
                     [](ClonefileExportDiffTest& t) {
                         static_cast<ClonefileDeviceChangeTest&>(t).addCertificate("newCA.pem", "New CA", -1, 400);
                     },
                     {kTrusted + "newCA.pem"}, {}, {kRootList}, {}, kRootList + " +1 -0",
                     "+/xpaths/nc_var_etc/ssl/trusted/newCA.pem,/xpaths/nc_var_etc/ssl/certstore/New CA\n",
                     kTrusted + "newCA.pem valid"},
        DeviceChange{"expiredCertificateAdded",
                     [](ClonefileExportDiffTest& t) {
                         static_cast<ClonefileDeviceChangeTest&>(t).addCertificate("oldCA.pem", "Old CA", -400, -3);
                     },
                     {kTrusted + "oldCA.pem"}, {}, {kRootList}, {}, kRootList + " +1 -0", "Old CA",
                     kTrusted + "oldCA.pem expired"},
        DeviceChange{"expiringCertificateAdded",
                     [](ClonefileExportDiffTest& t) {
                         static_cast<ClonefileDeviceChangeTest&>(t).addCertificate("soonCA.pem", "Soon CA", -300, 10);
                     },
                     {kTrusted + "soonCA.pem"}, {}, {kRootList}, {}, kRootList + " +1 -0", "Soon CA",
                     kTrusted + "soonCA.pem expiring"},
        DeviceChange{"templateRemoved",
                     [](ClonefileExportDiffTest& t) {
                         const std::string dir =
                             static_cast<ClonefileDeviceChangeTest&>(t).devicePath("/xpaths/temp/template/pool/s2home");
                         std::filesystem::remove_all(dir);
                     },
                     {}, {"data/s2HomeTemplate", "data/s2HomeTemplate/s2home", "data/s2HomeTemplate/s2home/ScanToHome.xst"},
                     {"ConfigurationManifest.xml"}, {"ConfigurationManifest/cloningData/templates/scanToHome"},
                     "ConfigurationManifest.xml +0 -1", "-      <scanToHome>data/s2HomeTemplate/</scanToHome>\n", ""}),
    RowName());

}  // namespace
