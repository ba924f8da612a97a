// The clone file container (docs/clone-file-format.md): a fixed header with big-endian fields, the
// clone type, the name, the gzip-compressed tar archive byte for byte, and an Ed25519 signature over
// everything before it. Written by the signing stand-in, read by the clonefile command.
#ifndef CLONE_FORMAT_CLONE_CONTAINER_H
#define CLONE_FORMAT_CLONE_CONTAINER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct evp_pkey_st;

namespace clonefmt {

// "\x89CLONE\r\n": the high byte and the line ending catch 7-bit and text-mode transfers.
constexpr std::uint8_t kMagic[8] = {0x89, 'C', 'L', 'O', 'N', 'E', '\r', '\n'};
constexpr std::uint16_t kFormatVersion = 1;
// Ed25519 over a SHA-512 digest of the covered bytes (see kSignatureContext).
constexpr std::uint16_t kAlgorithmEd25519Sha512 = 1;
constexpr std::size_t kKeyIdSize = 32;
constexpr std::size_t kSignatureSize = 64;
constexpr std::size_t kDigestSize = 64;
// Clone type and name: 1 to 255 bytes of [A-Za-z0-9._-].
constexpr std::size_t kMaxLabelSize = 255;
// What Ed25519 signs: this text, a NUL, then the SHA-512 digest of every byte before the signature.
constexpr char kSignatureContext[] = "CLONEDLM-SIG-V1";

using KeyId = std::array<std::uint8_t, kKeyIdSize>;
using Signature = std::array<std::uint8_t, kSignatureSize>;
using Digest = std::array<std::uint8_t, kDigestSize>;

struct CloneFileInfo {
    std::uint16_t version = 0;
    std::uint16_t algorithm = 0;
    KeyId keyId{};
    std::string cloneType;
    std::string name;
    std::uint64_t archiveOffset = 0;
    std::uint64_t archiveSize = 0;
    std::uint64_t fileSize = 0;
};

// True for a clone type or name the format can carry (and a file name can be made of).
bool validLabel(const std::string& label);

// Every byte of a clone file before the archive.
std::vector<std::uint8_t> encodeHeader(const std::string& cloneType, const std::string& name, const KeyId& keyId,
                                       std::uint64_t archiveSize);

// Reads and checks the structure (magic, version, algorithm, labels, lengths against the file size).
// The signature is not checked.
bool readCloneFileInfo(int fd, CloneFileInfo& info, std::string& error);

// The message that is signed for DIGEST.
std::vector<std::uint8_t> signedMessage(const Digest& digest);

std::string hex(const std::uint8_t* data, std::size_t size);

// An Ed25519 key, private (signs and verifies) or public (verifies).
class SigningKey {
public:
    SigningKey() = default;
    ~SigningKey();
    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;

    // PKCS#8 PEM ("BEGIN PRIVATE KEY"), as `openssl genpkey -algorithm ed25519` writes it.
    bool loadPrivate(const std::string& pemPath, std::string& error);
    // SubjectPublicKeyInfo PEM ("BEGIN PUBLIC KEY").
    bool loadPublic(const std::string& pemPath, std::string& error);
    bool loaded() const { return key_ != nullptr; }
    // SHA-256 of the 32-byte raw public key.
    const KeyId& keyId() const { return keyId_; }

    bool sign(const std::vector<std::uint8_t>& message, Signature& signature, std::string& error) const;
    bool verify(const std::vector<std::uint8_t>& message, const Signature& signature) const;

private:
    bool adopt(evp_pkey_st* key, bool isPrivate, std::string& error);
    evp_pkey_st* key_ = nullptr;
    bool private_ = false;
    KeyId keyId_{};
};

// Makes a new key pair: the private key (mode 0600) at PRIVATEPATH, the public key (0644) at
// PUBLICPATH, each written whole or not at all. An existing private key is kept unless REPLACE.
bool generateKeyPair(const std::string& privatePath, const std::string& publicPath, bool replace, std::string& error);

// Wraps the archive at ARCHIVEPATH into a signed clone file at CLONEPATH. The archive must be a
// complete gzip-compressed tar archive. The clone file appears whole or not at all.
bool writeCloneFile(const std::string& archivePath, const std::string& clonePath, const std::string& cloneType,
                    const std::string& name, const SigningKey& key, std::string& error);

// Checks the structure and the signature of the clone file at PATH against KEY.
bool verifyCloneFile(const std::string& path, const SigningKey& key, CloneFileInfo& info, std::string& error);

// The same for the clone file open at FD (PATH names it in messages), so that what is read after
// the check is what was checked.
bool verifyCloneFile(int fd, const std::string& path, const SigningKey& key, CloneFileInfo& info, std::string& error);

}  // namespace clonefmt

#endif
