// Owning handles for the C resources the library touches, so no early return leaks one.
#ifndef CLONE_HANDLES_H
#define CLONE_HANDLES_H

#include <cstdio>
#include <memory>
#include <dirent.h>
#include <libxml/tree.h>
#include <libxml/xmlwriter.h>
#include <unistd.h>

namespace cloneutil {

struct XmlDocDeleter {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using XmlDoc = std::unique_ptr<xmlDoc, XmlDocDeleter>;

struct XmlTextWriterDeleter {
    void operator()(xmlTextWriter* writer) const { xmlFreeTextWriter(writer); }
};
using XmlTextWriter = std::unique_ptr<xmlTextWriter, XmlTextWriterDeleter>;

struct XmlCharDeleter {
    void operator()(xmlChar* text) const { xmlFree(text); }
};
using XmlChar = std::unique_ptr<xmlChar, XmlCharDeleter>;

struct XmlNodeDeleter {
    void operator()(xmlNode* node) const { xmlFreeNode(node); }
};
using XmlNode = std::unique_ptr<xmlNode, XmlNodeDeleter>;

struct FileCloser {
    // Only streams being abandoned end here: writers close through release() and check.
    void operator()(FILE* file) const { (void)std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

}  // namespace cloneutil

#endif
