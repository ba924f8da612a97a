// Expands one clone group into attribute-list lines and stub manifest elements: the group
// definition files name the sections, the tables below map each section tag to its attribute
// list and each list or misc key to its place in the manifest.
#ifndef CLONE_CLONEGROUPSPROCESSOR_H
#define CLONE_CLONEGROUPSPROCESSOR_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <libxml/tree.h>
#include <libxml/xmlwriter.h>

#include "Handles.h"
#include "InputFile.h"

// Namespace of the manifest; its path is what readers of a clone file key on.
#define CLONE_MANIFEST_NAMESPACE "http://www.clonecreator.local/ConfigManifest"
#define CLONE_XSI_NAMESPACE "http://www.w3.org/2001/XMLSchema-instance"

class CloneGroupsProcessor {
public:
    typedef std::map<std::string, std::pair<std::string, std::string> > ListMap;
    typedef std::map<std::string, std::string> TagMap;
    typedef std::map<std::string, std::vector<std::string> > MiscMap;

    CloneGroupsProcessor();
    ~CloneGroupsProcessor();
    CloneGroupsProcessor(const CloneGroupsProcessor&) = delete;
    CloneGroupsProcessor& operator=(const CloneGroupsProcessor&) = delete;

    void lookupTableOfAttributes();

    // Group definitions.
    int createListForGroups(char* gName, const std::string& typeOfDLM);
    std::string processGroups(cloneutil::InputFile& groupStream, char* gname);
    int processSubGroups(cloneutil::InputFile& groupStream, const std::string& dataName);
    void insertAttributesInList(cloneutil::InputFile& groupStream, cloneutil::InputFile& subGroupStream, std::string attrName);
    int checkPrecondition(cloneutil::InputFile& subGroupStream, std::string& attrName);
    void createListName(cloneutil::InputFile& subGroupStream, std::string attrName);
    void addXmlNodes(cloneutil::InputFile& subGroupStream, std::string& attrName, const std::string& endTag,
                     const std::string& outputFile);
    // Appends the section's lines, from ATTRNAME (already read) up to ENDTAG, to OUTPUTFILE.
    void appendAttributesToList(cloneutil::InputFile& subGroupStream, std::string& attrName, const std::string& endTag,
                                const std::string& outputFile);

    // Stub manifest writer.
    std::string CloningManifestFilePath();
    xmlDocPtr createStubXmlFile();
    static int createDoc(xmlTextWriterPtr writer);
    static int startElement(xmlTextWriterPtr writer, const char* name);
    static int writeAttribute(xmlTextWriterPtr writer, const char* name, const char* val);
    static int addElement(xmlTextWriterPtr writer, const char* name, const char* val);
    static int endElement(xmlTextWriterPtr writer);
    // Closes the root element and releases the writer, which completes the document.
    static int endDocument(cloneutil::XmlTextWriter& writer);
    int processXmlCurrentNodes(const std::string& Nodestr, xmlNodePtr currentNode, xmlDocPtr& doc);
    xmlNodePtr addNodeAttributes(xmlNodePtr currentNodePtr, const std::string& attrName, xmlDocPtr& doc);
    xmlNodePtr addPropAttributes(xmlNodePtr currentNodePtr, const std::string& attrName, xmlDocPtr& doc);
    // The elements of a section under "cloningData"; its list lines are the caller's to append.
    void addXmlCloningDataNodes(const std::string& outputFile, xmlDocPtr& doc);
    // "ipSettings"/"dlmEnable", once the DLM list exists.
    void addXmlDlmEnableNodes(xmlDocPtr& doc);
    // The elements of a section of the self-clone manifest; true when its lines go to OUTFILE.
    bool addXmlConfigurationManifestNodes(const std::string& outFile, xmlDocPtr& doc);
    void addXmlMiscNodes(MiscMap::iterator itMiscMap, xmlDocPtr& doc);

    ListMap cloneListMap;
    TagMap cloneTagMap;
    ListMap cloneSelfListMap;
    TagMap cloneSelfTagMap;
    TagMap::iterator it;
    MiscMap cloneMiscMap;
    MiscMap::iterator itMiscMap;
    std::vector<std::string> vect;
    std::vector<std::string>::const_iterator itvect;
    std::string dlmType;
    std::string groupName;
    // The subgroup whose section is being expanded.
    std::string subgroupName;

    // Set when a manifest save or an attribute-list write failed, or a section was skipped for a
    // broken manifest: this export no longer holds all that was selected.
    bool exportIncomplete = false;

private:
    // Name search from START; when nothing is found, a new element NAME under PARENT.
    xmlNodePtr findOrCreate(const std::string& name, xmlNodePtr start, xmlNodePtr parent, xmlDocPtr& doc,
                            bool* created = nullptr);
    void markManifestChanged();
    // Writes the manifest of the group just expanded, if it changed, and lets it go.
    void saveGroupManifest();

    // The manifest being filled, read or made once per group rather than once per section.
    cloneutil::XmlDoc manifestDoc_;
    std::string manifestDocPath_;
    bool manifestChanged_ = false;
    // The element the latest successful name search found; never outlives manifestDoc_.
    xmlNodePtr found_ = nullptr;
};

#endif
