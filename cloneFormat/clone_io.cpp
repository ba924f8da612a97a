#include "clone_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace clonefmt {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

int UniqueFd::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::reset(int fd)
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

bool UniqueFd::close()
{
    if (fd_ < 0) {
        return true;
    }
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

namespace {

// Fills BUF through READ(p, size, done) until SIZE bytes are in; end of file clears errno.
template <typename Read>
bool fill(void* buf, std::size_t size, Read read)
{
    char* p = static_cast<char*>(buf);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = read(p + done, size - done, done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = 0;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

UniqueFd openRegularFile(const std::string& path, std::string& error)
{
    // Without O_NONBLOCK the open of a FIFO waits for a writer; O_NOCTTY keeps a terminal from
    // becoming ours. Nothing is read before the type is known.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        error = errnoText(path);
        return UniqueFd();
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return UniqueFd();
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = errnoText(path);
        return UniqueFd();
    }
    return fd;
}

UniqueFd privateCopy(int source, std::uint64_t sizeHint, std::string& error)
{
    // Memory for what fits easily; a large or unknown input goes to disk, where it can be paged.
    constexpr std::uint64_t kInMemory = 64u << 20;
    UniqueFd copy;
    const bool inMemory = sizeHint != 0 && sizeHint <= kInMemory;
    if (!inMemory) {
        const char* tmp = std::getenv("TMPDIR");
        copy.reset(::open(tmp != nullptr && *tmp == '/' ? tmp : "/tmp", O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600));
    }
    if (!copy.valid()) {
        copy.reset(::memfd_create("clonefile", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    }
    if (!copy.valid()) {
        error = errnoText("cannot make a private copy");
        return UniqueFd();
    }
    std::vector<char> buf(std::size_t{1} << 16);
    for (;;) {
        const ssize_t n = ::read(source, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = errnoText("cannot read");
            return UniqueFd();
        }
        if (n == 0) {
            break;
        }
        if (!writeFully(copy.get(), buf.data(), static_cast<std::size_t>(n))) {
            error = errnoText("cannot write the private copy");
            return UniqueFd();
        }
    }
    // A memfd is sealed against every change; an unnamed file has no name to be opened by.
    const int seals = F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;
    if (::fcntl(copy.get(), F_GET_SEALS) >= 0 && ::fcntl(copy.get(), F_ADD_SEALS, seals) != 0) {
        error = errnoText("cannot seal the private copy");
        return UniqueFd();
    }
    return copy;
}

bool readFully(int fd, void* buf, std::size_t size)
{
    return fill(buf, size, [fd](char* p, std::size_t n, std::size_t) { return ::read(fd, p, n); });
}

bool preadFully(int fd, void* buf, std::size_t size, std::uint64_t offset)
{
    return fill(buf, size, [fd, offset](char* p, std::size_t n, std::size_t done) {
        return ::pread(fd, p, n, static_cast<off_t>(offset + done));
    });
}

bool writeFully(int fd, const void* buf, std::size_t size)
{
    const char* p = static_cast<const char*>(buf);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readSmallFile(const std::string& path, std::size_t maxSize, std::string& content, std::string& error)
{
    const UniqueFd fd = openRegularFile(path, error);
    if (!fd.valid()) {
        return false;
    }
    content.clear();
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = errnoText(path);
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (content.size() + static_cast<std::size_t>(n) > maxSize) {
            error = path + ": larger than " + std::to_string(maxSize) + " bytes";
            return false;
        }
        content.append(buf, static_cast<std::size_t>(n));
    }
}

std::string dirName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string errnoText(const std::string& what)
{
    // strerror_r: the text goes to this call's buffer, not to one all threads share.
    char text[256];
    return what + ": " + ::strerror_r(errno, text, sizeof text);
}

AtomicFile::~AtomicFile()
{
    if (!tempPath_.empty() && !committed_) {
        fd_.reset();
        ::unlink(tempPath_.c_str());
    }
}

bool AtomicFile::open(const std::string& finalPath, std::string& error)
{
    finalPath_ = finalPath;
    const std::size_t slash = finalPath.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    // A dot name, so directory listings and globs for "*.dlm" never pick up a half-written file.
    std::string templ = dir + "." + base + ".XXXXXX";
    const int made = ::mkostemp(templ.data(), O_CLOEXEC);
    if (made < 0) {
        error = errnoText("cannot create a temporary file beside " + finalPath);
        return false;
    }
    fd_.reset(made);
    tempPath_ = templ;
    return true;
}

bool AtomicFile::write(const void* data, std::size_t size, std::string& error)
{
    if (!writeFully(fd_.get(), data, size)) {
        error = errnoText("cannot write " + tempPath_);
        return false;
    }
    return true;
}

bool AtomicFile::commit(mode_t mode, std::string& error)
{
    if (::fchmod(fd_.get(), mode) != 0) {
        error = errnoText("cannot set the mode of " + tempPath_);
        return false;
    }
    // On a full or failing disk the delayed write errors show up here, not in write().
    if (::fsync(fd_.get()) != 0) {
        error = errnoText("cannot flush " + tempPath_);
        return false;
    }
    if (!fd_.close()) {
        error = errnoText("cannot close " + tempPath_);
        return false;
    }
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        error = errnoText("cannot rename " + tempPath_ + " to " + finalPath_);
        return false;
    }
    committed_ = true;
    // The rename itself is only durable once the folder is flushed; a file whose name may not
    // survive is not reported as written, and not left for a reader to trust either.
    UniqueFd dir(::open(dirName(finalPath_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid() || ::fsync(dir.get()) != 0) {
        error = errnoText("cannot flush the folder of " + finalPath_);
        ::unlink(finalPath_.c_str());
        return false;
    }
    return true;
}

}  // namespace clonefmt
