// Small tree operations shared by the manifest writer and the clone helpers.
#ifndef CLONE_XMLNODES_H
#define CLONE_XMLNODES_H

#include <libxml/tree.h>

namespace cloneutil {

inline const xmlChar* xmlText(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

// A new empty element NAME, without namespace, appended as the last child of PARENT; null when
// PARENT is null or the element cannot be made.
inline xmlNodePtr appendElement(xmlNodePtr parent, const xmlChar* name)
{
    if (parent == nullptr) {
        return nullptr;
    }
    xmlNodePtr node = xmlNewNode(nullptr, name);
    if (node == nullptr) {
        return nullptr;
    }
    if (xmlAddChild(parent, node) == nullptr) {
        xmlFreeNode(node);
        return nullptr;
    }
    return node;
}

}  // namespace cloneutil

#endif
