// The stub manifest: the skeleton written for a clone type, and the elements each section of a
// group finds or creates at its fixed place in it.
#include "StubManifest.h"

#include <sys/stat.h>
#include <unistd.h>

#include "CloneLog.h"
#include "DevicePath.h"
#include "StagingPaths.h"
#include "XmlNodes.h"

namespace cloneutil {

namespace {

const xmlChar* xml(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

bool isDirectory(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string StubManifest::CloningManifestFilePath(const std::string& dlmType)
{
    if (::access(devicePath(CLONE_STAGING_DIR).c_str(), F_OK) != 0) {
        CLONE_LOG(logSpecError, "%s is not available. Clone Export is failed", CLONE_STAGING_DIR);
        return "NULL";
    }
    const std::string exportTree = devicePath(CLONE_EXPORT_TREE);
    if (::mkdir(exportTree.c_str(), 0777) != 0 && !isDirectory(exportTree)) {
        CLONE_LOG(logSpecError, "Creating directory %s is failed", CLONE_EXPORT_TREE);
        return "NULL";
    }
    if (dlmType == "clone") {
        return CLONE_MANIFEST_CLONE;
    }
    if (dlmType == "cloneSelf") {
        return CLONE_MANIFEST_CLONESELF;
    }
    CLONE_LOG(logSpecError, "%s: %s dlm type is not supported", "CloningManifestFilePath", dlmType.c_str());
    return "NULL";
}

int StubManifest::createDoc(xmlTextWriterPtr writer)
{
    const int rc = xmlTextWriterStartDocument(writer, nullptr, "UTF-8", nullptr);
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on creating new xml document");
    }
    return rc;
}

int StubManifest::startElement(xmlTextWriterPtr writer, const char* name)
{
    const int rc = xmlTextWriterStartElement(writer, xml(name));
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on creating xml element");
    }
    return rc;
}

int StubManifest::writeAttribute(xmlTextWriterPtr writer, const char* name, const char* val)
{
    const int rc = xmlTextWriterWriteAttribute(writer, xml(name), xml(val));
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on creating xml attribute");
    }
    return rc;
}

int StubManifest::addElement(xmlTextWriterPtr writer, const char* name, const char* val)
{
    const int rc = xmlTextWriterWriteElement(writer, xml(name), xml(val));
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on adding xml element");
    }
    return rc;
}

int StubManifest::endElement(xmlTextWriterPtr writer)
{
    const int rc = xmlTextWriterEndElement(writer);
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on ending xml element");
    }
    return rc;
}

int StubManifest::endDocument(XmlTextWriter& writer)
{
    const int rc = endElement(writer.get());
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on ending xml document");
    }
    // Releasing the writer flushes the last bytes into the document and completes it.
    writer.reset();
    return rc;
}

xmlDocPtr StubManifest::createStubXmlFile(const std::string& dlmType)
{
    CLONE_LOG(logSpecLibEnter, "createStubXmlFile");
    xmlDocPtr built = nullptr;
    // The writer feeds the document until it is released, so it is declared after (and released
    // before) the document.
    XmlDoc doc;
    XmlTextWriter writer(xmlNewTextWriterDoc(&built, 0));
    doc.reset(built);
    if (!writer) {
        CLONE_LOG(logSpecError, "failed on creating new TextWriter document");
        return nullptr;
    }
    const char* rootName;
    const char* schemaLocation;
    if (dlmType == "clone") {
        rootName = "CloningManifest";
        schemaLocation = CLONE_MANIFEST_NAMESPACE " CloningManifest.xsd";
    } else if (dlmType == "cloneSelf") {
        rootName = "ConfigurationManifest";
        schemaLocation = CLONE_MANIFEST_NAMESPACE " ConfigurationManifest.xsd";
    } else {
        CLONE_LOG(logSpecError, "%s: DLM Type is not supported", "createStubXmlFile");
        return nullptr;
    }
    xmlTextWriterPtr w = writer.get();
    createDoc(w);
    startElement(w, rootName);
    writeAttribute(w, "xsi:schemaLocation", schemaLocation);
    writeAttribute(w, "xmlns", CLONE_MANIFEST_NAMESPACE);
    writeAttribute(w, "xmlns:xsi", CLONE_XSI_NAMESPACE);
    startElement(w, "cloningData");
    addElement(w, "version", "");
    endElement(w);
    if (dlmType == "cloneSelf") {
        addElement(w, "version", "");
        startElement(w, "serialNumber");
        endElement(w);
    }
    endDocument(writer);
    CLONE_LOG(logSpecLibReturn, "createStubXmlFile");
    return doc.release();
}

// NOLINTNEXTLINE(misc-no-recursion): the stub manifest is built here, as deep as the group files' element paths
int StubManifest::processXmlCurrentNodes(const std::string& Nodestr, xmlNodePtr currentNode)
{
    const xmlChar* name = xml(Nodestr.c_str());
    int matched = 0;
    for (xmlNodePtr node = currentNode; node != nullptr; node = node->next) {
        if (node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, name)) {
            // A later sibling with the same name replaces an earlier match.
            found_ = node;
            matched = 1;
        } else if (matched == 0) {
            matched = processXmlCurrentNodes(Nodestr, node->children);
        }
    }
    return matched;
}

xmlNodePtr StubManifest::addNodeAttributes(xmlNodePtr currentNodePtr, const std::string& attrName)
{
    return appendElement(currentNodePtr, xml(attrName.c_str()));
}

xmlNodePtr StubManifest::addPropAttributes(xmlNodePtr currentNodePtr, const std::string& attrName)
{
    xmlNodePtr node = addNodeAttributes(currentNodePtr, attrName);
    if (node != nullptr) {
        xmlSetProp(node, xml("number"), xml("1.0.0"));
    }
    return node;
}

xmlNodePtr StubManifest::findOrCreate(const std::string& name, xmlNodePtr start, xmlNodePtr parent, bool* created)
{
    if (processXmlCurrentNodes(name, start) == 1) {
        if (created != nullptr) {
            *created = false;
        }
        return found_;
    }
    if (created != nullptr) {
        *created = true;
    }
    return addNodeAttributes(parent, name);
}

bool StubManifest::use(const std::string& path, const std::string& dlmType, bool& saved)
{
    saved = true;
    if (doc_ && path_ != path) {
        saved = save();
    }
    if (!doc_ && ::access(path.c_str(), F_OK) != 0) {
        doc_.reset(createStubXmlFile(dlmType));
        if (!doc_) {
            return false;
        }
        changed_ = true;
    }
    path_ = path;
    return true;
}

xmlNodePtr StubManifest::root()
{
    if (!doc_) {
        doc_ = parseManifest(path_.c_str());
    }
    xmlNode* const top = doc_ ? xmlDocGetRootElement(doc_.get()) : nullptr;
    if (top == nullptr || top->children == nullptr || top->children->type != XML_ELEMENT_NODE) {
        doc_.reset();
        found_ = nullptr;
        return nullptr;
    }
    return top;
}

bool StubManifest::save()
{
    const bool written = !doc_ || !changed_ || saveManifest(path_.c_str(), doc_.get());
    doc_.reset();
    changed_ = false;
    // Its document is gone; never leave a dangling pointer behind. libxml2 itself stays as it
    // is: the host may be using it.
    found_ = nullptr;
    return written;
}

}  // namespace cloneutil
