// What the clonefile commands share: options, exit statuses, opening a clone file through one
// descriptor, the manifest member, and output to the standard output that is checked and never
// lets a byte of a clone file reach a terminal raw.
#ifndef CLONE_TOOLS_CLONEFILE_COMMON_H
#define CLONE_TOOLS_CLONEFILE_COMMON_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "clone_container.h"
#include "clone_io.h"

struct evp_md_ctx_st;

namespace clonetool {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kMisuse = 2;

// Options and operands of one command.
struct Args {
    std::string key;
    std::string root;
    std::string iterations;
    bool force = false;
    bool json = false;
    bool content = false;
    bool help = false;
    std::vector<std::string> operands;
};

// The reason and the usage line on standard error; returns kMisuse.
int usageError(const std::string& message);
// "clonefile: MESSAGE" on standard error; returns kFailed.
int failure(const std::string& message);

// TEXT with every control character (C0, DEL, C1), backslash and byte that is not part of valid
// UTF-8 written as \ooo (a backslash as \\), so that it can go to a terminal. KEEPTAB leaves tabs.
std::string printable(const std::string& text, bool keepTab = false);

// TEXT with control characters and bytes that are not valid UTF-8 as \ooo, but tabs, line ends and
// backslashes as they are: for text that stays text (a manifest, a message) on a terminal.
std::string terminalSafe(const std::string& text);

// " \u2192 " where the locale's character set is UTF-8, else " -> ".
std::string arrow();

// TEXT as a JSON string literal in ASCII: control characters and everything beyond ASCII as \uXXXX
// escapes; a byte that is not part of valid UTF-8 as \uDCXX (a lone low surrogate, the byte in its
// low eight bits, as Python's "surrogateescape" reads it back).
std::string jsonString(const std::string& text);

// Opens FILE; with --key given, only once the file is known to be intact and signed by it. The
// check and all that is read after it go through the one descriptor FD.
bool openChecked(const Args& args, const std::string& file, clonefmt::UniqueFd& fd, clonefmt::CloneFileInfo& info,
                 std::string& error);

bool isManifestName(const std::string& relative);

// The first manifest member of the archive into MANIFEST, its name into NAME (empty when there is
// none).
bool readManifest(int fd, const clonefmt::CloneFileInfo& info, std::string& name, std::string& manifest,
                  std::string& error);

// Holds a manifest read by readManifest to its schema: true when there is none, it is empty or it
// validates, with VERDICT saying which; false with ERROR naming the fault.
bool checkManifest(const std::string& name, const std::string& manifest, std::string& verdict, std::string& error);

// The manifest of the archive at FD read and held to its schema, for the commands that do not look
// at it otherwise: a file verify refuses is refused by every command given --key.
bool verifiedManifest(int fd, const clonefmt::CloneFileInfo& info, std::string& error);

// The folder of the manifest schemas.
std::string schemaDir();

// Writes to the standard output and remembers a failure (a full disk, a closed pipe), which
// finish() reports.
class Output {
public:
    Output& operator<<(const std::string& text);
    Output& operator<<(const char* text);
    Output& operator<<(std::uint64_t number);
    // Flushes; false when anything could not be written.
    bool finish();

private:
    void write(const char* data, std::size_t size);
    bool failed_ = false;
};

// A JSON document written as it is made, two spaces of indent per level. Keys are the tool's own
// ASCII names; every value from a clone file goes through jsonString.
class Json {
public:
    explicit Json(Output& out) : out_(out) {}
    Json& begin(char bracket);  // '{' or '['
    Json& end();
    Json& key(const char* name);
    Json& string(const std::string& text);
    Json& number(std::uint64_t value);
    Json& signedNumber(std::int64_t value);
    Json& boolean(bool value);
    Json& null();
    // Key and value in one.
    Json& field(const char* name, const std::string& text) { return key(name).string(text); }
    Json& field(const char* name, std::uint64_t value) { return key(name).number(value); }

private:
    void beforeValue();
    void newline();
    Output& out_;
    std::string closers_;
    bool first_ = true;
    bool afterKey_ = false;
};

// A SHA-256 context that lives as long as it is needed.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    bool ok() const { return ctx_ != nullptr; }
    void update(const void* data, std::size_t size);
    // The digest; false when hashing failed. The context starts anew.
    bool finish(std::array<std::uint8_t, 32>& digest);

private:
    evp_md_ctx_st* ctx_;
    bool failed_ = false;
};

}  // namespace clonetool

#endif
