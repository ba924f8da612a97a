// Certificates: the wireless, address-book, IPsec and domain certificate files, and the link
// lists of the device's certificate store.
#include "CloneCreator.h"

bool_t CloneCreator::cloneWirelessCertificatesHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneAddressBookCertificatesHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneIPSecCertificatesHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneRootCertificateHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneDomainCertificatesHelper(xmlNodePtr) { return FALSE; }
int CloneCreator::getCertificateType(char*, char*) { return 0; }
