// The signing stand-in: password verification against the device's verifier file, and clone files
// that are signed, complete and appear whole or not at all.
#include <gtest/gtest.h>

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

class CloneMakerTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        out_ = root() + "/out";
        makeDirs(out_);
    }

    std::string verifierPath() const { return root() + "/config/clone_password"; }
    std::string cloneFile(const std::string& name = "cloning") const { return out_ + "/" + name + ".dlm"; }
    std::string archive(const std::string& name = "cloning") const { return out_ + "/" + name + ".tar"; }

    int authenticate(const char* password) const { return CloneMaker().Process_Authentication_DLM(password); }

    bool_t handle(const std::string& type = "clone", const std::string& name = "cloning")
    {
        std::string out = out_;
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

// Only the exact password is accepted, and only through a well-formed verifier, which (mode 0600)
// holds a fresh salt each time it is written; the log never holds the password.
TEST_F(CloneMakerTest, OnlyAWellFormedVerifierAcceptsOnlyTheExactPassword)
{
    const std::string first = readFile(verifierPath());
    std::string error;
    ASSERT_TRUE(clonefmt::writePasswordFile(verifierPath(), kClonePassword, 1000, error)) << error;
    EXPECT_NE(first, readFile(verifierPath()));
    struct stat st;
    ASSERT_EQ(::stat(verifierPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    for (const char* wrong : {"", "clone-dem", "clone-demo ", "Clone-demo"}) {
        EXPECT_NE(authenticate(wrong), 0) << wrong;
    }

    // The fixture's verifier, one field spoiled at a time.
    ASSERT_EQ(first.rfind("pbkdf2-sha256$1000$", 0), 0u) << first;
    const std::string fromSalt = first.substr(first.find("$1000$") + 5);
    const char* const kMalformed = "Clone password verifier is malformed: ";
    const struct {
        std::string content;  // "<no file>": none
        const char* error;    // the start of the ERROR record; null: the password is accepted
    } verifiers[] = {{first, nullptr},
                     {"<no file>", "Clone password verifier cannot be read: "},
                     {"pbkdf2-sha1$1000" + fromSalt, kMalformed},
                     {"pbkdf2-sha256$999999999" + fromSalt, kMalformed},
                     {first.substr(0, first.size() - 3) + "\n", kMalformed},
                     {"clone-demo\n", kMalformed}};
    for (const auto& v : verifiers) {
        SCOPED_TRACE(v.content);
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

// The layout is fixed byte for byte, whatever the host's byte order or word size; the archive is
// carried unchanged; the signature checks with nothing but the openssl command.
TEST_F(CloneMakerTest, WritesSignedCloneFileInTheFixedLayout)
{
    std::string payload;  // enough that the archive length needs more than one byte
    for (int i = 0; i < 4000; ++i) {
        payload += static_cast<char>((i * 7919) % 251);
    }
    makeArchive(archive("pclFonts"), payload);
    ASSERT_EQ(handle("cloneSelf", "pclFonts"), TRUE);
    EXPECT_TRUE(dotFiles(out_).empty());

    const std::string tar = readFile(archive("pclFonts"));
    const std::string file = readFile(cloneFile("pclFonts"));
    clonefmt::SigningKey key;
    std::string error;
    ASSERT_TRUE(key.loadPublic(signingPublicKey(), error)) << error;
    std::string expected("\x89" "CLONE\r\n" "\x00\x01" "\x00\x01", 12);
    expected.append(reinterpret_cast<const char*>(key.keyId().data()), key.keyId().size());
    expected += std::string("\x00\x09", 2) + "cloneSelf" + std::string("\x00\x08", 2) + "pclFonts";
    for (int shift = 56; shift >= 0; shift -= 8) {
        expected += static_cast<char>((static_cast<unsigned long long>(tar.size()) >> shift) & 0xff);
    }
    ASSERT_EQ(file.size(), expected.size() + tar.size() + 64);
    EXPECT_EQ(file.substr(0, expected.size()), expected);
    EXPECT_EQ(file.substr(expected.size(), tar.size()), tar);

    if (std::system("openssl version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no openssl command here";
    }
    const std::string dir = root() + "/ossl";
    makeDirs(dir);
    writeFile(dir + "/covered", file.substr(0, file.size() - 64));
    writeFile(dir + "/sig", file.substr(file.size() - 64));
    EXPECT_EQ(std::system(("cd " + quoted(dir) + " && openssl dgst -sha512 -binary covered > digest"
                           " && { printf 'CLONEDLM-SIG-V1\\000'; cat digest; } > message"
                           " && openssl pkeyutl -verify -pubin -inkey " + quoted(signingPublicKey()) +
                           " -rawin -in message -sigfile sig >/dev/null").c_str()), 0);
}

// A reader that has the old file open keeps reading the old file whole: the new one is renamed
// into place, never written over it.
TEST_F(CloneMakerTest, ReplacingAFileNeverShowsAPartOfIt)
{
    makeArchive(archive(), "first");
    ASSERT_EQ(handle(), TRUE);
    const std::string before = readFile(cloneFile());
    clonefmt::UniqueFd reader(::open(cloneFile().c_str(), O_RDONLY));
    ASSERT_TRUE(reader.valid());
    makeArchive(archive(), "second, longer payload");
    ASSERT_EQ(handle(), TRUE);
    std::string seen(before.size() + 16, '\0');
    const ssize_t n = ::pread(reader.get(), &seen[0], seen.size(), 0);
    seen.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    EXPECT_EQ(seen, before);
    EXPECT_NE(readFile(cloneFile()), before);
}

// Flips one bit of the byte AT (counted from the end when negative).
std::string flipped(std::string s, long at, char bit)
{
    const std::size_t i = at < 0 ? s.size() - static_cast<std::size_t>(-at) : static_cast<std::size_t>(at);
    s[i] = static_cast<char>(s[i] ^ bit);
    return s;
}

// No signing key or an archive that is not one complete gzip-compressed tar archive: FALSE, a
// reason, and no clone file (not even an old one).
TEST_F(CloneMakerTest, NothingSignableMeansNoCloneFile)
{
    using P = const std::string&;
    const std::string raw = tarArchive({{"./a", '0', "", "data"}});
    const struct {
        const char* name;
        std::function<void(P p, P v)> make;  // makes the archive at P from the valid gzip'd tar V
    } cases[] = {
        {"plainTar", [&](P p, P) { writeFile(p, raw); }},
        {"gzipNotTar", [](P p, P) { writeGzip(p, std::string(3000, 'x')); }},
        {"truncated", [](P p, P v) { writeFile(p, v.substr(0, v.size() - 20)); }},
        {"trailingGarbage", [](P p, P v) { writeFile(p, v + "garbage"); }},
        // (A flipped bit inside the compressed data need not change what it decompresses to; the
        // checksum and length trailer always count.)
        {"wrongCrc", [](P p, P v) { writeFile(p, flipped(v, -8, 0x10)); }},
        {"wrongLength", [](P p, P v) { writeFile(p, flipped(v, -4, 0x01)); }},
        {"noEndMarker", [&](P p, P) { writeGzip(p, raw.substr(0, raw.size() - 1024)); }},
        {"dataAfterEndMarker", [&](P p, P) { writeGzip(p, raw + raw); }},
        // Last: it takes the device's key away.
        {"noSigningKey", [&](P p, P v) { writeFile(p, v); ::unlink(path("/config/clone_signing_key.pem").c_str()); }}};
    makeArchive(root() + "/valid.tar");
    const std::string valid = readFile(root() + "/valid.tar");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(archive().c_str());
        c.make(archive(), valid);
        writeFile(cloneFile(), "stale clone file of an earlier run");
        clearLog();

        EXPECT_EQ(handle(), FALSE);
        EXPECT_FALSE(exists(cloneFile()));
        EXPECT_TRUE(dotFiles(out_).empty());
        EXPECT_TRUE(anyError("Clone file " + cloneFile() + " not written: " +
                             (c.name == std::string("noSigningKey") ? "no signing key: " : "")));
    }
}

// Every single byte of a clone file is covered (header, type, name, lengths, archive, signature),
// and so is its length.
TEST_F(CloneMakerTest, AnyChangedFileFailsVerification)
{
    makeArchive(archive(), "x");
    ASSERT_EQ(handle(), TRUE);
    const std::string mutated = root() + "/mutated.dlm";
    auto verifiesContent = [&](const std::string& content) {
        writeFile(mutated, content);
        return verifiesWith(signingPublicKey(), mutated);
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
}

}  // namespace
