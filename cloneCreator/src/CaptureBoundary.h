// The capture boundary: what the captures may read from the device and put into the export tree,
// and how the font installation writes device files. Parts of the captured data (certificates,
// templates, stored jobs, images, fonts) are placed by users who are not trusted with the whole
// device, and a clone file travels to other devices. So every capture acts on descriptors:
//  - a data tree is opened once per export from the device root, with no link on the way;
//  - a file or folder that a capture names is reached from its tree with no link on the way;
//  - an entry found inside a captured folder may be a link only when it leads to somewhere inside
//    that same folder (resolved by descriptor, never by name);
//  - a regular file with other names (hard links) is never taken and never written;
//  - what is copied is read from the very descriptor that was checked.
// Anything else is left out with an ERROR that names it; the rest of a folder is still captured.
#ifndef CLONE_CAPTUREBOUNDARY_H
#define CLONE_CAPTUREBOUNDARY_H

#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "Handles.h"
#include "HostGuard.h"

namespace cloneutil {

// The trees of device data that captures read; what a capture names lies in one of them. Nothing
// leads into the device's configuration, keys or system files.
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

// A device file opened to be read.
struct DeviceFile {
    enum State {
        Open,     // FD is a regular file of one name; ST is what it was when opened
        Missing,  // nothing there, or a folder where a file was named: the capture fails as it would have
        Refused,  // a link, a file with other names, a special file, or a tree reached through a link: logged
    };
    State state = Missing;
    Fd fd;
    struct stat st = {};
};

// One export's descriptors of the device: its root, the data trees (each opened once) and the
// staging area. Every path given to it is a fixed device path.
class DeviceFolders {
public:
    DeviceFolders() = default;
    DeviceFolders(const DeviceFolders&) = delete;
    DeviceFolders& operator=(const DeviceFolders&) = delete;

    // The device file PATH, in one of kDeviceDataTrees, opened for reading by descriptor.
    DeviceFile openFile(const char* path);
    // The device folder PATH, in one of kDeviceDataTrees, opened for listing; invalid when it is
    // missing or refused (logged).
    Fd openFolder(const char* path);
    // True when the last name of PATH, in one of kDeviceDataTrees, is a symbolic link (its folder
    // reached by descriptor).
    bool isLink(const char* path);
    // PATH (any fixed device path) from the device root, with no link on the way, opened with FLAGS.
    Fd openFromRoot(const char* path, int flags);
    // The folder PATH of the staging area, with no link on the way from the staging directory.
    Fd stagingFolder(const char* path);

private:
    int root();
    int staging();
    // The descriptor of the data tree holding PATH, and the rest of PATH below it; -1 (logged the
    // first time) when PATH is in no tree or its tree is refused, -2 when the tree is missing.
    int treeOf(const std::string& path, std::string& below);

    struct Tree {
        Fd fd;         // invalid: missing or refused
        bool refused;  // reached through a link (said once)
    };
    // Registers FD, just opened, to be closed in a host's fork() (see ForkClosed).
    void closedInForks(int fd);

    Fd root_;
    Fd staging_;
    std::map<std::string, Tree> trees_;
    // Last, so each registration is dropped before its descriptor is closed.
    std::vector<std::unique_ptr<ForkClosed>> inForks_;
};

// Copies the device file SRC that a capture names to DEST in the export tree (device paths), with
// its mode and whole-second times when KEEPMODEANDTIMES (as xcopyp), else as a new file of mode 0644
// less the umask (as xcopy). False, with nothing left at DEST, when it is not captured.
bool stageDeviceFile(DeviceFolders& folders, const char* src, const char* dest, bool keepModeAndTimes = true);

// The bytes of the open device file FROM into the new staged file DEST (mode 0644 less the umask).
bool stageOpenFile(DeviceFolders& folders, const DeviceFile& from, const char* dest);

// A folder that a capture copies as a cp command line would, "CP FOLDERPATTERN DEST".
struct FolderCopy {
    const char* folder;   // the device folder
    const char* pattern;  // the names taken from it (as the shell matches); null: the whole tree (cp -r)
    const char* dest;     // the staging directory it lands in (exists before the copy)
    const char* cp;       // the cp and its options: "cp -p", "cp -rp", "cp -rfp"
};

// Copies what keeps to the boundary, by descriptor, as the command would have (files with their
// mode, owner and whole-second times, folders made, a link that leads down from its own folder kept
// as a link), and leaves out the rest with an ERROR naming each entry. The status the command would
// have given (0: copied; a folder in a flat copy, or nothing to copy, fails it); after a failure
// nothing of this copy is left in DEST.
int copyFolder(DeviceFolders& folders, const FolderCopy& copy);

// True when the device file PATH may be written: absent, or a regular file of one name whose folder
// is reached from the device root with no link on the way. Otherwise false, with an ERROR naming it.
bool writableDeviceFile(DeviceFolders& folders, const char* path);

// Writes the bytes of FROM (read from its start) as the device file DEST: into a new file beside it,
// flushed and renamed over it, with the replaced file's mode and owner. Never writes through a link
// or into a file with other names (writableDeviceFile); false, logged, when not written.
bool replaceDeviceFile(DeviceFolders& folders, const DeviceFile& from, const char* dest);

// True when the device path TARGET, as a certificate store link holds it, is canonical (absolute,
// no "." or "..", no link on the way) and leads to a regular file inside kCertificateTrees.
bool certificateInsideTrees(DeviceFolders& folders, const std::string& target);

}  // namespace cloneutil

#endif
