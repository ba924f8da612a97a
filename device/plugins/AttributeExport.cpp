#include "AttributeExport.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device_log.h"

namespace sampleplugin {

namespace {

// A device-side component finds the simulated root the way every other one does.
std::string deviceRoot()
{
    const char* root = std::getenv("CLONE_DEVICE_ROOT");
    return root != nullptr && *root != '\0' ? root : CLONE_DEFAULT_DEVICE_ROOT;
}

// The device's configuration, read once per export: "name=value" lines, blank and "#" lines
// ignored, the last line for a name wins.
std::map<std::string, std::string> readConfiguration(const std::string& root)
{
    std::map<std::string, std::string> attributes;
    std::ifstream in(root + "/config/attributes");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string::size_type eq = line.find('=');
        if (eq != std::string::npos) {
            attributes[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return attributes;
}

bool failRequested(const std::map<std::string, std::string>& configuration, const std::string& name)
{
    const auto it = configuration.find("sim.plugin." + name + ".fail");
    return it != configuration.end() && (it->second == "TRUE" || it->second == "true" || it->second == "1");
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

// The attribute names of the list at FILENAME, each once, in list order; "<profile/>" stands for
// both connection profiles, "wired" and "wireless". False when the list cannot be read.
bool listedNames(const std::string& filename, std::vector<std::string>& names)
{
    static const std::string kProfile = "<profile/>";
    std::ifstream list(filename);
    if (!list) {
        return false;
    }
    std::set<std::string> seen;
    std::string line;
    while (std::getline(list, line)) {
        std::vector<std::string> expanded;
        const std::string::size_type at = line.find(kProfile);
        if (at == std::string::npos) {
            expanded.push_back(line);
        } else {
            expanded.push_back(std::string(line).replace(at, kProfile.size(), "wired"));
            expanded.push_back(std::string(line).replace(at, kProfile.size(), "wireless"));
        }
        for (const std::string& name : expanded) {
            if (!name.empty() && seen.insert(name).second) {
                names.push_back(name);
            }
        }
    }
    return !list.bad();
}

}  // namespace

bool_t AttributePlugin::exportClone(const std::string& filename)
{
    const std::string root = deviceRoot();
    const std::map<std::string, std::string> configuration = readConfiguration(root);
    if (failRequested(configuration, name_)) {
        Log_SpecEntry(&logSpecInfo, __FILE__, __LINE__, "%s plug-in: export refused by sim.plugin.%s.fail", name_,
                      name_);
        return FALSE;
    }

    std::string content;
    if (namespace_ == nullptr) {
        std::vector<std::string> names;
        if (!listedNames(filename, names)) {
            Log_SpecEntry(&logSpecError, __FILE__, __LINE__, "%s plug-in: attribute list %s cannot be read", name_,
                          filename.c_str());
            return FALSE;
        }
        // Names the device does not have are left out.
        for (const std::string& name : names) {
            const auto it = configuration.find(name);
            if (it != configuration.end()) {
                content += "set " + name + "=" + it->second + "\n";
            }
        }
    } else {
        const std::string prefix(namespace_);
        for (auto it = configuration.lower_bound(prefix);
             it != configuration.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
            content += "set " + it->first + "=" + it->second + "\n";
        }
    }

    const std::string target = root + staged_;
    bool written = makeDirectories(target.substr(0, target.rfind('/')));
    if (written) {
        TemporaryFile file(target);
        written = file.write(content) && file.commit();
    }
    if (!written) {
        Log_SpecEntry(&logSpecError, __FILE__, __LINE__, "%s plug-in: %s cannot be written", name_, staged_);
        return FALSE;
    }
    return TRUE;
}

}  // namespace sampleplugin
