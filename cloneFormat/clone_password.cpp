#include "clone_password.h"

#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "clone_container.h"
#include "clone_io.h"

namespace clonefmt {

namespace {

constexpr char kScheme[] = "pbkdf2-sha256";
constexpr std::size_t kSaltSize = 16;

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool parseHex(const std::string& text, std::vector<std::uint8_t>& out)
{
    if (text.empty() || text.size() % 2 != 0) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hexValue(text[i]);
        const int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return true;
}

bool derive(const char* password, std::size_t passwordSize, const Verifier& v, std::uint8_t* out)
{
    return PKCS5_PBKDF2_HMAC(password, static_cast<int>(passwordSize), v.salt.data(), static_cast<int>(v.salt.size()),
                             static_cast<int>(v.iterations), EVP_sha256(), static_cast<int>(kDerivedKeySize),
                             out) == 1;
}

}  // namespace

bool parseVerifier(const std::string& text, Verifier& verifier)
{
    std::string line = text;
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dollar = line.find('$', start);
        fields.push_back(line.substr(start, dollar == std::string::npos ? std::string::npos : dollar - start));
        if (dollar == std::string::npos) {
            break;
        }
        start = dollar + 1;
    }
    if (fields.size() != 4 || fields[0] != kScheme) {
        return false;
    }
    const std::string& count = fields[1];
    if (count.empty() || count.size() > 9 || count[0] == '0') {
        return false;
    }
    unsigned long iterations = 0;
    for (char c : count) {
        if (c < '0' || c > '9') {
            return false;
        }
        iterations = iterations * 10 + static_cast<unsigned long>(c - '0');
    }
    if (iterations > kMaxIterations) {
        return false;
    }
    Verifier v;
    v.iterations = iterations;
    if (!parseHex(fields[2], v.salt) || v.salt.size() < kMinSaltSize || v.salt.size() > kMaxSaltSize) {
        return false;
    }
    if (!parseHex(fields[3], v.key) || v.key.size() != kDerivedKeySize) {
        return false;
    }
    verifier = v;
    return true;
}

PasswordCheck checkPassword(const std::string& path, const char* password, std::string& detail)
{
    std::string text;
    if (!readSmallFile(path, 4096, text, detail)) {
        return PasswordCheck::Unreadable;
    }
    Verifier verifier;
    if (!parseVerifier(text, verifier)) {
        detail = path + ": not a line of the form pbkdf2-sha256$ITERATIONS$SALT_HEX$KEY_HEX";
        return PasswordCheck::Malformed;
    }
    if (password == nullptr) {
        return PasswordCheck::Mismatch;
    }
    std::uint8_t derived[kDerivedKeySize];
    if (!derive(password, std::strlen(password), verifier, derived)) {
        detail = "key derivation failed";
        return PasswordCheck::Malformed;
    }
    const bool same = CRYPTO_memcmp(derived, verifier.key.data(), kDerivedKeySize) == 0;
    OPENSSL_cleanse(derived, sizeof derived);
    return same ? PasswordCheck::Match : PasswordCheck::Mismatch;
}

bool writePasswordFile(const std::string& path, const std::string& password, unsigned long iterations,
                       std::string& error)
{
    if (iterations == 0 || iterations > kMaxIterations) {
        error = "iterations must be 1 to " + std::to_string(kMaxIterations);
        return false;
    }
    Verifier v;
    v.iterations = iterations;
    v.salt.resize(kSaltSize);
    if (RAND_bytes(v.salt.data(), static_cast<int>(v.salt.size())) != 1) {
        error = "no random bytes for the salt";
        return false;
    }
    std::uint8_t derived[kDerivedKeySize];
    if (!derive(password.data(), password.size(), v, derived)) {
        error = "key derivation failed";
        return false;
    }
    const std::string line = std::string(kScheme) + "$" + std::to_string(iterations) + "$" +
                             hex(v.salt.data(), v.salt.size()) + "$" + hex(derived, sizeof derived) + "\n";
    OPENSSL_cleanse(derived, sizeof derived);
    AtomicFile file;
    return file.open(path, error) && file.write(line.data(), line.size(), error) && file.commit(0600, error);
}

}  // namespace clonefmt
