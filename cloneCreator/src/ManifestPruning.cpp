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
    rewriteManifest(cloningManifestXML, [](xmlNodePtr first) {
        removeEmptyElements(first);
        return TRUE;
    });
}

bool_t CloneCreator::removeEmptyNodes(const std::string& cloningManifestXML)
{
    return rewriteManifest(cloningManifestXML, [this](xmlNodePtr first) { return removeEmptyNodesProcess(first); });
}

bool_t CloneCreator::rewriteManifest(const std::string& cloningManifestXML, const std::function<bool_t(xmlNodePtr)>& prune)
{
    cloneutil::XmlDoc doc = cloneutil::parseManifest(cloningManifestXML.c_str());
    // Nothing to prune; unless the last pruning emptied it, a manifest that cannot be read back is
    // a broken one, and this export must not become a clone file.
    if (!doc) {
        if (!manifestEmptied) {
            CLONE_LOG(logSpecError, "Manifest %s cannot be parsed", cloningManifestXML.c_str());
            exportIncomplete = true;
        }
        return FALSE;
    }
    const bool_t removed = doc->children != nullptr ? prune(doc->children) : FALSE;
    manifestEmptied = xmlDocGetRootElement(doc.get()) == nullptr;
    if (!cloneutil::saveManifest(cloningManifestXML.c_str(), doc.get())) {
        exportIncomplete = true;
        return FALSE;
    }
    return removed;
}

// One pass over a sibling list: after the first removal in a list its remaining siblings are not
// descended into, only removed themselves when empty; further passes catch the rest.
// NOLINTNEXTLINE(misc-no-recursion): manifests are read without XML_PARSE_HUGE, so at most 256 levels deep
bool_t CloneCreator::removeEmptyNodesProcess(xmlNodePtr parentNode)
{
    bool_t result = FALSE;
    xmlNodePtr node = parentNode;
    while (node != nullptr) {
        xmlNodePtr next = node->next;
        // Only elements are descended into: the children of an entity reference belong to the
        // entity's declaration, which must not be pruned through it.
        if (!result && node->type == XML_ELEMENT_NODE) {
            result = removeEmptyNodesProcess(node->children);
        }
        if (node->type == XML_ELEMENT_NODE && node->children == nullptr) {
            xmlUnlinkNode(node);
            xmlFreeNode(node);
            result = TRUE;
        }
        node = next;
    }
    return result;
}

xmlNodePtr CloneCreator::addChildNode(xmlNodePtr currentNode, xmlChar* nodeName)
{
    return cloneutil::appendElement(currentNode, nodeName);
}
