#include "CaptureBoundary.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "Handles.h"
#include "Staging.h"
#include "clone_member.h"
#include "xfile.h"

namespace cloneutil {

namespace {

// TREES (device paths), each as a resolved host path; those that are not there are left out.
template <std::size_t N>
std::vector<std::string> resolvedTrees(const char* const (&trees)[N])
{
    std::vector<std::string> resolved;
    for (const char* tree : trees) {
        std::string host = resolvedPath(withoutTrailingSlashes(devicePath(tree)));
        if (!host.empty()) {
            resolved.push_back(std::move(host));
        }
    }
    return resolved;
}

bool insideAny(const std::string& host, const std::vector<std::string>& trees)
{
    return std::any_of(trees.begin(), trees.end(), [&](const std::string& t) { return isWithin(host, t); });
}

bool isRegularOrFolder(const struct stat& st)
{
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

// ENTRY, which a capture copies, is not copied: an ERROR names it and says why.
void leaveOut(const std::string& entry, const char* why)
{
    CLONE_LOG(logSpecError, "%s is left out of the clone: %s", entry.c_str(), why);
}

}  // namespace

std::string resolvedPath(const std::string& host)
{
    char buf[PATH_MAX];
    return ::realpath(host.c_str(), buf) != nullptr ? std::string(buf) : std::string();
}

bool isWithin(const std::string& host, const std::string& tree)
{
    if (tree == "/") {
        return !host.empty() && host[0] == '/';
    }
    return host.compare(0, tree.size(), tree) == 0 && (host.size() == tree.size() || host[tree.size()] == '/');
}

Source namedSource(const char* path, std::string& readFrom)
{
    readFrom = devicePath(path);
    const std::string host = withoutTrailingSlashes(readFrom);
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) {
        return Source::Missing;
    }
    errno = 0;
    const std::string resolved = resolvedPath(host);
    if (resolved.empty()) {
        // A link to nothing, or a folder on the way that cannot be searched: the copy fails as
        // it would have. A loop or a path too long to follow is refused.
        if (errno == ENOENT || errno == ENOTDIR || errno == EACCES) {
            return Source::Missing;
        }
        CLONE_LOG(logSpecError, "%s cannot be followed to a file; it is not captured", path);
        return Source::Refused;
    }
    if (!insideAny(resolved, resolvedTrees(kDeviceDataTrees))) {
        CLONE_LOG(logSpecError, "%s leads outside the device's data; it is not captured", path);
        return Source::Refused;
    }
    if (::stat(resolved.c_str(), &st) != 0) {
        return Source::Missing;
    }
    // Opening a FIFO or a device node could block, or read without end.
    if (!isRegularOrFolder(st)) {
        CLONE_LOG(logSpecError, "%s is not a regular file or folder; it is not captured", path);
        return Source::Refused;
    }
    readFrom = resolved;
    return Source::Inside;
}

bool certificateInsideTrees(const std::string& target, const char* store)
{
    const std::string device = target[0] == '/' ? target : std::string(store) + target;
    const std::string resolved = resolvedPath(devicePath(device.c_str()));
    struct stat st;
    return !resolved.empty() && ::stat(resolved.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           insideAny(resolved, resolvedTrees(kCertificateTrees));
}

bool stageDeviceFile(const char* src, const char* dest)
{
    std::string from;
    if (namedSource(src, from) == Source::Refused) {
        return false;
    }
    std::string to = devicePath(dest);
    if (xcopyp(from.data(), to.data()) == XFILE_OK) {
        return true;
    }
    (void)::unlink(to.c_str());
    return false;
}

bool writableDeviceFile(const char* path)
{
    struct stat st;
    if (::lstat(devicePath(path).c_str(), &st) == 0 ? S_ISREG(st.st_mode) : errno == ENOENT) {
        return true;
    }
    CLONE_LOG(logSpecError, "%s is a link or not a regular file; it is not written", path);
    return false;
}

bool removeStaged(const std::string& host)
{
    // Folders are listed first and removed last, deepest first; nothing is held open on the way,
    // so a deep tree needs no descriptor per level.
    std::vector<std::string> folders;
    std::vector<std::string> pending{host};
    bool removed = true;
    while (!pending.empty()) {
        const std::string path = std::move(pending.back());
        pending.pop_back();
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) {
            removed = removed && errno == ENOENT;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            removed = ::unlink(path.c_str()) == 0 && removed;
            continue;
        }
        folders.push_back(path);
        Dir dir(::opendir(path.c_str()));
        for (struct dirent* e = dir ? ::readdir(dir.get()) : nullptr; e != nullptr; e = ::readdir(dir.get())) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                pending.push_back(path + "/" + e->d_name);
            }
        }
    }
    for (auto f = folders.rbegin(); f != folders.rend(); ++f) {
        removed = ::rmdir(f->c_str()) == 0 && removed;
    }
    return removed;
}

namespace {

// One entry that a folder copy takes, below the folder.
struct Planned {
    enum Kind { File, Folder, Link };
    std::string relative;
    Kind kind;
    std::string from;  // the host path read (a link's resolved target when it is copied as a file)
    std::string linkText;
};

struct Plan {
    std::vector<Planned> entries;  // folders before what they hold
    bool literal = true;           // the command line copies exactly these entries
    bool omitsFolder = false;      // a folder in a flat copy: cp leaves it out and fails
    std::size_t argumentBytes = 0;
};

// The names in the host folder DIR ("." and ".." left out) that PATTERN takes (all without one),
// sorted; false when it cannot be read.
bool namesIn(const std::string& dir, const char* pattern, std::vector<std::string>& names)
{
    Dir d(::opendir(dir.c_str()));
    if (!d) {
        return false;
    }
    for (struct dirent* e = ::readdir(d.get()); e != nullptr; e = ::readdir(d.get())) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) {
            continue;
        }
        // As the shell matches: a leading dot is matched only by a dot.
        if (pattern == nullptr || ::fnmatch(pattern, e->d_name, FNM_PERIOD) == 0) {
            names.emplace_back(e->d_name);
        }
    }
    std::sort(names.begin(), names.end());
    return true;
}

// The most a command line's arguments may take: above it, the command could not be started.
std::size_t argumentLimit()
{
    const long max = ::sysconf(_SC_ARG_MAX);
    // Half, for the environment and what the shell adds.
    return max > 0 ? static_cast<std::size_t>(max) / 2 : 65536;
}

class Planner {
public:
    Planner(const FolderCopy& copy, std::string root, std::string stagedPrefix)
        : copy_(copy), root_(std::move(root)), stagedPrefix_(std::move(stagedPrefix))
    {
    }

    // Plans the copy of the folder (resolved to ROOT); false when it cannot be read.
    bool plan(Plan& plan)
    {
        std::vector<std::string> pending{""};
        while (!pending.empty()) {
            const std::string dir = std::move(pending.back());
            pending.pop_back();
            std::vector<std::string> names;
            if (!namesIn(dir.empty() ? root_ : root_ + "/" + dir, dir.empty() ? copy_.pattern : nullptr, names)) {
                if (dir.empty()) {
                    return false;
                }
                leaveOut(shown(dir), "it cannot be read");
                plan.literal = false;
                continue;
            }
            for (const std::string& name : names) {
                const std::string relative = dir.empty() ? name : std::string(dir).append("/").append(name);
                if (consider(relative, plan)) {
                    pending.push_back(relative);
                }
            }
        }
        return true;
    }

private:
    std::string shown(const std::string& relative) const
    {
        return withoutTrailingSlashes(copy_.folder) + "/" + relative;
    }

    // Plans RELATIVE; true when it is a folder whose entries are to be planned too.
    bool consider(const std::string& relative, Plan& plan)
    {
        const std::string host = root_ + "/" + relative;
        const bool recursive = copy_.pattern == nullptr;
        if (recursive &&
            clonefmt::memberFault(stagedPrefix_ + relative, clonefmt::MemberType::File, "") != clonefmt::MemberFault::None) {
            return refuse(relative, "its path is too long for a clone file", plan);
        }
        struct stat st;
        if (::lstat(host.c_str(), &st) != 0) {
            return refuse(relative, "it cannot be examined", plan);
        }
        plan.argumentBytes += host.size() + 1 + sizeof(char*);
        if (S_ISREG(st.st_mode)) {
            plan.entries.push_back({relative, Planned::File, host, ""});
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            if (!recursive) {
                plan.omitsFolder = true;
                return false;
            }
            plan.entries.push_back({relative, Planned::Folder, host, ""});
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            return refuse(relative, "it is not a regular file or folder", plan);
        }
        const std::string resolved = resolvedPath(host);
        if (resolved.empty()) {
            return refuse(relative, "it is a link that leads nowhere", plan);
        }
        if (!isWithin(resolved, root_) || resolved == root_) {
            return refuse(relative, "it is a link that leads outside its folder", plan);
        }
        struct stat target;
        if (::stat(resolved.c_str(), &target) != 0 || !isRegularOrFolder(target)) {
            return refuse(relative, "it is a link to something that is not a regular file or folder", plan);
        }
        if (!recursive) {
            // cp follows a link it is given; one to a folder it leaves out, and fails.
            if (S_ISDIR(target.st_mode)) {
                plan.omitsFolder = true;
            } else {
                plan.entries.push_back({relative, Planned::File, resolved, ""});
            }
            return false;
        }
        // cp -r keeps a link as a link: it travels so only when it leads down from its own folder.
        char text[PATH_MAX];
        const ssize_t n = ::readlink(host.c_str(), text, sizeof text - 1);
        const std::string linkText = n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string();
        if (clonefmt::memberFault(stagedPrefix_ + relative, clonefmt::MemberType::SymbolicLink, linkText) ==
            clonefmt::MemberFault::None) {
            plan.entries.push_back({relative, Planned::Link, resolved, linkText});
            return false;
        }
        if (S_ISDIR(target.st_mode)) {
            return refuse(relative, "it is a link to a folder that cannot travel as a link", plan);
        }
        // Travelling as a link it would point outside the clone file: its file goes in its place.
        plan.literal = false;
        plan.entries.push_back({relative, Planned::File, resolved, ""});
        return false;
    }

    bool refuse(const std::string& relative, const char* why, Plan& plan)
    {
        leaveOut(shown(relative), why);
        plan.literal = false;
        return false;
    }

    const FolderCopy& copy_;
    const std::string root_;
    const std::string stagedPrefix_;
};

// Gives the copied folder TO the mode and whole-second times of FROM, as cp -p does.
void keepModeAndTimes(const std::string& from, const std::string& to)
{
    struct stat st;
    if (::stat(from.c_str(), &st) != 0) {
        return;
    }
    (void)::chmod(to.c_str(), st.st_mode & 07777);
    const struct timespec times[2] = {{st.st_atim.tv_sec, 0}, {st.st_mtim.tv_sec, 0}};
    (void)::utimensat(AT_FDCWD, to.c_str(), times, 0);
}

bool copyFile(const std::string& from, const std::string& to)
{
    std::string source = from;
    std::string dest = to;
    return xcopyp(source.data(), dest.data()) == XFILE_OK;
}

// Carries out PLAN from the folder ROOT into TARGET (a folder, made for a whole tree): what the
// command line would have done with the planned entries. False when an entry could not be copied.
bool copyEntries(const Plan& plan, const std::string& root, const std::string& target, bool recursive)
{
    bool copied = true;
    std::vector<const Planned*> folders;
    for (const Planned& e : plan.entries) {
        const std::string to = target + "/" + e.relative;
        switch (e.kind) {
        case Planned::File:
            copied = copyFile(e.from, to) && copied;
            break;
        case Planned::Folder: {
            struct stat st;
            const bool made = ::mkdir(to.c_str(), 0700) == 0 || (::lstat(to.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
            copied = made && copied;
            folders.push_back(&e);
            break;
        }
        case Planned::Link:
            copied = ::symlink(e.linkText.c_str(), to.c_str()) == 0 && copied;
            break;
        }
    }
    // Modes and times of folders last, deepest first: copying into them changes their times.
    for (auto f = folders.rbegin(); f != folders.rend(); ++f) {
        keepModeAndTimes((*f)->from, target + "/" + (*f)->relative);
    }
    if (recursive) {
        keepModeAndTimes(root, target);
    }
    return copied;
}

// The copy's own command line; its status, -1 when the line does not fit.
int runCopyCommand(const FolderCopy& copy)
{
    PathBuffer command;
    const std::string line = std::string(copy.cp) + " " + copy.folder + (copy.pattern != nullptr ? copy.pattern : "") +
                             " " + copy.dest + " 2>/dev/null";
    return deviceCommandLine(command, line) ? runCommand(command) : -1;
}

}  // namespace

int copyFolder(const FolderCopy& copy)
{
    std::string root;
    switch (namedSource(copy.folder, root)) {
    case Source::Missing:
        // The command fails as it always did, with nothing to copy.
        return runCopyCommand(copy);
    case Source::Refused:
        return 1;
    case Source::Inside:
        break;
    }
    const bool recursive = copy.pattern == nullptr;
    const std::string named = withoutTrailingSlashes(copy.folder);
    const std::string base = named.substr(named.rfind('/') + 1);
    const std::string staged = std::string(copy.dest).substr(std::strlen(CLONE_EXPORT_TREE));
    const std::string dest = withoutTrailingSlashes(devicePath(copy.dest));
    // cp -r puts a folder into the existing staging directory under its own name.
    const std::string target = recursive ? dest + "/" + base : dest;

    Plan plan;
    Planner planner(copy, root, recursive ? staged + base + "/" : staged);
    struct stat st;
    if (!planner.plan(plan)) {
        // A folder that cannot be read: the command fails on it as it always did.
        plan = Plan();
    } else if (recursive && copy.folder[std::strlen(copy.folder) - 1] != '/' &&
               (::lstat(devicePath(named.c_str()).c_str(), &st) != 0 || S_ISLNK(st.st_mode))) {
        // cp -r copies a folder named without a slash as the link it may be, not where it leads.
        plan.literal = false;
    }
    if (!recursive && plan.argumentBytes > argumentLimit()) {
        plan.literal = false;
    }

    int status;
    if (plan.literal) {
        status = runCopyCommand(copy);
    } else {
        const bool made = !recursive || ::mkdir(target.c_str(), 0700) == 0 ||
                          (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
        // As cp: a folder left out of a flat copy, or nothing to copy at all, fails it.
        const bool copied = made && copyEntries(plan, root, target, recursive);
        status = copied && !plan.omitsFolder && (recursive || !plan.entries.empty()) ? 0 : 1;
    }
    if (status != 0) {
        // What a failed copy put there is not part of the clone.
        if (recursive) {
            (void)removeStaged(target);
        } else {
            for (const Planned& e : plan.entries) {
                (void)removeStaged(target + "/" + e.relative);
            }
        }
    }
    return status;
}

}  // namespace cloneutil
