// Network configuration the device keeps in single files: IPsec, the packet-filter rules and the
// SNMP trap registrations. Copies keep the files' modes and times.
#include <string>
#include <unistd.h>

#include "CaptureBoundary.h"
#include "CloneCreator.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "SharedStagingDirs.h"
#include "Staging.h"
#include "xfile.h"
#include "xpaths.h"

#define NVRAM_DIR "/xpaths/nc_nvram/"
#define IPSEC_CONFIG "/xpaths/ipsec/cfgipsec.xml"
#define TRAP_REGISTRATIONS NVRAM_DIR "trap_reg"
#define SNMP_DIR CLONE_EXPORT_DATA_DIR "snmp/"
#define DEFAULT_RULES "ipTablesDefaultRules.cfg"
#define CUSTOM_RULES "ipTablesCustomRules.cfg"

namespace {

struct SingleFile {
    const char* dir;
    const char* source;
    const char* staged;
    const char* named;  // the staged file as the manifest names it
    const char* failure;
};

const SingleFile kIpsec = {IPSEC_DIR, IPSEC_CONFIG, IPSEC_DIR "cfgipsec.xml", "data/ipSec/cfgipsec.xml",
                           "IPSec configuration xml is not able to clone"};
const SingleFile kTrap = {SNMP_DIR, TRAP_REGISTRATIONS, SNMP_DIR "trap_reg", "data/snmp/trap_reg",
                          "Trap file is not able to clone"};

bool_t copySingleFile(const SingleFile& f, xmlNodePtr node)
{
    if (!cloneutil::makeStagingDir(f.dir, cloneutil::MakeDir::MakeOrAccept)) {
        CLONE_LOG(logSpecError, "Creating %s is failed", f.dir);
        return FALSE;
    }
    if (!cloneutil::stageDeviceFile(f.source, f.staged)) {
        CLONE_LOG(logSpecInfo, "%s", f.failure);
        // Stays when another capture's files are in it (the IPsec certificates share it).
        (void)::rmdir(cloneutil::devicePath(f.dir).c_str());
        return FALSE;
    }
    return cloneutil::setNodeText(node, f.named) ? TRUE : FALSE;
}

bool inNvram(const char* name)
{
    const char* dir = xpaths_get_path("nc_nvram");
    return dir != nullptr && xpaths_access(dir, name, 0) != -1;
}

}  // namespace

bool_t CloneCreator::cloneIPSecHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return copySingleFile(kIpsec, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneSNMPTrapHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return copySingleFile(kTrap, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneSNMPCommunityStringHelper(xmlNodePtr)
{
    // The community strings travel with the configuration attributes; the element stays as the
    // stub manifest wrote it.
    return TRUE;
}

// Each rule file that the device has is staged and named in a child element of its own; the
// result is 1 when at least one was.
bool_t CloneCreator::cloneIPTablesRulesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    static xmlChar defaultRules[] = "defaultRules";
    static xmlChar customRules[] = "customRules";
    bool_t result = FALSE;

    if (inNvram(DEFAULT_RULES)) {
        if (!cloneutil::makeStagingDir(IPTABLES_DIR, cloneutil::MakeDir::MakeOrAccept)) {
            CLONE_LOG(logSpecError, "Creating %s is failed", IPTABLES_DIR);
        } else if (cloneutil::stageDeviceFile(NVRAM_DIR DEFAULT_RULES, IPTABLES_DIR DEFAULT_RULES)) {
            xmlNodePtr child = addChildNode(xmlCurrentGroupPtr, defaultRules);
            result = cloneutil::setNodeText(child, "data/ipTables/" DEFAULT_RULES) ? TRUE : FALSE;
        } else {
            // Stays when the DLM enable state is staged in it.
            (void)::rmdir(cloneutil::devicePath(IPTABLES_DIR).c_str());
            CLONE_LOG(logSpecInfo, DEFAULT_RULES " is not able to clone");
        }
    }

    if (!inNvram(CUSTOM_RULES)) {
        return result;
    }
    if (!cloneutil::makeStagingDir(IPTABLES_DIR, cloneutil::MakeDir::MakeOrAccept)) {
        CLONE_LOG(logSpecError, "Creating %s is failed", IPTABLES_DIR);
        return result;
    }
    if (!cloneutil::stageDeviceFile(NVRAM_DIR CUSTOM_RULES, IPTABLES_DIR CUSTOM_RULES)) {
        CLONE_LOG(logSpecInfo, CUSTOM_RULES " is not able to clone");
        return result;
    }
    xmlNodePtr child = addChildNode(xmlCurrentGroupPtr, customRules);
    return cloneutil::setNodeText(child, "data/ipTables/" CUSTOM_RULES) ? TRUE : FALSE;
}
