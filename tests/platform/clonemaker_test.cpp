// The signing stand-in: password verification against the device's verifier file, and clone files
// that are signed, complete and appear whole or not at all.
#include <gtest/gtest.h>

#include <cctype>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "CloneFileTestUtil.h"
#include "CloneMaker.h"
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

class CloneMakerTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        out_ = root() + "/out";
        makeDirs(out_);
    }

    std::string verifierPath() const { return root() + "/config/clone_password"; }
    std::string keyPath() const { return root() + "/config/clone_signing_key.pem"; }
    std::string cloneFile(const std::string& name = "cloning") const { return out_ + "/" + name + ".dlm"; }
    std::string archive(const std::string& name = "cloning") const { return out_ + "/" + name + ".tar"; }

    int authenticate(const char* password) const
    {
        CloneMaker maker;
        return maker.Process_Authentication_DLM(password);
    }

    bool_t handle(const std::string& type = "clone", const std::string& name = "cloning", std::string out = "")
    {
        if (out.empty()) {
            out = out_;
        }
        CloneMaker maker;
        return maker.cloneHandler(&out[0], type.c_str(), name.c_str());
    }

    // A small export tree archived the way the packaging does it.
    void makeArchive(const std::string& archivePath, const std::string& manifest = "CloningManifest.xml",
                     const std::string& payload = "payload")
    {
        const std::string tree = root() + "/tree";
        makeDirs(tree + "/data");
        writeFile(tree + "/" + manifest, "<?xml version=\"1.0\"?>\n<CloningManifest/>\n");
        writeFile(tree + "/data/file", payload);
        archiveTree(tree, archivePath);
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

    // Temporary files of the atomic write start with a dot.
    std::vector<std::string> leftovers(const std::string& dir) const
    {
        std::vector<std::string> dots;
        for (const std::string& name : listDir(dir)) {
            if (name[0] == '.') {
                dots.push_back(name);
            }
        }
        return dots;
    }

    bool verifies(const std::string& file) const
    {
        clonefmt::SigningKey key;
        clonefmt::CloneFileInfo info;
        std::string error;
        return key.loadPublic(signingPublicKey(), error) && clonefmt::verifyCloneFile(file, key, info, error);
    }

    std::string out_;
};

// ---- password ----

struct PasswordCase {
    const char* name;
    const char* password;  // null: no password at all
    bool accepted;
};
CLONE_PRINT_BY_NAME(PasswordCase)

class PasswordTest : public CloneMakerTest, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(PasswordTest, OnlyTheExactPasswordIsAccepted)
{
    const PasswordCase& c = GetParam();
    const int result = authenticate(c.password);
    if (c.accepted) {
        EXPECT_EQ(result, 0);
    } else {
        EXPECT_NE(result, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Passwords, PasswordTest,
                         ::testing::Values(PasswordCase{"exact", "clone-demo", true},
                                           PasswordCase{"null", nullptr, false},
                                           PasswordCase{"empty", "", false},
                                           PasswordCase{"prefix", "clone-dem", false},
                                           PasswordCase{"trailingBlank", "clone-demo ", false},
                                           PasswordCase{"trailingNewline", "clone-demo\n", false},
                                           PasswordCase{"otherCase", "Clone-demo", false}),
                         [](const ::testing::TestParamInfo<PasswordCase>& info) { return info.param.name; });

struct VerifierCase {
    const char* name;
    // Turns the fields of a valid verifier (scheme, iterations, salt, key) into the file's content.
    std::function<std::string(const std::vector<std::string>&)> content;
    bool accepted;
};
CLONE_PRINT_BY_NAME(VerifierCase)

class VerifierTest : public CloneMakerTest, public ::testing::WithParamInterface<VerifierCase> {};

std::string join(const std::vector<std::string>& f)
{
    std::string out;
    for (std::size_t i = 0; i < f.size(); ++i) {
        out += (i ? "$" : "") + f[i];
    }
    return out;
}

std::string upper(std::string s)
{
    for (char& c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

TEST_P(VerifierTest, MalformedVerifierRefusesEveryPassword)
{
    const VerifierCase& c = GetParam();
    std::vector<std::string> fields;
    std::string line = readFile(verifierPath());
    ASSERT_EQ(line.back(), '\n');
    line.pop_back();
    for (std::size_t start = 0;;) {
        const std::size_t d = line.find('$', start);
        fields.push_back(line.substr(start, d == std::string::npos ? d : d - start));
        if (d == std::string::npos) {
            break;
        }
        start = d + 1;
    }
    ASSERT_EQ(fields.size(), 4u);
    writeFile(verifierPath(), c.content(fields));
    clearLog();

    const int result = authenticate(kClonePassword);
    if (c.accepted) {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(messages("ERROR").empty());
    } else {
        EXPECT_NE(result, 0);
        EXPECT_TRUE(anyError("Clone password verifier is malformed: ")) << "no clear record of the bad verifier";
    }
    EXPECT_EQ(readFile(path("/var/log/clone.log")).find(kClonePassword), std::string::npos);
}

using F = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(
    Verifiers, VerifierTest,
    ::testing::Values(
        VerifierCase{"valid", [](const F& f) { return join(f) + "\n"; }, true},
        VerifierCase{"noLineFeed", [](const F& f) { return join(f); }, true},
        VerifierCase{"upperCaseHex", [](const F& f) { return join({f[0], f[1], upper(f[2]), upper(f[3])}); }, true},
        VerifierCase{"empty", [](const F&) { return std::string(); }, false},
        VerifierCase{"crlf", [](const F& f) { return join(f) + "\r\n"; }, false},
        VerifierCase{"twoLines", [](const F& f) { return join(f) + "\n" + join(f) + "\n"; }, false},
        VerifierCase{"otherScheme", [](const F& f) { return join({"pbkdf2-sha1", f[1], f[2], f[3]}); }, false},
        VerifierCase{"missingField", [](const F& f) { return join({f[0], f[1], f[3]}); }, false},
        VerifierCase{"extraField", [](const F& f) { return join({f[0], f[1], f[2], f[3], "00"}); }, false},
        VerifierCase{"zeroIterations", [](const F& f) { return join({f[0], "0", f[2], f[3]}); }, false},
        VerifierCase{"negativeIterations", [](const F& f) { return join({f[0], "-1000", f[2], f[3]}); }, false},
        VerifierCase{"leadingZero", [](const F& f) { return join({f[0], "01000", f[2], f[3]}); }, false},
        VerifierCase{"hugeIterations", [](const F& f) { return join({f[0], "999999999", f[2], f[3]}); }, false},
        VerifierCase{"textIterations", [](const F& f) { return join({f[0], "many", f[2], f[3]}); }, false},
        VerifierCase{"oddSalt", [](const F& f) { return join({f[0], f[1], f[2] + "a", f[3]}); }, false},
        VerifierCase{"shortSalt", [](const F& f) { return join({f[0], f[1], "00112233", f[3]}); }, false},
        VerifierCase{"nonHexSalt", [](const F& f) { return join({f[0], f[1], "zz" + f[2].substr(2), f[3]}); }, false},
        VerifierCase{"shortKey", [](const F& f) { return join({f[0], f[1], f[2], f[3].substr(2)}); }, false},
        VerifierCase{"longKey", [](const F& f) { return join({f[0], f[1], f[2], f[3] + "00"}); }, false},
        VerifierCase{"plainPassword", [](const F&) { return std::string("clone-demo\n"); }, false}),
    [](const ::testing::TestParamInfo<VerifierCase>& info) { return info.param.name; });

TEST_F(CloneMakerTest, MissingVerifierRefusesWithClearRecord)
{
    ASSERT_EQ(::unlink(verifierPath().c_str()), 0);
    EXPECT_NE(authenticate(kClonePassword), 0);
    EXPECT_TRUE(anyError("Clone password verifier cannot be read: "));
}

TEST_F(CloneMakerTest, VerifierHoldsNeitherPasswordNorReusedSalt)
{
    const std::string first = readFile(verifierPath());
    std::string error;
    ASSERT_TRUE(clonefmt::writePasswordFile(verifierPath(), kClonePassword, 1000, error)) << error;
    const std::string second = readFile(verifierPath());
    EXPECT_EQ(first.find(kClonePassword), std::string::npos);
    EXPECT_NE(first, second) << "each verifier gets a fresh salt";
    EXPECT_EQ(authenticate(kClonePassword), 0);
    struct stat st;
    ASSERT_EQ(::stat(verifierPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// ---- clone files ----

TEST_F(CloneMakerTest, WritesSignedCloneFileHoldingTheArchiveByteForByte)
{
    makeArchive(archive());
    ASSERT_EQ(handle(), TRUE);

    ASSERT_TRUE(exists(cloneFile()));
    EXPECT_TRUE(verifies(cloneFile()));
    EXPECT_TRUE(exists(archive())) << "the archive stays where it is";
    EXPECT_TRUE(leftovers(out_).empty());

    clonefmt::UniqueFd fd(::open(cloneFile().c_str(), O_RDONLY));
    clonefmt::CloneFileInfo info;
    std::string error;
    ASSERT_TRUE(clonefmt::readCloneFileInfo(fd.get(), info, error)) << error;
    EXPECT_EQ(info.cloneType, "clone");
    EXPECT_EQ(info.name, "cloning");
    const std::string content = readFile(cloneFile());
    EXPECT_EQ(content.substr(info.archiveOffset, info.archiveSize), readFile(archive()));
    EXPECT_TRUE(messages("ERROR").empty());
}

// The layout is fixed byte for byte, whatever the host's byte order or word size.
TEST_F(CloneMakerTest, HeaderLayoutIsBigEndianAndFixed)
{
    // Enough data that the archive length needs more than one byte.
    std::string payload;
    for (int i = 0; i < 4000; ++i) {
        payload += static_cast<char>((i * 7919) % 251);
    }
    makeArchive(archive("pclFonts"), "ConfigurationManifest.xml", payload);
    ASSERT_EQ(handle("cloneSelf", "pclFonts"), TRUE);
    const std::string tar = readFile(archive("pclFonts"));
    const std::string file = readFile(cloneFile("pclFonts"));

    clonefmt::SigningKey key;
    std::string error;
    ASSERT_TRUE(key.loadPublic(signingPublicKey(), error)) << error;
    std::string expected("\x89" "CLONE\r\n" "\x00\x01" "\x00\x01", 12);
    expected.append(reinterpret_cast<const char*>(key.keyId().data()), key.keyId().size());
    expected += std::string("\x00\x09", 2) + "cloneSelf" + std::string("\x00\x08", 2) + "pclFonts";
    const unsigned long long n = tar.size();
    for (int shift = 56; shift >= 0; shift -= 8) {
        expected += static_cast<char>((n >> shift) & 0xff);
    }
    ASSERT_EQ(file.size(), expected.size() + tar.size() + 64);
    EXPECT_EQ(file.substr(0, expected.size()), expected);
    EXPECT_EQ(file.substr(expected.size(), tar.size()), tar);
}

// The documented signature can be checked with nothing but the openssl command.
TEST_F(CloneMakerTest, SignatureChecksWithOpensslAsDocumented)
{
    if (std::system("openssl version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no openssl command here";
    }
    makeArchive(archive());
    ASSERT_EQ(handle(), TRUE);
    const std::string file = readFile(cloneFile());
    const std::string dir = root() + "/ossl";
    makeDirs(dir);
    writeFile(dir + "/covered", file.substr(0, file.size() - 64));
    writeFile(dir + "/sig", file.substr(file.size() - 64));
    const std::string script = "cd " + quoted(dir) +
                               " && openssl dgst -sha512 -binary covered > digest"
                               " && { printf 'CLONEDLM-SIG-V1\\000'; cat digest; } > message"
                               " && openssl pkeyutl -verify -pubin -inkey " +
                               quoted(signingPublicKey()) + " -rawin -in message -sigfile sig >/dev/null";
    EXPECT_EQ(std::system(script.c_str()), 0);
}

TEST_F(CloneMakerTest, ReplacingAFileNeverShowsAPartOfIt)
{
    makeArchive(archive(), "CloningManifest.xml", "first");
    ASSERT_EQ(handle(), TRUE);
    const std::string before = readFile(cloneFile());
    // A reader that has the old file open keeps reading the old file whole: the new one is
    // renamed into place, never written over it.
    clonefmt::UniqueFd reader(::open(cloneFile().c_str(), O_RDONLY));
    ASSERT_TRUE(reader.valid());
    makeArchive(archive(), "CloningManifest.xml", "second, longer payload");
    ASSERT_EQ(handle(), TRUE);
    std::string seen(before.size() + 16, '\0');
    const ssize_t n = ::pread(reader.get(), &seen[0], seen.size(), 0);
    ASSERT_GE(n, 0);
    seen.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(seen, before);
    EXPECT_NE(readFile(cloneFile()), before);
    EXPECT_TRUE(verifies(cloneFile()));
    EXPECT_TRUE(leftovers(out_).empty());
}

struct KeyCase {
    const char* name;
    const char* command;  // makes the key file at $KEY; empty: no key file
};
CLONE_PRINT_BY_NAME(KeyCase)

class KeyTest : public CloneMakerTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyTest, NoUsableKeyMeansNoCloneFile)
{
    const KeyCase& c = GetParam();
    ASSERT_EQ(::unlink(keyPath().c_str()), 0);
    if (*c.command != '\0') {
        if (std::system("openssl version >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "no openssl command here";
        }
        ScopedEnv key("KEY", keyPath());
        ASSERT_EQ(std::system(c.command), 0) << c.command;
    }
    makeArchive(archive());
    writeFile(cloneFile(), "stale clone file of an earlier run");

    EXPECT_EQ(handle(), FALSE);
    EXPECT_FALSE(exists(cloneFile()));
    EXPECT_TRUE(leftovers(out_).empty());
    EXPECT_TRUE(anyError("Clone file " + cloneFile() + " not written: no signing key: ")) << log().size();
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyTest,
    ::testing::Values(KeyCase{"missing", ""},
                      KeyCase{"garbage", "echo 'not a key' > \"$KEY\""},
                      KeyCase{"publicKeyOnly", "openssl genpkey -algorithm ed25519 | openssl pkey -pubout > \"$KEY\""},
                      KeyCase{"ecKey", "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out \"$KEY\""},
                      KeyCase{"encrypted", "openssl genpkey -algorithm ed25519 -aes256 -pass pass:x -out \"$KEY\""}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

struct ArchiveCase {
    const char* name;
    // Makes the archive at the path it is given, from a valid gzip'd tar in VALID.
    std::function<void(const std::string& path, const std::string& valid)> make;
};
CLONE_PRINT_BY_NAME(ArchiveCase)

class ArchiveTest : public CloneMakerTest, public ::testing::WithParamInterface<ArchiveCase> {};

TEST_P(ArchiveTest, DamagedArchiveIsNotSigned)
{
    const std::string valid = root() + "/valid.tar";
    makeArchive(valid);
    GetParam().make(archive(), valid);
    writeFile(cloneFile(), "stale clone file of an earlier run");

    EXPECT_EQ(handle(), FALSE);
    EXPECT_FALSE(exists(cloneFile()));
    EXPECT_TRUE(leftovers(out_).empty());
    EXPECT_TRUE(anyError("Clone file " + cloneFile() + " not written: ")) << (log().empty() ? "" : log().back().message);
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ArchiveTest,
    ::testing::Values(
        ArchiveCase{"missing", [](const std::string&, const std::string&) {}},
        ArchiveCase{"directory", [](const std::string& p, const std::string&) { makeDirs(p); }},
        ArchiveCase{"empty", [](const std::string& p, const std::string&) { writeFile(p, ""); }},
        ArchiveCase{"text", [](const std::string& p, const std::string&) { writeFile(p, "hello\n"); }},
        ArchiveCase{"plainTar",
                    [](const std::string& p, const std::string&) {
                        writeFile(p, tarArchive({{"./a", '0', "", "data"}}));
                    }},
        ArchiveCase{"gzipNotTar",
                    [](const std::string& p, const std::string&) { writeGzip(p, std::string(3000, 'x')); }},
        ArchiveCase{"truncated",
                    [](const std::string& p, const std::string& v) {
                        const std::string s = readFile(v);
                        writeFile(p, s.substr(0, s.size() - 20));
                    }},
        ArchiveCase{"cutInHalf",
                    [](const std::string& p, const std::string& v) {
                        const std::string s = readFile(v);
                        writeFile(p, s.substr(0, s.size() / 2));
                    }},
        ArchiveCase{"trailingGarbage",
                    [](const std::string& p, const std::string& v) { writeFile(p, readFile(v) + "garbage"); }},
        // (A flipped bit inside the compressed data need not change what it decompresses to, e.g.
        // in the code lengths of an unused symbol; the checksum and length trailer always count.)
        ArchiveCase{"wrongCrc",
                    [](const std::string& p, const std::string& v) {
                        std::string s = readFile(v);
                        s[s.size() - 8] = static_cast<char>(s[s.size() - 8] ^ 0x10);
                        writeFile(p, s);
                    }},
        ArchiveCase{"wrongLength",
                    [](const std::string& p, const std::string& v) {
                        std::string s = readFile(v);
                        s[s.size() - 4] = static_cast<char>(s[s.size() - 4] ^ 0x01);
                        writeFile(p, s);
                    }},
        ArchiveCase{"badHeaderChecksum",
                    [](const std::string& p, const std::string&) {
                        std::string raw = tarArchive({{"./a", '0', "", "data"}});
                        raw[0] = 'b';  // name changed after the checksum was computed
                        writeGzip(p, raw);
                    }},
        ArchiveCase{"noEndMarker",
                    [](const std::string& p, const std::string&) {
                        const std::string raw = tarArchive({{"./a", '0', "", "data"}});
                        writeGzip(p, raw.substr(0, raw.size() - 1024));
                    }},
        ArchiveCase{"dataAfterEndMarker",
                    [](const std::string& p, const std::string&) {
                        writeGzip(p, tarArchive({{"./a", '0', "", "data"}}) + tarHeader({"./b", '0', "", ""}));
                    }}),
    [](const ::testing::TestParamInfo<ArchiveCase>& info) { return info.param.name; });

struct LabelCase {
    const char* name;
    std::string type;
    std::string label;
};
CLONE_PRINT_BY_NAME(LabelCase)

class LabelTest : public CloneMakerTest, public ::testing::WithParamInterface<LabelCase> {};

TEST_P(LabelTest, InvalidTypeOrNameTouchesNoFile)
{
    const LabelCase& c = GetParam();
    const std::string inner = out_ + "/inner";
    makeDirs(inner);
    makeArchive(out_ + "/x.tar");
    const auto before = listDir(out_);
    EXPECT_EQ(handle(c.type, c.label, inner), FALSE);
    EXPECT_EQ(listDir(out_), before);
    EXPECT_TRUE(listDir(inner).empty());
    EXPECT_TRUE(anyError("Clone file not written: clone type"));
}

INSTANTIATE_TEST_SUITE_P(Labels, LabelTest,
                         ::testing::Values(LabelCase{"emptyName", "clone", ""},
                                           LabelCase{"parentName", "clone", "../x"},
                                           LabelCase{"dotDot", "clone", ".."},
                                           LabelCase{"slashName", "clone", "a/b"},
                                           LabelCase{"blankName", "clone", "a b"},
                                           LabelCase{"longName", "clone", std::string(256, 'n')},
                                           LabelCase{"emptyType", "", "cloning"},
                                           LabelCase{"quoteType", "clo'ne", "cloning"}),
                         [](const ::testing::TestParamInfo<LabelCase>& info) { return info.param.name; });

TEST_F(CloneMakerTest, ReadOnlyOutputLeavesNoCloneFile)
{
    const std::string ro = root() + "/ro";
    TmpfsMount mount(ro, "size=1m");
    CLONE_SKIP_UNLESS_MOUNTED(mount);
    makeArchive(ro + "/cloning.tar");
    ASSERT_TRUE(mount.remountReadOnly());

    EXPECT_EQ(handle("clone", "cloning", ro), FALSE);
    EXPECT_FALSE(exists(ro + "/cloning.dlm"));
    EXPECT_TRUE(anyError("Clone file " + ro + "/cloning.dlm not written: "));
}

// ---- verification ----

class VerifyTest : public CloneMakerTest {
protected:
    void SetUp() override
    {
        CloneMakerTest::SetUp();
        std::string error;
        ASSERT_TRUE(key_.loadPublic(signingPublicKey(), error)) << error;
    }

    bool verifiesContent(const std::string& content)
    {
        const std::string file = root() + "/mutated.dlm";
        writeFile(file, content);
        clonefmt::CloneFileInfo info;
        std::string error;
        return clonefmt::verifyCloneFile(file, key_, info, error);
    }

    clonefmt::SigningKey key_;
};

// Every single byte of a clone file is covered: header, type, name, lengths, archive, signature.
TEST_F(VerifyTest, AnyFlippedByteFailsVerification)
{
    makeArchive(archive(), "CloningManifest.xml", "x");
    ASSERT_EQ(handle(), TRUE);
    const std::string good = readFile(cloneFile());
    ASSERT_TRUE(verifiesContent(good));
    ASSERT_LT(good.size(), 2000u) << "keep the sweep cheap";
    for (std::size_t i = 0; i < good.size(); ++i) {
        std::string bad = good;
        bad[i] = static_cast<char>(bad[i] ^ 0x01);
        EXPECT_FALSE(verifiesContent(bad)) << "byte " << i;
    }
}

TEST_F(VerifyTest, TruncatedOrExtendedFileFailsVerification)
{
    makeArchive(archive(), "CloningManifest.xml", "x");
    ASSERT_EQ(handle(), TRUE);
    const std::string good = readFile(cloneFile());
    for (std::size_t len = 0; len < good.size(); ++len) {
        EXPECT_FALSE(verifiesContent(good.substr(0, len))) << "length " << len;
    }
    EXPECT_FALSE(verifiesContent(good + '\0'));
    EXPECT_FALSE(verifiesContent(good + good));
}

TEST_F(VerifyTest, FileOfAnotherDeviceFailsVerification)
{
    makeArchive(archive());
    ASSERT_EQ(handle(), TRUE);
    std::string error;
    ASSERT_TRUE(clonefmt::generateKeyPair(root() + "/other.pem", root() + "/other.pub.pem", false, error)) << error;
    clonefmt::SigningKey other;
    ASSERT_TRUE(other.loadPublic(root() + "/other.pub.pem", error)) << error;
    clonefmt::CloneFileInfo info;
    EXPECT_FALSE(clonefmt::verifyCloneFile(cloneFile(), other, info, error));
    EXPECT_NE(error.find("signed by another key"), std::string::npos) << error;
}

}  // namespace
