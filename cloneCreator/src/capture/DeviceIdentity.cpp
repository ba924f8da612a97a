// Identity values written straight into the manifest: serial number and clone format version.
#include <cstring>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "Staging.h"
#include "cfg_attr.h"

namespace {
const int kConfigValueSize = 1064;
}

bool_t CloneCreator::cloneSerialNumberHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    char serialNumber[kConfigValueSize];
    std::memset(serialNumber, 0, sizeof serialNumber);
    if (Cfg_GetAttrValue("sysMgmt.serialNumber", serialNumber, kConfigValueSize) != 0) {
        CLONE_LOG(logSpecError, "%s:, Serial Number is not able to retrieved", "cloneSerialNumberHelper");
        return FALSE;
    }
    // A value XML cannot hold is refused (and logged) rather than written into the manifest.
    return cloneutil::setNodeText(xmlCurrentGroupPtr, serialNumber) ? TRUE : FALSE;
}

bool_t CloneCreator::cloneVersionHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    if (xmlCurrentGroupPtr == nullptr) {
        CLONE_LOG(logSpecError, "Version Node is NULL");
        return FALSE;
    }
    // A version already written (or any child) is kept as it is.
    if (xmlCurrentGroupPtr->children == nullptr) {
        xmlNodeAddContent(xmlCurrentGroupPtr, reinterpret_cast<const xmlChar*>("1.0.0"));
    }
    return TRUE;
}
