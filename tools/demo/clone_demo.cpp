// Runs one export the way the device's caller does: createCloneDLM(outputLocation, password, groups).
#include <cstdio>
#include <cstring>
#include <string>

#include "cloneCreator.h"

int main(int argc, char** argv)
{
    if (argc != 4 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "usage: clone_demo OUTPUT_DIR PASSWORD \"GROUP_A GROUP_B \"\n"
                     "Exports the named clone groups of the device at $CLONE_DEVICE_ROOT into OUTPUT_DIR.\n");
        return argc == 2 ? 0 : 2;
    }
    std::string output = argv[1];
    std::string groups = argv[3];
    const int result = createCloneDLM(&output[0], argv[2], &groups[0]);
    std::printf("createCloneDLM returned %d\n", result);
    return result;
}
