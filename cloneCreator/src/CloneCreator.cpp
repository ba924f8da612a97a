#include "CloneCreator.h"

#include <cstring>

#include "CloneGroupsProcessor.h"
#include "CloneLog.h"
#include "CloneMaker.h"
#include "DevicePath.h"
#include "ElementTables.h"
#include "ExportSummary.h"

namespace {

const char kSelfGroup[] = "CLONE_TO_SELF_GROUP";
const char kGroupSuffix[] = "GROUP";

// A token names a group when it ends in "GROUP" and has something before it.
bool isGroupToken(const std::string& token)
{
    const std::size_t suffix = sizeof kGroupSuffix - 1;
    return token.size() > suffix && token.compare(token.size() - suffix, suffix, kGroupSuffix) == 0;
}

}  // namespace

CloneCreator::CloneCreator(char* outputLocation)
{
    CLONE_LOG(logSpecLibEnter, "CloneCreator");
    for (const cloneutil::HelperRow& row : cloneutil::kHelperTable) {
        mapOfHelpers.insert(std::make_pair(std::string(row.element), row.helper));
    }
    for (const cloneutil::PlainCopyRow& row : cloneutil::kPlainCopies) {
        addPlainCopy(row.element, row.helper, row.copy);
    }
    outputLocationOfDLM = outputLocation != nullptr ? outputLocation : "";
    nameOfDLM = kCloneFileName;
    CLONE_LOG(logSpecLibReturn, "CloneCreator");
}

void CloneCreator::addPlainCopy(const char* element, Helper helper, const cloneutil::PlainCopy& copy)
{
    plainCopies_[element] = copy;
    if (helper != nullptr) {
        namedCopies_.emplace_back(helper, copy);
    }
    mapOfHelpers[element] = helper != nullptr ? helper : &CloneCreator::clonePlainCopyHelper;
}

std::string CloneCreator::createGroups(char* groupNameList)
{
    CloneGroupsProcessor processor;
    std::string dlmType = "clone";
    if (groupNameList == nullptr) {
        CLONE_LOG(logSpecError, "No cloning groups received");
        return dlmType;
    }
    cleanUpCloneDirectory();

    // Decided before any group is expanded, so every group sees the final clone type. Each export
    // has its own clone type: an earlier self clone must not make this one look like one.
    srtCloneSelfType.clear();
    const std::string line(groupNameList);
    if (line.find(kSelfGroup) != std::string::npos) {
        dlmType = "cloneSelf";
        srtCloneSelfType = dlmType;
    }

    for (std::string& group : selectedGroups(line)) {
        processor.createListForGroups(group.data(), dlmType);
    }
    if (processor.exportIncomplete) {
        exportIncomplete = true;
    }
    return dlmType;
}

// NOLINTNEXTLINE(misc-no-recursion): manifests are read without XML_PARSE_HUGE, so at most 256 levels deep
void CloneCreator::processStubManifestXML(xmlNodePtr xmlParentNode)
{
    for (xmlNodePtr node = xmlParentNode; node != nullptr; node = node->next) {
        // Only elements: an entity reference leads into the DTD's declarations (a cycle when
        // entities refer to each other), and a declaration named like an element is no element.
        if (node->type != XML_ELEMENT_NODE) {
            continue;
        }
        processCurrentNode(node);
        // Read after the helper ran, so children it added are walked too.
        processStubManifestXML(node->children);
    }
}

void CloneCreator::processCurrentNode(xmlNodePtr xmlCurrentGroupPtr)
{
    if (xmlCurrentGroupPtr->name == nullptr) {
        xmlCurrentGroupPtr->name = xmlStrdup(reinterpret_cast<const xmlChar*>("--"));
        CLONE_LOG(logSpecError, "Current Node has bad name. Moving to next node");
        return;
    }
    const auto found = mapOfHelpers.find(reinterpret_cast<const char*>(xmlCurrentGroupPtr->name));
    if (found != mapOfHelpers.end()) {
        cloneutil::captureStarts();
        (this->*(found->second))(xmlCurrentGroupPtr);
        cloneutil::captureEnded(xmlCurrentGroupPtr);
    }
}

std::vector<std::string> selectedGroups(const std::string& line)
{
    std::vector<std::string> groups;
    // Only tokens followed by a space count: the text after the last space is never a group.
    std::string::size_type start = 0;
    std::string::size_type space;
    while ((space = line.find(' ', start)) != std::string::npos) {
        std::string token = line.substr(start, space - start);
        start = space + 1;
        if (isGroupToken(token)) {
            groups.push_back(token);
        }
    }
    return groups;
}

std::string stubManifestPath(const std::string& dlmType)
{
    return cloneutil::devicePath(dlmType == "cloneSelf" ? CLONE_MANIFEST_CLONESELF : CLONE_MANIFEST_CLONE);
}
