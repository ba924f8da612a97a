#include "CaptureBoundary.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "CloneLog.h"
#include "Descriptors.h"
#include "DevicePath.h"
#include "StagingPaths.h"
#include "clone_member.h"

namespace cloneutil {

namespace {

// PATH with runs of slashes made one, so a path formed as "%s/%s" finds its tree.
std::string collapsed(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c != '/' || out.empty() || out.back() != '/') {
            out += c;
        }
    }
    return out;
}

// PATH split at its last slash into the folder (possibly empty) and the name.
void splitLast(const std::string& path, std::string& folder, std::string& name)
{
    const std::string p = withoutTrailingSlashes(path);
    const std::string::size_type slash = p.rfind('/');
    folder = slash == std::string::npos ? std::string() : p.substr(0, slash);
    name = slash == std::string::npos ? p : p.substr(slash + 1);
}

bool throughLink(int error)
{
    return error == ELOOP || error == EXDEV;
}

// ENTRY, which a capture copies, is not copied: an ERROR names it and says why.
void leaveOut(const std::string& entry, const char* why)
{
    CLONE_LOG(logSpecError, "%s is left out of the clone: %s", entry.c_str(), why);
}

// Whole seconds, as the copies have always kept them.
bool keepTimes(int fd, const struct stat& st)
{
    const struct timespec times[2] = {{st.st_atim.tv_sec, 0}, {st.st_mtim.tv_sec, 0}};
    return ::futimens(fd, times) == 0;
}

// What a staged copy keeps of its source.
enum class Keep {
    Nothing,       // a new file, mode 0644 less the umask (xcopy)
    ModeAndTimes,  // xcopyp
    All,           // cp -p: owner too, where this process may give it
};

// Writes the bytes of the regular file FROM (as ST saw it) as NAME in the staging folder DIR.
// False, with nothing left of it, when that fails.
bool writeStaged(int dir, const std::string& name, int from, const struct stat& st, Keep keep)
{
    // A file an earlier step left there is replaced, as a copy onto it would replace its content.
    (void)::unlinkat(dir, name.c_str(), 0);
    Fd out(::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    bool ok = out.valid() && copyBytes(from, out.get(), st.st_size);
    if (ok && keep == Keep::All) {
        (void)::fchown(out.get(), st.st_uid, st.st_gid);  // as cp -p: kept where this process may
    }
    if (ok && keep != Keep::Nothing) {
        (void)::fchmod(out.get(), st.st_mode & 07777);
        ok = keepTimes(out.get(), st);
    }
    ok = out.valid() && ::close(out.release()) == 0 && ok;
    if (!ok) {
        (void)::unlinkat(dir, name.c_str(), 0);
    }
    return ok;
}

}  // namespace

int DeviceFolders::root()
{
    if (!root_.valid()) {
        const std::string& r = deviceRoot();
        root_.reset(::open(r.empty() ? "/" : r.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        closedInForks(root_.get());
    }
    return root_.get();
}

void DeviceFolders::closedInForks(int fd)
{
    if (fd >= 0) {
        inForks_.push_back(std::make_unique<ForkClosed>(fd));
    }
}

int DeviceFolders::staging()
{
    if (!staging_.valid()) {
        // It may be a link (device paths often are); the export checks where it leads before it starts.
        staging_.reset(::open(devicePath(CLONE_STAGING_DIR).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        closedInForks(staging_.get());
    }
    return staging_.get();
}

Fd DeviceFolders::openFromRoot(const char* path, int flags)
{
    std::string relative = collapsed(path);
    relative.erase(0, relative.find_first_not_of('/'));
    if (root() < 0) {
        return Fd();
    }
    return openBelow(root(), relative, flags, Links::None);
}

int DeviceFolders::treeOf(const std::string& path, std::string& below)
{
    const std::string p = collapsed(path);
    std::string best;
    for (const char* tree : kDeviceDataTrees) {
        const std::string t = tree;
        const bool folder = t.back() == '/';
        const bool inside = folder ? p.compare(0, t.size(), t) == 0 || p == t.substr(0, t.size() - 1) : p == t;
        if (inside && t.size() > best.size()) {
            best = t;
        }
    }
    if (best.empty()) {
        CLONE_LOG(logSpecError, "%s is outside the device's data; it is not read", path.c_str());
        return -1;
    }
    // A file of the list is reached from its folder.
    std::string key;
    if (best.back() == '/') {
        key = best;
        below = p.size() > best.size() ? p.substr(best.size()) : std::string();
    } else {
        std::string name;
        splitLast(best, key, name);
        key += "/";
        below = name;
    }
    auto found = trees_.find(key);
    if (found == trees_.end()) {
        Tree tree{openFromRoot(key.c_str(), O_PATH | O_DIRECTORY), false};
        if (!tree.fd.valid() && throughLink(errno)) {
            CLONE_LOG(logSpecError, "Device folder %s leads through a link; nothing is read from it", key.c_str());
            tree.refused = true;
        }
        closedInForks(tree.fd.get());
        found = trees_.emplace(key, std::move(tree)).first;
    }
    if (found->second.fd.valid()) {
        return found->second.fd.get();
    }
    return found->second.refused ? -1 : -2;
}

DeviceFile DeviceFolders::openFile(const char* path)
{
    DeviceFile file;
    std::string below;
    const int tree = treeOf(path, below);
    if (tree < 0) {
        file.state = tree == -1 ? DeviceFile::Refused : DeviceFile::Missing;
        return file;
    }
    std::string folder;
    std::string name;
    splitLast(below, folder, name);
    Fd parent;
    if (!folder.empty()) {
        parent = openBelow(tree, folder, O_PATH | O_DIRECTORY, Links::None);
        if (!parent.valid()) {
            if (throughLink(errno)) {
                CLONE_LOG(logSpecError, "%s leads through a link; it is not read", path);
                file.state = DeviceFile::Refused;
            }
            return file;
        }
    }
    // Opened without blocking: a FIFO in its place must not hang the export.
    file.fd.reset(::openat(parent.valid() ? parent.get() : tree, name.c_str(),
                           O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!file.fd.valid()) {
        if (errno == ELOOP) {
            CLONE_LOG(logSpecError, "%s is a link; it is not read", path);
            file.state = DeviceFile::Refused;
        }
        return file;
    }
    if (::fstat(file.fd.get(), &file.st) != 0 || S_ISDIR(file.st.st_mode)) {
        file.fd.reset();
        return file;
    }
    const char* refusal = !S_ISREG(file.st.st_mode) ? "is not a regular file or folder"
                          : file.st.st_nlink > 1    ? "has other names (hard links)"
                                                    : nullptr;
    if (refusal != nullptr) {
        CLONE_LOG(logSpecError, "%s %s; it is not read", path, refusal);
        file.fd.reset();
        file.state = DeviceFile::Refused;
        return file;
    }
    file.state = DeviceFile::Open;
    return file;
}

Fd DeviceFolders::openFolder(const char* path)
{
    std::string below;
    const int tree = treeOf(path, below);
    if (tree < 0) {
        return Fd();
    }
    Fd fd = openBelow(tree, below, O_RDONLY | O_DIRECTORY, Links::None);
    if (!fd.valid() && throughLink(errno)) {
        CLONE_LOG(logSpecError, "%s leads through a link; it is not read", path);
    }
    return fd;
}

bool DeviceFolders::isLink(const char* path)
{
    std::string below;
    const int tree = treeOf(path, below);
    std::string folder;
    std::string name;
    splitLast(below, folder, name);
    if (tree < 0 || name.empty()) {
        return false;
    }
    const Fd parent = folder.empty() ? Fd() : openBelow(tree, folder, O_PATH | O_DIRECTORY, Links::None);
    struct stat st;
    return (folder.empty() || parent.valid()) &&
           ::fstatat(parent.valid() ? parent.get() : tree, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(st.st_mode);
}

Fd DeviceFolders::stagingFolder(const char* path)
{
    const std::string p = collapsed(path);
    const std::string top = CLONE_STAGING_DIR;
    if (p.compare(0, top.size(), top) != 0 || staging() < 0) {
        return Fd();
    }
    return openBelow(staging(), p.substr(top.size()), O_PATH | O_DIRECTORY, Links::None);
}

bool stageOpenFile(DeviceFolders& folders, const DeviceFile& from, const char* dest)
{
    std::string folder;
    std::string name;
    splitLast(dest, folder, name);
    const Fd dir = folders.stagingFolder(folder.c_str());
    return from.state == DeviceFile::Open && dir.valid() && writeStaged(dir.get(), name, from.fd.get(), from.st, Keep::Nothing);
}

bool stageDeviceFile(DeviceFolders& folders, const char* src, const char* dest, bool keepModeAndTimes)
{
    const DeviceFile from = folders.openFile(src);
    if (from.state != DeviceFile::Open) {
        return false;
    }
    std::string folder;
    std::string name;
    splitLast(dest, folder, name);
    const Fd dir = folders.stagingFolder(folder.c_str());
    return dir.valid() &&
           writeStaged(dir.get(), name, from.fd.get(), from.st, keepModeAndTimes ? Keep::ModeAndTimes : Keep::Nothing);
}

namespace {

// One folder copy, carried out entry by entry from the descriptor of the captured folder.
class FolderCopier {
public:
    FolderCopier(const FolderCopy& copy, int source, const std::string& sourcePath, int target,
                 const std::string& stagedPrefix)
        : copy_(copy), source_(source), sourcePath_(sourcePath), target_(target), stagedPrefix_(stagedPrefix)
    {
    }

    // Copies everything below the captured folder; false when an entry could not be copied.
    bool run()
    {
        std::vector<std::string> pending{""};
        while (!pending.empty()) {
            const std::string rel = std::move(pending.back());
            pending.pop_back();
            // Each folder is reached again from the captured folder: no descriptor per level is held.
            const Fd from = openBelow(source_, rel, O_RDONLY | O_DIRECTORY, Links::None);
            const Fd to = openBelow(target_, rel, O_PATH | O_DIRECTORY, Links::None);
            std::vector<FolderEntry> entries;
            if (!from.valid() || !to.valid() || !listFolder(from.get(), entries)) {
                if (rel.empty()) {
                    return false;
                }
                leaveOut(shown(rel), "it cannot be read");
                continue;
            }
            // In name order, as the shell's pattern gives them: the log says the same on every device.
            std::sort(entries.begin(), entries.end(),
                      [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
            for (const FolderEntry& e : entries) {
                // As the shell matches: a leading dot is matched only by a dot.
                if (rel.empty() && copy_.pattern != nullptr && ::fnmatch(copy_.pattern, e.name.c_str(), FNM_PERIOD) != 0) {
                    continue;
                }
                const std::string relative = rel.empty() ? e.name : rel + "/" + e.name;
                if (entry(from.get(), to.get(), e.name, relative)) {
                    pending.push_back(relative);
                }
            }
        }
        return copied_;
    }

    // After run: folders get their modes, owners and times, deepest first (copying into them
    // changed their times).
    void finishFolders()
    {
        for (auto f = folders_.rbegin(); f != folders_.rend(); ++f) {
            const Fd fd = openBelow(target_, f->first, O_RDONLY | O_DIRECTORY, Links::None);
            if (fd.valid()) {
                keepAll(fd.get(), f->second);
            }
        }
    }

    bool omitsFolder() const { return omitsFolder_; }
    const std::vector<std::string>& made() const { return made_; }

private:
    bool recursive() const { return copy_.pattern == nullptr; }

    std::string shown(const std::string& relative) const { return sourcePath_ + "/" + relative; }

    static void keepAll(int fd, const struct stat& st)
    {
        (void)::fchown(fd, st.st_uid, st.st_gid);
        (void)::fchmod(fd, st.st_mode & 07777);
        (void)keepTimes(fd, st);
    }

    bool refuse(const std::string& relative, const char* why)
    {
        leaveOut(shown(relative), why);
        return false;
    }

    void madeHere(const std::string& relative)
    {
        if (relative.find('/') == std::string::npos) {
            made_.push_back(relative);
        }
    }

    bool copyFile(int to, const std::string& name, const std::string& relative, int fd, const struct stat& st)
    {
        madeHere(relative);
        const bool ok = writeStaged(to, name, fd, st, Keep::All);
        copied_ = ok && copied_;
        return false;
    }

    // Copies the entry NAME of the folder FROM (RELATIVE below the captured folder) into TO; true
    // when it is a folder whose entries are to be copied too.
    bool entry(int from, int to, const std::string& name, const std::string& relative)
    {
        if (recursive() && clonefmt::memberFault(stagedPrefix_ + relative, clonefmt::MemberType::File, "") !=
                               clonefmt::MemberFault::None) {
            return refuse(relative, "its path is too long for a clone file");
        }
        const Fd fd(::openat(from, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (!fd.valid()) {
            if (errno == ELOOP) {
                return link(from, to, name, relative);
            }
            return errno == ENOENT ? false : refuse(relative, "it cannot be examined");
        }
        if (::fstat(fd.get(), &st) != 0) {
            return refuse(relative, "it cannot be examined");
        }
        if (S_ISDIR(st.st_mode)) {
            if (!recursive()) {
                omitsFolder_ = true;  // cp without -r leaves a folder out, and fails
                return false;
            }
            struct stat there;
            const bool folderMade = ::mkdirat(to, name.c_str(), 0700) == 0 ||
                                    (::fstatat(to, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(there.st_mode));
            madeHere(relative);
            if (!folderMade) {
                copied_ = false;
                return false;
            }
            folders_.emplace_back(relative, st);
            return true;
        }
        if (!S_ISREG(st.st_mode)) {
            return refuse(relative, "it is not a regular file or folder");
        }
        if (st.st_nlink > 1) {
            return refuse(relative, "it has other names (hard links), so it may be any file");
        }
        return copyFile(to, name, relative, fd.get(), st);
    }

    // The entry NAME is a link: followed only while it stays inside the captured folder.
    bool link(int from, int to, const std::string& name, const std::string& relative)
    {
        char buf[PATH_MAX];
        const ssize_t n = ::readlinkat(from, name.c_str(), buf, sizeof buf - 1);
        if (n <= 0) {
            return n < 0 && errno == ENOENT ? false : refuse(relative, "it is a link that cannot be read");
        }
        const std::string text(buf, static_cast<std::size_t>(n));
        // An absolute link names a device path; it stays inside only below the captured folder.
        std::string target;
        if (text[0] == '/') {
            const std::string base = collapsed(text);
            const std::string inside = sourcePath_ + "/";
            if (base.compare(0, inside.size(), inside) != 0) {
                return refuse(relative, "it is a link that leads outside its folder");
            }
            target = base.substr(inside.size());
        } else {
            const std::string::size_type slash = relative.rfind('/');
            target = slash == std::string::npos ? text : relative.substr(0, slash + 1) + text;
        }
        const Fd fd = openBelow(source_, target, O_RDONLY | O_NONBLOCK, Links::Beneath);
        struct stat st;
        struct stat top;
        if (!fd.valid()) {
            return refuse(relative, errno == EXDEV ? "it is a link that leads outside its folder"
                                                   : "it is a link that leads nowhere");
        }
        if (::fstat(fd.get(), &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))) {
            return refuse(relative, "it is a link to something that is not a regular file or folder");
        }
        if (S_ISDIR(st.st_mode) && ::fstat(source_, &top) == 0 && top.st_dev == st.st_dev && top.st_ino == st.st_ino) {
            return refuse(relative, "it is a link that leads outside its folder");
        }
        if (S_ISREG(st.st_mode) && st.st_nlink > 1) {
            return refuse(relative, "it is a link to a file with other names (hard links)");
        }
        if (!recursive()) {
            // cp follows a link it is given; one to a folder it leaves out, and fails.
            if (S_ISDIR(st.st_mode)) {
                omitsFolder_ = true;
                return false;
            }
            return copyFile(to, name, relative, fd.get(), st);
        }
        // cp -r keeps a link as a link: it travels so only when it leads down from its own folder.
        if (clonefmt::memberFault(stagedPrefix_ + relative, clonefmt::MemberType::SymbolicLink, text) ==
            clonefmt::MemberFault::None) {
            madeHere(relative);
            struct stat own;
            const bool linkMade = ::symlinkat(text.c_str(), to, name.c_str()) == 0;
            if (linkMade && ::fstatat(from, name.c_str(), &own, AT_SYMLINK_NOFOLLOW) == 0) {
                const struct timespec times[2] = {{own.st_atim.tv_sec, 0}, {own.st_mtim.tv_sec, 0}};
                (void)::fchownat(to, name.c_str(), own.st_uid, own.st_gid, AT_SYMLINK_NOFOLLOW);
                (void)::utimensat(to, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
            }
            copied_ = linkMade && copied_;
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            return refuse(relative, "it is a link to a folder that cannot travel as a link");
        }
        // Travelling as a link it would point outside the clone file: its file goes in its place.
        return copyFile(to, name, relative, fd.get(), st);
    }

    const FolderCopy& copy_;
    const int source_;
    const std::string sourcePath_;  // the captured folder as a device path, without the last slash
    const int target_;
    const std::string stagedPrefix_;
    bool copied_ = true;
    bool omitsFolder_ = false;
    std::vector<std::string> made_;  // what the copy made directly in the staging directory
    std::vector<std::pair<std::string, struct stat>> folders_;
};

}  // namespace

int copyFolder(DeviceFolders& folders, const FolderCopy& copy)
{
    const Fd source = folders.openFolder(copy.folder);
    const Fd dest = folders.stagingFolder(copy.dest);
    struct stat st;
    if (!source.valid() || !dest.valid() || ::fstat(source.get(), &st) != 0) {
        return 1;  // as the command fails on a folder that is not there
    }
    const bool recursive = copy.pattern == nullptr;
    const std::string sourcePath = withoutTrailingSlashes(collapsed(copy.folder));
    const std::string base = sourcePath.substr(sourcePath.rfind('/') + 1);
    const std::string staged = std::string(copy.dest).substr(std::strlen(CLONE_EXPORT_TREE));
    // cp -r puts a folder into the existing staging directory under its own name.
    Fd target;
    if (recursive) {
        struct stat there;
        if (::mkdirat(dest.get(), base.c_str(), 0700) == 0 ||
            (::fstatat(dest.get(), base.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(there.st_mode))) {
            target = openBelow(dest.get(), base, O_RDONLY | O_DIRECTORY, Links::None);
        }
        if (!target.valid()) {
            (void)removeBelow(dest.get(), base);
            return 1;
        }
    }
    FolderCopier copier(copy, source.get(), sourcePath, recursive ? target.get() : dest.get(),
                        recursive ? staged + base + "/" : staged);
    const bool copied = copier.run();
    copier.finishFolders();
    if (recursive) {
        (void)::fchown(target.get(), st.st_uid, st.st_gid);
        (void)::fchmod(target.get(), st.st_mode & 07777);
        (void)keepTimes(target.get(), st);
    }
    // As cp: a folder left out of a flat copy, or nothing to copy at all, fails it.
    const int status = copied && !copier.omitsFolder() && (recursive || !copier.made().empty()) ? 0 : 1;
    if (status != 0) {
        // What a failed copy put there is not part of the clone.
        if (recursive) {
            (void)removeBelow(dest.get(), base);
        } else {
            for (const std::string& name : copier.made()) {
                (void)removeBelow(dest.get(), name);
            }
        }
    }
    return status;
}

namespace {

// The folder of the device file PATH, from the root with no link on the way, and the file's name.
// Invalid (logged when a link is on the way) when the folder cannot be reached.
Fd writableFolder(DeviceFolders& folders, const char* path, std::string& name, struct stat& existing, bool& exists)
{
    std::string folder;
    splitLast(collapsed(path), folder, name);
    Fd dir = folders.openFromRoot(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (!dir.valid()) {
        if (throughLink(errno)) {
            CLONE_LOG(logSpecError, "%s leads through a link; it is not written", path);
        }
        return Fd();
    }
    exists = ::fstatat(dir.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno == ENOENT) {
        return dir;
    }
    if (exists && S_ISREG(existing.st_mode) && existing.st_nlink == 1) {
        return dir;
    }
    CLONE_LOG(logSpecError, "%s is a link, has other names or is not a regular file; it is not written", path);
    return Fd();
}

}  // namespace

bool writableDeviceFile(DeviceFolders& folders, const char* path)
{
    std::string name;
    struct stat existing;
    bool exists = false;
    return writableFolder(folders, path, name, existing, exists).valid();
}

bool replaceDeviceFile(DeviceFolders& folders, const DeviceFile& from, const char* dest)
{
    std::string name;
    struct stat existing;
    bool exists = false;
    const Fd dir = writableFolder(folders, dest, name, existing, exists);
    if (from.state != DeviceFile::Open || !dir.valid()) {
        return false;
    }
    // A new name beside it: the file there is replaced by a rename, never written into.
    std::string temporary;
    Fd out;
    const auto seed = static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (unsigned attempt = 0; attempt < 100 && !out.valid(); ++attempt) {
        temporary = "." + name + "." + std::to_string(::getpid()) + "." + std::to_string(seed % 1000003 + attempt);
        out.reset(::openat(dir.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           exists ? 0600 : 0644));
    }
    bool ok = out.valid() && copyBytes(from.fd.get(), out.get(), from.st.st_size);
    if (ok && exists) {
        (void)::fchown(out.get(), existing.st_uid, existing.st_gid);
        ok = ::fchmod(out.get(), existing.st_mode & 07777) == 0;
    }
    ok = ok && ::fsync(out.get()) == 0;
    ok = out.valid() && ::close(out.release()) == 0 && ok;
    ok = ok && ::renameat(dir.get(), temporary.c_str(), dir.get(), name.c_str()) == 0;
    if (!ok) {
        const SystemError why;
        (void)::unlinkat(dir.get(), temporary.c_str(), 0);
        CLONE_LOG(logSpecError, "%s cannot be written: %s", dest, why.text());
        return false;
    }
    (void)::fsync(dir.get());
    return true;
}

bool certificateInsideTrees(DeviceFolders& folders, const std::string& target)
{
    if (target.empty() || target[0] != '/' || target.back() == '/') {
        return false;
    }
    // As written, with nothing left to resolve: "..", "." and empty names could stand for another path.
    for (std::string::size_type start = 1; start <= target.size();) {
        const std::string::size_type slash = std::min(target.find('/', start), target.size());
        const std::string name = target.substr(start, slash - start);
        if (name.empty() || name == "." || name == "..") {
            return false;
        }
        start = slash + 1;
    }
    const bool inTree = std::any_of(std::begin(kCertificateTrees), std::end(kCertificateTrees), [&](const char* tree) {
        return target.size() > std::strlen(tree) && target.compare(0, std::strlen(tree), tree) == 0;
    });
    const Fd fd = inTree ? folders.openFromRoot(target.c_str(), O_PATH) : Fd();
    struct stat st;
    return fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace cloneutil
