// Group definition files through the group expansion. The input is tmp_groups_parsed, a NUL byte,
// then tmp_attrib_parsed; every group the groups file names (up to four) is expanded, as an export
// with that group line would, and the stub manifest is parsed back as the walk would.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "CloneCreator.h"
#include "CloneGroupsProcessor.h"
#include "FuzzDevice.h"
#include "XmlNodes.h"

namespace {

const std::string kDataDir = "/xpaths/nc_dlms_data/clone/data/";

std::vector<std::string> groupsNamedIn(const std::string& groupsFile)
{
    std::vector<std::string> groups;
    std::size_t start = 0;
    while (start < groupsFile.size() && groups.size() < 4) {
        std::size_t end = groupsFile.find('\n', start);
        if (end == std::string::npos) {
            end = groupsFile.size();
        }
        std::string line = groupsFile.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (line.size() > 5 && line.compare(line.size() - 5, 5, "GROUP") == 0) {
            groups.push_back(line);
        }
        start = end + 1;
    }
    return groups;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzdev::forbidOutsideLoads();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string groupsFile = input.substr(0, split);
    const std::string attribFile = split == std::string::npos ? std::string() : input.substr(split + 1);
    fuzzdev::writeFile(fuzzdev::path(kDataDir + "tmp_groups_parsed"), groupsFile.data(), groupsFile.size());
    fuzzdev::writeFile(fuzzdev::path(kDataDir + "tmp_attrib_parsed"), attribFile.data(), attribFile.size());

    std::vector<std::string> groups = groupsNamedIn(groupsFile);
    std::string dlmType = "clone";
    for (const std::string& group : groups) {
        if (group.find("CLONE_TO_SELF_GROUP") != std::string::npos) {
            dlmType = "cloneSelf";
        }
    }
    {
        CloneGroupsProcessor processor;
        for (std::string& group : groups) {
            processor.createListForGroups(&group[0], dlmType);
        }
    }
    cloneutil::XmlDoc manifest = cloneutil::parseManifest(stubManifestPath(dlmType).c_str());
    manifest.reset();
    fuzzdev::clearDirectory(fuzzdev::path("/xpaths/tmp_cloningData"));
    return 0;
}
