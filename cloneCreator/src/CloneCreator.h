// The clone file maker: expands the selected clone groups, fills the manifest through the
// clone helpers, prunes it and packages the export tree into a signed clone file.
#ifndef CLONE_CLONECREATOR_H
#define CLONE_CLONECREATOR_H

#include <map>
#include <string>
#include <vector>

#include <libxml/tree.h>

#include "bool_t.h"
#include "cloneCreator.h"

// Fixed locations of the clone staging area.
#define CLONE_STAGING_DIR "/xpaths/tmp_cloningData/"
#define CLONE_EXPORT_TREE "/xpaths/tmp_cloningData/cloningExport/"
#define CLONE_EXPORT_DATA_DIR "/xpaths/tmp_cloningData/cloningExport/data/"
#define CLONE_MANIFEST_CLONE "/xpaths/tmp_cloningData/cloningExport/CloningManifest.xml"
#define CLONE_MANIFEST_CLONESELF "/xpaths/tmp_cloningData/cloningExport/ConfigurationManifest.xml"

class CloneCreator {
public:
    typedef bool_t (CloneCreator::*Helper)(xmlNodePtr);

    explicit CloneCreator(char* outputLocation);
    virtual ~CloneCreator();
    CloneCreator(const CloneCreator&) = delete;
    CloneCreator& operator=(const CloneCreator&) = delete;

    // Export spine.
    std::string createGroups(char* groupNameList);
    void processStubManifestXML(xmlNodePtr xmlParentNode);
    void processCurrentNode(xmlNodePtr xmlCurrentGroupPtr);

    // Manifest pruning.
    bool_t removeEmptyNodes(std::string cloningManifestXML);
    bool_t removeEmptyNodesProcess(xmlNodePtr parentNode);
    xmlNodePtr addChildNode(xmlNodePtr currentNode, xmlChar* nodeName);

    // Archive and clone file.
    void cleanUpCloneDirectory();
    void generateCompressedFile();
    int generateCloneDLM(char* password, std::string dlmType);

    // Clone helpers, one per manifest element (see the table in the constructor).
    bool_t cloneSerialNumberHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneVersionHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t clonefdiAttributesHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t clonecmlAttributesHelper(xmlNodePtr xmlCurrentGroupPtr);

    std::map<std::string, Helper> mapOfHelpers;
    std::string outputLocationOfDLM;
    std::string nameOfDLM;
};

// The group names of a group line, in line order: tokens followed by a space that end in "GROUP".
std::vector<std::string> selectedGroups(const std::string& line);

// The stub manifest that a clone type selects.
std::string stubManifestPath(const std::string& dlmType);

#endif
