// Clears the staging area before an export, archives the export tree and has the signing
// library wrap the archive into the clone file.
#include <cstdlib>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "DevicePath.h"

void CloneCreator::cleanUpCloneDirectory()
{
    cloneutil::PathBuffer command;
    if (!cloneutil::deviceCommand(command, "rm -rf /xpaths/tmp_cloningData//*") || std::system(command) != 0) {
        CLONE_LOG(logSpecError, "Files in %s are not able to remove", CLONE_STAGING_DIR);
    }
}

// Not written yet: nothing is archived, so no clone file can be made.
void CloneCreator::generateCompressedFile() {}

int CloneCreator::generateCloneDLM(char* /*password*/, std::string /*dlmType*/)
{
    CLONE_LOG(logSpecError, "Clone Creation Failed - file size is zero");
    return 1;
}
