// Service data: stores of device services that no attribute list reaches.
#include "CloneCreator.h"

// Placeholders until the helpers land.
bool_t CloneCreator::cloneServiceRegistryAttributesHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneMailboxHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneSingleTouchScanSettingsHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneDLMEnableHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::clonePosAttributesHelper(xmlNodePtr) { return FALSE; }
