// A file read as a stream (as std::ifstream reads it), but opened close-on-exec: a child that the
// host starts from another thread meanwhile inherits no handle on the library's files. Only a
// regular file is read (a FIFO in its place would block the export), judged on what was opened.
#ifndef CLONE_INPUTFILE_H
#define CLONE_INPUTFILE_H

#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <istream>
#include <memory>
#include <string>

namespace cloneutil {

class InputFile : public std::istream {
public:
    InputFile() : std::istream(nullptr) {}
    explicit InputFile(const std::string& path) : InputFile() { open(path); }

    enum class Links { Refuse, Follow };
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False (and the stream failed) when PATH cannot be opened for reading. A link at PATH is not
    // followed unless LINKS says so: the library's own files are never links.
    bool open(const std::string& path, Links links = Links::Refuse)
    {
        close();
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::Refuse ? O_NOFOLLOW : 0));
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            if (fd >= 0) {
                ::close(fd);
            }
            setstate(std::ios::failbit);
            return false;
        }
        // Owns the descriptor from here on.
        buf_.reset(new __gnu_cxx::stdio_filebuf<char>(fd, std::ios::in));
        rdbuf(buf_.get());
        return true;
    }
    bool is_open() const { return buf_ != nullptr && buf_->is_open(); }
    void close()
    {
        if (buf_) {
            rdbuf(nullptr);
            buf_.reset();
        }
    }

private:
    std::unique_ptr<__gnu_cxx::stdio_filebuf<char>> buf_;
};

}  // namespace cloneutil

#endif
