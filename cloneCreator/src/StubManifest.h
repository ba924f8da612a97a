// The stub manifest of one group's expansion: the skeleton written for a clone type, and the
// elements the group's sections find or create in it. The document stays in memory while a group
// is expanded and is written once when the group is done.
#ifndef CLONE_STUBMANIFEST_H
#define CLONE_STUBMANIFEST_H

#include <string>

#include <libxml/tree.h>
#include <libxml/xmlwriter.h>

#include "Handles.h"

// Namespace of the manifest; its path is what readers of a clone file key on.
#define CLONE_MANIFEST_NAMESPACE "http://www.clonecreator.local/ConfigManifest"
#define CLONE_XSI_NAMESPACE "http://www.w3.org/2001/XMLSchema-instance"

namespace cloneutil {

class StubManifest {
public:
    StubManifest() = default;
    StubManifest(const StubManifest&) = delete;
    StubManifest& operator=(const StubManifest&) = delete;

    // The device path of the manifest for DLMTYPE, once the export tree exists; "NULL" for an
    // unknown clone type or a missing staging directory (each logged).
    static std::string CloningManifestFilePath(const std::string& dlmType);
    // The skeleton for DLMTYPE, built in memory; null for an unknown clone type.
    static xmlDocPtr createStubXmlFile(const std::string& dlmType);
    // Writer calls that log their own failure.
    static int createDoc(xmlTextWriterPtr writer);
    static int startElement(xmlTextWriterPtr writer, const char* name);
    static int writeAttribute(xmlTextWriterPtr writer, const char* name, const char* val);
    static int addElement(xmlTextWriterPtr writer, const char* name, const char* val);
    static int endElement(xmlTextWriterPtr writer);
    // Closes the root element and releases the writer, which completes the document.
    static int endDocument(XmlTextWriter& writer);

    // Makes the manifest at PATH (below the device root) the one being filled: one held for
    // another path is saved first, and a missing file starts as the skeleton of DLMTYPE. False
    // when that skeleton cannot be built, or the earlier manifest not saved (SAVED false).
    bool use(const std::string& path, const std::string& dlmType, bool& saved);
    // The root of the manifest, read from its file when not held yet; null (and nothing held)
    // when the file is no manifest with an element first under its root.
    xmlNodePtr root();

    // The name search from START: NODESTR among START and its following siblings, descending
    // into the children of a sibling that does not match until a match is found; a later
    // matching sibling replaces an earlier match. 1 when found (see found()), 0 when not.
    int processXmlCurrentNodes(const std::string& Nodestr, xmlNodePtr currentNode);
    // The element the latest successful name search found or a creation made.
    xmlNodePtr found() const { return found_; }
    // The name search from START; when nothing is found, a new element NAME under PARENT.
    xmlNodePtr findOrCreate(const std::string& name, xmlNodePtr start, xmlNodePtr parent, bool* created = nullptr);
    // A new empty element ATTRNAME, last under CURRENTNODEPTR.
    xmlNodePtr addNodeAttributes(xmlNodePtr currentNodePtr, const std::string& attrName);
    // The same with the attribute number="1.0.0" (a data format's version).
    xmlNodePtr addPropAttributes(xmlNodePtr currentNodePtr, const std::string& attrName);
    // Remembers ELEMENT as the latest found.
    void setFound(xmlNodePtr element) { found_ = element; }

    // The manifest differs from its file.
    void changed() { changed_ = true; }
    // Writes the manifest if it changed and lets it go; false when the write failed.
    bool save();

private:
    XmlDoc doc_;
    std::string path_;
    bool changed_ = false;
    // Never outlives doc_.
    xmlNodePtr found_ = nullptr;
};

}  // namespace cloneutil

#endif
