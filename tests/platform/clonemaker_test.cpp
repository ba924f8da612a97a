// The signing stand-in: password verification against the device's verifier file, and clone files
// that are signed, complete and appear whole or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sstream>
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
    bool verifies(const std::string& file) const { return verifiesWith(signingPublicKey(), file); }

    int authenticate(const char* password) const { return CloneMaker().Process_Authentication_DLM(password); }

    bool_t handle(const std::string& type = "clone", const std::string& name = "cloning", std::string out = "")
    {
        out = out.empty() ? out_ : out;
        return CloneMaker().cloneHandler(&out[0], type.c_str(), name.c_str());
    }

    // A small export tree archived the way the packaging does it.
    void makeArchive(const std::string& archivePath, const std::string& payload = "payload")
    {
        const std::string tree = root() + "/tree";
        makeDirs(tree + "/data");
        writeFile(tree + "/CloningManifest.xml", "<?xml version=\"1.0\"?>\n<CloningManifest/>\n");
        writeFile(tree + "/data/file", payload);
        archiveTree(tree, archivePath);
    }

    std::string out_;
};

using F = std::vector<std::string>;

// A verifier that is missing or malformed in any field refuses every password, with a clear
// record; the password itself is never logged.
TEST_F(CloneMakerTest, MalformedOrMissingVerifierRefusesEveryPassword)
{
    F f;
    std::istringstream fields(lines(readFile(verifierPath()))[0]);
    for (std::string field; std::getline(fields, field, '$');) {
        f.push_back(field);
    }
    ASSERT_EQ(f.size(), 4u);  // scheme, iterations, salt, key
    const auto join = [](const F& fs) {
        std::string out = fs[0];
        for (std::size_t i = 1; i < fs.size(); ++i) {
            out += "$" + fs[i];
        }
        return out;
    };
    const auto upper = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
        return s;
    };
    const char* const kMalformed = "Clone password verifier is malformed: ";
    const struct {
        const char* name;
        std::string content;  // "<no file>": none
        const char* error;    // the start of the ERROR record; null: the password is accepted
    } verifiers[] = {
        {"valid", join(f) + "\n", nullptr},
        {"noLineFeed", join(f), nullptr},
        {"upperCaseHex", join({f[0], f[1], upper(f[2]), upper(f[3])}), nullptr},
        {"missing", "<no file>", "Clone password verifier cannot be read: "},
        {"empty", "", kMalformed},
        {"crlf", join(f) + "\r\n", kMalformed},
        {"twoLines", join(f) + "\n" + join(f) + "\n", kMalformed},
        {"otherScheme", join({"pbkdf2-sha1", f[1], f[2], f[3]}), kMalformed},
        {"missingField", join({f[0], f[1], f[3]}), kMalformed},
        {"extraField", join({f[0], f[1], f[2], f[3], "00"}), kMalformed},
        {"zeroIterations", join({f[0], "0", f[2], f[3]}), kMalformed},
        {"leadingZero", join({f[0], "01000", f[2], f[3]}), kMalformed},
        {"hugeIterations", join({f[0], "999999999", f[2], f[3]}), kMalformed},
        {"textIterations", join({f[0], "many", f[2], f[3]}), kMalformed},
        {"oddSalt", join({f[0], f[1], f[2] + "a", f[3]}), kMalformed},
        {"shortSalt", join({f[0], f[1], "00112233", f[3]}), kMalformed},
        {"nonHexSalt", join({f[0], f[1], "zz" + f[2].substr(2), f[3]}), kMalformed},
        {"shortKey", join({f[0], f[1], f[2], f[3].substr(2)}), kMalformed},
        {"longKey", join({f[0], f[1], f[2], f[3] + "00"}), kMalformed},
        {"plainPassword", "clone-demo\n", kMalformed}};
    for (const auto& v : verifiers) {
        SCOPED_TRACE(v.name);
        ::unlink(verifierPath().c_str());
        if (v.content != "<no file>") {
            writeFile(verifierPath(), v.content);
        }
        clearLog();
        EXPECT_EQ(authenticate(kClonePassword) == 0, v.error == nullptr);
        EXPECT_EQ(anyError(v.error != nullptr ? v.error : ""), v.error != nullptr);
        EXPECT_EQ(readFile(path("/var/log/clone.log")).find(kClonePassword), std::string::npos);
    }
}

// Only the exact password is accepted; the verifier (mode 0600) holds a fresh salt each time it is
// written, and never the password.
TEST_F(CloneMakerTest, OnlyTheExactPasswordIsAcceptedByAFreshVerifier)
{
    const std::string first = readFile(verifierPath());
    std::string error;
    ASSERT_TRUE(clonefmt::writePasswordFile(verifierPath(), kClonePassword, 1000, error)) << error;
    EXPECT_EQ(first.find(kClonePassword), std::string::npos);
    EXPECT_NE(first, readFile(verifierPath()));
    EXPECT_EQ(authenticate(kClonePassword), 0);
    for (const char* wrong : {static_cast<const char*>(nullptr), "", "clone-dem", "clone-demo ", "clone-demo\n",
                              "Clone-demo"}) {
        EXPECT_NE(authenticate(wrong), 0) << (wrong != nullptr ? wrong : "(null)");
    }
    struct stat st;
    ASSERT_EQ(::stat(verifierPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The layout is fixed byte for byte, whatever the host's byte order or word size; the archive is
// carried unchanged and stays where it is; the signature checks as documented.
TEST_F(CloneMakerTest, WritesSignedCloneFileInTheFixedLayout)
{
    // Enough data that the archive length needs more than one byte.
    std::string payload;
    for (int i = 0; i < 4000; ++i) {
        payload += static_cast<char>((i * 7919) % 251);
    }
    makeArchive(archive("pclFonts"), payload);
    ASSERT_EQ(handle("cloneSelf", "pclFonts"), TRUE);
    EXPECT_TRUE(verifies(cloneFile("pclFonts")));
    EXPECT_TRUE(dotFiles(out_).empty());
    EXPECT_TRUE(messages("ERROR").empty());

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

    // The documented signature can be checked with nothing but the openssl command.
    if (std::system("openssl version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no openssl command here";
    }
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
    makeArchive(archive(), "first");
    ASSERT_EQ(handle(), TRUE);
    const std::string before = readFile(cloneFile());
    // A reader that has the old file open keeps reading the old file whole: the new one is
    // renamed into place, never written over it.
    clonefmt::UniqueFd reader(::open(cloneFile().c_str(), O_RDONLY));
    ASSERT_TRUE(reader.valid());
    makeArchive(archive(), "second, longer payload");
    ASSERT_EQ(handle(), TRUE);
    std::string seen(before.size() + 16, '\0');
    const ssize_t n = ::pread(reader.get(), &seen[0], seen.size(), 0);
    ASSERT_GE(n, 0);
    seen.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(seen, before);
    EXPECT_NE(readFile(cloneFile()), before);
    EXPECT_TRUE(verifies(cloneFile()));
    EXPECT_TRUE(dotFiles(out_).empty());
}

// Flips one bit of the byte AT (counted from the end when negative).
std::string flipped(std::string s, long at, char bit)
{
    const std::size_t i = at < 0 ? s.size() - static_cast<std::size_t>(-at) : static_cast<std::size_t>(at);
    s[i] = static_cast<char>(s[i] ^ bit);
    return s;
}

// No usable key or a damaged archive: FALSE, a reason, and no clone file (not even an old one).
TEST_F(CloneMakerTest, NothingSignableMeansNoCloneFile)
{
    using P = const std::string&;
    const bool openssl = std::system("openssl version >/dev/null 2>&1") == 0;
    const std::string raw = tarArchive({{"./a", '0', "", "data"}});
    const struct {
        const char* name;
        const char* key;  // shell command making the key at $KEY; null: the device's own key
        // Makes the archive at P from the valid gzip'd tar V.
        std::function<void(P p, P v)> make;
    } cases[] = {
        {"missing", nullptr, [](P, P) {}},
        {"directory", nullptr, [](P p, P) { makeDirs(p); }},
        {"empty", nullptr, [](P p, P) { writeFile(p, ""); }},
        {"text", nullptr, [](P p, P) { writeFile(p, "hello\n"); }},
        {"plainTar", nullptr, [&](P p, P) { writeFile(p, raw); }},
        {"gzipNotTar", nullptr, [](P p, P) { writeGzip(p, std::string(3000, 'x')); }},
        {"truncated", nullptr, [](P p, P v) { writeFile(p, v.substr(0, v.size() - 20)); }},
        {"trailingGarbage", nullptr, [](P p, P v) { writeFile(p, v + "garbage"); }},
        // (A flipped bit inside the compressed data need not change what it decompresses to; the
        // checksum and length trailer always count.)
        {"wrongCrc", nullptr, [](P p, P v) { writeFile(p, flipped(v, -8, 0x10)); }},
        {"wrongLength", nullptr, [](P p, P v) { writeFile(p, flipped(v, -4, 0x01)); }},
        // The name changed after the checksum was computed.
        {"badHeaderChecksum", nullptr, [&](P p, P) { writeGzip(p, flipped(raw, 0, 0x03)); }},
        {"noEndMarker", nullptr, [&](P p, P) { writeGzip(p, raw.substr(0, raw.size() - 1024)); }},
        {"dataAfterEndMarker", nullptr, [&](P p, P) { writeGzip(p, raw + tarHeader({"./b", '0', "", ""})); }},
        // The device's key goes last: every row from here on replaces it.
        {"keyMissing", "", nullptr},
        {"keyGarbage", "echo 'not a key' > \"$KEY\"", nullptr},
        {"publicKeyOnly", "openssl genpkey -algorithm ed25519 | openssl pkey -pubout > \"$KEY\"", nullptr},
        {"ecKey", "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out \"$KEY\"", nullptr},
        {"encryptedKey", "openssl genpkey -algorithm ed25519 -aes256 -pass pass:x -out \"$KEY\"", nullptr}};
    makeArchive(root() + "/valid.tar");
    const std::string valid = readFile(root() + "/valid.tar");
    ScopedEnv keyEnv("KEY", keyPath());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.key != nullptr && std::strncmp(c.key, "openssl", 7) == 0 && !openssl) {
            continue;
        }
        ASSERT_EQ(std::system(("rm -rf " + quoted(archive())).c_str()), 0);
        if (c.key == nullptr) {
            c.make(archive(), valid);
        } else {
            writeFile(archive(), valid);
            ::unlink(keyPath().c_str());
            ASSERT_TRUE(*c.key == '\0' || std::system(c.key) == 0);
        }
        writeFile(cloneFile(), "stale clone file of an earlier run");
        clearLog();

        EXPECT_EQ(handle(), FALSE);
        EXPECT_FALSE(exists(cloneFile()));
        EXPECT_TRUE(dotFiles(out_).empty());
        EXPECT_TRUE(anyError("Clone file " + cloneFile() + " not written: " + (c.key != nullptr ? "no signing key: " : "")));
    }
}

TEST_F(CloneMakerTest, InvalidTypeOrNameTouchesNoFile)
{
    const std::string inner = out_ + "/inner";
    makeDirs(inner);
    makeArchive(out_ + "/x.tar");
    const auto before = listDir(out_);
    const std::pair<std::string, std::string> labels[] = {
        {"clone", ""},    {"clone", "../x"}, {"clone", ".."}, {"clone", "a/b"}, {"clone", "a b"},
        {"clone", std::string(256, 'n')}, {"", "cloning"}, {"clo'ne", "cloning"}};
    for (const auto& [type, name] : labels) {
        clearLog();
        EXPECT_EQ(handle(type, name, inner), FALSE) << type << " " << name;
        EXPECT_TRUE(anyError("Clone file not written: clone type")) << type << " " << name;
    }
    EXPECT_EQ(listDir(out_), before);
    EXPECT_TRUE(listDir(inner).empty());
}

// Every single byte of a clone file is covered (header, type, name, lengths, archive, signature),
// and so is its length; a file of another device's key fails too.
TEST_F(CloneMakerTest, AnyChangedFileFailsVerification)
{
    makeArchive(archive(), "x");
    ASSERT_EQ(handle(), TRUE);
    clonefmt::SigningKey key;
    std::string error;
    ASSERT_TRUE(key.loadPublic(signingPublicKey(), error)) << error;
    const std::string mutated = root() + "/mutated.dlm";
    auto verifiesContent = [&](const std::string& content) {
        writeFile(mutated, content);
        clonefmt::CloneFileInfo info;
        return clonefmt::verifyCloneFile(mutated, key, info, error);
    };
    const std::string good = readFile(cloneFile());
    ASSERT_TRUE(verifiesContent(good));
    ASSERT_LT(good.size(), 2000u) << "keep the sweep cheap";
    for (std::size_t i = 0; i < good.size(); ++i) {
        EXPECT_FALSE(verifiesContent(flipped(good, static_cast<long>(i), 0x01))) << "byte " << i;
        EXPECT_FALSE(verifiesContent(good.substr(0, i))) << "length " << i;
    }
    EXPECT_FALSE(verifiesContent(good + '\0'));
    EXPECT_FALSE(verifiesContent(good + good));

    ASSERT_TRUE(clonefmt::generateKeyPair(root() + "/other.pem", root() + "/other.pub.pem", false, error)) << error;
    clonefmt::SigningKey other;
    ASSERT_TRUE(other.loadPublic(root() + "/other.pub.pem", error)) << error;
    clonefmt::CloneFileInfo info;
    EXPECT_FALSE(clonefmt::verifyCloneFile(cloneFile(), other, info, error));
    EXPECT_NE(error.find("signed by another key"), std::string::npos) << error;
}

}  // namespace
