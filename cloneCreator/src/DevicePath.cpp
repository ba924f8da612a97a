#include "DevicePath.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#ifndef CLONE_DEVICE_BUILD
#include "device_root.h"
#endif

namespace cloneutil {

namespace {

#ifdef CLONE_DEVICE_BUILD
const std::string kEmptyRoot;
#else
std::string& rootStorage()
{
    static std::string root;
    return root;
}

bool safeForShell(const std::string& text)
{
    for (char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == ',';
        if (!ok) {
            return false;
        }
    }
    return true;
}

// The root as it stands in a command line.
std::string shellWord(const std::string& root)
{
    return safeForShell(root) ? root : shellQuote(root);
}

// Device paths start a word in a command line: at its start, after a blank or a redirection.
bool startsWord(const char* format, const char* p)
{
    if (p == format) {
        return true;
    }
    return std::strchr(" \t=<>|;'\"(", p[-1]) != nullptr;
}

bool isDevicePathAt(const char* p)
{
    static const char* const prefixes[] = {"/xpaths/", "/usr/ui/", "/usr/lib/plugins/"};
    for (const char* prefix : prefixes) {
        if (std::strncmp(p, prefix, std::strlen(prefix)) == 0) {
            return true;
        }
    }
    return false;
}

// FORMAT with the root, as a shell-safe text (printf-safe too when FORPRINTF), in front of each
// device path.
std::string rootedFormat(const char* format, bool forPrintf = true)
{
    const std::string& root = rootStorage();
    if (root.empty()) {
        return format;
    }
    std::string word = shellWord(root);
    std::string escaped;
    for (char c : word) {
        escaped += c;
        if (c == '%' && forPrintf) {
            escaped += '%';
        }
    }
    std::string out;
    for (const char* p = format; *p != '\0'; ++p) {
        if (isDevicePathAt(p) && startsWord(format, p)) {
            out += escaped;
        }
        out += *p;
    }
    return out;
}
#endif

bool vformat(char (&buf)[kPathBufferSize], const char* format, va_list args)
{
    const int n = std::vsnprintf(buf, kPathBufferSize, format, args);
    if (n < 0 || static_cast<std::size_t>(n) >= kPathBufferSize) {
        buf[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace

#ifdef CLONE_DEVICE_BUILD
bool refreshDeviceRoot(std::string*)
{
    return true;
}

const std::string& deviceRoot()
{
    return kEmptyRoot;
}

std::string devicePath(const char* path)
{
    return path;
}

bool deviceCommandV(char (&buf)[kPathBufferSize], const char* format, va_list args)
{
    return vformat(buf, format, args);
}
#else
bool refreshDeviceRoot(std::string* why)
{
    bool resolved = false;
    rootStorage() = clonehost::resolveDeviceRoot(std::getenv("CLONE_DEVICE_ROOT"), CLONE_DEFAULT_DEVICE_ROOT, resolved);
    const std::string& root = rootStorage();
    std::string reason;
    struct stat st;
    if (!resolved) {
        reason = "it does not exist";
    } else if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        reason = "it is not a directory";
    } else if (shellWord(root).size() > kMaxDeviceRootLength) {
        // Command lines that cannot be formed would silently skip steps such as the clean-up.
        reason = "it is longer than " + std::to_string(kMaxDeviceRootLength) + " characters";
    }
    if (why != nullptr) {
        *why = reason;
    }
    return reason.empty();
}

const std::string& deviceRoot()
{
    if (rootStorage().empty()) {
        refreshDeviceRoot();
    }
    return rootStorage();
}

std::string devicePath(const char* path)
{
    return path[0] == '/' ? deviceRoot() + path : std::string(path);
}

bool deviceCommandV(char (&buf)[kPathBufferSize], const char* format, va_list args)
{
    deviceRoot();
    const std::string rooted = rootedFormat(format);
    return vformat(buf, rooted.c_str(), args);
}
#endif

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool deviceCommandLine(char (&buf)[kPathBufferSize], const std::string& line)
{
#ifdef CLONE_DEVICE_BUILD
    const std::string& rooted = line;
#else
    deviceRoot();
    const std::string rooted = rootedFormat(line.c_str(), false);
#endif
    if (rooted.size() >= kPathBufferSize) {
        buf[0] = '\0';
        return false;
    }
    std::memcpy(buf, rooted.c_str(), rooted.size() + 1);
    return true;
}

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style, checked by the format attribute
bool deviceCommand(char (&buf)[kPathBufferSize], const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const bool ok = deviceCommandV(buf, format, args);
    va_end(args);
    return ok;
}

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style, checked by the format attribute
bool formatPath(char (&buf)[kPathBufferSize], const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const bool ok = vformat(buf, format, args);
    va_end(args);
    return ok;
}

std::string shellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    out += '\'';
    return out;
}

}  // namespace cloneutil
