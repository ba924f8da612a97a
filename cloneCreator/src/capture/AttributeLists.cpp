// Attribute-list transformations shared by the NVRAM and configuration capture helpers.
#include "CloneCreator.h"

// Placeholders until the transformations land.
void CloneCreator::convertNVRamAttributeFormat(const char*) {}
void CloneCreator::expandConnectionNames(const char*, bool_t) {}
void CloneCreator::removeDuplicates(const char*, const char*) {}
void CloneCreator::removeStaticAddressCloning() {}
bool_t CloneCreator::isRebootRequired() { return FALSE; }
