#include "xfile.h"

#include <unistd.h>

extern "C" int iwrite(int fd, void* buf, size_t nbyte)
{
    if (nbyte == 0) {
        return 0;
    }
    const char* p = static_cast<const char*>(buf);
    size_t count = 0;
    while (count < nbyte) {
        const ssize_t n = ::write(fd, p + count, nbyte - count);
        if (n < 0) {
            return -1;
        }
        count += static_cast<size_t>(n);
    }
    return static_cast<int>(count);
}
