// The capture boundary: what the captures may read from the device and put into the export tree.
// Parts of the captured data (certificates, templates, stored jobs, images, fonts) are placed by
// users who are not trusted with the whole device, and a clone file travels to other devices. So
// only regular files and folders enter the export tree, by two rules:
//  - a file or folder that a capture names may itself lead elsewhere through links, but only into
//    the device's data trees (kDeviceDataTrees);
//  - an entry found inside a captured folder is taken only when it leads to somewhere inside that
//    same folder.
// Anything else is left out with an ERROR that names it; the rest of a folder is still captured.
#ifndef CLONE_CAPTUREBOUNDARY_H
#define CLONE_CAPTUREBOUNDARY_H

#include <string>

namespace cloneutil {

// The trees of device data that captures read. A named file or folder may lead into any of them;
// nothing leads into the device's configuration, keys or system files.
constexpr const char* kDeviceDataTrees[] = {
    "/xpaths/temp/",                      // templates, address book certificates
    "/xpaths/nc_dlms_data/http/data/",    // wireless certificates, scan button images
    "/xpaths/nc_var_etc/ssl/trusted/",    // trusted (IPsec and root) certificates
    "/xpaths/nc_var_etc/ssl/domain/",     // domain certificates
    "/xpaths/ipsec/",                     // IPsec configuration
    "/xpaths/nc_nvram/",                  // trap registrations, packet filter rules
    "/xpaths/customer_logo/",             // logo and blocking screen images
    "/usr/ui/pum/nvm/",                   // stored copy jobs, NVRAM defaults
    "/xpaths/nc_dlms/http/apps/",         // the uploaded font start file
    "/xpaths/nc_dlms/clone/apps/",        // the checksum tool the font installation puts beside it
    "/xpaths/nc_var_etc/start.pcl",       // the device's own font start file, in one of these
    "/xpaths/nc_dlms/pcl6-dmn/data/",
    "/xpaths/nc_dlms/pcl5c-dmn/data/",
    "/xpaths/nc_dlms/pcl/data/",
};

// The trees a certificate store link may lead into.
constexpr const char* kCertificateTrees[] = {
    "/xpaths/nc_var_etc/ssl/trusted/",
    "/xpaths/nc_var_etc/ssl/domain/",
};

enum class Source {
    Inside,   // a regular file or folder inside the data trees
    Missing,  // nothing there (or a link to nothing): the capture fails as it would have
    Refused,  // leads outside, or is neither a regular file nor a folder: logged as an ERROR
};

// Checks the device file or folder PATH that a capture names, before it is read. With Inside,
// READFROM is the host path that reaches it without a link; otherwise it is PATH as this build
// reaches it.
Source namedSource(const char* path, std::string& readFrom);

// True when the host path HOST (resolved) is TREE (a host path, resolved) or lies below it.
bool isWithin(const std::string& host, const std::string& tree);

// HOST with every link on the way followed ("" when it leads nowhere, into a loop, or is too long).
std::string resolvedPath(const std::string& host);

// True when the device path TARGET, as a certificate store link holds it (relative ones start at
// the store), leads to a certificate file inside kCertificateTrees.
bool certificateInsideTrees(const std::string& target, const char* store);

// Copies the device file SRC that a capture names to DEST in the export tree (device paths), with
// its mode and times (xcopyp), when namedSource lets it in. A copy that failed, part way or in
// keeping the times, is removed: false then, and nothing is left at DEST.
bool stageDeviceFile(const char* src, const char* dest);

// A device file outside the export tree that a capture writes (replaces, backs up): true when it
// is absent or a regular file of its own. A link there, or anything else, is refused with an ERROR
// naming it, and nothing is written.
bool writableDeviceFile(const char* path);

// A folder that a capture copies with one cp command line, "CP FOLDERPATTERN DEST 2>/dev/null".
struct FolderCopy {
    const char* folder;   // the device folder as the command names it
    const char* pattern;  // the names the shell's pattern takes from it; null: the whole tree (cp -r)
    const char* dest;     // the staging directory it lands in (exists before the copy)
    const char* cp;       // the cp and its options: "cp -p", "cp -rp", "cp -rfp"
};

// Runs the command when all it would copy keeps to the boundary and fits one command line; otherwise
// copies what keeps to it entry by entry, as the command would have, and leaves out the rest with
// an ERROR naming each entry. The command's status (0: copied); after a failure nothing of this
// copy is left in DEST.
int copyFolder(const FolderCopy& copy);

// Removes the host path HOST: a file, a link (never followed) or a folder with all below it.
// False when something stays.
bool removeStaged(const std::string& host);

}  // namespace cloneutil

#endif
