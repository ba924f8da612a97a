#include "CloneGroupsProcessor.h"

#include "CloneLog.h"

CloneGroupsProcessor::CloneGroupsProcessor() = default;
CloneGroupsProcessor::~CloneGroupsProcessor() = default;

// Group expansion is not written yet: every group is reported as not expanded.
int CloneGroupsProcessor::createListForGroups(char* /*gName*/, std::string /*typeOfDLM*/)
{
    CLONE_LOG(logSpecEnter, "%s()", "createListForGroups");
    CLONE_LOG(logSpecReturn, "createListForGroups");
    return 1;
}
