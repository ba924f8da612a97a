#include "ElementTables.h"

#include "capture/SharedPaths.h"

namespace cloneutil {

// Manifest element name to the clone helper that captures its data (plain copies: below).
const std::vector<HelperRow> kHelperTable = {
    {"serialNumber", &CloneCreator::cloneSerialNumberHelper},
    {"version", &CloneCreator::cloneVersionHelper},
    {"qtm", &CloneCreator::cloneQTMHelper},
    {"jbaExceptions", &CloneCreator::cloneJBAExceptionsHelper},
    {"qtmExceptions", &CloneCreator::cloneQTMExceptionsHelper},
    {"addressbookData", &CloneCreator::cloneAddressBooksHelper},
    {"rootCertificates", &CloneCreator::cloneRootCertificateHelper},
    {"domainCertificates", &CloneCreator::cloneDomainCertificatesHelper},
    {"customLogo", &CloneCreator::cloneCustomLogoHelper},
    {"pclFont", &CloneCreator::clonePCLFontsHelper},
    {"ipsecCertificates", &CloneCreator::cloneIPSecCertificatesHelper},
    {"ipTables", &CloneCreator::cloneIPTablesRulesHelper},
    {"dlmEnable", &CloneCreator::cloneDLMEnableHelper},
    {"mailbox", &CloneCreator::cloneMailboxHelper},
    {"templatePool", &CloneCreator::cloneTemplatePoolHelper},
    {"singleTouchScanSettings", &CloneCreator::cloneSingleTouchScanSettingsHelper},
    {"serviceRegistryAttributes", &CloneCreator::cloneServiceRegistryAttributesHelper},
    {"communityString", &CloneCreator::cloneSNMPCommunityStringHelper},
    {"cloningAttributes", &CloneCreator::cloneCloningAttributes},
    {"configurationAttributes", &CloneCreator::cloneConfigurationAttributes},
    {"fdiAttributes", &CloneCreator::clonefdiAttributesHelper},
    {"cmlAttributes", &CloneCreator::clonecmlAttributesHelper},
    {"posAttributes", &CloneCreator::clonePosAttributesHelper},
};

// Misc key to its manifest path, parent first; the first name goes under "cloningData" (plain
// copies: below).
const std::vector<MiscRow> kMiscRows = {
    {"<IP_TABLES_CUSTOM>", {"ipSettings", "ipTables"}},
    {"<DOMAIN_CONTROLLER_CERTIFICATES>", {"Certificates", "domainCertificates"}},
    {"<SNMP_COMMUNITY_STRINGS>", {"snmp", "communityString"}},
    {"<SERVICE_REGISTRY>", {"serviceRegistryAttributes"}},
    {"<TEMPLATES>", {"templates", "templatePool"}},
    {"<MAILBOX>", {"mailbox"}},
    {"<ACCOUNTING>", {"accounting", "accountingMode", "qtm"}},
    {"<QTM_PRINT_EXCEPTIONS>", {"accounting", "accountingValidation", "qtmExceptions"}},
    {"<FDIATTRIBUTES>", {"accounting", "accountingAttributes", "fdiAttributes"}},
    {"<JBA_PRINT_EXCEPTIONS>", {"accounting", "accountingValidation", "jbaExceptions"}},
    {"<PUBLIC_ADDRESS_BOOK>", {"addressbooks", "version", "addressbookData"}},
    {"<CUSTOMER_LOGO_FILE>", {"customLogo"}},
    {"<ROOT_CERTIFICATES>", {"Certificates", "rootCertificates"}},
    {"<SINGLE_TOUCH_SETTINGS>", {"singleTouchScanSettings"}},
    {"<CUSTOM_MEDIA_TYPES>", {"cmlAttributes"}},
    {"<POS_ATTRIBUTES>", {"posAttributes"}},
};

// The plain copies: element, named helper, misc key and parents; then source, cp (null: one file),
// pattern, where it lands, how its staging directory is made, the ERROR when that fails, the INFO
// when nothing was copied, the ERROR for a source that is not there at all, and whether one file is
// named by its folder.
const std::vector<PlainCopyRow> kPlainCopies = {
    {"ipsec", &CloneCreator::cloneIPSecHelper, "<IP_SEC_CUSTOM>", {"ipSettings"},
     {"/xpaths/ipsec/cfgipsec.xml", nullptr, nullptr, IPSEC_DIR "cfgipsec.xml", MakeDir::MakeOrAccept,
      "Creating %s is failed", "IPSec configuration xml is not able to clone", nullptr, false}},
    {"trapKeyList", &CloneCreator::cloneSNMPTrapHelper, "<SNMP_TRAP_REGISTRATION>", {"snmp"},
     {NVRAM_DIR "trap_reg", nullptr, nullptr, CLONE_EXPORT_DATA_DIR "snmp/trap_reg", MakeDir::MakeOrAccept,
      "Creating %s is failed", "Trap file is not able to clone", nullptr, false}},
    {"scanToDefaults", &CloneCreator::cloneScanToDefaultsTemplatesHelper, "<SCANTO_DEFAULTS>", {"templates"},
     {TEMPLATE_POOL "scanto/SCANTO.XST", nullptr, nullptr, CLONE_EXPORT_DATA_DIR "scanto_defaults/SCANTO.XST",
      MakeDir::MakeOrAccept, "Creating %s is failed", "ScanToDefault Templates are not able to clone", nullptr, true}},
    {"scanToHome", &CloneCreator::cloneScanToHomeTemplatesHelper, "<S2HOME_DEFAULT_TEMPLATE>", {"templates"},
     {TEMPLATE_POOL "s2home/", "cp -rp", nullptr, CLONE_EXPORT_DATA_DIR "s2HomeTemplate/", MakeDir::MakeOrAccept,
      "Creating %s is failed", "ScanToHome Templates are not able to clone", nullptr, false}},
    {"default", &CloneCreator::cloneDefaultTemplatesHelper, "<DEFAULT_TEMPLATES>", {"templates"},
     {TEMPLATE_POOL "system", "cp -rp", nullptr, CLONE_EXPORT_DATA_DIR "defaultTemplate/", MakeDir::MakeOrAccept,
      "Creating %s is failed", "Default Templates are not able to clone", nullptr, false}},
    // Stored jobs are never merged with a directory of an earlier capture.
    {"saveJob", &CloneCreator::cloneCopySaveJobHelper, "<RETRIEVE_JOB_SETTINGS>", {"copy", "saveJobList"},
     {"/usr/ui/pum/nvm/data/copy/CopySvcUI/CopyStoredJob/", "cp -p", "*", CLONE_EXPORT_DATA_DIR "copySvcJob/",
      MakeDir::MakeNew, "Creating of %s is failed", "Copy Job Settings Cloning is failed",
      "Copy Job Setting Path, %s is not accessible", false}},
    // Made by the self-clone group's WIRELESS_CERTS subgroup, not by a misc key.
    {"wirelessCertificates", &CloneCreator::cloneWirelessCertificatesHelper, nullptr, {},
     {"/xpaths/nc_dlms_data/http/data/", "cp -p", "*.pem", CLONE_EXPORT_DATA_DIR "wirelessCertificates/",
      MakeDir::MakeNew, "Creating of %s is failed", "Wireless Certificates Cloning is failed", nullptr, false}},
    // The address book's companion (below); a single mkdir: the address book capture makes
    // data/addressBook/ first.
    {"addressBookCertificates", &CloneCreator::cloneAddressBookCertificatesHelper, nullptr, {},
     {"/xpaths/temp/certs/encryptionfiles/", "cp -p", "*", ADDRESS_BOOK_DIR "email_certs/", MakeDir::MakeNew,
      "Creating %s is failed", "Address book certificates are not able to clone", nullptr, false}},
};

const std::vector<CompanionRow> kCertificateCompanions = {
    {"ipsec", "ipsecCertificates"},
    {"addressbookData", "addressBookCertificates"},
};

const char kNumberedElement[] = "version";

}  // namespace cloneutil
