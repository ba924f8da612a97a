#include "XmlNodes.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CloneLog.h"

namespace cloneutil {

XmlDoc parseManifest(const char* path)
{
    struct stat st;
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        return XmlDoc();
    }
    // Read through a descriptor of the library's own, close-on-exec: libxml2 would open the file
    // so that a child the host starts meanwhile inherits it.
    const Fd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        return XmlDoc();
    }
    return XmlDoc(xmlReadFd(fd.get(), path, nullptr, XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                                      XML_PARSE_NONET));
}

namespace {

bool writeManifest(const char* path, xmlDocPtr doc)
{
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc, &text, &size, nullptr, 1);
    XmlChar owned(text);
    if (!owned || size < 0) {
        return false;
    }
    Fd fd(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd.valid()) {
        return false;
    }
    const unsigned char* p = owned.get();
    std::size_t left = static_cast<std::size_t>(size);
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return ::close(fd.release()) == 0;
}

}  // namespace

bool saveManifest(const char* path, xmlDocPtr doc)
{
    if (writeManifest(path, doc)) {
        return true;
    }
    const SystemError why;
    CLONE_LOG(logSpecError, "Manifest %s cannot be saved: %s", path, why.text());
    return false;
}

}  // namespace cloneutil
