// Expands one clone group into attribute-list lines and stub manifest elements: the group
// definition files name the sections, the tables below map each section tag to its attribute
// list and each list or misc key to its place in the manifest.
#ifndef CLONE_CLONEGROUPSPROCESSOR_H
#define CLONE_CLONEGROUPSPROCESSOR_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "InputFile.h"
#include "StubManifest.h"

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

    // Stub manifest builders, one per kind of section.
    // The elements of a section under "cloningData"; its list lines are the caller's to append.
    void addXmlCloningDataNodes(const std::string& outputFile);
    // "ipSettings"/"dlmEnable", once the DLM list exists.
    void addXmlDlmEnableNodes();
    // The elements of a section of the self-clone manifest; true when its lines go to OUTFILE.
    bool addXmlConfigurationManifestNodes(const std::string& outFile);
    // The elements of a misc path.
    void addXmlMiscNodes(MiscMap::iterator itMiscMap);

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
    // Writes the manifest of the group just expanded, if it changed, and lets it go.
    void saveGroupManifest();

    // The manifest being filled, read or made once per group rather than once per section.
    cloneutil::StubManifest manifest_;
};

#endif
