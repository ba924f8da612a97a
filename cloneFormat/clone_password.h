// The clone password verifier: one line "pbkdf2-sha256$ITERATIONS$SALT_HEX$KEY_HEX" holding a
// PBKDF2-HMAC-SHA256 key (32 bytes) derived from the password, never the password itself.
#ifndef CLONE_FORMAT_CLONE_PASSWORD_H
#define CLONE_FORMAT_CLONE_PASSWORD_H

#include <cstdint>
#include <string>
#include <vector>

namespace clonefmt {

constexpr unsigned long kDefaultIterations = 600000;
// Bounds a verifier may carry; a larger count would make every check a denial of service.
constexpr unsigned long kMaxIterations = 10000000;
constexpr std::size_t kMinSaltSize = 8;
constexpr std::size_t kMaxSaltSize = 64;
constexpr std::size_t kDerivedKeySize = 32;

struct Verifier {
    unsigned long iterations = 0;
    std::vector<std::uint8_t> salt;
    std::vector<std::uint8_t> key;
};

// Parses the verifier file's content: the one line, optionally ended by a line feed.
bool parseVerifier(const std::string& text, Verifier& verifier);

enum class PasswordCheck { Match, Mismatch, Unreadable, Malformed };

// Checks PASSWORD against the verifier file at PATH in constant time. DETAIL explains the two
// failure kinds that are not the caller's fault (unreadable or malformed file).
PasswordCheck checkPassword(const std::string& path, const char* password, std::string& detail);

// Writes a verifier for PASSWORD (fresh random salt) to PATH, mode 0600, whole or not at all.
bool writePasswordFile(const std::string& path, const std::string& password, unsigned long iterations,
                       std::string& error);

}  // namespace clonefmt

#endif
