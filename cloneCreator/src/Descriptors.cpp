#include "Descriptors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(SYS_openat2) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#define CLONE_HAVE_OPENAT2 1
#endif

namespace cloneutil {

namespace {

// As the kernel allows: more links on one path are a loop.
constexpr int kMaxLinks = 40;

std::atomic<bool> walkOnlySetting{false};

std::deque<std::string> components(const std::string& path)
{
    std::deque<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) {
            return parts;
        }
        start = slash + 1;
    }
}

bool hasDotDot(const std::string& path)
{
    const std::deque<std::string> parts = components(path);
    return std::find(parts.begin(), parts.end(), "..") != parts.end();
}

// The text of the link NAME in DIRFD; false when NAME is no link (or is gone).
bool readLinkAt(int dirfd, const std::string& name, std::string& text)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlinkat(dirfd, name.c_str(), buf, sizeof buf);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) {
        return false;
    }
    text.assign(buf, static_cast<std::size_t>(n));
    return true;
}

// The folders NAMES below DIRFD, walked down with no link on the way.
Fd walkNames(int dirfd, const std::vector<std::string>& names)
{
    Fd here;
    for (const std::string& name : names) {
        Fd next(::openat(here.valid() ? here.get() : dirfd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid()) {
            return Fd();
        }
        here = std::move(next);
    }
    return here;
}

// openBelow one openat at a time. Only the folder the walk stands in is held open; a ".." walks
// down again from DIRFD, so a deep path needs no descriptor per level.
Fd walkBelow(int dirfd, const std::string& relative, int flags, Links links)
{
    std::deque<std::string> todo = components(relative);
    std::vector<std::string> at;  // the folders below DIRFD the walk stands in
    Fd here;                      // the last of them; invalid while it stands in DIRFD itself
    int followed = 0;
    while (!todo.empty()) {
        std::string name = std::move(todo.front());
        todo.pop_front();
        if (name.empty() || name == ".") {
            continue;
        }
        const int current = here.valid() ? here.get() : dirfd;
        if (name == "..") {
            if (links == Links::None || at.empty()) {
                errno = EXDEV;
                return Fd();
            }
            at.pop_back();
            here = walkNames(dirfd, at);
            if (!at.empty() && !here.valid()) {
                return Fd();
            }
            continue;
        }
        // A trailing slash leaves an empty name behind: the name before it must be a folder.
        const bool last = todo.empty();
        Fd next(::openat(current, name.c_str(), (last ? flags : O_PATH | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC));
        if (next.valid()) {
            struct stat st;
            // O_PATH opens a link itself rather than refusing it.
            if (((last ? flags : O_PATH) & O_PATH) != 0 && ::fstat(next.get(), &st) == 0 && S_ISLNK(st.st_mode)) {
                next.reset();
            } else if (last) {
                return next;
            } else {
                here = std::move(next);
                at.push_back(std::move(name));
                continue;
            }
        }
        const int error = errno;
        std::string text;
        if (!readLinkAt(current, name, text)) {
            errno = error;
            return Fd();
        }
        if (links == Links::None || ++followed > kMaxLinks) {
            errno = ELOOP;
            return Fd();
        }
        if (text.empty() || text[0] == '/') {
            errno = text.empty() ? ENOENT : EXDEV;
            return Fd();
        }
        const std::deque<std::string> parts = components(text);
        todo.insert(todo.begin(), parts.begin(), parts.end());
    }
    return Fd(::openat(here.valid() ? here.get() : dirfd, ".", flags | O_CLOEXEC));
}

#ifdef CLONE_HAVE_OPENAT2
// 1 once openat2 has worked, -1 once the kernel (or an emulator) has shown it has none.
std::atomic<int> openat2State{0};

// openBelow through openat2; false when it is not there, so the walk must do it.
bool openat2Below(int dirfd, const std::string& relative, int flags, Links links, Fd& result)
{
    if (walkOnlySetting.load() || openat2State.load() < 0) {
        return false;
    }
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = static_cast<unsigned long long>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS | (links == Links::None ? RESOLVE_NO_SYMLINKS : 0);
    // EAGAIN: a rename in the folder raced a ".."; after a few tries the walk does it.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const long fd = ::syscall(SYS_openat2, dirfd, relative.c_str(), &how, sizeof how);
        if (fd >= 0) {
            openat2State.store(1);
            result.reset(static_cast<int>(fd));
            return true;
        }
        if (errno == ENOSYS || errno == E2BIG || (errno == EPERM && openat2State.load() == 0)) {
            openat2State.store(-1);
            return false;
        }
        if (errno != EAGAIN) {
            result.reset();
            return true;
        }
    }
    return false;
}
#endif

}  // namespace

void resolveByWalkOnly(bool walkOnly)
{
    walkOnlySetting.store(walkOnly);
}

Fd openBelow(int dirfd, const std::string& relative, int flags, Links links)
{
    if (!relative.empty() && relative[0] == '/') {
        errno = EXDEV;
        return Fd();
    }
    if (links == Links::None && hasDotDot(relative)) {
        errno = EXDEV;
        return Fd();
    }
    if (relative.find_first_not_of("/.") == std::string::npos && !hasDotDot(relative)) {
        return Fd(::openat(dirfd, ".", flags | O_CLOEXEC));
    }
#ifdef CLONE_HAVE_OPENAT2
    Fd opened;
    if (openat2Below(dirfd, relative, flags, links, opened)) {
        return opened;
    }
#endif
    return walkBelow(dirfd, relative, flags, links);
}

bool listFolder(int fd, std::vector<FolderEntry>& entries)
{
    const int own = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) {
        return false;
    }
    Dir dir(::fdopendir(own));
    if (!dir) {
        const int error = errno;
        ::close(own);
        errno = error;
        return false;
    }
    for (;;) {
        errno = 0;
        const struct dirent* e = ::readdir(dir.get());
        if (e == nullptr) {
            return errno == 0;
        }
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            entries.push_back({e->d_name, e->d_type});
        }
    }
}

namespace {

// Copies [START, END) of FROM into TO at the same offsets. SHRANK is set, and REACHED says how
// far it went, when FROM ends before END.
bool copyRange(int from, int to, off_t start, off_t end, bool& shrank, off_t& reached)
{
    off_t in = start;
    off_t out = start;
    // In the kernel where it can: no bytes pass through this process.
    while (in < end) {
        const ssize_t n = ::copy_file_range(from, &in, to, &out, static_cast<std::size_t>(std::min<off_t>(end - in, 1 << 30)), 0);
        if (n > 0) {
            continue;
        }
        if (n == 0) {
            shrank = true;
            reached = in;
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != ENOSYS && errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP) {
            return false;
        }
        break;
    }
    constexpr std::size_t kChunk = 65536;
    std::unique_ptr<char[]> buf;
    while (in < end) {
        if (!buf) {
            buf.reset(new char[kChunk]);
        }
        const ssize_t n = ::pread(from, buf.get(), static_cast<std::size_t>(std::min<off_t>(end - in, kChunk)), in);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            shrank = n == 0;
            reached = in;
            return n == 0;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::pwrite(to, buf.get() + done, static_cast<std::size_t>(n - done), out + done);
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                if (w == 0) {
                    errno = ENOSPC;
                }
                return false;
            }
            done += w;
        }
        in += n;
        out += n;
    }
    return true;
}

}  // namespace

bool copyBytes(int from, int to, off_t size)
{
    struct stat st;
    // Only a file with fewer blocks than bytes can have holes worth looking for.
    const bool sparse = ::fstat(from, &st) == 0 && static_cast<off_t>(st.st_blocks) * 512 < st.st_size;
    off_t pos = 0;
    off_t end = size;
    bool shrank = false;
    while (pos < size && !shrank) {
        off_t data = pos;
        off_t hole = size;
        if (sparse) {
            data = ::lseek(from, pos, SEEK_DATA);
            if (data < 0 && errno == ENXIO) {
                break;  // a hole to the end
            }
            if (data < 0) {
                data = pos;  // no SEEK_DATA here: all of it is data
            } else {
                hole = ::lseek(from, data, SEEK_HOLE);
                hole = hole < 0 ? size : std::min(hole, size);
            }
        }
        if (data >= size) {
            break;
        }
        if (!copyRange(from, to, data, hole, shrank, end)) {
            return false;
        }
        pos = hole;
    }
    // The length, with the trailing hole that no data run reached.
    while (::ftruncate(to, shrank ? end : size) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

namespace {

// Folders this deep below the top are moved up to it before they are emptied: removal then needs
// no descriptor per level, whatever the depth.
constexpr int kHeldLevels = 16;
constexpr char kMovedPrefix[] = ".cloneCreator.removing.";

struct Removal {
    int top;
    std::vector<std::string> moved;  // folders moved up to TOP, still to be removed
    unsigned next = 0;
};

bool removeAt(int dirfd, const std::string& name, int depth, Removal& r);

// NOLINTNEXTLINE(misc-no-recursion): removeAt descends only to a bounded depth, then moves the rest up
bool emptyFolder(int fd, int depth, Removal& r)
{
    std::vector<FolderEntry> entries;
    bool removed = listFolder(fd, entries);
    for (const FolderEntry& e : entries) {
        removed = removeAt(fd, e.name, depth, r) && removed;
    }
    return removed;
}

// NOLINTNEXTLINE(misc-no-recursion): as emptyFolder
bool removeAt(int dirfd, const std::string& name, int depth, Removal& r)
{
    if (::unlinkat(dirfd, name.c_str(), 0) == 0 || errno == ENOENT) {
        return true;
    }
    if (errno != EISDIR && errno != EPERM) {
        return false;
    }
    if (depth >= kHeldLevels) {
        const std::string up = kMovedPrefix + std::to_string(::getpid()) + "." + std::to_string(r.next++);
        if (::renameat(dirfd, name.c_str(), r.top, up.c_str()) == 0) {
            r.moved.push_back(up);
            return true;
        }
    }
    Fd fd(::openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        return errno == ENOENT;
    }
    const bool emptied = emptyFolder(fd.get(), depth + 1, r);
    fd.reset();
    return (::unlinkat(dirfd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) && emptied;
}

bool finishMoved(Removal& r)
{
    bool removed = true;
    while (!r.moved.empty()) {
        const std::string name = std::move(r.moved.back());
        r.moved.pop_back();
        removed = removeAt(r.top, name, 0, r) && removed;
    }
    return removed;
}

}  // namespace

bool removeBelow(int dirfd, const std::string& name)
{
    Removal r{dirfd, {}, 0};
    const bool removed = removeAt(dirfd, name, 0, r);
    return finishMoved(r) && removed;
}

bool removeEntries(int dirfd)
{
    std::vector<FolderEntry> entries;
    bool removed = listFolder(dirfd, entries);
    Removal r{dirfd, {}, 0};
    for (const FolderEntry& e : entries) {
        // Dot names are the staging area's own (its lock), but for what a removal cut short left.
        if (e.name[0] != '.' || e.name.compare(0, sizeof kMovedPrefix - 1, kMovedPrefix) == 0) {
            removed = removeAt(dirfd, e.name, 0, r) && removed;
        }
    }
    return finishMoved(r) && removed;
}

File openForWriting(const std::string& path, WriteMode mode)
{
    Fd fd;
    if (mode == WriteMode::Append) {
        // Added to only when it is a regular file of one name: what this export began.
        fd.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
        struct stat st;
        if (fd.valid() && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)) {
            fd.reset();
            errno = EINVAL;
        }
    } else {
        // A new file every time: whatever stood at the name (a link, a file with other names, a
        // device node) is replaced, never written into.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT && errno != EISDIR) {
            return File();
        }
        fd.reset(::open(path.c_str(), (mode == WriteMode::Update ? O_RDWR : O_WRONLY) | O_CREAT | O_EXCL | O_NOFOLLOW |
                                          O_CLOEXEC, 0644));
    }
    File file(fd.valid() ? ::fdopen(fd.get(), mode == WriteMode::Append ? "a" : mode == WriteMode::Update ? "w+" : "w")
                         : nullptr);
    if (file) {
        (void)fd.release();
    }
    return file;
}

}  // namespace cloneutil
