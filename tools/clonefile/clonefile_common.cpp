#include "clonefile_common.h"

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include "clone_archive.h"
#include "clone_member.h"
#include "clone_schema.h"

namespace clonetool {

namespace {

const char kSynopsis[] = "usage: clonefile COMMAND [OPTIONS] ARGS\n";

// The length of the UTF-8 sequence at TEXT[AT] and its code point; 0 when the bytes there are
// not valid UTF-8 (overlong forms, surrogates and values beyond U+10FFFF included).
std::size_t utf8At(const std::string& text, std::size_t at, std::uint32_t& codePoint)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xe0) == 0xc0) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1f;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0f;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80) {
            return 0;
        }
        codePoint = codePoint << 6 | (byte(at + i) & 0x3f);
    }
    if (codePoint < minimum || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff)) {
        return 0;
    }
    return length;
}

void octalEscape(std::string& out, unsigned char c)
{
    char buf[8];
    (void)std::snprintf(buf, sizeof buf, "\\%03o", c);  // at most 4 characters
    out += buf;
}

void unicodeEscape(std::string& out, std::uint32_t unit)
{
    char buf[16];
    (void)std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(unit & 0xffff));  // 6 characters
    out += buf;
}

}  // namespace

// A diagnostic that cannot be written has nowhere else to go; the exit status still tells.
int usageError(const std::string& message)
{
    (void)std::fprintf(stderr, "clonefile: %s\n%sTry 'clonefile --help'.\n", printable(message).c_str(), kSynopsis);
    return kMisuse;
}

int failure(const std::string& message)
{
    // Messages quote clone files (libxml2's among them): nothing raw reaches the terminal.
    (void)std::fprintf(stderr, "clonefile: %s\n", terminalSafe(message).c_str());
    return kFailed;
}

namespace {

// TEXT with control characters (C0, DEL, C1) and bytes that are not valid UTF-8 as \ooo; a
// backslash as \\ when ESCAPEBACKSLASH; tabs (and line ends when KEEPLINES) as they are.
std::string escaped(const std::string& text, bool escapeBackslash, bool keepTab, bool keepLines)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        const std::size_t n = utf8At(text, i, cp);
        // C1 controls (U+0080 to U+009F) act on some terminals as their 8-bit forms do.
        const bool backslash = escapeBackslash && cp == '\\' && n == 1;
        if (n == 0 || cp < 0x20 || cp == 0x7f || (cp >= 0x80 && cp <= 0x9f) || backslash) {
            const std::size_t bytes = n == 0 ? 1 : n;
            if (backslash) {
                out += "\\\\";
            } else if (n == 1 && ((keepTab && cp == '\t') || (keepLines && (cp == '\n' || cp == '\t')))) {
                out += static_cast<char>(cp);
            } else {
                for (std::size_t k = 0; k < bytes; ++k) {
                    octalEscape(out, static_cast<unsigned char>(text[i + k]));
                }
            }
            i += bytes;
            continue;
        }
        out.append(text, i, n);
        i += n;
    }
    return out;
}

}  // namespace

std::string printable(const std::string& text, bool keepTab)
{
    return escaped(text, true, keepTab, false);
}

std::string terminalSafe(const std::string& text)
{
    return escaped(text, false, true, true);
}

std::string arrow()
{
    static const bool utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    return utf8 ? " \u2192 " : " -> ";
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        const std::size_t n = utf8At(text, i, cp);
        if (n == 0) {
            unicodeEscape(out, 0xdc00 | static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        i += n;
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp >= 0x20 && cp < 0x7f) {
            out += static_cast<char>(cp);
        } else if (cp < 0x10000) {
            unicodeEscape(out, cp);
        } else {
            cp -= 0x10000;
            unicodeEscape(out, 0xd800 | (cp >> 10));
            unicodeEscape(out, 0xdc00 | (cp & 0x3ff));
        }
    }
    return out + "\"";
}

bool openChecked(const Args& args, const std::string& file, clonefmt::UniqueFd& fd, clonefmt::CloneFileInfo& info,
                 std::string& error)
{
    clonefmt::SigningKey key;
    if (!args.key.empty() && !key.loadPublic(args.key, error)) {
        return false;
    }
    const bool standardInput = file == "-";
    const std::string shown = standardInput ? "standard input" : file;
    if (standardInput) {
        if (::isatty(STDIN_FILENO) != 0) {
            error = "standard input is a terminal, not a clone file";
            return false;
        }
        fd.reset(::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3));
        if (!fd.valid()) {
            error = clonefmt::errnoText(shown);
            return false;
        }
    } else {
        fd = clonefmt::openRegularFile(file, error);
        if (!fd.valid()) {
            return false;
        }
    }
    // Checked bytes only: the file is read once, to its end, into a copy nobody else can change,
    // and the check and all that follows read the copy. Standard input can only be read once.
    if (!args.key.empty() || standardInput) {
        struct stat st;
        const std::uint64_t size =
            ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
        fd = clonefmt::privateCopy(fd.get(), size, error);
        if (!fd.valid()) {
            error = shown + ": " + error;
            return false;
        }
    }
    const bool checked = args.key.empty() ? clonefmt::readCloneFileInfo(fd.get(), info, error)
                                          : clonefmt::verifyCloneFile(fd.get(), shown, key, info, error);
    if (!checked) {
        error = shown + (args.key.empty() ? ": " : ": verification failed: ") + error;
    }
    return checked;
}

bool isManifestName(const std::string& relative)
{
    return relative == "CloningManifest.xml" || relative == "ConfigurationManifest.xml";
}

bool readManifest(int fd, const clonefmt::CloneFileInfo& info, std::string& name, std::string& manifest,
                  std::string& error)
{
    name.clear();
    auto visit = [&](const clonefmt::TarMember& m, clonefmt::MemberData& data, std::string& err) {
        std::string relative;
        if (!name.empty() || !m.isFile() || !clonefmt::safeRelativePath(m.name, relative) ||
            !isManifestName(relative)) {
            return true;
        }
        if (m.size > clonefmt::kMaxManifestBytes) {
            err = "manifest " + printable(relative) + " refused: larger than " +
                  std::to_string(clonefmt::kMaxManifestBytes) + " bytes";
            return false;
        }
        manifest.resize(static_cast<std::size_t>(m.size));
        std::size_t got = 0;
        while (got < manifest.size()) {
            const long n = data.read(&manifest[got], manifest.size() - got);
            if (n <= 0) {
                err = "cannot read " + m.name;
                return false;
            }
            got += static_cast<std::size_t>(n);
        }
        name = relative;
        if (!clonefmt::manifestShapeOk(manifest, err)) {
            err = "manifest " + relative + " refused: " + err;
            return false;
        }
        return true;
    };
    return clonefmt::walkTarGz(fd, info.archiveOffset, info.archiveSize, visit, error);
}

bool checkManifest(const std::string& name, const std::string& manifest, std::string& verdict, std::string& error)
{
    if (name.empty()) {
        verdict = "no manifest";
    } else if (clonefmt::emptyManifest(manifest)) {
        verdict = "empty manifest";
    } else if (!clonefmt::validateManifest(manifest, schemaDir(), name.substr(0, name.size() - 4), error)) {
        error = "manifest " + name + ": " + error;
        return false;
    } else {
        verdict = "manifest valid";
    }
    return true;
}

bool verifiedManifest(int fd, const clonefmt::CloneFileInfo& info, std::string& error)
{
    std::string name;
    std::string manifest;
    std::string verdict;
    return readManifest(fd, info, name, manifest, error) && checkManifest(name, manifest, verdict, error);
}

std::string schemaDir()
{
    // Installed beside the command (the same relative place under any install prefix), else in the
    // source tree this command was built from.
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        std::string installed = clonefmt::dirName(self) + "/" CLONE_SCHEMA_RELATIVE_DIR;
        if (::access((installed + "/CloningManifest.xsd").c_str(), R_OK) == 0) {
            return installed;
        }
    }
    return CLONE_SCHEMA_SOURCE_DIR;
}

void Output::write(const char* data, std::size_t size)
{
    if (!failed_ && size > 0 && std::fwrite(data, 1, size, stdout) != size) {
        failed_ = true;
    }
}

Output& Output::operator<<(const std::string& text)
{
    write(text.data(), text.size());
    return *this;
}

Output& Output::operator<<(const char* text)
{
    write(text, std::strlen(text));
    return *this;
}

Output& Output::operator<<(std::uint64_t number)
{
    return *this << std::to_string(number);
}

bool Output::finish()
{
    const bool flushed = std::fflush(stdout) == 0;
    return !failed_ && flushed && std::ferror(stdout) == 0;
}

void Json::newline()
{
    out_ << "\n" << std::string(2 * closers_.size(), ' ');
}

void Json::beforeValue()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!closers_.empty()) {
        if (!first_) {
            out_ << ",";
        }
        newline();
    }
    first_ = false;
}

Json& Json::begin(char bracket)
{
    beforeValue();
    out_ << std::string(1, bracket);
    closers_ += bracket == '{' ? '}' : ']';
    first_ = true;
    return *this;
}

Json& Json::end()
{
    const char closer = closers_.back();
    closers_.pop_back();
    if (!first_) {
        newline();
    }
    out_ << std::string(1, closer);
    first_ = false;
    if (closers_.empty()) {
        out_ << "\n";
    }
    return *this;
}

Json& Json::key(const char* name)
{
    beforeValue();
    out_ << jsonString(name) << ": ";
    afterKey_ = true;
    return *this;
}

Json& Json::string(const std::string& text)
{
    beforeValue();
    out_ << jsonString(text);
    return *this;
}

Json& Json::number(std::uint64_t value)
{
    beforeValue();
    out_ << value;
    return *this;
}

Json& Json::signedNumber(std::int64_t value)
{
    beforeValue();
    out_ << std::to_string(value);
    return *this;
}

Json& Json::boolean(bool value)
{
    beforeValue();
    out_ << (value ? "true" : "false");
    return *this;
}

Json& Json::null()
{
    beforeValue();
    out_ << "null";
    return *this;
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new())
{
    if (ctx_ != nullptr && EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(ctx_);
        ctx_ = nullptr;
    }
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(ctx_);
}

void Sha256::update(const void* data, std::size_t size)
{
    if (ctx_ != nullptr && size > 0 && EVP_DigestUpdate(ctx_, data, size) != 1) {
        failed_ = true;
    }
}

bool Sha256::finish(std::array<std::uint8_t, 32>& digest)
{
    unsigned int size = 0;
    const bool done = ctx_ != nullptr && !failed_ && EVP_DigestFinal_ex(ctx_, digest.data(), &size) == 1 &&
                      size == digest.size();
    failed_ = ctx_ == nullptr || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1;
    return done;
}

}  // namespace clonetool
