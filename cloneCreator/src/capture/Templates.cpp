// Scan templates, the template pool and stored copy jobs.
#include "CloneCreator.h"

bool_t CloneCreator::cloneScanToHomeTemplatesHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneDefaultTemplatesHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneCopySaveJobHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneTemplatePoolHelper(xmlNodePtr) { return FALSE; }
bool_t CloneCreator::cloneScanToDefaultsTemplatesHelper(xmlNodePtr) { return FALSE; }
