// The attribute-list transformations: the input is an attribute list as the group expansion
// writes it. NVRAM lists go through the format conversion, the static-address filter and the
// restart check; configuration lists through the connection-name expansion (CCS data store order,
// which removes duplicates in process) and duplicate removal.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <unordered_set>

#include "StagingPaths.h"
#include "CloneCreator.h"
#include "FuzzDevice.h"

namespace {

void check(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

// Every transformation leaves a list of non-empty lines, each ended by a line feed.
std::string readList(const char* devicePath)
{
    std::ifstream in(fuzzdev::path(devicePath), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    check(text.empty() || text.back() == '\n');
    check(text.find("\n\n") == std::string::npos && (text.empty() || text[0] != '\n'));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzdev::root();
    char output[] = "/nonexistent-output";
    CloneCreator creator(output);

    fuzzdev::writeFile(fuzzdev::path(NVRAM_ATTR_LIST), data, size);
    creator.convertNVRamAttributeFormat(NVRAM_ATTR_LIST);
    readList(NVRAM_ATTR_LIST);
    creator.removeStaticAddressCloning();
    readList(NVRAM_ATTR_LIST);
    creator.isRebootRequired();

    fuzzdev::writeFile(fuzzdev::path(DS_CCS_ATTR_LIST), data, size);
    creator.expandConnectionNames(DS_CCS_ATTR_LIST, TRUE);
    const std::string expanded = readList(DS_CCS_ATTR_LIST);
    // Duplicates are gone: every line is there once.
    std::unordered_set<std::string> seen;
    for (std::size_t start = 0; start < expanded.size();) {
        const std::size_t end = expanded.find('\n', start);
        check(seen.insert(expanded.substr(start, end - start)).second);
        start = end + 1;
    }
    fuzzdev::clearDirectory(fuzzdev::path("/xpaths/tmp_cloningData"));
    return 0;
}
