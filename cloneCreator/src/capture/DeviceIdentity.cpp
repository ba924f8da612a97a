// Identity values written straight into the manifest: serial number and clone format version.

#include "CloneCreator.h"
#include "CloneLog.h"
#include "Staging.h"
#include "ConfigValue.h"

bool_t CloneCreator::cloneSerialNumberHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    std::string serialNumber;
    if (cloneutil::readConfigText("sysMgmt.serialNumber", serialNumber) != 0) {
        CLONE_LOG(logSpecError, "%s:, Serial Number is not able to retrieved", "cloneSerialNumberHelper");
        return FALSE;
    }
    // A value XML cannot hold is refused (and logged) rather than written into the manifest.
    return cloneutil::setNodeText(xmlCurrentGroupPtr, serialNumber.c_str()) ? TRUE : FALSE;
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
