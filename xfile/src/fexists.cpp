#include "xfile.h"

#include <cerrno>
#include <unistd.h>

// Only "no such entry" counts as absent: a path we cannot look into may well exist.
extern "C" bool_t fexists(char* filename)
{
    if (filename == nullptr || filename[0] == '\0') {
        return 0;
    }
    if (::access(filename, F_OK) == 0) {
        return 1;
    }
    return errno == ENOENT ? 0 : 1;
}
