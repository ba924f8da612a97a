// A manifest placed in the export tree, exported with a null group line: the walk over every
// element (the clone helpers run, their device commands cannot be started), the save, and the pruning.
// libxml2 must load nothing outside the device root (no external entity, DTD or network). A manifest
// the library's built-in rules accept must pass clonefile's schema check too.
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>

#include "FuzzDevice.h"
#include "ManifestSchema.h"
#include "clone_schema.h"
#include "cloneCreator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzdev::forbidOutsideLoads();
    const std::string tree = fuzzdev::path("/xpaths/tmp_cloningData/cloningExport");
    fuzzdev::clearDirectory(fuzzdev::path("/xpaths/tmp_cloningData"));
    fuzzdev::clearDirectory(fuzzdev::path("/out"));
    if (::mkdir(tree.c_str(), 0755) != 0) {
        return 0;
    }
    fuzzdev::writeFile(tree + "/CloningManifest.xml", data, size);
    std::string error;
    if (cloneutil::manifestSchemaFault((tree + "/CloningManifest.xml").c_str(), "clone").empty() &&
        !clonefmt::validateManifest(std::string(reinterpret_cast<const char*>(data), size), CLONE_SCHEMA_SOURCE_DIR,
                                    "CloningManifest", error)) {
        __builtin_trap();
    }
    std::string output = fuzzdev::path("/out");
    // No password verifier on the fuzz device: the export stops at the authentication, after
    // the walk, the save and the pruning.
    if (createCloneDLM(&output[0], "x", nullptr) == 0) {
        __builtin_trap();
    }
    return 0;
}
