#include "xfile.h"

#include <cstring>

// BUFFER must hold the longest token of MAINSTR plus its NUL.
extern "C" char* strnext(char* mainstr, char delimiter, char* buffer)
{
    if (mainstr == nullptr || mainstr[0] == '\0') {
        return nullptr;
    }
    size_t n = 0;
    while (mainstr[n] != '\0' && mainstr[n] != delimiter) {
        ++n;
    }
    std::memcpy(buffer, mainstr, n);
    buffer[n] = '\0';
    size_t skip = n;
    // The delimiter that ended the token goes with it; with a NUL delimiter that is the terminator,
    // which must stay.
    if (mainstr[skip] != '\0') {
        ++skip;
    }
    std::memmove(mainstr, mainstr + skip, std::strlen(mainstr + skip) + 1);
    return buffer;
}
