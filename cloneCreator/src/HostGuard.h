// What keeps an export a guest of its host: descriptors a host's fork() must not keep, a file-size
// limit that fails a write instead of killing the process, and enough descriptors for the tools.
#ifndef CLONE_HOST_GUARD_H
#define CLONE_HOST_GUARD_H

#include <csignal>

namespace cloneutil {

// While held, FD is closed in any child the host makes with fork(): a child that lives on must not
// keep the export lock, the process descriptor or a pipe end the export waits on. Register a
// descriptor after it is opened and drop the registration before closing it.
class ForkClosed {
public:
    explicit ForkClosed(int fd = -1) { hold(fd); }
    ~ForkClosed() { drop(); }
    ForkClosed(const ForkClosed&) = delete;
    ForkClosed& operator=(const ForkClosed&) = delete;
    void hold(int fd);
    void drop() noexcept;

private:
    int slot_ = -1;
};

// SIGXFSZ blocked on the calling thread for the guard's life, so a write past RLIMIT_FSIZE fails
// with EFBIG; one the export raised is taken before the caller's mask comes back.
class FileSizeSignalBlocked {
public:
    FileSizeSignalBlocked() noexcept;
    ~FileSizeSignalBlocked();
    FileSizeSignalBlocked(const FileSizeSignalBlocked&) = delete;
    FileSizeSignalBlocked& operator=(const FileSizeSignalBlocked&) = delete;

private:
    sigset_t previous_;
    bool changed_ = false;
    bool pendingBefore_ = false;
};

// Descriptors an export needs free at its start: the lock, staging and output folders, the walk's
// folder chain, and a tool's supervisor, pipe, /dev/null and process descriptor.
constexpr long kExportDescriptors = 24;

// Free descriptors under RLIMIT_NOFILE now.
long freeDescriptors();

// Removes hidden temp files the signing and the font capture left in DIR (a crash, a file-size
// limit): regular files of ours named .cloning.dlm.XXXXXX or .pclFonts.dlm.XXXXXX.
void removeStaleTempFiles(const char* dir);

}  // namespace cloneutil

#endif
