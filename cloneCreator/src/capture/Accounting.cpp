// Accounting and address book: database dumps of the device's accounting and contacts.
#include "CloneCreator.h"

// Placeholders until the helpers land.
bool_t CloneCreator::cloneQTMHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneJBAExceptionsHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneQTMExceptionsHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneAddressBooksHelper(xmlNodePtr) { return FALSE; }
