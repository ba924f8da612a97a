// Expands one clone group into attribute-list lines and stub manifest elements.
#ifndef CLONE_CLONEGROUPSPROCESSOR_H
#define CLONE_CLONEGROUPSPROCESSOR_H

#include <string>

class CloneGroupsProcessor {
public:
    CloneGroupsProcessor();
    ~CloneGroupsProcessor();
    int createListForGroups(char* gName, std::string typeOfDLM);
};

#endif
