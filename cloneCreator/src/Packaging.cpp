// Clears the staging area before an export, archives the export tree and has the signing
// library wrap the archive into the clone file.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "CaptureBoundary.h"
#include "CloneCreator.h"
#include "CloneLog.h"
#include "CloneMaker.h"
#include "Command.h"
#include "DevicePath.h"
#include "Descriptors.h"
#include "Handles.h"
#include "Staging.h"
#include "clone_member.h"
#include "xfile.h"

namespace {

// Removes the export tree when the packaging step ends, whatever happened in it.
class ExportTreeRemoval {
public:
    explicit ExportTreeRemoval(CloneCreator& creator) : creator_(creator) {}
    ~ExportTreeRemoval() { creator_.removeExportTree(); }
    ExportTreeRemoval(const ExportTreeRemoval&) = delete;
    ExportTreeRemoval& operator=(const ExportTreeRemoval&) = delete;

private:
    CloneCreator& creator_;
};

// The member type and link text of NAME in the folder DIR.
clonefmt::MemberType memberType(int dir, const std::string& name, std::string& target)
{
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return clonefmt::MemberType::Other;
    }
    if (S_ISLNK(st.st_mode)) {
        char text[PATH_MAX];
        const ssize_t n = ::readlinkat(dir, name.c_str(), text, sizeof text);
        target.assign(text, n > 0 ? static_cast<std::size_t>(n) : 0);
        return clonefmt::MemberType::SymbolicLink;
    }
    return S_ISDIR(st.st_mode) ? clonefmt::MemberType::Directory
           : S_ISREG(st.st_mode) ? clonefmt::MemberType::File
                                 : clonefmt::MemberType::Other;
}

// Takes out of the export tree whatever would keep the clone file from unpacking (a FIFO, socket
// or device node, a link leading out of the tree, a name or path too long), so a clone file that is
// made always unpacks whole. False when something of that kind cannot be removed.
bool leaveOutWhatCannotBeUnpacked(cloneutil::DeviceFolders& folders)
{
    const cloneutil::Fd tree = folders.stagingFolder(CLONE_EXPORT_TREE);
    std::vector<std::string> pending{""};
    bool clean = true;
    // Without a tree there is nothing to leave out (and nothing is archived: see below).
    while (tree.valid() && clean && !pending.empty()) {
        const std::string dir = std::move(pending.back());
        pending.pop_back();
        const cloneutil::Fd fd = cloneutil::openBelow(tree.get(), dir, O_RDONLY | O_DIRECTORY, cloneutil::Links::None);
        std::vector<cloneutil::FolderEntry> entries;
        if (!fd.valid() || !cloneutil::listFolder(fd.get(), entries)) {
            continue;
        }
        for (const cloneutil::FolderEntry& e : entries) {
            const std::string relative = dir + e.name;
            std::string target;
            const clonefmt::MemberType type = memberType(fd.get(), e.name, target);
            const clonefmt::MemberFault fault = clonefmt::memberFault(relative, type, target);
            if (fault == clonefmt::MemberFault::None) {
                if (type == clonefmt::MemberType::Directory) {
                    pending.push_back(relative + "/");
                }
                continue;
            }
            CLONE_LOG(logSpecError, "Staged %s%s cannot be unpacked from a clone file (%s); it is left out",
                      CLONE_EXPORT_TREE, relative.c_str(), clonefmt::memberFaultText(fault));
            if (!cloneutil::removeBelow(fd.get(), e.name)) {
                CLONE_LOG(logSpecError, "Staged %s%s cannot be removed", CLONE_EXPORT_TREE, relative.c_str());
                clean = false;
            }
        }
    }
    return clean;
}

}  // namespace

bool CloneCreator::prepareStagingDirectory()
{
    // Made owner-only here, whatever the caller's umask: the staging directory holds every captured
    // secret, and anything another user could plant in it would travel in the clone file.
    const std::string path = cloneutil::withoutTrailingSlashes(cloneutil::devicePath(CLONE_STAGING_DIR));
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        const cloneutil::SystemError why;
        CLONE_LOG(logSpecError, "Staging directory %s cannot be made: %s; no export runs", CLONE_STAGING_DIR,
                  why.text());
        return false;
    }
    const cloneutil::Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid()) {
        CLONE_LOG(logSpecError, "Staging directory %s is not this process's own; no export runs", CLONE_STAGING_DIR);
        return false;
    }
    if ((st.st_mode & 07777) != 0700 && ::fchmod(fd.get(), 0700) != 0) {
        const cloneutil::SystemError why;
        CLONE_LOG(logSpecError, "Staging directory %s cannot be made owner-only: %s; no export runs", CLONE_STAGING_DIR,
                  why.text());
        return false;
    }
    return true;
}

void CloneCreator::removeExportTree()
{
    // By descriptor, never following a link: nothing more can be done if something stays.
    const cloneutil::Fd staging = deviceFolders.stagingFolder(CLONE_STAGING_DIR);
    if (staging.valid()) {
        (void)cloneutil::removeBelow(staging.get(), "cloningExport");
    }
}

void CloneCreator::cleanUpCloneDirectory()
{
    // As "rm -rf /xpaths/tmp_cloningData//*" would, but by descriptor and in this process: no link is
    // followed, and no time limit cuts a large tree short. Names beginning with a dot stay (the lock).
    const cloneutil::Fd staging = deviceFolders.stagingFolder(CLONE_STAGING_DIR);
    if (!staging.valid() || !cloneutil::removeEntries(staging.get())) {
        CLONE_LOG(logSpecError, "Files in %s are not able to remove", CLONE_STAGING_DIR);
    }
}

namespace {

// Removes FILE, which an earlier export may have left; true when it is gone (or never was).
bool removeStale(const char* file, const char* what)
{
    struct stat st;
    // A read-only file system refuses even to remove what is not there; only a file that stays counts.
    if (std::remove(file) == 0) {
        return true;
    }
    const cloneutil::SystemError why;
    if (::lstat(file, &st) != 0) {
        return true;
    }
    CLONE_LOG(logSpecError, "%s %s of an earlier export cannot be removed: %s", what, file, why.text());
    return false;
}

// Removes OUTPUT/NAME.SUFFIX for both names an export may give its files.
bool removeBothNames(const std::string& output, const char* suffix, const char* what)
{
    bool gone = true;
    for (const char* name : {kCloneFileName, kFontCloneFileName}) {
        cloneutil::PathBuffer path;
        // A path that does not fit cannot name an existing file either: the system refuses it too.
        if (cloneutil::formatPath(path, "%s/%s.%s", output.c_str(), name, suffix) && !removeStale(path, what)) {
            gone = false;
        }
    }
    return gone;
}

}  // namespace

bool CloneCreator::removeStaleCloneFile()
{
    // Either name may be left from an earlier export, and a caller cannot tell beforehand which
    // one this export writes (the font capture renames it only when it succeeds).
    return removeBothNames(outputLocationOfDLM, "dlm", "Clone file");
}

bool CloneCreator::removeUnsignedArchives()
{
    // An archive holds every captured secret, unsigned: none is ever left in the output directory.
    return removeBothNames(outputLocationOfDLM, "tar", "Archive");
}

bool CloneCreator::authenticate(const char* password)
{
    signer_.reset(new CloneMaker());
    passwordAccepted_ = signer_->Process_Authentication_DLM(password) == 0;
    if (!passwordAccepted_) {
        CLONE_LOG(logSpecError, "Clone Process Authentication Failed");
    }
    return passwordAccepted_;
}

void CloneCreator::generateCompressedFile()
{
    ExportTreeRemoval treeRemoval(*this);
    archiveWritten = false;

    cloneutil::PathBuffer archive;
    if (!cloneutil::formatPath(archive, "%s/%s.tar", outputLocationOfDLM.c_str(), nameOfDLM.c_str())) {
        CLONE_LOG(logSpecError, "Archive path in %s is too long", outputLocationOfDLM.c_str());
        return;
    }
    // Before anything else can fail: a stale archive must never be signed in place of this one.
    if (!removeStale(archive, "Archive")) {
        return;
    }
    // The caller's directory reaches the shell as one quoted word: quotes, ";", "$(...)" or blanks
    // in it are part of the name, never shell syntax.
    cloneutil::PathBuffer command;
    if (!cloneutil::formatPath(command, "tar -cz -b 64 -f %s .", cloneutil::shellQuote(archive).c_str())) {
        CLONE_LOG(logSpecError, "Archive command for %s is too long", archive);
        return;
    }

    if (!leaveOutWhatCannotBeUnpacked(deviceFolders)) {
        CLONE_LOG(logSpecError, "Export tree %s holds what cannot be unpacked; nothing is archived", CLONE_EXPORT_TREE);
        return;
    }

    // The archive command runs in the export tree; the process's own working directory, which
    // the host's threads share, never moves. Archiving from anywhere else would pack the wrong
    // directory.
    const std::string exportTree = cloneutil::devicePath(CLONE_EXPORT_TREE);
    struct stat tree;
    if (::stat(exportTree.c_str(), &tree) != 0 || !S_ISDIR(tree.st_mode) || ::access(exportTree.c_str(), X_OK) != 0) {
        CLONE_LOG(logSpecError, "Export tree %s cannot be entered; nothing is archived", CLONE_EXPORT_TREE);
        return;
    }

    if (::access(outputLocationOfDLM.c_str(), F_OK) == -1 && xmkdir(outputLocationOfDLM.data(), 0755) != 0) {
        const cloneutil::SystemError why;
        CLONE_LOG(logSpecError, "Output location %s cannot be created: %s", outputLocationOfDLM.c_str(),
                  why.text());
    }
    // Owner-only from its first byte: tar writes into this file, keeping its mode.
    const cloneutil::Fd made(::open(archive, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!made.valid()) {
        const cloneutil::SystemError why;
        CLONE_LOG(logSpecError, "Archive %s cannot be created: %s", archive, why.text());
        return;
    }
    const int status = cloneutil::runCommand(command, exportTree.c_str());
    if (status != 0) {
        if (status == -1) {
            // Stopped at the time limit (or not run at all): the clone file's failure is that.
            CLONE_LOG(logSpecError, "Archive command did not finish; %s is not made", archive);
        }
        CLONE_LOG(logSpecInfo, "Clone file compression operation got failed");
        (void)std::remove(archive);  // best effort: archiveWritten stays false, so it is never signed
    } else {
        archiveWritten = true;
    }
}

int CloneCreator::generateCloneDLM(char* password, const std::string& dlmType)
{
    // The signing object that checked the password when the export began; a caller that comes here
    // directly gets one of its own, checked below.
    if (!signer_) {
        signer_.reset(new CloneMaker());
    }
    CLONE_LOG(logSpecLibEnter, "generateCloneDLM");
    int status = 1;
    cloneutil::PathBuffer cloneFile;
    if (!cloneutil::formatPath(cloneFile, "%s/%s.dlm", outputLocationOfDLM.c_str(), nameOfDLM.c_str())) {
        // A cut path would name some other file, to be removed and examined in its place.
        CLONE_LOG(logSpecError, "Clone file path in %s is too long", outputLocationOfDLM.c_str());
        (void)removeUnsignedArchives();
        CLONE_LOG(logSpecLibReturn, "generateCloneDLM");
        return status;
    }
    // Before the authentication, so a refused call leaves no earlier clone file behind; one that
    // cannot be removed would pass for this export's, so nothing is signed then.
    if (!removeStaleCloneFile()) {
        (void)removeUnsignedArchives();
        CLONE_LOG(logSpecLibReturn, "generateCloneDLM");
        return status;
    }

    if (!passwordAccepted_ && signer_->Process_Authentication_DLM(password) != 0) {
        CLONE_LOG(logSpecError, "Clone Process Authentication Failed");
        (void)removeUnsignedArchives();
    } else {
        // Only the archive this call wrote is signed; without one there is nothing to sign.
        bool_t signedNow = FALSE;
        if (archiveWritten) {
            std::string outputLocation = outputLocationOfDLM;
            signedNow = signer_->cloneHandler(outputLocation.data(), dlmType.c_str(), nameOfDLM.c_str());
        }
        // Nothing unsigned stays beside the clone file, made or not.
        const bool archiveGone = removeUnsignedArchives();
        // A clone file is this call's when the signing step says it wrote one and a regular file
        // of that name is there now (the stale one was removed above); it is its owner's alone,
        // whatever the signing library gave it.
        const cloneutil::Fd made(::open(cloneFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (signedNow && archiveGone && made.valid() && ::fstat(made.get(), &st) == 0 && S_ISREG(st.st_mode) &&
            ((st.st_mode & 07777) == 0600 || ::fchmod(made.get(), 0600) == 0)) {
            CLONE_LOG(logSpecForceInfo, "Clone Creation Succeeded - clone file size: %jd",
                      static_cast<intmax_t>(st.st_size));
            status = 0;
        } else {
            CLONE_LOG(logSpecError, "Clone Creation Failed - file size is zero");
        }
    }
    CLONE_LOG(logSpecLibReturn, "generateCloneDLM");
    return status;
}
