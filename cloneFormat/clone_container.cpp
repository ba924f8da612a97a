#include "clone_container.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "clone_archive.h"
#include "clone_io.h"

namespace clonefmt {

namespace {

// Offsets of the fixed part of the header.
constexpr std::size_t kVersionOffset = 8;
constexpr std::size_t kAlgorithmOffset = 10;
constexpr std::size_t kKeyIdOffset = 12;
constexpr std::size_t kTypeLengthOffset = kKeyIdOffset + kKeyIdSize;  // 44
constexpr std::size_t kFixedSize = kTypeLengthOffset + 2;             // 46

struct EvpPkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;
struct EvpPkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, EvpPkeyCtxFree>;
struct EvpMdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree>;
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

void putBe16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void putBe64(std::vector<std::uint8_t>& out, std::uint64_t v)
{
    for (int shift = 56; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

std::uint16_t getBe16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint64_t getBe64(const std::uint8_t* p)
{
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
        v = (v << 8) | p[i];
    }
    return v;
}

std::string opensslError(const std::string& what)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return what;
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return what + " (" + text + ")";
}

// Encrypted keys are refused rather than prompting for a pass phrase on some terminal.
int noPassphrase(char*, int, int, void*)
{
    return 0;
}

class Sha512 {
public:
    bool init()
    {
        ctx_.reset(EVP_MD_CTX_new());
        return ctx_ && EVP_DigestInit_ex(ctx_.get(), EVP_sha512(), nullptr) == 1;
    }
    bool update(const void* data, std::size_t size) { return EVP_DigestUpdate(ctx_.get(), data, size) == 1; }
    bool final(Digest& digest)
    {
        unsigned int len = 0;
        return EVP_DigestFinal_ex(ctx_.get(), digest.data(), &len) == 1 && len == digest.size();
    }

private:
    MdCtxPtr ctx_;
};

bool writePem(const std::string& path, mode_t mode, EVP_PKEY* key, bool isPrivate, std::string& error)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) {
        error = opensslError("out of memory");
        return false;
    }
    const int ok = isPrivate ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                             : PEM_write_bio_PUBKEY(bio.get(), key);
    if (ok != 1) {
        error = opensslError("cannot encode the key");
        return false;
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    AtomicFile file;
    if (!file.open(path, error) || !file.write(data, static_cast<std::size_t>(size), error)) {
        return false;
    }
    if (isPrivate) {
        OPENSSL_cleanse(data, static_cast<std::size_t>(size));
    }
    return file.commit(mode, error);
}

}  // namespace

bool validLabel(const std::string& label)
{
    if (label.empty() || label.size() > kMaxLabelSize || label == "." || label == "..") {
        return false;
    }
    for (char c : label) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '_' || c == '-';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> encodeHeader(const std::string& cloneType, const std::string& name, const KeyId& keyId,
                                       std::uint64_t archiveSize)
{
    std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
    putBe16(out, kFormatVersion);
    putBe16(out, kAlgorithmEd25519Sha512);
    out.insert(out.end(), keyId.begin(), keyId.end());
    putBe16(out, static_cast<std::uint16_t>(cloneType.size()));
    out.insert(out.end(), cloneType.begin(), cloneType.end());
    putBe16(out, static_cast<std::uint16_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
    putBe64(out, archiveSize);
    return out;
}

bool readCloneFileInfo(int fd, CloneFileInfo& info, std::string& error)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = errnoText("cannot examine the file");
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return false;
    }
    info = CloneFileInfo();
    info.fileSize = static_cast<std::uint64_t>(st.st_size);

    std::uint8_t fixed[kFixedSize];
    if (info.fileSize < kFixedSize || !preadFully(fd, fixed, sizeof fixed, 0)) {
        error = "too short for a clone file header";
        return false;
    }
    if (std::memcmp(fixed, kMagic, sizeof kMagic) != 0) {
        error = "not a clone file (bad magic)";
        return false;
    }
    info.version = getBe16(fixed + kVersionOffset);
    if (info.version != kFormatVersion) {
        error = "unsupported format version " + std::to_string(info.version);
        return false;
    }
    info.algorithm = getBe16(fixed + kAlgorithmOffset);
    if (info.algorithm != kAlgorithmEd25519Sha512) {
        error = "unsupported signature algorithm " + std::to_string(info.algorithm);
        return false;
    }
    std::memcpy(info.keyId.data(), fixed + kKeyIdOffset, kKeyIdSize);

    std::uint64_t pos = kFixedSize;
    const std::uint16_t typeLength = getBe16(fixed + kTypeLengthOffset);
    // Each label is followed by at least a 2- or 8-byte length, so these reads stay in the file.
    if (typeLength == 0 || typeLength > kMaxLabelSize || pos + typeLength + 2 > info.fileSize) {
        error = "malformed clone type field";
        return false;
    }
    std::string type(typeLength, '\0');
    std::uint8_t len2[2];
    if (!preadFully(fd, type.data(), typeLength, pos) || !preadFully(fd, len2, 2, pos + typeLength)) {
        error = errnoText("cannot read the header");
        return false;
    }
    pos += typeLength + 2u;
    const std::uint16_t nameLength = getBe16(len2);
    if (nameLength == 0 || nameLength > kMaxLabelSize || pos + nameLength + 8 > info.fileSize) {
        error = "malformed name field";
        return false;
    }
    std::string name(nameLength, '\0');
    std::uint8_t len8[8];
    if (!preadFully(fd, name.data(), nameLength, pos) || !preadFully(fd, len8, 8, pos + nameLength)) {
        error = errnoText("cannot read the header");
        return false;
    }
    pos += nameLength + 8u;
    if (!validLabel(type)) {
        error = "malformed clone type field";
        return false;
    }
    if (!validLabel(name)) {
        error = "malformed name field";
        return false;
    }
    info.cloneType = type;
    info.name = name;
    info.archiveOffset = pos;
    info.archiveSize = getBe64(len8);
    const std::uint64_t room = info.fileSize - pos;
    if (room < kSignatureSize || info.archiveSize > room - kSignatureSize) {
        error = "truncated: the archive length exceeds the file";
        return false;
    }
    if (info.archiveSize != room - kSignatureSize) {
        error = "bytes after the signature (archive length does not match the file size)";
        return false;
    }
    return true;
}

std::vector<std::uint8_t> signedMessage(const Digest& digest)
{
    // The context with its NUL, then the digest; sized once so no insert has to move bytes around.
    std::vector<std::uint8_t> message(sizeof kSignatureContext + digest.size());
    std::memcpy(message.data(), kSignatureContext, sizeof kSignatureContext);
    std::memcpy(message.data() + sizeof kSignatureContext, digest.data(), digest.size());
    return message;
}

std::string hex(const std::uint8_t* data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

SigningKey::~SigningKey()
{
    EVP_PKEY_free(key_);
}

bool SigningKey::adopt(evp_pkey_st* key, bool isPrivate, std::string& error)
{
    PkeyPtr owned(key);
    if (EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) {
        error = "not an Ed25519 key";
        return false;
    }
    std::uint8_t raw[32];
    std::size_t rawLen = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(key, raw, &rawLen) != 1 || rawLen != sizeof raw) {
        error = opensslError("cannot read the public key");
        return false;
    }
    unsigned int idLen = 0;
    if (EVP_Digest(raw, rawLen, keyId_.data(), &idLen, EVP_sha256(), nullptr) != 1 || idLen != kKeyIdSize) {
        error = opensslError("cannot hash the public key");
        return false;
    }
    EVP_PKEY_free(key_);
    key_ = owned.release();
    private_ = isPrivate;
    return true;
}

bool SigningKey::loadPrivate(const std::string& pemPath, std::string& error)
{
    std::string pem;
    if (!readSmallFile(pemPath, std::size_t{64} * 1024, pem, error)) {
        return false;
    }
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr) : nullptr;
    OPENSSL_cleanse(pem.data(), pem.size());
    if (key == nullptr) {
        error = opensslError(pemPath + ": not a PEM private key");
        return false;
    }
    if (!adopt(key, true, error)) {
        error = pemPath + ": " + error;
        return false;
    }
    return true;
}

bool SigningKey::loadPublic(const std::string& pemPath, std::string& error)
{
    std::string pem;
    if (!readSmallFile(pemPath, std::size_t{64} * 1024, pem, error)) {
        return false;
    }
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    EVP_PKEY* key = bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, noPassphrase, nullptr) : nullptr;
    if (key == nullptr) {
        error = opensslError(pemPath + ": not a PEM public key");
        return false;
    }
    if (!adopt(key, false, error)) {
        error = pemPath + ": " + error;
        return false;
    }
    return true;
}

bool SigningKey::sign(const std::vector<std::uint8_t>& message, Signature& signature, std::string& error) const
{
    if (key_ == nullptr || !private_) {
        error = "no private key to sign with";
        return false;
    }
    MdCtxPtr ctx(EVP_MD_CTX_new());
    std::size_t len = signature.size();
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_) != 1 ||
        EVP_DigestSign(ctx.get(), signature.data(), &len, message.data(), message.size()) != 1 ||
        len != signature.size()) {
        error = opensslError("signing failed");
        return false;
    }
    return true;
}

bool SigningKey::verify(const std::vector<std::uint8_t>& message, const Signature& signature) const
{
    if (key_ == nullptr) {
        return false;
    }
    MdCtxPtr ctx(EVP_MD_CTX_new());
    const bool ok = ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key_) == 1 &&
                    EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
    ERR_clear_error();
    return ok;
}

bool generateKeyPair(const std::string& privatePath, const std::string& publicPath, bool replace, std::string& error)
{
    struct stat st;
    if (!replace && ::lstat(privatePath.c_str(), &st) == 0) {
        error = privatePath + " already exists (a device keeps its key; replace it on purpose)";
        return false;
    }
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY* raw = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &raw) != 1) {
        error = opensslError("cannot generate an Ed25519 key");
        return false;
    }
    PkeyPtr key(raw);
    // The public half first: a private key without its public key would be a signer nobody checks.
    return writePem(publicPath, 0644, key.get(), false, error) && writePem(privatePath, 0600, key.get(), true, error);
}

bool writeCloneFile(const std::string& archivePath, const std::string& clonePath, const std::string& cloneType,
                    const std::string& name, const SigningKey& key, std::string& error)
{
    if (!validLabel(cloneType) || !validLabel(name)) {
        error = "clone type and name must be 1 to 255 characters of A-Z a-z 0-9 . _ -";
        return false;
    }
    const UniqueFd in = openRegularFile(archivePath, error);
    struct stat st;
    if (!in.valid() || ::fstat(in.get(), &st) != 0) {
        error = in.valid() ? errnoText("cannot examine the archive " + archivePath) : "cannot open the archive " + error;
        return false;
    }
    const std::uint64_t archiveSize = static_cast<std::uint64_t>(st.st_size);
    const std::vector<std::uint8_t> header = encodeHeader(cloneType, name, key.keyId(), archiveSize);

    AtomicFile out;
    if (!out.open(clonePath, error)) {
        return false;
    }
    Sha512 digest;
    if (!digest.init() || !digest.update(header.data(), header.size())) {
        error = opensslError("cannot start the digest");
        return false;
    }
    if (!out.write(header.data(), header.size(), error)) {
        return false;
    }
    std::vector<char> buf(std::size_t{64} * 1024);
    std::uint64_t copied = 0;
    for (;;) {
        const ssize_t n = ::read(in.get(), buf.data(), buf.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = errnoText("cannot read the archive " + archivePath);
            return false;
        }
        if (n == 0) {
            break;
        }
        if (!digest.update(buf.data(), static_cast<std::size_t>(n)) ||
            !out.write(buf.data(), static_cast<std::size_t>(n), error)) {
            if (error.empty()) {
                error = opensslError("digest failed");
            }
            return false;
        }
        copied += static_cast<std::uint64_t>(n);
    }
    if (copied != archiveSize) {
        error = "the archive " + archivePath + " changed while it was read";
        return false;
    }
    // What gets signed must be what a reader can unpack: check the copy, not the source.
    std::string archiveError;
    auto anyMember = [](const TarMember&, MemberData&, std::string&) { return true; };
    if (!walkTarGz(out.fd(), header.size(), archiveSize, anyMember, archiveError)) {
        error = "the archive " + archivePath + " is not a complete gzip-compressed tar archive: " + archiveError;
        return false;
    }
    Digest hash;
    Signature signature;
    if (!digest.final(hash)) {
        error = opensslError("digest failed");
        return false;
    }
    if (!key.sign(signedMessage(hash), signature, error) || !out.write(signature.data(), signature.size(), error)) {
        return false;
    }
    // A clone file holds secrets (mailbox passwords, accounting data): its owner's alone.
    return out.commit(0600, error);
}

bool verifyCloneFile(const std::string& path, const SigningKey& key, CloneFileInfo& info, std::string& error)
{
    const UniqueFd fd = openRegularFile(path, error);
    return fd.valid() && verifyCloneFile(fd.get(), path, key, info, error);
}

bool verifyCloneFile(int fd, const std::string& path, const SigningKey& key, CloneFileInfo& info, std::string& error)
{
    if (!readCloneFileInfo(fd, info, error)) {
        return false;
    }
    if (info.keyId != key.keyId()) {
        error = "signed by another key (key id " + hex(info.keyId.data(), info.keyId.size()) + ")";
        return false;
    }
    const std::uint64_t covered = info.archiveOffset + info.archiveSize;
    Sha512 digest;
    if (!digest.init()) {
        error = opensslError("cannot start the digest");
        return false;
    }
    std::vector<char> buf(std::size_t{64} * 1024);
    for (std::uint64_t pos = 0; pos < covered;) {
        const std::size_t want = covered - pos < buf.size() ? static_cast<std::size_t>(covered - pos) : buf.size();
        if (!preadFully(fd, buf.data(), want, pos) || !digest.update(buf.data(), want)) {
            error = errnoText("cannot read " + path);
            return false;
        }
        pos += want;
    }
    Digest hash;
    Signature signature;
    if (!digest.final(hash) || !preadFully(fd, signature.data(), signature.size(), covered)) {
        error = "cannot read the signature";
        return false;
    }
    if (!key.verify(signedMessage(hash), signature)) {
        error = "bad signature (the file was changed after signing)";
        return false;
    }
    return true;
}

}  // namespace clonefmt
