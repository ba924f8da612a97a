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
// indent. Parser messages are the caller's to report: none reaches the process's stderr. Only a
// regular file is read (a FIFO in its place would block the export); null otherwise.
XmlDoc parseManifest(const char* path);

// Saves DOC formatted (one element per line, indented) to PATH, as xmlSaveFormatFile would, but
// with every write checked: false, with "Manifest PATH cannot be saved" logged, when the file could
// not be written whole (a full disk, a link in its place), so a cut manifest is never taken for a
// saved one.
bool saveManifest(const char* path, xmlDocPtr doc);

}  // namespace cloneutil

#endif
