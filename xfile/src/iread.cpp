#include "xfile.h"

#include <unistd.h>

extern "C" int iread(int fd, void* buf, size_t nbyte)
{
    if (nbyte == 0) {
        return 0;
    }
    char* p = static_cast<char*>(buf);
    size_t count = 0;
    while (count < nbyte) {
        const ssize_t n = ::read(fd, p + count, nbyte - count);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            return -1;
        }
        count += static_cast<size_t>(n);
    }
    return static_cast<int>(count);
}
