// Small POSIX file helpers shared by the host stand-ins and the clonefile command: an owning
// descriptor, an open that only ever yields a regular file, whole-buffer reads and writes, and a
// file that appears whole under its name or not at all.
#ifndef CLONE_FORMAT_CLONE_IO_H
#define CLONE_FORMAT_CLONE_IO_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace clonefmt {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);
    // close() with its result, for writers that must know the data reached the file.
    bool close();

private:
    int fd_;
};

// Opens PATH for reading when it is a regular file. A FIFO or a device would block the open or its
// reads (or act on the open), so anything else is refused at once: ERROR "PATH: not a regular file".
UniqueFd openRegularFile(const std::string& path, std::string& error);

// Copies all that SOURCE yields, read sequentially to its end, into a file no other process can
// name or change: memory (a sealed memfd) when SIZEHINT is small, else an unnamed file in $TMPDIR
// (or /tmp). SIZEHINT is 0 when unknown (a pipe). Whatever is checked and read afterwards comes from
// the copy, so a file rewritten in place meanwhile, or one that can only be read once, is read once.
UniqueFd privateCopy(int source, std::uint64_t sizeHint, std::string& error);

// Reads exactly SIZE bytes (retrying short reads and EINTR); false on an error or an early end.
bool readFully(int fd, void* buf, std::size_t size);
// pread() variant of readFully.
bool preadFully(int fd, void* buf, std::size_t size, std::uint64_t offset);
// Writes all SIZE bytes; false (errno set) on failure.
bool writeFully(int fd, const void* buf, std::size_t size);

// Reads a whole small regular file (at most MAXSIZE bytes); false when it cannot be read, is not a
// regular file or is larger.
bool readSmallFile(const std::string& path, std::size_t maxSize, std::string& content, std::string& error);

// Directory part of PATH ("." when there is none).
std::string dirName(const std::string& path);

// "what: strerror(errno)".
std::string errnoText(const std::string& what);

// A file written under a temporary name in its final folder and renamed into place by commit():
// readers see the old file or the complete new one, never a part. Until commit() succeeds the
// destructor removes the temporary, so no early return leaves one behind.
class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file beside FINALPATH.
    bool open(const std::string& finalPath, std::string& error);
    int fd() const { return fd_.get(); }
    bool write(const void* data, std::size_t size, std::string& error);
    // Flushes the data, gives the file MODE, renames it to the final name and flushes the folder.
    bool commit(mode_t mode, std::string& error);
    const std::string& temporaryPath() const { return tempPath_; }

private:
    std::string finalPath_;
    std::string tempPath_;
    UniqueFd fd_;
    bool committed_ = false;
};

}  // namespace clonefmt

#endif
