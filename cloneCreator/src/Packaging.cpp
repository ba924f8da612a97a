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
#include "DevicePath.h"
#include "Handles.h"
#include "Staging.h"
#include "clone_member.h"
#include "xfile.h"

namespace {

// Removes the export tree when the packaging step ends, whatever happened in it.
class ExportTreeRemoval {
public:
    ExportTreeRemoval() = default;
    ~ExportTreeRemoval()
    {
        // Its status is not examined: the tree is gone or there is nothing more to do about it.
        cloneutil::runDeviceCommand("rm -rf " CLONE_EXPORT_TREE);
    }
    ExportTreeRemoval(const ExportTreeRemoval&) = delete;
    ExportTreeRemoval& operator=(const ExportTreeRemoval&) = delete;
};

// Takes out of the export tree whatever would keep the clone file from unpacking (a FIFO, socket
// or device node, a link leading out of the tree, a name or path too long), so a clone file that is
// made always unpacks whole. False when something of that kind cannot be removed.
bool leaveOutWhatCannotBeUnpacked()
{
    const std::string tree = cloneutil::devicePath(CLONE_EXPORT_TREE);
    std::vector<std::string> pending{""};
    bool clean = true;
    while (!pending.empty()) {
        const std::string dir = std::move(pending.back());
        pending.pop_back();
        std::vector<std::string> names;
        {
            cloneutil::Dir d(::opendir((tree + dir).c_str()));
            for (struct dirent* e = d ? ::readdir(d.get()) : nullptr; e != nullptr; e = ::readdir(d.get())) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                    names.emplace_back(dir + e->d_name);
                }
            }
        }
        for (const std::string& relative : names) {
            const std::string host = tree + relative;
            struct stat st;
            if (::lstat(host.c_str(), &st) != 0) {
                continue;
            }
            std::string target;
            clonefmt::MemberType type = clonefmt::MemberType::Other;
            if (S_ISDIR(st.st_mode)) {
                type = clonefmt::MemberType::Directory;
            } else if (S_ISREG(st.st_mode)) {
                type = clonefmt::MemberType::File;
            } else if (S_ISLNK(st.st_mode)) {
                type = clonefmt::MemberType::SymbolicLink;
                char text[PATH_MAX];
                const ssize_t n = ::readlink(host.c_str(), text, sizeof text);
                target.assign(text, n > 0 ? static_cast<std::size_t>(n) : 0);
            }
            const clonefmt::MemberFault fault = clonefmt::memberFault(relative, type, target);
            if (fault == clonefmt::MemberFault::None) {
                if (type == clonefmt::MemberType::Directory) {
                    pending.push_back(relative + "/");
                }
                continue;
            }
            CLONE_LOG(logSpecError, "Staged %s%s cannot be unpacked from a clone file (%s); it is left out",
                      CLONE_EXPORT_TREE, relative.c_str(), clonefmt::memberFaultText(fault));
            if (!cloneutil::removeStaged(host)) {
                CLONE_LOG(logSpecError, "Staged %s%s cannot be removed", CLONE_EXPORT_TREE, relative.c_str());
                clean = false;
            }
        }
    }
    return clean;
}

}  // namespace

void CloneCreator::cleanUpCloneDirectory()
{
    if (cloneutil::runDeviceCommand("rm -rf /xpaths/tmp_cloningData//*") != 0) {
        CLONE_LOG(logSpecError, "Files in %s are not able to remove", CLONE_STAGING_DIR);
    }
}

namespace {

// Removes FILE, which an earlier export may have left; true when it is gone (or never was).
bool removeStale(const char* file, const char* what)
{
    struct stat st;
    // A read-only file system refuses even to remove what is not there; only a file that stays counts.
    if (std::remove(file) == 0 || ::lstat(file, &st) != 0) {
        return true;
    }
    CLONE_LOG(logSpecError, "%s %s of an earlier export cannot be removed", what, file);
    return false;
}

}  // namespace

bool CloneCreator::removeStaleCloneFile()
{
    // Either name may be left from an earlier export, and a caller cannot tell beforehand which
    // one this export writes (the font capture renames it only when it succeeds).
    bool gone = true;
    for (const char* name : {kCloneFileName, kFontCloneFileName}) {
        cloneutil::PathBuffer path;
        // A path that does not fit cannot name an existing file either: the system refuses it too.
        if (cloneutil::formatPath(path, "%s/%s.dlm", outputLocationOfDLM.c_str(), name) &&
            !removeStale(path, "Clone file")) {
            gone = false;
        }
    }
    return gone;
}

void CloneCreator::generateCompressedFile()
{
    ExportTreeRemoval removeExportTree;
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

    if (!leaveOutWhatCannotBeUnpacked()) {
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
        CLONE_LOG(logSpecError, "Output location %s cannot be created", outputLocationOfDLM.c_str());
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
    CloneMaker cloneMaker;
    CLONE_LOG(logSpecLibEnter, "generateCloneDLM");
    int status = 1;
    cloneutil::PathBuffer cloneFile;
    if (!cloneutil::formatPath(cloneFile, "%s/%s.dlm", outputLocationOfDLM.c_str(), nameOfDLM.c_str())) {
        // A cut path would name some other file, to be removed and examined in its place.
        CLONE_LOG(logSpecError, "Clone file path in %s is too long", outputLocationOfDLM.c_str());
        CLONE_LOG(logSpecLibReturn, "generateCloneDLM");
        return status;
    }
    // Before the authentication, so a refused call leaves no earlier clone file behind; one that
    // cannot be removed would pass for this export's, so nothing is signed then.
    if (!removeStaleCloneFile()) {
        CLONE_LOG(logSpecLibReturn, "generateCloneDLM");
        return status;
    }

    if (cloneMaker.Process_Authentication_DLM(password) != 0) {
        CLONE_LOG(logSpecError, "Clone Process Authentication Failed");
    } else {
        // Only the archive this call wrote is signed; without one there is nothing to sign.
        bool_t signedNow = FALSE;
        if (archiveWritten) {
            std::string outputLocation = outputLocationOfDLM;
            signedNow = cloneMaker.cloneHandler(outputLocation.data(), dlmType.c_str(), nameOfDLM.c_str());
        }
        // A clone file is this call's when the signing step says it wrote one and a regular file
        // of that name is there now (the stale one was removed above).
        struct stat st;
        if (signedNow && ::lstat(cloneFile, &st) == 0 && S_ISREG(st.st_mode)) {
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
