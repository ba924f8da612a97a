// Test helpers around clone files: hand-made tar archives (also hostile ones), gzip, a small tmpfs
// to fill up, environment overrides, a search of a tree for a secret and calls that may hang.
#ifndef CLONE_TESTS_CLONEFILETESTUTIL_H
#define CLONE_TESTS_CLONEFILETESTUTIL_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <optional>
#include <string>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "DeviceTest.h"
#include "clone_container.h"

namespace clonetest {

#define CLONE_TEST_MANIFEST_ROOT "<CloningManifest xmlns=\"http://www.clonecreator.local/ConfigManifest\">"

// A manifest that passes its schema, already in the form the pipeline saves one (indented), so a
// saved copy is byte-identical.
const char kTestManifest[] =
    "<?xml version=\"1.0\"?>\n"
    CLONE_TEST_MANIFEST_ROOT "\n"
    "  <cloningData>\n"
    "    <version>1.0.0</version>\n"
    "  </cloningData>\n"
    "</CloningManifest>\n";

struct TarEntry {
    std::string name;
    char type;             // '0' file, '1' hard link, '2' symbolic link, '5' directory, 'x' pax header
    std::string linkName;  // for links
    std::string data;      // for files and pax headers

    bool hasData() const { return type == '0' || type == 'x'; }
};

// One "LEN key=value\n" record of a pax extended header (VALUE may hold any byte, also NUL).
inline std::string paxRecord(const std::string& key, const std::string& value)
{
    const std::string body = " " + key + "=" + value + "\n";
    std::size_t size = body.size() + 1;  // the length counts its own digits
    while (size != body.size() + std::to_string(size).size()) {
        ++size;
    }
    return std::to_string(size) + body;
}

// One ustar header block (POSIX magic), with its checksum.
inline std::string tarHeader(const TarEntry& e)
{
    std::string h(512, '\0');
    auto put = [&h](std::size_t at, std::size_t size, const std::string& text) {
        h.replace(at, std::min(size, text.size()), text, 0, size);
    };
    auto octal = [&put](std::size_t at, std::size_t size, unsigned long long value) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%0*llo", static_cast<int>(size - 1), value);
        put(at, size, buf);
    };
    put(0, 100, e.name);
    octal(100, 8, e.type == '5' ? 0755 : 0644);
    octal(108, 8, 0);
    octal(116, 8, 0);
    octal(124, 12, e.hasData() ? e.data.size() : 0);
    octal(136, 12, 1700000000);
    h[156] = e.type;
    put(157, 100, e.linkName);
    put(257, 8, std::string("ustar\0" "00", 8));
    put(148, 8, "        ");
    octal(148, 7, std::accumulate(h.begin(), h.end(), 0u, [](unsigned sum, char c) { return sum + (c & 0xffu); }));
    h[154] = '\0';
    return h;
}

// A complete tar stream: headers, data padded to 512 bytes, two zero blocks.
inline std::string tarArchive(const std::vector<TarEntry>& entries)
{
    std::string out;
    for (const TarEntry& e : entries) {
        out += tarHeader(e);
        if (e.hasData()) {
            out += e.data;
            out.append((512 - e.data.size() % 512) % 512, '\0');
        }
    }
    out.append(1024, '\0');
    return out;
}

inline std::string quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// DATA gzip-compressed into PATH (by the gzip program, as the device's tar does).
inline void writeGzip(const std::string& path, const std::string& data)
{
    const std::string raw = path + ".raw";
    writeFile(raw, data);
    ASSERT_EQ(std::system(("gzip -n -c " + quoted(raw) + " > " + quoted(path)).c_str()), 0);
    std::remove(raw.c_str());
}

// The tree at DIR archived the way the packaging does it ("tar -cz -b 64 -f ARCHIVE .").
inline void archiveTree(const std::string& dir, const std::string& archive)
{
    ASSERT_EQ(std::system(("cd " + quoted(dir) + " && tar -cz -b 64 -f " + quoted(archive) + " .").c_str()), 0);
}

// Names in DIR (not recursive), without "." and "..".
inline std::vector<std::string> listDir(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const std::filesystem::directory_entry& e : std::filesystem::directory_iterator(dir, ec)) {
        names.push_back(e.path().filename());
    }
    return names;
}

// Names in DIR that start with a dot: what an interrupted write of a whole file leaves.
inline std::vector<std::string> dotFiles(const std::string& dir)
{
    std::vector<std::string> names = listDir(dir);
    names.erase(std::remove_if(names.begin(), names.end(), [](const std::string& n) { return n[0] != '.'; }),
                names.end());
    return names;
}

// True when the clone file at FILE checks against the public key at KEYPATH; its header in INFO.
inline bool verifiesWith(const std::string& keyPath, const std::string& file, clonefmt::CloneFileInfo* info = nullptr)
{
    clonefmt::SigningKey key;
    // cppcheck-suppress unassignedVariable ; verifyCloneFile fills it through its reference
    clonefmt::CloneFileInfo read;
    std::string error;
    return key.loadPublic(keyPath, error) &&
           clonefmt::verifyCloneFile(file, key, info != nullptr ? *info : read, error);
}

// Paths of the regular files under DIR whose content holds NEEDLE.
inline std::vector<std::string> filesContaining(const std::string& dir, const std::string& needle)
{
    namespace fs = std::filesystem;
    std::vector<std::string> hits;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir, ec)) {
        if (fs::is_regular_file(e.symlink_status()) && readFile(e.path()).find(needle) != std::string::npos) {
            hits.push_back(e.path());
        }
    }
    return hits;
}

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name)
    {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Puts a shell script named NAME with BODY first in PATH for one scope (e.g. a failing "tar").
class ScopedTool {
public:
    ScopedTool(const std::string& binDir, const std::string& name, const std::string& body)
    {
        makeDirs(binDir);
        writeFile(binDir + "/" + name, "#!/bin/sh\n" + body + "\n");
        ::chmod((binDir + "/" + name).c_str(), 0755);
        const char* old = std::getenv("PATH");
        env_.emplace("PATH", binDir + ":" + (old != nullptr ? old : "/usr/bin:/bin"));
    }

private:
    std::optional<ScopedEnv> env_;
};

// A small tmpfs at a folder for one scope. Mounting needs root (CAP_SYS_ADMIN); tests skip without.
class TmpfsMount {
public:
    TmpfsMount(const std::string& dir, const std::string& options) : dir_(dir)
    {
        makeDirs(dir);
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
        error_ = mounted_ ? "" : std::strerror(errno);
    }
    ~TmpfsMount()
    {
        if (mounted_) {
            ::umount2(dir_.c_str(), MNT_DETACH);
        }
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }
    bool remountReadOnly()
    {
        return ::mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    // Takes every byte left, as a full disk: the next write of a file there fails.
    void fill() const
    {
        std::ofstream filler(dir_ + "/.filler", std::ios::binary);
        const std::string page(4096, 'f');
        while (filler.write(page.data(), static_cast<std::streamsize>(page.size())) && filler.flush()) {
        }
    }

private:
    std::string dir_;
    bool mounted_ = false;
    std::string error_;
};

#define CLONE_SKIP_UNLESS_MOUNTED(mount)                                                                     \
    if (!(mount).mounted()) {                                                                                \
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root with CAP_SYS_ADMIN): " << (mount).error(); \
    }

}  // namespace clonetest

#endif
