// The clone file maker: expands the selected clone groups, fills the manifest through the
// clone helpers, prunes it and packages the export tree into a signed clone file.
#ifndef CLONE_CLONECREATOR_H
#define CLONE_CLONECREATOR_H

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <libxml/tree.h>

#include "CaptureBoundary.h"
#include "CloneMaker.h"
#include "Staging.h"
#include "StagingPaths.h"
#include "bool_t.h"
#include "cloneCreator.h"

// Base names of the clone file: the usual one, and the one of a PCL font clone.
constexpr const char* kCloneFileName = "cloning";
constexpr const char* kFontCloneFileName = "pclFonts";


class CloneCreator {
public:
    typedef bool_t (CloneCreator::*Helper)(xmlNodePtr);

    explicit CloneCreator(char* outputLocation);

    // Logo and blocking-screen capture (capture/CustomLogo.cpp), in this order the class's first
    // virtual operations, so that a device variant can replace any one of them.
    virtual std::string getBlockingScreenImageType();
    virtual bool_t cloneBlockingScreenImageTypeConfigValue(const std::string& imageFileType);
    virtual bool_t cloneCustomerLogoImage();
    virtual bool_t cloneBlockingScreenImage(const std::string& imageFileType);

    // Inline: the vtable, kept with the first virtual function (a capture), then calls no file above it.
    virtual ~CloneCreator() = default;
    CloneCreator(const CloneCreator&) = delete;
    CloneCreator& operator=(const CloneCreator&) = delete;

    // Export spine.
    std::string createGroups(char* groupNameList);
    void processStubManifestXML(xmlNodePtr xmlParentNode);
    void processCurrentNode(xmlNodePtr xmlCurrentGroupPtr);

    // Manifest pruning.
    // Prunes the manifest file with one read and one write: every element that holds only
    // elements pruned with it goes.
    void pruneManifest(const std::string& cloningManifestXML);
    xmlNodePtr addChildNode(xmlNodePtr currentNode, xmlChar* nodeName);

    // Archive and clone file.
    void cleanUpCloneDirectory();
    // Removes the export tree, which lives only within one call.
    void removeExportTree();
    void generateCompressedFile();
    int generateCloneDLM(char* password, const std::string& dlmType);

    // Clone helpers, one per manifest element (see the table in the constructor). Each subject
    // has a source file of its own in capture/.

    // Device identity (capture/DeviceIdentity.cpp).
    bool_t cloneSerialNumberHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneVersionHelper(xmlNodePtr xmlCurrentGroupPtr);

    // Plug-in exports (CloningExportPortal.cpp).
    bool_t clonefdiAttributesHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t clonecmlAttributesHelper(xmlNodePtr xmlCurrentGroupPtr);

    // Configuration attributes: the two table entries and the member helpers they hand work to
    // (capture/ConfigurationAttributes.cpp).
    bool_t cloneCloningAttributes(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneConfigurationAttributes(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneConfigServerHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneSelfConfigServerHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneCCSConfigServerHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneDataStoreHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneCCSDataStoreHelper(xmlNodePtr xmlCurrentGroupPtr);

    // NVRAM attributes (capture/NvramAttributes.cpp).
    bool_t cloneNVRAMHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneSelfNVRAMHelper(xmlNodePtr xmlCurrentGroupPtr);

    // Service data: registry, mailbox, single-touch scan, DLM enable state, point of sale
    // (capture/ServiceData.cpp).
    bool_t cloneServiceRegistryAttributesHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneMailboxHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneSingleTouchScanSettingsHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneDLMEnableHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t clonePosAttributesHelper(xmlNodePtr xmlCurrentGroupPtr);
    // The current value of a configuration attribute; empty when it cannot be read.
    std::string getConfigValue(const char* name);

    // Accounting and address book (capture/Accounting.cpp).
    bool_t cloneQTMHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneJBAExceptionsHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneQTMExceptionsHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneAddressBooksHelper(xmlNodePtr xmlCurrentGroupPtr);

    // Certificates (capture/Certificates.cpp).
    bool_t cloneWirelessCertificatesHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneAddressBookCertificatesHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneIPSecCertificatesHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneRootCertificateHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneDomainCertificatesHelper(xmlNodePtr xmlCurrentGroupPtr);
    // Writes "DEVICE" (its private key is on the device) or "ROOT" into CERTTYPE (10 bytes) for the
    // certificate store entry CERTFRINAME; CERTTYPE is left as it was when the entry is no link.
    int getCertificateType(char* certFriName, char* certType);

    // Scan templates, the template pool and stored copy jobs (capture/Templates.cpp).
    bool_t cloneScanToHomeTemplatesHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneDefaultTemplatesHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneCopySaveJobHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneTemplatePoolHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneScanToDefaultsTemplatesHelper(xmlNodePtr xmlCurrentGroupPtr);

    // Network configuration files: IPsec, packet-filter rules, SNMP (capture/NetworkFiles.cpp).
    bool_t cloneIPSecHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneIPTablesRulesHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneSNMPTrapHelper(xmlNodePtr xmlCurrentGroupPtr);
    bool_t cloneSNMPCommunityStringHelper(xmlNodePtr xmlCurrentGroupPtr);

    // Customer logo and blocking screen (capture/CustomLogo.cpp; the steps are the virtual
    // operations above).
    bool_t cloneCustomLogoHelper(xmlNodePtr xmlCurrentGroupPtr);

    // PCL fonts (capture/PclFonts.cpp).
    bool_t clonePCLFontsHelper(xmlNodePtr xmlCurrentGroupPtr);

    // Attribute-list transformations shared by the NVRAM and configuration helpers
    // (capture/AttributeLists.cpp).
    void convertNVRamAttributeFormat(const char* attributeFileName);
    void expandConnectionNames(const char* attributeFileName, bool_t isDataStoreCCS);
    void removeDuplicates(const char* source, const char* destination);
    void removeStaticAddressCloning();
    bool_t isRebootRequired();

    // Removes clone files (cloning.dlm, pclFonts.dlm) left in the output directory, so that a call
    // which makes none leaves none; false, logged, when one is there and stays.
    bool removeStaleCloneFile();
    // Removes the archives (cloning.tar, pclFonts.tar) from the output directory: nothing unsigned is
    // ever left there. False, logged, when one stays.
    bool removeUnsignedArchives();

    // Makes the staging directory, or corrects it, owner-only (0700); false, logged, when it cannot
    // be, or belongs to another user: then no export runs.
    bool prepareStagingDirectory();
    // Checks PASSWORD with the signing library before anything is captured; the same signing object
    // then makes the clone file. False, logged as the refusal, when it is refused.
    bool authenticate(const char* password);

    // Fills ELEMENT by the plain copy COPY, through HELPER (null: clonePlainCopyHelper). The
    // constructor adds every row of the plain-copy table this way.
    void addPlainCopy(const char* element, Helper helper, const cloneutil::PlainCopy& copy);
    // The helper of a plain copy without a named one: the copy added for the element's name.
    bool_t clonePlainCopyHelper(xmlNodePtr xmlCurrentGroupPtr);

    std::map<std::string, Helper> mapOfHelpers;
    std::string outputLocationOfDLM;
    std::string nameOfDLM;

    // Set by any step that leaves this export short of what was selected (a manifest or attribute
    // list that could not be written or read back): such an export never becomes a clone file.
    bool exportIncomplete = false;
    // True once this call has archived the export tree; only that archive is ever signed.
    bool archiveWritten = false;
    // True once pruning has saved a manifest without any element (nothing was captured), which
    // libxml2 cannot parse back: that alone does not make the manifest broken.
    bool manifestEmptied = false;

    // This export's descriptors of the device: what the captures read is reached through them.
    cloneutil::DeviceFolders deviceFolders;

private:
    std::unique_ptr<CloneMaker> signer_;
    bool passwordAccepted_ = false;

    // The plain copy of the table row whose named helper is HELPER, into NODE.
    bool_t stagePlainCopyOf(Helper helper, xmlNodePtr xmlCurrentGroupPtr);
    std::map<std::string, cloneutil::PlainCopy> plainCopies_;
    std::vector<std::pair<Helper, cloneutil::PlainCopy>> namedCopies_;
};

// The group names of a group line, in line order: tokens followed by a space that end in "GROUP".
std::vector<std::string> selectedGroups(const std::string& line);

// The stub manifest that a clone type selects.
std::string stubManifestPath(const std::string& dlmType);

#endif
