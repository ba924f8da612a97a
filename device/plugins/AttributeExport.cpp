#include "AttributeExport.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "InputFile.h"
#include "device_log.h"

namespace sampleplugin {

namespace {

// A device-side component finds the simulated root the way every other one does.
std::string deviceRoot()
{
    const char* root = std::getenv("CLONE_DEVICE_ROOT");
    return root != nullptr && *root != '\0' ? root : CLONE_DEFAULT_DEVICE_ROOT;
}

// The device's configuration ("name=value" lines, blank and "#" lines ignored, the last line for a
// name wins), looked up through an index of name hashes and line offsets: a few bytes per line
// are held, never the lines, so the plug-in's memory stays small for any size of configuration.
class Configuration {
public:
    explicit Configuration(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        // Counted first, so the index is allocated once at its final size.
        std::size_t lines = 0;
        forEachAttribute(path, [&lines](const std::string&, std::string::size_type, std::uint64_t) { ++lines; });
        index_.reserve(lines);
        forEachAttribute(path, [this](const std::string& line, std::string::size_type eq, std::uint64_t offset) {
            index_.push_back({hash(line.data(), eq), static_cast<std::uint32_t>(offset)});
        });
        // Equal hashes keep file order, so the last line for a name comes last.
        std::stable_sort(index_.begin(), index_.end(),
                         [](const Entry& a, const Entry& b) { return a.hash < b.hash; });
        used_.assign(index_.size(), false);
    }
    ~Configuration()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Configuration(const Configuration&) = delete;
    Configuration& operator=(const Configuration&) = delete;

    // The value of NAME's last line, or false. With FIRSTUSE, a name found before is reported as
    // not found, which keeps every exported name once.
    bool find(const std::string& name, std::string& value, bool firstUse = false)
    {
        const std::uint32_t h = hash(name.data(), name.size());
        auto it = std::upper_bound(index_.begin(), index_.end(), h,
                                   [](std::uint32_t v, const Entry& e) { return v < e.hash; });
        while (it != index_.begin() && (it - 1)->hash == h) {
            --it;
            std::string line = lineAt(it->offset);
            if (line.compare(0, name.size(), name) == 0 && line.size() > name.size() && line[name.size()] == '=') {
                const std::size_t at = static_cast<std::size_t>(it - index_.begin());
                if (firstUse) {
                    if (used_[at]) {
                        return false;
                    }
                    used_[at] = true;
                }
                value = line.substr(name.size() + 1);
                return true;
            }
        }
        return false;
    }

private:
    // Names that share a hash are told apart by reading their lines.
    struct Entry {
        std::uint32_t hash;
        std::uint32_t offset;
    };

    static std::uint32_t hash(const char* data, std::size_t size)
    {
        std::uint32_t h = 2166136261u;
        for (std::size_t i = 0; i < size; ++i) {
            h = (h ^ static_cast<unsigned char>(data[i])) * 16777619u;
        }
        return h;
    }

    // Calls VISIT(line, position of "=", offset) for every attribute line in the first 4 GiB of
    // the file (a store that large is no configuration).
    template <typename Visit>
    static void forEachAttribute(const std::string& path, Visit visit)
    {
        cloneutil::InputFile in(path);
        std::string line;
        std::uint64_t offset = 0;
        while (offset <= UINT32_MAX && std::getline(in, line)) {
            const std::string::size_type eq = line.find('=');
            if (!line.empty() && line[0] != '#' && eq != std::string::npos) {
                visit(line, eq, offset);
            }
            offset += line.size() + 1;
        }
    }

    std::string lineAt(std::uint64_t offset) const
    {
        std::string line;
        char chunk[256];
        for (;;) {
            const ssize_t n = ::pread(fd_, chunk, sizeof chunk, static_cast<off_t>(offset + line.size()));
            if (n <= 0) {
                return line;
            }
            const char* end = static_cast<const char*>(std::memchr(chunk, '\n', static_cast<std::size_t>(n)));
            line.append(chunk, end != nullptr ? static_cast<std::size_t>(end - chunk) : static_cast<std::size_t>(n));
            if (end != nullptr) {
                return line;
            }
        }
    }

    int fd_;
    std::vector<Entry> index_;
    std::vector<bool> used_;
};

// The attributes whose names start with PREFIX, in name order (only these are held).
std::map<std::string, std::string> attributesWithPrefix(const std::string& path, const std::string& prefix)
{
    std::map<std::string, std::string> found;
    cloneutil::InputFile in(path);
    std::string line;
    while (std::getline(in, line)) {
        const std::string::size_type eq = line.find('=');
        if (eq != std::string::npos && line.compare(0, prefix.size(), prefix) == 0) {
            found[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return found;
}

bool failRequested(Configuration& configuration, const std::string& name)
{
    std::string value;
    return configuration.find("sim.plugin." + name + ".fail", value) &&
           (value == "TRUE" || value == "true" || value == "1");
}

// Makes the missing directories of the absolute PATH with mode 0755.
bool makeDirectories(const std::string& path)
{
    std::string::size_type slash = 0;
    do {
        slash = path.find('/', slash + 1);
        if (::mkdir(path.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
    } while (slash != std::string::npos);
    return true;
}

// A file that appears whole under its final name, or not at all.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target)
        : target_(target),
          path_(target + ".tmp"),
          fd_(::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644))
    {
    }
    ~TemporaryFile()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!committed_) {
            ::unlink(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool write(const std::string& content)
    {
        std::string::size_type done = 0;
        while (fd_ >= 0 && done < content.size()) {
            const ssize_t n = ::write(fd_, content.data() + done, content.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::string::size_type>(n);
        }
        return fd_ >= 0;
    }

    bool commit()
    {
        if (fd_ < 0 || ::fsync(fd_) != 0) {
            return false;
        }
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 || ::rename(path_.c_str(), target_.c_str()) != 0) {
            return false;
        }
        committed_ = true;
        return true;
    }

private:
    std::string target_;
    std::string path_;
    int fd_;
    bool committed_ = false;
};

// Expands a list line into NAMES: "<profile/>" stands for both connection profiles, "wired" and
// "wireless".
void expandListLine(const std::string& line, std::vector<std::string>& names)
{
    static const std::string kProfile = "<profile/>";
    names.clear();
    const std::string::size_type at = line.find(kProfile);
    if (at == std::string::npos) {
        names.push_back(line);
    } else {
        names.push_back(std::string(line).replace(at, kProfile.size(), "wired"));
        names.push_back(std::string(line).replace(at, kProfile.size(), "wireless"));
    }
}

// Export lines are gathered in a block of this size before each write.
const std::size_t kWriteBlock = std::size_t{64} * 1024;

}  // namespace

bool_t AttributePlugin::exportClone(const std::string& filename)
{
    const std::string root = deviceRoot();
    const std::string store = root + "/config/attributes";
    Configuration configuration(store);
    if (failRequested(configuration, name_)) {
        Log_SpecEntry(&logSpecInfo, __FILE__, __LINE__, "%s plug-in: export refused by sim.plugin.%s.fail", name_,
                      name_);
        return FALSE;
    }
    cloneutil::InputFile list;
    if (namespace_ == nullptr) {
        list.open(filename);
        if (!list) {
            Log_SpecEntry(&logSpecError, __FILE__, __LINE__, "%s plug-in: attribute list %s cannot be read", name_,
                          filename.c_str());
            return FALSE;
        }
    }

    const std::string target = root + staged_;
    if (!makeDirectories(target.substr(0, target.rfind('/')))) {
        Log_SpecEntry(&logSpecError, __FILE__, __LINE__, "%s plug-in: %s cannot be written", name_, staged_);
        return FALSE;
    }
    TemporaryFile file(target);
    std::string block;
    bool written = true;
    const auto put = [&](const std::string& name, const std::string& value) {
        block += "set " + name + "=" + value + "\n";
        if (block.size() >= kWriteBlock) {
            written = written && file.write(block);
            block.clear();
        }
    };
    if (namespace_ == nullptr) {
        // Each listed name once, in list order; names the device does not have are left out.
        std::string line;
        std::vector<std::string> names;
        std::string value;
        while (std::getline(list, line)) {
            expandListLine(line, names);
            for (const std::string& name : names) {
                if (!name.empty() && configuration.find(name, value, true)) {
                    put(name, value);
                }
            }
        }
        if (list.bad()) {
            Log_SpecEntry(&logSpecError, __FILE__, __LINE__, "%s plug-in: attribute list %s cannot be read", name_,
                          filename.c_str());
            return FALSE;
        }
    } else {
        for (const auto& attribute : attributesWithPrefix(store, namespace_)) {
            put(attribute.first, attribute.second);
        }
    }
    if (!written || !file.write(block) || !file.commit()) {
        Log_SpecEntry(&logSpecError, __FILE__, __LINE__, "%s plug-in: %s cannot be written", name_, staged_);
        return FALSE;
    }
    return TRUE;
}

}  // namespace sampleplugin
