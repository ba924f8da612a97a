// Elements whose capture is a plain copy row of the element tables, as the constructor added them:
// by the element's name for rows without a helper, by the helper for the named ones.
#include "CloneCreator.h"
#include "CloneLog.h"
#include "Staging.h"

bool_t CloneCreator::clonePlainCopyHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    const char* element = reinterpret_cast<const char*>(xmlCurrentGroupPtr->name);
    const auto found = plainCopies_.find(element);
    if (found == plainCopies_.end()) {
        CLONE_LOG(logSpecError, "Element %s has no plain copy", element);
        return FALSE;
    }
    return cloneutil::stagePlainCopy(deviceFolders, found->second, xmlCurrentGroupPtr) ? TRUE : FALSE;
}

bool_t CloneCreator::stagePlainCopyOf(Helper helper, xmlNodePtr xmlCurrentGroupPtr)
{
    for (const auto& named : namedCopies_) {
        if (named.first == helper) {
            return cloneutil::stagePlainCopy(deviceFolders, named.second, xmlCurrentGroupPtr) ? TRUE : FALSE;
        }
    }
    return FALSE;
}
