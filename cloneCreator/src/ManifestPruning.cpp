// Pruning: a manifest lists only what was captured, so elements left empty are removed.
#include <libxml/parser.h>

#include "CloneCreator.h"
#include "Handles.h"
#include "XmlNodes.h"

bool_t CloneCreator::removeEmptyNodes(std::string cloningManifestXML)
{
    bool_t removed = FALSE;
    cloneutil::XmlDoc doc = cloneutil::parseManifest(cloningManifestXML.c_str());
    // A manifest that cannot be read has nothing to prune; leave the file as it is.
    if (!doc) {
        return FALSE;
    }
    if (doc->children != nullptr) {
        removed = removeEmptyNodesProcess(doc->children);
    }
    xmlSaveFormatFile(cloningManifestXML.c_str(), doc.get(), 1);
    return removed;
}

// One pass over a sibling list: after the first removal in a list its remaining siblings are not
// descended into, only removed themselves when empty; further passes catch the rest.
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
