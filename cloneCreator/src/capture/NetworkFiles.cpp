// Network configuration the device keeps in single files: IPsec, the packet-filter rules and the
// SNMP trap registrations. Copies keep the files' modes and times.
#include <cstring>
#include <string>
#include <unistd.h>

#include "CaptureBoundary.h"
#include "CloneCreator.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "SharedPaths.h"
#include "Staging.h"
#include "xfile.h"
#include "xpaths.h"

#define DEFAULT_RULES "ipTablesDefaultRules.cfg"
#define CUSTOM_RULES "ipTablesCustomRules.cfg"

namespace {

bool inNvram(const char* name)
{
    const char* dir = xpaths_get_path("nc_nvram");
    return dir != nullptr && xpaths_access(dir, name, 0) != -1;
}

}  // namespace

// Plain copies: their rows in ElementTables.cpp say what is copied where.
bool_t CloneCreator::cloneIPSecHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return stagePlainCopyOf(&CloneCreator::cloneIPSecHelper, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneSNMPTrapHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return stagePlainCopyOf(&CloneCreator::cloneSNMPTrapHelper, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneSNMPCommunityStringHelper(xmlNodePtr)
{
    // The community strings travel with the configuration attributes; the element stays as the
    // stub manifest wrote it.
    return TRUE;
}

// Each rule file that the device has is staged and named in a child element of its own; the
// result is 1 when at least one was (the last one decides).
bool_t CloneCreator::cloneIPTablesRulesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    static xmlChar defaultRules[] = "defaultRules";
    static xmlChar customRules[] = "customRules";
    static const struct {
        const char* file;  // in the device's NVRAM folder
        xmlChar* element;
        cloneutil::PlainCopy copy;
    } kRules[] = {
        {DEFAULT_RULES, defaultRules,
         {NVRAM_DIR DEFAULT_RULES, nullptr, nullptr, IPTABLES_DIR DEFAULT_RULES, cloneutil::MakeDir::MakeOrAccept,
          "Creating %s is failed", DEFAULT_RULES " is not able to clone", nullptr, false}},
        {CUSTOM_RULES, customRules,
         {NVRAM_DIR CUSTOM_RULES, nullptr, nullptr, IPTABLES_DIR CUSTOM_RULES, cloneutil::MakeDir::MakeOrAccept,
          "Creating %s is failed", CUSTOM_RULES " is not able to clone", nullptr, false}},
    };
    bool_t result = FALSE;
    for (const auto& rule : kRules) {
        if (inNvram(rule.file) && cloneutil::copyPlain(deviceFolders, rule.copy)) {
            const std::string named = std::string(rule.copy.staged).substr(std::strlen(CLONE_EXPORT_TREE));
            xmlNodePtr child = addChildNode(xmlCurrentGroupPtr, rule.element);
            result = cloneutil::setNodeText(child, named.c_str()) ? TRUE : FALSE;
        }
    }
    return result;
}
