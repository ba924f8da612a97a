#include "DevicePath.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// FORMAT with the root, as a printf-safe and shell-safe text, in front of each device path.
std::string rootedFormat(const char* format)
{
    const std::string& root = rootStorage();
    if (root.empty()) {
        return format;
    }
    std::string word = safeForShell(root) ? root : shellQuote(root);
    std::string escaped;
    for (char c : word) {
        escaped += c;
        if (c == '%') {
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
void refreshDeviceRoot() {}

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
void refreshDeviceRoot()
{
    std::string root;
    if (const char* env = std::getenv("CLONE_DEVICE_ROOT")) {
        root = env;
    }
    while (!root.empty() && root.back() == '/') {
        root.pop_back();
    }
    // "/" would be the real device: a host build never works there, so it counts as unset.
    rootStorage() = root.empty() ? CLONE_DEFAULT_DEVICE_ROOT : root;
    while (rootStorage().size() > 1 && rootStorage().back() == '/') {
        rootStorage().pop_back();
    }
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

bool deviceCommand(char (&buf)[kPathBufferSize], const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const bool ok = deviceCommandV(buf, format, args);
    va_end(args);
    return ok;
}

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
