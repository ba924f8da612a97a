// Pruning: a manifest lists only what was captured, so elements left empty are removed.
#include <libxml/parser.h>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "Handles.h"
#include "XmlNodes.h"

namespace {

// Post-order, so an element emptied by its children's removal goes in the same walk. Text,
// comments and entity references are content and are never removed.
// NOLINTNEXTLINE(misc-no-recursion): manifests are read without XML_PARSE_HUGE, so at most 256 levels deep
void removeEmptyElements(xmlNodePtr first)
{
    xmlNodePtr node = first;
    while (node != nullptr) {
        xmlNodePtr next = node->next;
        if (node->type == XML_ELEMENT_NODE) {
            removeEmptyElements(node->children);
            if (node->children == nullptr) {
                xmlUnlinkNode(node);
                xmlFreeNode(node);
            }
        }
        node = next;
    }
}

}  // namespace

void CloneCreator::pruneManifest(const std::string& cloningManifestXML)
{
    cloneutil::XmlDoc doc = cloneutil::parseManifest(cloningManifestXML.c_str());
    // A manifest that cannot be read back is a broken one: this export must not become a clone file.
    if (!doc) {
        CLONE_LOG(logSpecError, "Manifest %s cannot be parsed", cloningManifestXML.c_str());
        exportIncomplete = true;
        return;
    }
    removeEmptyElements(doc->children);
    manifestEmptied = xmlDocGetRootElement(doc.get()) == nullptr;
    if (!cloneutil::saveManifest(cloningManifestXML.c_str(), doc.get())) {
        exportIncomplete = true;
    }
}

xmlNodePtr CloneCreator::addChildNode(xmlNodePtr currentNode, xmlChar* nodeName)
{
    return cloneutil::appendElement(currentNode, nodeName);
}
