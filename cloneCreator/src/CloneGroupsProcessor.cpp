// Group expansion: reads the device's group definition files for one selected group and turns
// each of its sections into attribute-list lines and stub manifest elements.
#include "CloneGroupsProcessor.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>

#include "StagingPaths.h"
#include "CloneCreator.h"
#include "CloneLog.h"
#include "ConfigValue.h"
#include "Descriptors.h"
#include "DevicePath.h"
#include "ElementTables.h"
#include "XmlNodes.h"
#include "cfg_attr.h"
#include "xpaths.h"

namespace {

const char kSelfGroup[] = "CLONE_TO_SELF_GROUP";
const char kGroupSuffix[] = "GROUP";
const char kGroupsFile[] = "tmp_groups_parsed";
const char kAttribFile[] = "tmp_attrib_parsed";
const char kPreconditionStart[] = "<PRECONDITION>";
const char kPreconditionEnd[] = "</PRECONDITION>";
const char kCopyControllerAttr[] = "HW.copyController.configuration";
const char kFdiSubgroup[] = "FDI_ATTR";
const char kFdiMiscKey[] = "<FDIATTRIBUTES>";
const char kDlmAttrList[] = DLM_ATTR_LIST;

// Longest line of a group definition file (without its line feed); matches the fixed buffers.
const std::size_t kMaxLineLength = cloneutil::kPathBufferSize - 1;
const std::size_t kMaxPreconditionName = 255;

struct ListRow {
    const char* tag;
    const char* list;
    const char* endTag;
};

struct TagRow {
    const char* list;
    const char* element;
};

// Section tag to attribute list and end tag, for every group but the self clone.
const ListRow kCloneListRows[] = {
    {"<CCS_CONFIGSERVER>", CFG_CCS_ATTR_LIST, "</CCS_CONFIGSERVER>"},
    {"<CCS_DATASTORE>", DS_CCS_ATTR_LIST, "</CCS_DATASTORE>"},
    {"<NVRAM>", NVRAM_ATTR_LIST, "</NVRAM>"},
    {"<DATASTORE>", DS_ATTR_LIST, "</DATASTORE>"},
    {"<CONFIGSERVER>", CFG_ATTR_LIST, "</CONFIGSERVER>"},
    {"<DLM>", DLM_ATTR_LIST, "</DLM>"},
    {"<MISC>", "", "</MISC>"},
};

// The same for CLONE_TO_SELF_GROUP.
const ListRow kCloneSelfListRows[] = {
    {"<CONFIGSERVER>", CFG_ATTR_LIST_CLONESELF, "</CONFIGSERVER>"},
    {"<NVRAM>", NVRAM_ATTR_LIST_CLONESELF, "</NVRAM>"},
    {"<MISC>", "", "</MISC>"},
};

// Attribute list to the element that stands for it under "cloningAttributes".
const TagRow kCloneTagRows[] = {
    {CFG_CCS_ATTR_LIST, "ccsNVM"},
    {DS_CCS_ATTR_LIST, "ccsDataStore"},
    {NVRAM_ATTR_LIST, "nvRAM"},
    {DS_ATTR_LIST, "dataStore"},
    {CFG_ATTR_LIST, "configServer"},
};

// Self-clone lists: their sections make "configurationAttributes".
const TagRow kCloneSelfTagRows[] = {
    {CFG_ATTR_LIST_CLONESELF, "configServer"},
    {NVRAM_ATTR_LIST_CLONESELF, "nvRAM"},
};

void trimTrailing(std::string& text)
{
    const std::string::size_type last = text.find_last_not_of(" \t\r\n\v\f");
    text.erase(last == std::string::npos ? 0 : last + 1);
}

bool isGroupHeader(const std::string& trimmed)
{
    const std::size_t suffix = sizeof kGroupSuffix - 1;
    return trimmed.size() >= suffix && trimmed.compare(trimmed.size() - suffix, suffix, kGroupSuffix) == 0;
}

enum class LineRead { Line, End, TooLong };

// One line of a group definition file into LINE, without its line feed. Text after the last line
// feed is not a line; a line longer than kMaxLineLength is not read either. The stream's own
// getline scans its buffer for the line feed, where a character at a time cost most of the
// expansion of a large file.
LineRead nextLine(std::istream& in, std::string& line)
{
    cloneutil::PathBuffer buffer;
    static_assert(sizeof buffer == kMaxLineLength + 1, "a line and the getline terminator fill the buffer");
    in.getline(buffer, sizeof buffer);
    if (in.eof()) {
        line.clear();
        return LineRead::End;
    }
    if (in.fail()) {
        line.clear();
        return LineRead::TooLong;
    }
    // The count includes the line feed; NUL bytes in the line are kept.
    line.assign(buffer, static_cast<std::size_t>(in.gcount() - 1));
    return LineRead::Line;
}

void logLongLine(const char* fileName)
{
    CLONE_LOG(logSpecError, "A line of %s is longer than %u characters, the rest of the file is ignored", fileName,
              static_cast<unsigned>(kMaxLineLength));
}

// nextLine on a stream: false at the end of the file. A line longer than kMaxLineLength ends the
// file for this reader as well (logged), so a corrupt file never grows a line without bound.
bool readLine(std::istream& in, std::string& line, const char* fileName)
{
    line.clear();
    if (!in.good()) {
        return false;
    }
    switch (nextLine(in, line)) {
    case LineRead::Line:
        return true;
    case LineRead::End:
        in.setstate(std::ios::eofbit | std::ios::failbit);
        return false;
    case LineRead::TooLong:
        logLongLine(fileName);
        in.setstate(std::ios::failbit);
        return false;
    }
    return false;
}

// DIR/clone/data/NAME in the device's clone data directory; false when it cannot be formed.
bool definitionFilePath(cloneutil::PathBuffer& path, const char* name)
{
    const char* dir = xpaths_get_path("nc_dlms_data");
    if (dir == nullptr) {
        path[0] = '\0';
        return false;
    }
    return cloneutil::formatPath(path, "%s/%s", dir, (std::string("clone/data/") + name).c_str());
}

bool openDefinitionFile(cloneutil::InputFile& stream, const char* name)
{
    cloneutil::PathBuffer path;
    // The device's own files, where the path service says they are.
    return definitionFilePath(path, name) && stream.open(path, cloneutil::InputFile::Links::Follow);
}

// Attribute lists are only ever written inside the clone staging directory.
bool isStagingFile(const std::string& devicePath)
{
    const std::size_t prefix = sizeof CLONE_STAGING_DIR - 1;
    return devicePath.size() > prefix && devicePath.compare(0, prefix, CLONE_STAGING_DIR) == 0 &&
           devicePath.find("/..") == std::string::npos;
}

// The subgroup lines of the group being read, from the stream's position to the next group
// header; the stream is left where it was and nothing is logged (the real pass does that).
std::unordered_set<std::string> subgroupsAhead(std::istream& groupStream)
{
    std::unordered_set<std::string> names;
    const std::streampos start = groupStream.tellg();
    if (start == std::streampos(-1)) {
        return names;
    }
    std::string line;
    while (nextLine(groupStream, line) == LineRead::Line) {
        trimTrailing(line);
        if (isGroupHeader(line)) {
            break;
        }
        if (!line.empty()) {
            names.insert(line);
        }
    }
    groupStream.clear();
    groupStream.seekg(start);
    return names;
}

// Where each wanted subgroup's section starts in tmp_attrib_parsed: the line after the first line
// that names it. One read of the file serves a whole group, where searching it from its start for
// every subgroup grew with subgroups times file length. The read stops where a search would: at
// the end of the file or at an over-long line.
struct SubgroupIndex {
    std::unordered_map<std::string, std::streamoff> sections;
    bool endsAtLongLine = false;
};

SubgroupIndex indexSubgroups(std::istream& attribStream, const std::unordered_set<std::string>& wanted)
{
    SubgroupIndex index;
    std::streamoff offset = 0;
    std::string line;
    for (;;) {
        const LineRead read = nextLine(attribStream, line);
        if (read != LineRead::Line) {
            index.endsAtLongLine = read == LineRead::TooLong;
            return index;
        }
        offset += static_cast<std::streamoff>(line.size()) + 1;
        trimTrailing(line);
        if (wanted.count(line) != 0) {
            index.sections.emplace(line, offset);
        }
    }
}

}  // namespace

CloneGroupsProcessor::CloneGroupsProcessor()
{
    it = cloneTagMap.end();
    itMiscMap = cloneMiscMap.end();
    itvect = vect.end();
    lookupTableOfAttributes();
}

CloneGroupsProcessor::~CloneGroupsProcessor() = default;

void CloneGroupsProcessor::lookupTableOfAttributes()
{
    for (const ListRow& row : kCloneListRows) {
        cloneListMap.insert(
            std::make_pair(std::string(row.tag), std::make_pair(std::string(row.list), std::string(row.endTag))));
    }
    for (const ListRow& row : kCloneSelfListRows) {
        cloneSelfListMap.insert(
            std::make_pair(std::string(row.tag), std::make_pair(std::string(row.list), std::string(row.endTag))));
    }
    for (const TagRow& row : kCloneTagRows) {
        cloneTagMap.insert(std::make_pair(std::string(row.list), std::string(row.element)));
    }
    for (const TagRow& row : kCloneSelfTagRows) {
        cloneSelfTagMap.insert(std::make_pair(std::string(row.list), std::string(row.element)));
    }
    for (const cloneutil::MiscRow& row : cloneutil::kMiscRows) {
        cloneMiscMap[row.key].assign(row.path.begin(), row.path.end());
    }
    for (const cloneutil::PlainCopyRow& row : cloneutil::kPlainCopies) {
        if (row.key != nullptr) {
            std::vector<std::string>& path = cloneMiscMap[row.key];
            path.assign(row.parents.begin(), row.parents.end());
            path.push_back(row.element);
        }
    }
}

int CloneGroupsProcessor::createListForGroups(char* gName, const std::string& typeOfDLM)
{
    CLONE_LOG(logSpecEnter, "%s()", "createListForGroups");
    int result = 1;
    dlmType = typeOfDLM;
    cloneutil::InputFile groupStream;
    if (!openDefinitionFile(groupStream, kGroupsFile)) {
        CLONE_LOG(logSpecError, "Failed to open tmp_groups_parsed File");
    } else {
        const std::string header = processGroups(groupStream, gName);
        if (header.empty()) {
            CLONE_LOG(logSpecError, "Selected Group Name Is Not There On tmp_groups_parsed File ");
        } else {
            result = processSubGroups(groupStream, header);
            saveGroupManifest();
        }
    }
    CLONE_LOG(logSpecReturn, "createListForGroups");
    return result;
}

std::string CloneGroupsProcessor::processGroups(cloneutil::InputFile& groupStream, char* gname)
{
    CLONE_LOG(logSpecEnter, "%s()", "processGroups");
    groupName = gname != nullptr ? gname : "";
    std::string header;
    std::string line;
    while (readLine(groupStream, line, kGroupsFile)) {
        trimTrailing(line);
        if (line == groupName) {
            header = line;
            break;
        }
    }
    CLONE_LOG(logSpecReturn, "processGroups");
    return header;
}

int CloneGroupsProcessor::processSubGroups(cloneutil::InputFile& groupStream, const std::string& /*dataName*/)
{
    CLONE_LOG(logSpecEnter, "%s()", "processSubGroups");
    // 1 until a subgroup of this group is found: a group that expands to nothing is reported.
    int result = 1;
    const std::unordered_set<std::string> wanted = subgroupsAhead(groupStream);
    cloneutil::InputFile attribStream;
    SubgroupIndex index;
    std::string subgroup;
    for (;;) {
        if (!readLine(groupStream, subgroup, kGroupsFile)) {
            CLONE_LOG(logSpecReturn, "processSubGroups");
            return 0;
        }
        trimTrailing(subgroup);
        if (subgroup.empty()) {
            continue;
        }
        if (isGroupHeader(subgroup)) {
            groupStream.close();
            groupName.clear();
            return result;
        }
        if (!attribStream.is_open()) {
            if (!openDefinitionFile(attribStream, kAttribFile)) {
                CLONE_LOG(logSpecError, "Failed To Open tmp_attrib_parsed");
                return result;
            }
            index = indexSubgroups(attribStream, wanted);
        }
        if (wanted.count(subgroup) == 0 && index.sections.count(subgroup) == 0) {
            // Not seen ahead (the group file could not be read twice): searched for on its own.
            attribStream.clear();
            attribStream.seekg(0);
            index.sections.merge(indexSubgroups(attribStream, {subgroup}).sections);
        }
        const auto section = index.sections.find(subgroup);
        if (section == index.sections.end()) {
            if (index.endsAtLongLine) {
                logLongLine(kAttribFile);
            }
            CLONE_LOG(logSpecError, "No Such Attribute On tmp_attrib_parsed File : %s", subgroup.c_str());
            continue;
        }
        attribStream.clear();
        attribStream.seekg(section->second);
        subgroupName = subgroup;
        result = 0;
        insertAttributesInList(groupStream, attribStream, subgroup);
        subgroupName.clear();
    }
}

void CloneGroupsProcessor::insertAttributesInList(cloneutil::InputFile& /*groupStream*/, cloneutil::InputFile& subGroupStream,
                                                  std::string attrName)
{
    CLONE_LOG(logSpecEnter, "%s()", "insertAttributesInList");
    readLine(subGroupStream, attrName, kAttribFile);
    if (attrName == kPreconditionStart) {
        if (checkPrecondition(subGroupStream, attrName) == 0) {
            createListName(subGroupStream, attrName);
        }
    } else {
        createListName(subGroupStream, attrName);
    }
    CLONE_LOG(logSpecReturn, "insertAttributesInList");
}

int CloneGroupsProcessor::checkPrecondition(cloneutil::InputFile& subGroupStream, std::string& attrName)
{
    CLONE_LOG(logSpecEnter, "%s()", "checkPrecondition");
    readLine(subGroupStream, attrName, kAttribFile);
    const std::string::size_type equals = attrName.find('=');
    const std::string name = equals == std::string::npos ? std::string() : attrName.substr(0, equals);
    if (name.size() > kMaxPreconditionName) {
        CLONE_LOG(logSpecError, "Precondition name longer than 255 characters in %s, subgroup skipped",
                  subgroupName.c_str());
        CLONE_LOG(logSpecReturn, "checkPrecondition");
        return 1;
    }
    std::string trimmedName = name;
    trimTrailing(trimmedName);

    std::string expected = "FALSE";
    if (name == kCopyControllerAttr) {
        std::string value;
        if (cloneutil::readConfigText(name.c_str(), value) != 0) {
            CLONE_LOG(logSpecError, "Failed to get precondition value");
            value.clear();
        }
        if (value == "mfp") {
            expected = "mfp";
        }
    } else {
        bool_t value = 0;
        if (Cfg_GetBoolAttrValue(trimmedName.c_str(), &value) != 0) {
            CLONE_LOG(logSpecError, "Failed to get precondition value");
        }
        if (value != 0) {
            expected = "TRUE";
        }
    }
    if (attrName.find(expected) == std::string::npos) {
        CLONE_LOG(logSpecReturn, "checkPrecondition");
        return 1;
    }
    // The precondition holds: skip to its end; the line after it is the section tag.
    while (readLine(subGroupStream, attrName, kAttribFile)) {
        if (attrName == kPreconditionEnd) {
            readLine(subGroupStream, attrName, kAttribFile);
            break;
        }
    }
    return 0;
}

void CloneGroupsProcessor::createListName(cloneutil::InputFile& subGroupStream, std::string attrName)
{
    CLONE_LOG(logSpecEnter, "%s()", "createListName");
    std::string listFile = "NULL";
    std::string endTag = "NULL";
    if (groupName != kSelfGroup) {
        const ListMap::const_iterator row = cloneListMap.find(attrName);
        if (row == cloneListMap.end()) {
            CLONE_LOG(logSpecError, "%s is not in the cloneListMap", attrName.c_str());
            return;
        }
        listFile = row->second.first;
        endTag = row->second.second;
    } else {
        // An unknown tag of the self clone still reaches the manifest (WIRELESS_CERTS, misc keys).
        const ListMap::const_iterator row = cloneSelfListMap.find(attrName);
        if (row != cloneSelfListMap.end()) {
            listFile = row->second.first;
            endTag = row->second.second;
        }
    }
    addXmlNodes(subGroupStream, attrName, endTag, listFile);
}

void CloneGroupsProcessor::addXmlNodes(cloneutil::InputFile& subGroupStream, std::string& attrName,
                                       const std::string& endTag, const std::string& outputFile)
{
    const std::string cloneFile = cloneutil::StubManifest::CloningManifestFilePath(dlmType);
    CLONE_LOG(logSpecLibEnter, "%s Called", "addXmlNodes");
    if (cloneFile == "NULL") {
        CLONE_LOG(logSpecError, "Error creating path to clone files");
        return;
    }
    bool earlierSaved = true;
    const bool usable = manifest_.use(cloneutil::devicePath(cloneFile.c_str()), dlmType, earlierSaved);
    if (!earlierSaved) {
        exportIncomplete = true;
    }
    if (!usable) {
        CLONE_LOG(logSpecError, "Failed to create basic stub cloning xml file");
        return;
    }

    // A section whose file ends before its first attribute line is as empty as one that ends.
    const bool haveLine = readLine(subGroupStream, attrName, kAttribFile);
    trimTrailing(attrName);
    if (!haveLine || attrName == endTag) {
        CLONE_LOG(logSpecError, "No attributes under the %s", subgroupName.c_str());
        return;
    }

    if (manifest_.root() == nullptr) {
        // Rewriting the stub would silently drop what earlier sections added; leave the file alone,
        // so the export reports the broken manifest instead of a clone that lacks data.
        CLONE_LOG(logSpecError, "Failed to parse stub cloning xml file %s, section skipped", cloneFile.c_str());
        exportIncomplete = true;
        return;
    }
    const std::string miscKey = subgroupName == kFdiSubgroup ? std::string(kFdiMiscKey) : attrName;
    itMiscMap = cloneMiscMap.find(miscKey);
    if (itMiscMap != cloneMiscMap.end()) {
        addXmlMiscNodes(itMiscMap);
    } else if (groupName == kSelfGroup) {
        if (addXmlConfigurationManifestNodes(outputFile)) {
            appendAttributesToList(subGroupStream, attrName, endTag, outputFile);
        }
    } else {
        addXmlCloningDataNodes(outputFile);
        appendAttributesToList(subGroupStream, attrName, endTag, outputFile);
        addXmlDlmEnableNodes();
    }
    manifest_.setFound(nullptr);
}

void CloneGroupsProcessor::saveGroupManifest()
{
    if (!manifest_.save()) {
        exportIncomplete = true;
    }
}

void CloneGroupsProcessor::appendAttributesToList(cloneutil::InputFile& subGroupStream, std::string& attrName,
                                                  const std::string& endTag, const std::string& outputFile)
{
    cloneutil::File out;
    if (isStagingFile(outputFile)) {
        out = cloneutil::openForWriting(cloneutil::devicePath(outputFile.c_str()), cloneutil::WriteMode::Append);
    }
    if (!out) {
        CLONE_LOG(logSpecError, "cannot open output file");
        exportIncomplete = true;
        return;
    }
    // Written through one buffer and checked when it is flushed: a full disk is seen at the end of
    // the section at the latest, and the section's lines cost no system call each.
    while (attrName != endTag) {
        if (std::fwrite(attrName.data(), 1, attrName.size(), out.get()) != attrName.size() ||
            std::fputc('\n', out.get()) == EOF) {
            break;
        }
        if (!readLine(subGroupStream, attrName, kAttribFile)) {
            break;
        }
    }
    if (std::ferror(out.get()) != 0 || std::fclose(out.release()) != 0) {
        const cloneutil::SystemError why;
        CLONE_LOG(logSpecError, "cannot write output file: %s", why.text());
        exportIncomplete = true;
    }
}

void CloneGroupsProcessor::addXmlCloningDataNodes(const std::string& outputFile)
{
    xmlNode* const root = manifest_.root();
    xmlNode* const cloningData = root != nullptr ? root->children : nullptr;
    if (cloningData == nullptr) {
        return;
    }
    bool created = false;
    xmlNode* const attributes = manifest_.findOrCreate("cloningAttributes", cloningData, cloningData, &created);
    it = cloneTagMap.find(outputFile);
    if (it != cloneTagMap.end()) {
        if (created) {
            manifest_.addNodeAttributes(attributes, it->second);
        } else {
            manifest_.findOrCreate(it->second, cloningData, attributes);
        }
    }
    manifest_.changed();
}

void CloneGroupsProcessor::addXmlDlmEnableNodes()
{
    xmlNode* const root = manifest_.root();
    xmlNode* const cloningData = root != nullptr ? root->children : nullptr;
    // The DLM list, once it exists, is captured through "dlmEnable" under "ipSettings".
    if (cloningData != nullptr && ::access(cloneutil::devicePath(kDlmAttrList).c_str(), F_OK) == 0) {
        xmlNode* const ipSettings = manifest_.findOrCreate("ipSettings", cloningData, cloningData);
        if (ipSettings != nullptr) {
            manifest_.findOrCreate("dlmEnable", cloningData, ipSettings);
        }
        manifest_.changed();
    }
}

bool CloneGroupsProcessor::addXmlConfigurationManifestNodes(const std::string& outFile)
{
    xmlNode* const root = manifest_.root();
    if (root == nullptr) {
        return false;
    }
    it = cloneSelfTagMap.find(outFile);
    const bool listed = it != cloneSelfTagMap.end();
    if (listed) {
        // The capture helper adds "configServer" and "nvRAM" itself.
        manifest_.findOrCreate("configurationAttributes", root, root);
        manifest_.changed();
    }
    if (subgroupName == "WIRELESS_CERTS") {
        manifest_.findOrCreate("wirelessCertificates", root, root);
        manifest_.changed();
    }
    return listed;
}

void CloneGroupsProcessor::addXmlMiscNodes(MiscMap::iterator itMiscMap)
{
    xmlNode* const root = manifest_.root();
    xmlNode* const cloningData = root != nullptr ? root->children : nullptr;
    const std::vector<std::string>& path = itMiscMap->second;
    if (cloningData == nullptr || path.empty()) {
        return;
    }
    const auto create = [this](xmlNodePtr parent, const std::string& name) {
        return name == cloneutil::kNumberedElement ? manifest_.addPropAttributes(parent, name)
                                                   : manifest_.addNodeAttributes(parent, name);
    };

    itvect = path.begin();
    xmlNodePtr current;
    // A path found under "cloningData" is completed where its names are found; a new one is
    // built in one line below its first element.
    bool pathFound;
    if (manifest_.processXmlCurrentNodes(*itvect, cloningData) == 1) {
        current = manifest_.found();
        pathFound = true;
    } else {
        current = create(cloningData, *itvect);
        pathFound = false;
        manifest_.changed();
    }
    for (++itvect; itvect != path.end() && current != nullptr; ++itvect) {
        const std::string& name = *itvect;
        xmlNode* const start = pathFound ? cloningData : current;
        if (manifest_.processXmlCurrentNodes(name, start) == 1) {
            current = manifest_.found();
        } else {
            current = create(current, name);
            manifest_.setFound(current);
        }
        manifest_.changed();

        for (const cloneutil::CompanionRow& row : cloneutil::kCertificateCompanions) {
            if (name == row.element) {
                xmlNode* const certificates = manifest_.findOrCreate("Certificates", cloningData, cloningData);
                if (certificates != nullptr) {
                    manifest_.findOrCreate(row.companion, cloningData, certificates);
                }
                manifest_.changed();
            }
        }
    }
}
