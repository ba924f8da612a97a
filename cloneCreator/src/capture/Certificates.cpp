// Certificates: the wireless, address-book, IPsec and domain certificate files, and the link
// lists of the device's certificate store (a directory of symbolic links named by the
// certificates' friendly names).
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "CaptureBoundary.h"
#include "Descriptors.h"
#include "CloneCreator.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "Handles.h"
#include "SharedPaths.h"
#include "Staging.h"
#include "cert_hash.h"
#include "xpaths.h"

#define CERT_STORE "/xpaths/nc_var_etc/ssl/certstore/"

#define IPSEC_TRUSTED_DIR IPSEC_DIR "trusted/"
#define ROOT_CERTS_DIR CLONE_EXPORT_DATA_DIR "rootCertificates/"
#define DOMAIN_CERTS_DIR CLONE_EXPORT_DATA_DIR "domainCertificates/"

namespace {

const std::size_t kFriendlyNameSize = 180;
const std::size_t kCertTypeSize = 10;
const std::size_t kHashNameSize = 32;

#define IPSEC_CERTS_SOURCE "/xpaths/nc_var_etc/ssl/trusted/"
#define DOMAIN_CERTS_SOURCE "/xpaths/nc_var_etc/ssl/domain/"

// Shares data/ipSec/ with the IPsec configuration, so either may come first. Copied as the plain
// copies are, but named only when a certificate of its own is left (see below).
const cloneutil::PlainCopy kIPSecCopy = {IPSEC_CERTS_SOURCE, "cp -p", "*", IPSEC_TRUSTED_DIR,
                                         cloneutil::MakeDir::MakePath, "Creating %s is failed",
                                         "IPSec Certificates are not able to clone", nullptr, false};
const cloneutil::FolderCopy kDomainCopy = {DOMAIN_CERTS_SOURCE, "*", DOMAIN_CERTS_DIR, "cp -p"};

// A link list of the certificate store: one entry "TARGET,LINK" per listed link.
struct LinkList {
    const char* dir;
    const char* file;
    const char* staged;
    const char* terminator;  // after each entry
    const char* none;        // nothing listed
    const char* writeFailure;  // format, with the list file
};

const LinkList kRootList = {ROOT_CERTS_DIR, ROOT_CERTS_DIR "rootCertificates.ln",
                            "data/rootCertificates/rootCertificates.ln", "\n", "Root Certificate is not available",
                            "%s cannot be written; root certificates are not cloned"};
const LinkList kDomainList = {DOMAIN_CERTS_DIR, DOMAIN_CERTS_DIR "domainCertificates.ln",
                              "data/domainCertificates/domainCertificates.ln", "", "Domain Certificates are not available",
                              "%s cannot be written; domain certificates are not cloned"};

// The store by descriptor, with no link on the way: its entries are read from it, never by name.
cloneutil::Fd openStore(cloneutil::DeviceFolders& folders)
{
    cloneutil::Fd store = folders.openFromRoot(CERT_STORE, O_RDONLY | O_DIRECTORY);
    if (!store.valid()) {
        CLONE_LOG(logSpecError, " %s is not accessible", CERT_STORE);
    }
    return store;
}

enum class TargetRead { Read, Unreadable, MayBeCut };

// The target of the store link NAME, as the link holds it.
TargetRead readTarget(int store, const char* name, std::string& target)
{
    char buf[cloneutil::kPathBufferSize];
    const ssize_t n = ::readlinkat(store, name, buf, sizeof buf - 1);
    if (n < 0) {
        return TargetRead::Unreadable;
    }
    if (static_cast<std::size_t>(n) == sizeof buf - 1) {
        return TargetRead::MayBeCut;
    }
    target.assign(buf, static_cast<std::size_t>(n));
    return TargetRead::Read;
}

bool hasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

// Writes the list of the store's links that ACCEPT(name, target) takes, in readdir order; true
// when it holds an entry and the node names it. Without an entry, or when the list cannot be
// written whole, the list file and (when empty) its directory are removed.
template <typename Accept>
bool_t writeLinkList(cloneutil::DeviceFolders& folders, int store, const LinkList& l, xmlNodePtr node, Accept accept)
{
    const std::string dir = cloneutil::devicePath(l.dir);
    const std::string file = cloneutil::devicePath(l.file);
    cloneutil::File list = cloneutil::openForWriting(file);
    if (!list) {
        CLONE_LOG(logSpecError, l.writeFailure, l.file);
        (void)::rmdir(dir.c_str());
        return FALSE;
    }
    std::string entries;
    std::vector<cloneutil::FolderEntry> storeEntries;
    (void)cloneutil::listFolder(store, storeEntries);
    for (const cloneutil::FolderEntry& e : storeEntries) {
        // Only links: other entries and those whose type the folder does not tell are left out.
        if (e.type != DT_LNK) {
            continue;
        }
        const char* name = e.name.c_str();
        std::string target;
        if (std::strlen(name) >= kFriendlyNameSize) {
            // Cut to fit, the name would stand for another link.
            CLONE_LOG(logSpecError, "Certificate store entry %s is longer than %u characters; it is skipped", name,
                      static_cast<unsigned>(kFriendlyNameSize - 1));
            continue;
        }
        const TargetRead read = readTarget(store, name, target);
        if (read == TargetRead::MayBeCut) {
            CLONE_LOG(logSpecError, "Target of certificate store entry %s is too long; it is skipped", name);
        }
        if (read != TargetRead::Read) {
            continue;
        }
        // The list has no quoting: a line break or a comma where it separates would split an entry.
        if (hasLineBreak(name) || hasLineBreak(target) || target.find(',') != std::string::npos) {
            CLONE_LOG(logSpecError,
                      "Certificate store entry %s has a line break in its name or target, or a comma in its target; "
                      "it is skipped",
                      name);
            continue;
        }
        // An installing device would make the link again in its own store, wherever it leads: only a
        // target that is a certificate file as it stands, with nothing on the way to resolve, is listed.
        if (!cloneutil::certificateInsideTrees(folders, target)) {
            CLONE_LOG(logSpecError, "Certificate store entry %s does not lead to a certificate file of the "
                      "certificate folders; it is skipped", name);
            continue;
        }
        if (!accept(name, target)) {
            continue;
        }
        entries += target + "," CERT_STORE + name + l.terminator;
    }
    const bool written = std::fwrite(entries.data(), 1, entries.size(), list.get()) == entries.size();
    if (std::fclose(list.release()) != 0 || !written) {
        CLONE_LOG(logSpecError, l.writeFailure, l.file);
        entries.clear();
    } else if (entries.empty()) {
        CLONE_LOG(logSpecInfo, "%s", l.none);
    }
    if (entries.empty()) {
        (void)::unlink(file.c_str());
        (void)::rmdir(dir.c_str());
        return FALSE;
    }
    return cloneutil::setNodeText(node, l.staged) ? TRUE : FALSE;
}

}  // namespace

// Plain copies: their rows in ElementTables.cpp say what is copied where.
bool_t CloneCreator::cloneWirelessCertificatesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return stagePlainCopyOf(&CloneCreator::cloneWirelessCertificatesHelper, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneAddressBookCertificatesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return stagePlainCopyOf(&CloneCreator::cloneAddressBookCertificatesHelper, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneIPSecCertificatesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    if (!cloneutil::copyPlain(deviceFolders, kIPSecCopy)) {
        return FALSE;
    }
    // The device's own TLS certificate is no trust anchor for another device.
    (void)::unlink(cloneutil::devicePath(IPSEC_TRUSTED_DIR "stunnel.pem").c_str());
    int count = 0;
    {
        cloneutil::Dir staged(::opendir(cloneutil::devicePath(IPSEC_TRUSTED_DIR).c_str()));
        if (!staged) {
            CLONE_LOG(logSpecError, "%s cannot be read; IPSec certificates are not cloned", IPSEC_TRUSTED_DIR);
            return FALSE;
        }
        while (::readdir(staged.get()) != nullptr) {
            ++count;
        }
    }
    // "." and ".." are counted too.
    if (count <= 2) {
        CLONE_LOG(logSpecInfo, "%s : No root certificates are available%d", "cloneIPSecCertificatesHelper", count);
        return FALSE;
    }
    return cloneutil::setNodeText(xmlCurrentGroupPtr, "data/ipSec/trusted/") ? TRUE : FALSE;
}

int CloneCreator::getCertificateType(char* certFriName, char* certType)
{
    cloneutil::PathBuffer link;
    char target[cloneutil::kPathBufferSize];
    std::memset(target, 0, sizeof target);
    if (!cloneutil::formatPath(link, "%s/%s", cloneutil::devicePath(CERT_STORE).c_str(), certFriName) ||
        ::readlink(link, target, sizeof target - 1) < 0) {
        return 0;
    }
    // The certificate as the device reaches it through the link: an absolute target is a device
    // path, a relative one starts at the store.
    const std::string certificate =
        target[0] == '/' ? cloneutil::devicePath(target) : cloneutil::devicePath(CERT_STORE) + target;
    char hashName[kHashNameSize];
    std::memset(hashName, 0, sizeof hashName);
    (void)get_certHashName(certificate.c_str(), hashName);
    hashName[kHashNameSize - 1] = '\0';

    // What is no readable certificate has no hash name and so no key; the key directory itself
    // must not count as one.
    const char* varEtc = xpaths_get_path("nc_var_etc");
    cloneutil::PathBuffer key;
    struct stat st;
    const bool device = hashName[0] != '\0' && varEtc != nullptr &&
                        cloneutil::formatPath(key, "%s/%s%s", varEtc, "ssl/private/", hashName) &&
                        ::stat(key, &st) == 0;
    (void)std::snprintf(certType, kCertTypeSize, "%s", device ? "DEVICE" : "ROOT");  // either word fits
    return 0;
}

bool_t CloneCreator::cloneRootCertificateHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    bool_t result = FALSE;
    const cloneutil::Fd store = openStore(deviceFolders);
    if (store.valid()) {
        (void)::mkdir(cloneutil::devicePath(ROOT_CERTS_DIR).c_str(), 0755);
        result = writeLinkList(deviceFolders, store.get(), kRootList, xmlCurrentGroupPtr, [this](const char* name,
                                                                                  const std::string& target) {
            char friendlyName[kFriendlyNameSize];
            char certType[kCertTypeSize];
            const std::size_t length = std::strlen(name);
            if (length >= sizeof friendlyName) {
                return false;  // longer names were skipped before; never cut one to another's name
            }
            std::memcpy(friendlyName, name, length + 1);
            std::memset(certType, 0, sizeof certType);
            getCertificateType(friendlyName, certType);
            // Domain certificates have a list of their own.
            return std::strcmp(certType, "ROOT") == 0 && target.find("/ssl/domain") == std::string::npos;
        });
    }
    CLONE_LOG(logSpecLibReturn, "cloneRootCertificateHelper");
    return result;
}

bool_t CloneCreator::cloneDomainCertificatesHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    (void)::mkdir(cloneutil::devicePath(DOMAIN_CERTS_DIR).c_str(), 0755);
    // Whatever the copy gives, the list of the store decides.
    (void)cloneutil::copyFolder(deviceFolders, kDomainCopy);
    const cloneutil::Fd store = openStore(deviceFolders);
    if (!store.valid()) {
        return FALSE;
    }
    // Root certificates have a list of their own.
    return writeLinkList(deviceFolders, store.get(), kDomainList, xmlCurrentGroupPtr, [](const char*, const std::string& target) {
        return target.find("/ssl/trusted") == std::string::npos;
    });
}
