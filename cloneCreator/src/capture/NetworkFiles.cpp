// Network configuration files: IPsec, packet-filter rules, SNMP.
#include "CloneCreator.h"

bool_t CloneCreator::cloneIPSecHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneIPTablesRulesHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneSNMPTrapHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneSNMPCommunityStringHelper(xmlNodePtr) { return TRUE; }
