// Small tree operations shared by the manifest writer and the clone helpers.
#ifndef CLONE_XMLNODES_H
#define CLONE_XMLNODES_H

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "Handles.h"

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

// Parses a manifest file with ignorable blank text dropped, so re-saving never accumulates
// indentation. The keep-blanks default is switched off as well, which also makes formatted saves
// indent. Parser messages are the caller's to report: none reaches the process's stderr.
inline XmlDoc parseManifest(const char* path)
{
    xmlKeepBlanksDefault(0);
    return XmlDoc(xmlReadFile(path, nullptr, XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                                 XML_PARSE_NONET));
}

}  // namespace cloneutil

#endif
