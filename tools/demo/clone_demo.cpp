// Runs one export the way the device's caller does: createCloneDLM(outputLocation, password, groups).
// The password is read from standard input so it never shows on a command line.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "cloneCreator.h"

namespace {

const char kUsage[] =
    "usage: clone_demo OUTPUT_DIR \"GROUP_A GROUP_B \" < password\n"
    "       clone_demo OUTPUT_DIR --placed-manifest < password\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s"
                    "Exports the named clone groups (each followed by a space) of the device at\n"
                    "$CLONE_DEVICE_ROOT into the absolute directory OUTPUT_DIR. With --placed-manifest\n"
                    "the group line is null: the export walks the manifest the caller placed in the\n"
                    "export tree beforehand (the way PCL fonts are cloned). The password is the first\n"
                    "line of standard input.\n",
                    kUsage);
        return 0;
    }
    if (argc != 3) {
        (void)std::fputs(kUsage, stderr);  // nowhere else to report it; the status tells
        return 2;
    }
    std::string password;
    if (!std::getline(std::cin, password)) {
        (void)std::fputs("clone_demo: no password on standard input\n", stderr);
        return 2;
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    std::string output = argv[1];
    std::string groups = argv[2];
    const bool placed = groups == "--placed-manifest";
    const int result = createCloneDLM(output.data(), password.c_str(), placed ? nullptr : groups.data());
    std::printf("createCloneDLM returned %d\n", result);
    return result;
}
