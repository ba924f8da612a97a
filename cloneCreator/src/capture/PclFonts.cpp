// PCL fonts.
#include "CloneCreator.h"

bool_t CloneCreator::clonePCLFontsHelper(xmlNodePtr) { return FALSE; }
