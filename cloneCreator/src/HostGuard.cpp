#include "HostGuard.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Handles.h"

namespace cloneutil {

namespace {

// One export at a time holds its device folders (one per data tree) and a handful more: a fixed
// table needs no allocation in the child.
constexpr int kSlots = 64;
std::atomic<int> forkClosed[kSlots];
pthread_once_t atforkOnce = PTHREAD_ONCE_INIT;

// Runs in the child of a fork() only: close() is async-signal-safe, and the parent's lock stays
// held by the parent's own descriptor.
void closeInForkChild()
{
    for (std::atomic<int>& slot : forkClosed) {
        const int fd = slot.load();
        if (fd >= 0) {
            (void)::close(fd);
            slot.store(-1);
        }
    }
}

void registerAtfork()
{
    for (std::atomic<int>& slot : forkClosed) {
        slot.store(-1);
    }
    (void)::pthread_atfork(nullptr, nullptr, closeInForkChild);
}

}  // namespace

void ForkClosed::hold(int fd)
{
    drop();
    if (fd < 0) {
        return;
    }
    (void)::pthread_once(&atforkOnce, registerAtfork);
    for (int i = 0; i < kSlots; ++i) {
        int empty = -1;
        if (forkClosed[i].compare_exchange_strong(empty, fd)) {
            slot_ = i;
            return;
        }
    }
}

void ForkClosed::drop() noexcept
{
    if (slot_ >= 0) {
        forkClosed[slot_].store(-1);
        slot_ = -1;
    }
}

FileSizeSignalBlocked::FileSizeSignalBlocked() noexcept
{
    sigset_t pending;
    if (::sigpending(&pending) == 0) {
        pendingBefore_ = sigismember(&pending, SIGXFSZ) == 1;
    }
    sigset_t fileSize;
    sigemptyset(&fileSize);
    sigaddset(&fileSize, SIGXFSZ);
    changed_ = ::pthread_sigmask(SIG_BLOCK, &fileSize, &previous_) == 0;
}

FileSizeSignalBlocked::~FileSizeSignalBlocked()
{
    if (!changed_) {
        return;
    }
    // A write past the limit left SIGXFSZ pending on this thread: it was the export's, answered by
    // EFBIG already, and must not reach a host that has it unblocked.
    if (!pendingBefore_ && sigismember(&previous_, SIGXFSZ) != 1) {
        sigset_t pending;
        if (::sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1) {
            sigset_t fileSize;
            sigemptyset(&fileSize);
            sigaddset(&fileSize, SIGXFSZ);
            const struct timespec now = {0, 0};
            while (::sigtimedwait(&fileSize, nullptr, &now) == -1 && errno == EINTR) {
            }
        }
    }
    (void)::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

long freeDescriptors()
{
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return kExportDescriptors;
    }
    // Probing below the limit, not /proc: it needs no descriptor of its own and no mounted /proc.
    // Only descriptors below the limit count; with a huge limit the first ones free are enough.
    long free = 0;
    for (long fd = 0; fd < static_cast<long>(limit.rlim_cur) && free < kExportDescriptors; ++fd) {
        if (::fcntl(static_cast<int>(fd), F_GETFD) == -1 && errno == EBADF) {
            ++free;
        }
    }
    return free;
}

void removeStaleTempFiles(const char* dir)
{
    const Fd folder(::open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid()) {
        return;
    }
    const int listed = ::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0);
    if (listed < 0) {
        return;
    }
    const Dir entries(::fdopendir(listed));
    if (!entries) {
        (void)::close(listed);
        return;
    }
    static const char* const kPrefixes[] = {".cloning.dlm.", ".pclFonts.dlm."};
    while (const struct dirent* entry = ::readdir(entries.get())) {
        for (const char* prefix : kPrefixes) {
            const size_t length = std::strlen(prefix);
            if (std::strncmp(entry->d_name, prefix, length) != 0 || std::strlen(entry->d_name) != length + 6) {
                continue;
            }
            struct stat st;
            if (::fstatat(folder.get(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
                st.st_uid == ::geteuid()) {
                (void)::unlinkat(folder.get(), entry->d_name, 0);
            }
        }
    }
}

}  // namespace cloneutil
