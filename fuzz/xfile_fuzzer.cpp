// strnext and xmkdir. The first byte is strnext's delimiter; the rest is split with it, and then
// made a directory path below a scratch folder (names with a ".." component would leave it, and
// very deep ones cost much and reach nothing new: those are only split).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "FuzzDevice.h"
#include "xfile.h"

namespace {

void check(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

// Every level of a path is one mkdir that walks the whole path again, so a path of a thousand levels
// costs a hundred times one of thirty and reaches no other code; deeper paths are only split.
const std::size_t kMaxLevels = 64;

bool hasDotDot(const std::string& path)
{
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (path.compare(start, end - start, "..") == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const char delimiter = static_cast<char>(data[0]);
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string cstr = text.substr(0, text.find('\0'));

    // strnext takes tokens off the front; joined again with the delimiter they give the text
    // back (one delimiter at its end is taken along with the last token).
    std::vector<char> rest(cstr.begin(), cstr.end());
    rest.push_back('\0');
    std::vector<char> token(rest.size());
    std::string joined;
    while (strnext(rest.data(), delimiter, token.data()) != nullptr) {
        check(std::strchr(token.data(), delimiter) == nullptr || delimiter == '\0');
        joined += token.data();
        joined += delimiter;
    }
    check(rest[0] == '\0');
    check(joined == cstr || joined == cstr + delimiter);

    if (hasDotDot(cstr) || static_cast<std::size_t>(std::count(cstr.begin(), cstr.end(), '/')) > kMaxLevels) {
        return 0;
    }
    const std::string scratch = fuzzdev::path("/out");
    // An absolute name is placed below the scratch folder, a relative one is taken from there.
    std::string path = cstr[0] == '/' ? scratch + cstr : cstr;
    if (cstr[0] != '/' && ::chdir(scratch.c_str()) != 0) {
        __builtin_trap();
    }
    if (xmkdir(&path[0], 0755) == 0) {
        struct stat st;
        check(::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    }
    fuzzdev::clearDirectory(scratch);
    return 0;
}
