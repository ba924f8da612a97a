#include "ExportSummary.h"

#include <map>
#include <set>
#include <string>
#include <vector>

#include "CloneLog.h"
#include "Handles.h"
#include "LogNotes.h"
#include "XmlNodes.h"

namespace {

struct Capture {
    bool ran = false;
    bool failed = false;     // it wrote an ERROR record
    std::string lastRecord;  // its last ERROR, else its last INFO
};

// One export at a time in a process (the export turn), so one summary.
struct Summary {
    std::vector<std::string> stubElements;  // paths of the stub's elements with no element inside
    std::map<std::string, Capture> captures;
};

Summary& summary()
{
    static Summary s;
    return s;
}

std::string elementPath(xmlNodePtr node)
{
    std::string path;
    for (; node != nullptr && node->type == XML_ELEMENT_NODE; node = node->parent) {
        path.insert(0, "/" + std::string(node->name != nullptr ? reinterpret_cast<const char*>(node->name) : ""));
    }
    return path;
}

std::string lastName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

bool hasElementChild(xmlNodePtr node)
{
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) {
            return true;
        }
    }
    return false;
}

bool hasText(xmlNodePtr node)
{
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
        if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) && child->content != nullptr &&
            child->content[0] != '\0') {
            return true;
        }
    }
    return false;
}

// NOLINTNEXTLINE(misc-no-recursion): manifests are read without XML_PARSE_HUGE, so at most 256 levels deep
void collect(xmlNodePtr node, std::vector<std::string>* leaves, std::vector<std::string>* filled,
             std::set<std::string>* present)
{
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) {
            continue;
        }
        const std::string path = elementPath(node);
        if (leaves != nullptr && !hasElementChild(node)) {
            leaves->push_back(path);
        }
        if (filled != nullptr && hasText(node)) {
            filled->push_back(lastName(path));
        }
        if (present != nullptr) {
            present->insert(path);
        }
        collect(node->children, leaves, filled, present);
    }
}

}  // namespace

namespace cloneutil {

void noteStubManifest(xmlNodePtr root)
{
    Summary& s = summary();
    s = Summary();
    collect(root, &s.stubElements, nullptr, nullptr);
}

void captureStarts()
{
    startCaptureNote();
}

void captureEnded(xmlNodePtr element)
{
    const CaptureNote noted = endCaptureNote();
    Capture& capture = summary().captures[elementPath(element)];
    capture.ran = true;
    capture.failed = noted.failed;
    capture.lastRecord = noted.lastRecord;
}

void logExportSummary(const char* manifestPath)
{
    Summary& s = summary();
    std::vector<std::string> filled;
    std::set<std::string> present;
    const XmlDoc doc = manifestPath != nullptr ? parseManifest(manifestPath) : XmlDoc();
    if (doc) {
        collect(xmlDocGetRootElement(doc.get()), nullptr, &filled, &present);
    }
    std::string text = std::to_string(filled.size()) + " filled:";
    for (const std::string& name : filled) {
        text += " " + name;
    }
    std::string leftOut;
    unsigned count = 0;
    for (const std::string& path : s.stubElements) {
        if (present.count(path) != 0) {
            continue;
        }
        const auto found = s.captures.find(path);
        std::string reason;
        if (found == s.captures.end()) {
            reason = "no capture for it, pruned as empty";
        } else if (found->second.lastRecord.empty()) {
            reason = "its capture found nothing on the device";
        } else {
            reason = std::string(found->second.failed ? "its capture failed: " : "its capture left it empty: ") +
                     found->second.lastRecord;
        }
        leftOut += std::string(count++ == 0 ? " " : "; ") + lastName(path) + " (" + reason + ")";
    }
    CLONE_LOG(logSpecInfo, "Clone file elements: %s; %u left out:%s", text.c_str(), count,
              count == 0 ? " none" : leftOut.c_str());
    s = Summary();
}

}  // namespace cloneutil
