#include "xfile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const size_t kChunk = 8192;

// Closes the descriptor it holds on every return path.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// Copies from the current offsets to the end of the source, then flushes the destination once.
status_t copy(int srcFd, int destFd)
{
    char buf[kChunk];
    status_t status = XFILE_OK;
    errno = 0;
    for (;;) {
        const int bytesRead = iread(srcFd, buf, kChunk);
        if (bytesRead == 0) {
            break;
        }
        // A short read with errno still 0 is the end of the file; iread's -1 lands here too.
        if (bytesRead < static_cast<int>(kChunk) && errno != 0) {
            status = XFILE_EREAD;
            break;
        }
        if (iwrite(destFd, buf, static_cast<size_t>(bytesRead)) != bytesRead) {
            status = XFILE_EWRITE;
            break;
        }
    }
    ::fsync(destFd);
    return status;
}

status_t copyWithFlags(const char* src, const char* dest, int destFlags)
{
    // Opened without blocking; a FIFO, socket or device node in place of a device file counts as
    // a source that cannot be opened: it would hang the export or copy without end.
    Fd in(::open(src, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    const bool readable = in.valid() && ::fstat(in.get(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode));
    if (!readable) {
        // Nothing is created or truncated for a source that is not there: a missing file must not
        // leave an empty copy (or an emptied backup) behind.
        return XFILE_EOPEN;
    }
    Fd out(::open(dest, destFlags | O_CLOEXEC, 0644));
    if (!out.valid()) {
        return XFILE_EOPEN;
    }
    return copy(in.get(), out.get());
}

}  // namespace

extern "C" status_t xcopy(char* src, char* dest)
{
    return copyWithFlags(src, dest, O_WRONLY | O_CREAT | O_TRUNC);
}

extern "C" status_t xappend(char* src, char* dest)
{
    return copyWithFlags(src, dest, O_WRONLY | O_CREAT | O_APPEND);
}

extern "C" status_t xcopyp(char* src, char* dest)
{
    const status_t status = xcopy(src, dest);
    if (status != XFILE_OK) {
        return status;
    }
    struct stat st;
    if (::stat(src, &st) != 0) {
        // The source vanished after the copy: the copy stands, but its times cannot be kept.
        return XFILE_ETIMES;
    }
    ::chmod(dest, st.st_mode);
    const struct timespec times[2] = {{st.st_atim.tv_sec, 0}, {st.st_mtim.tv_sec, 0}};
    return ::utimensat(AT_FDCWD, dest, times, 0) < 0 ? XFILE_ETIMES : XFILE_OK;
}
