// Customer logo and blocking screen.
#include "CloneCreator.h"

std::string CloneCreator::getBlockingScreenImageType() { return std::string(); }
bool_t CloneCreator::cloneBlockingScreenImageTypeConfigValue(std::string) { return FALSE; }
bool_t CloneCreator::cloneCustomerLogoImage() { return FALSE; }
bool_t CloneCreator::cloneBlockingScreenImage(std::string) { return FALSE; }
bool_t CloneCreator::cloneCustomLogoHelper(xmlNodePtr) { return FALSE; }
