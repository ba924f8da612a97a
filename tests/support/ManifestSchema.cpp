#include "ManifestSchema.h"

#include "clone_schema.h"

namespace clonetest {

testing::AssertionResult validManifest(const std::string& text)
{
    std::string error;
    if (clonefmt::emptyManifest(text) || clonefmt::validateManifest(text, CLONE_SOURCE_DIR "/schemas", "", error)) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << error << "\n" << text;
}

}  // namespace clonetest
