// The stub manifest: the skeleton written for a clone type, and the elements each section of a
// group finds or creates at its fixed place in it.
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>

#include "StagingPaths.h"
#include "CloneCreator.h"
#include "CloneGroupsProcessor.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "ElementTables.h"
#include "XmlNodes.h"

namespace {

const char kDlmAttrList[] = DLM_ATTR_LIST;

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

std::string CloneGroupsProcessor::CloningManifestFilePath()
{
    if (::access(cloneutil::devicePath(CLONE_STAGING_DIR).c_str(), F_OK) != 0) {
        CLONE_LOG(logSpecError, "%s is not available. Clone Export is failed", CLONE_STAGING_DIR);
        return "NULL";
    }
    const std::string exportTree = cloneutil::devicePath(CLONE_EXPORT_TREE);
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

int CloneGroupsProcessor::createDoc(xmlTextWriterPtr writer)
{
    const int rc = xmlTextWriterStartDocument(writer, nullptr, "UTF-8", nullptr);
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on creating new xml document");
    }
    return rc;
}

int CloneGroupsProcessor::startElement(xmlTextWriterPtr writer, const char* name)
{
    const int rc = xmlTextWriterStartElement(writer, xml(name));
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on creating xml element");
    }
    return rc;
}

int CloneGroupsProcessor::writeAttribute(xmlTextWriterPtr writer, const char* name, const char* val)
{
    const int rc = xmlTextWriterWriteAttribute(writer, xml(name), xml(val));
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on creating xml attribute");
    }
    return rc;
}

int CloneGroupsProcessor::addElement(xmlTextWriterPtr writer, const char* name, const char* val)
{
    const int rc = xmlTextWriterWriteElement(writer, xml(name), xml(val));
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on adding xml element");
    }
    return rc;
}

int CloneGroupsProcessor::endElement(xmlTextWriterPtr writer)
{
    const int rc = xmlTextWriterEndElement(writer);
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on ending xml element");
    }
    return rc;
}

int CloneGroupsProcessor::endDocument(cloneutil::XmlTextWriter& writer)
{
    const int rc = endElement(writer.get());
    if (rc == -1) {
        CLONE_LOG(logSpecError, "Error on ending xml document");
    }
    // Releasing the writer flushes the last bytes into the document and completes it.
    writer.reset();
    return rc;
}

xmlDocPtr CloneGroupsProcessor::createStubXmlFile()
{
    CLONE_LOG(logSpecLibEnter, "createStubXmlFile");
    xmlDocPtr built = nullptr;
    // The writer feeds the document until it is released, so it is declared after (and released
    // before) the document.
    cloneutil::XmlDoc doc;
    cloneutil::XmlTextWriter writer(xmlNewTextWriterDoc(&built, 0));
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
int CloneGroupsProcessor::processXmlCurrentNodes(const std::string& Nodestr, xmlNodePtr currentNode, xmlDocPtr& doc)
{
    const xmlChar* name = xml(Nodestr.c_str());
    int found = 0;
    for (xmlNodePtr node = currentNode; node != nullptr; node = node->next) {
        if (node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, name)) {
            // A later sibling with the same name replaces an earlier match.
            found_ = node;
            found = 1;
        } else if (found == 0) {
            found = processXmlCurrentNodes(Nodestr, node->children, doc);
        }
    }
    return found;
}

xmlNodePtr CloneGroupsProcessor::addNodeAttributes(xmlNodePtr currentNodePtr, const std::string& attrName,
                                                   xmlDocPtr& /*doc*/)
{
    return cloneutil::appendElement(currentNodePtr, xml(attrName.c_str()));
}

xmlNodePtr CloneGroupsProcessor::addPropAttributes(xmlNodePtr currentNodePtr, const std::string& attrName,
                                                   xmlDocPtr& doc)
{
    xmlNodePtr node = addNodeAttributes(currentNodePtr, attrName, doc);
    if (node != nullptr) {
        xmlSetProp(node, xml("number"), xml("1.0.0"));
    }
    return node;
}

xmlNodePtr CloneGroupsProcessor::findOrCreate(const std::string& name, xmlNodePtr start, xmlNodePtr parent,
                                              xmlDocPtr& doc, bool* created)
{
    if (processXmlCurrentNodes(name, start, doc) == 1) {
        if (created != nullptr) {
            *created = false;
        }
        return found_;
    }
    if (created != nullptr) {
        *created = true;
    }
    return addNodeAttributes(parent, name, doc);
}

void CloneGroupsProcessor::markManifestChanged()
{
    // The manifest stays in memory for the whole group and is written once when the group is done.
    manifestChanged_ = true;
}

void CloneGroupsProcessor::addXmlCloningDataNodes(const std::string& outputFile, xmlDocPtr& doc)
{
    xmlNode* const root = xmlDocGetRootElement(doc);
    xmlNode* const cloningData = root != nullptr ? root->children : nullptr;
    if (cloningData == nullptr) {
        return;
    }
    bool created = false;
    xmlNode* const attributes = findOrCreate("cloningAttributes", cloningData, cloningData, doc, &created);
    it = cloneTagMap.find(outputFile);
    if (it != cloneTagMap.end()) {
        if (created) {
            addNodeAttributes(attributes, it->second, doc);
        } else {
            findOrCreate(it->second, cloningData, attributes, doc);
        }
    }
    markManifestChanged();
}

void CloneGroupsProcessor::addXmlDlmEnableNodes(xmlDocPtr& doc)
{
    xmlNode* const root = xmlDocGetRootElement(doc);
    xmlNode* const cloningData = root != nullptr ? root->children : nullptr;
    // The DLM list, once it exists, is captured through "dlmEnable" under "ipSettings".
    if (cloningData != nullptr && ::access(cloneutil::devicePath(kDlmAttrList).c_str(), F_OK) == 0) {
        xmlNode* const ipSettings = findOrCreate("ipSettings", cloningData, cloningData, doc);
        if (ipSettings != nullptr) {
            findOrCreate("dlmEnable", cloningData, ipSettings, doc);
        }
        markManifestChanged();
    }
}

bool CloneGroupsProcessor::addXmlConfigurationManifestNodes(const std::string& outFile, xmlDocPtr& doc)
{
    xmlNode* const root = xmlDocGetRootElement(doc);
    if (root == nullptr) {
        return false;
    }
    it = cloneSelfTagMap.find(outFile);
    const bool listed = it != cloneSelfTagMap.end();
    if (listed) {
        // The capture helper adds "configServer" and "nvRAM" itself.
        findOrCreate("configurationAttributes", root, root, doc);
        markManifestChanged();
    }
    if (subgroupName == "WIRELESS_CERTS") {
        findOrCreate("wirelessCertificates", root, root, doc);
        markManifestChanged();
    }
    return listed;
}

void CloneGroupsProcessor::addXmlMiscNodes(MiscMap::iterator itMiscMap, xmlDocPtr& doc)
{
    xmlNode* const root = xmlDocGetRootElement(doc);
    xmlNode* const cloningData = root != nullptr ? root->children : nullptr;
    const std::vector<std::string>& path = itMiscMap->second;
    if (cloningData == nullptr || path.empty()) {
        return;
    }
    const auto create = [this, &doc](xmlNodePtr parent, const std::string& name) {
        return name == cloneutil::kNumberedElement ? addPropAttributes(parent, name, doc)
                                                   : addNodeAttributes(parent, name, doc);
    };

    itvect = path.begin();
    xmlNodePtr current;
    // A path found under "cloningData" is completed where its names are found; a new one is
    // built in one line below its first element.
    bool pathFound;
    if (processXmlCurrentNodes(*itvect, cloningData, doc) == 1) {
        current = found_;
        pathFound = true;
    } else {
        current = create(cloningData, *itvect);
        pathFound = false;
        markManifestChanged();
    }
    for (++itvect; itvect != path.end() && current != nullptr; ++itvect) {
        const std::string& name = *itvect;
        xmlNode* const start = pathFound ? cloningData : current;
        if (processXmlCurrentNodes(name, start, doc) == 1) {
            current = found_;
        } else {
            current = create(current, name);
            found_ = current;
        }
        markManifestChanged();

        for (const cloneutil::CompanionRow& row : cloneutil::kCertificateCompanions) {
            if (name == row.element) {
                xmlNode* const certificates = findOrCreate("Certificates", cloningData, cloningData, doc);
                if (certificates != nullptr) {
                    findOrCreate(row.companion, cloningData, certificates, doc);
                }
                markManifestChanged();
            }
        }
    }
}
