// A simulated device with group definition files written by the test, and the files that group
// expansion leaves in the clone staging directory.
#ifndef CLONE_TESTS_GROUPFIXTURE_H
#define CLONE_TESTS_GROUPFIXTURE_H

#include <algorithm>
#include <string>
#include <vector>

#include "CloneCreator.h"
#include "CloneGroupsProcessor.h"
#include "DeviceTest.h"
#include "XmlTree.h"

namespace clonetest {

const char kGroupsPath[] = "/xpaths/nc_dlms_data/clone/data/tmp_groups_parsed";
const char kAttribPath[] = "/xpaths/nc_dlms_data/clone/data/tmp_attrib_parsed";

// Outline line of a manifest root as the stub writes it.
inline std::string cloneRootLine(const std::string& rootName)
{
    return rootName + "[xmlns=" CLONE_MANIFEST_NAMESPACE "][xmlns:xsi=" CLONE_XSI_NAMESPACE
                      "][xsi:schemaLocation=" CLONE_MANIFEST_NAMESPACE " " +
           rootName + ".xsd]\n";
}

class GroupFixture : public DeviceTest {
protected:
    void writeGroups(const std::string& text) const { writeFile(path(kGroupsPath), text); }
    void writeAttrib(const std::string& text) const { writeFile(path(kAttribPath), text); }

    // Expands GROUPS in order on one processor, as one export of their type does; the last result.
    int expandAll(const std::vector<std::string>& groups)
    {
        type = std::find(groups.begin(), groups.end(), "CLONE_TO_SELF_GROUP") != groups.end() ? "cloneSelf" : "clone";
        CloneGroupsProcessor processor;
        int result = -1;
        for (std::string group : groups) {
            result = processor.createListForGroups(&group[0], type);
        }
        incomplete = processor.exportIncomplete;
        return result;
    }
    int expand(const std::string& group) { return expandAll(std::vector<std::string>{group}); }

    // Content of a file given by its device path, or "<missing>".
    std::string file(const std::string& devicePath) const
    {
        return exists(path(devicePath)) ? readFile(path(devicePath)) : "<missing>";
    }
    std::string manifest() const  // of the last expansion's clone type
    {
        return xmlFileOutline(path(type == "clone" ? CLONE_MANIFEST_CLONE : CLONE_MANIFEST_CLONESELF));
    }

    // The last expansion's clone type, and whether it left the export short of what was selected.
    std::string type = "clone";
    bool incomplete = false;
};

}  // namespace clonetest

#endif
