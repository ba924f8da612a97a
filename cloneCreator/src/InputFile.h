// A file read as a stream (as std::ifstream reads it), but opened close-on-exec: a child that the
// host starts from another thread meanwhile inherits no handle on the library's files.
#ifndef CLONE_INPUTFILE_H
#define CLONE_INPUTFILE_H

#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <istream>
#include <memory>
#include <string>

namespace cloneutil {

class InputFile : public std::istream {
public:
    InputFile() : std::istream(nullptr) {}
    explicit InputFile(const std::string& path) : InputFile() { open(path); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False (and the stream failed) when PATH cannot be opened for reading.
    bool open(const std::string& path)
    {
        close();
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
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
