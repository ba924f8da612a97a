// NVRAM attribute capture: saveCnConfig saves the listed NVRAM values into the export tree.
#include "CloneCreator.h"

// Placeholders until the helpers land.
bool_t CloneCreator::cloneNVRAMHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneSelfNVRAMHelper(xmlNodePtr) { return FALSE; }
