// Configuration server and data store capture, reached through "cloningAttributes" and
// "configurationAttributes".
#include "CloneCreator.h"

// Placeholders until the helpers land.
bool_t CloneCreator::cloneCloningAttributes(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneConfigurationAttributes(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneConfigServerHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneSelfConfigServerHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneCCSConfigServerHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneDataStoreHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneCCSDataStoreHelper(xmlNodePtr) { return FALSE; }
