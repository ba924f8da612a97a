// The library's entry point: one call makes one clone file, start to end, on the caller's thread.
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <stdexcept>
#include <sys/stat.h>

#include <libxml/parser.h>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "CloningExportPortal.h"
#include "Command.h"
#include "DevicePath.h"
#include "ExportSummary.h"
#include "Handles.h"
#include "HostGuard.h"
#include "Loader.h"
#include "ManifestSchema.h"
#include "Staging.h"
#include "XmlNodes.h"

namespace {

// DIR (a fixed device path) is a directory of its own, or absent; a link or anything else there
// would lead the clean-up, the helpers and the archive somewhere else.
bool ownDirectoryOrAbsent(const char* dir)
{
    const std::string path = cloneutil::withoutTrailingSlashes(cloneutil::devicePath(dir));
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        return errno == ENOENT;
    }
    if (S_ISDIR(st.st_mode)) {
        return true;
    }
    CLONE_LOG(logSpecError, "%s is not a directory of its own; no export runs", dir);
    return false;
}

// Fills the manifest through the helpers and saves it; false when there is no manifest to fill or
// it cannot be saved whole.
bool fillManifest(CloneCreator& creator, const std::string& manifestPath)
{
    if (!ownDirectoryOrAbsent(CLONE_EXPORT_TREE) || !ownDirectoryOrAbsent(CLONE_EXPORT_DATA_DIR)) {
        return false;
    }
    cloneutil::XmlDoc doc = cloneutil::parseManifest(manifestPath.c_str());
    if (!doc) {
        CLONE_LOG(logSpecError, "Stub Manifest file is not created");
        return false;
    }
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    cloneutil::noteStubManifest(root);
    cloneutil::makeStagingDir(CLONE_EXPORT_DATA_DIR, cloneutil::MakeDir::MakeOrAccept);
    creator.processStubManifestXML(root);
    return cloneutil::saveManifest(manifestPath.c_str(), doc.get());
}

// The staging directory may be a link (device paths often are), but on a host it must stay on
// the simulated device: the clean-up removes everything in it.
bool stagingDirUsable()
{
#ifndef CLONE_DEVICE_BUILD
    char resolved[PATH_MAX];
    if (::realpath(cloneutil::devicePath(CLONE_STAGING_DIR).c_str(), resolved) == nullptr) {
        return true;  // missing: the group expansion reports it
    }
    const std::string inside = cloneutil::deviceRoot() + "/";
    if (std::string(resolved).compare(0, inside.size(), inside) != 0) {
        CLONE_LOG(logSpecError, "%s leads outside the device root; no export runs", CLONE_STAGING_DIR);
        return false;
    }
#endif
    return true;
}

// One export at a time in the whole device: the staging paths are fixed and the clean-up empties
// them. Held, as a record lock on a file in the staging directory, for as long as it lives; a call
// waits for another one (of another process; this process's calls take turns before) up to the
// command time limit. A record lock belongs to this process, not to the open file: a child the
// host forks keeps none of it, even one forked before the descriptor was registered below.
class DeviceExportLock {
public:
    bool take()
    {
        const std::string path = cloneutil::devicePath(CLONE_EXPORT_LOCK);
        open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        struct stat st;
        if (fd_.valid() && (::fstat(fd_.get(), &st) != 0 || st.st_uid != ::geteuid())) {
            // One another user left could be held by them for ever: it is made anew.
            (void)::unlink(path.c_str());
            open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        }
        if (!fd_.valid()) {
            // No staging directory yet: nothing else can be using it, and the group expansion says so.
            if (errno == ENOENT) {
                return true;
            }
            const cloneutil::SystemError why;
            CLONE_LOG(logSpecError, "Export lock %s cannot be opened: %s; no export runs", CLONE_EXPORT_LOCK,
                      why.text());
            return false;
        }
        const unsigned limit = cloneutil::commandTimeLimit();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit);
        struct flock whole = {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;  // from 0 to the end, however far it grows
        while (::fcntl(fd_.get(), F_SETLK, &whole) != 0) {
            if ((errno != EACCES && errno != EAGAIN && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
                CLONE_LOG(logSpecError, "Another export still held %s after %u s; no export runs", CLONE_EXPORT_LOCK,
                          limit);
                return false;
            }
            const struct timespec pause = {0, 20000000};
            ::nanosleep(&pause, nullptr);
        }
        return true;
    }

private:
    void open(const std::string& path, int flags)
    {
        inForks_.drop();
        fd_.reset(::open(path.c_str(), flags, 0600));
        // Nor the descriptor itself: a host's fork() from now on closes it in the child.
        inForks_.hold(fd_.get());
    }

    // Closing it (or any other descriptor of this process on the file) lets the lock go: nothing
    // else of the library opens the file.
    cloneutil::Fd fd_;
    cloneutil::ForkClosed inForks_;  // dropped before fd_ closes
};

// The export's steps: groups, plug-ins, walk and save, prune, archive, sign. 0 only for a clone
// file this call wrote.
int runExport(CloneCreator& creator, bool rootUsable, const std::string& rootProblem, const char* password,
              char* groupNameLine)
{
    if (!rootUsable) {
        CLONE_LOG(logSpecError, "Device root %s cannot be used: %s; no export runs",
                  cloneutil::deviceRoot().c_str(), rootProblem.c_str());
        return 1;
    }
    if (!stagingDirUsable() || !creator.prepareStagingDirectory()) {
        return 1;
    }
    DeviceExportLock deviceLock;
    if (!deviceLock.take()) {
        return 1;
    }
    // The export tree lives only within one call, whichever step ends it (a killed export's too).
    struct ExportTreeGone {
        CloneCreator& creator;
        ~ExportTreeGone()
        {
            try {
                creator.removeExportTree();
            } catch (...) {
                // Unwinding already (out of memory): the next export's clean-up takes the rest.
            }
        }
    } exportTreeGone{creator};
    // Whatever an earlier export left in the output directory is not this one's; and a refused
    // password captures nothing at all.
    if (!creator.removeStaleCloneFile() || !creator.removeUnsignedArchives() || !creator.authenticate(password)) {
        return 1;
    }
    cloneutil::removeStaleTempFiles(creator.outputLocationOfDLM.c_str());
    const std::string dlmType = creator.createGroups(groupNameLine);

    kel::plugin::Loader<cloning::Plugin> loader("cloning", &cloneutil::cloningPortal());
    kel::plugin::LoadPlugins(loader.category, loader);

    const std::string manifestPath = stubManifestPath(dlmType);
    if (!fillManifest(creator, manifestPath)) {
        return 1;
    }
    creator.pruneManifest(manifestPath);
    // For the technician: what the clone file holds, and why the rest is not in it.
    cloneutil::logExportSummary(creator.manifestEmptied ? nullptr : manifestPath.c_str());
    if (creator.exportIncomplete) {
        CLONE_LOG(logSpecError, "The manifest or an attribute list of this export could not be written or read "
                                "back whole; no clone file is made");
        return 1;
    }
    // A clone file whose manifest its verifier would refuse is no clone file (a placed manifest
    // outside the manifest namespace, an element the schema does not know).
    if (!creator.manifestEmptied) {
        const std::string fault = cloneutil::manifestSchemaFault(manifestPath.c_str(), dlmType);
        if (!fault.empty()) {
            CLONE_LOG(logSpecError, "Manifest %s does not pass its schema: %s; no clone file is made",
                      manifestPath.c_str(), fault.c_str());
            return 1;
        }
    }
    creator.generateCompressedFile();
    return creator.generateCloneDLM(const_cast<char*>(password), dlmType);
}

}  // namespace

namespace {

// Calls of this process, one at a time: an export uses state of the library's own (the device
// root, the portal, the clone type) from start to end.
std::timed_mutex& exportTurn()
{
    static std::timed_mutex turn;
    return turn;
}

}  // namespace

namespace {

// The export itself, which may throw: createCloneDLM turns anything thrown into result 1.
int exportOnce(char* outputLocation, const char* password, char* groupNameLine)
{
    std::string rootProblem;
    const bool rootUsable = cloneutil::refreshDeviceRoot(&rootProblem);
    CLONE_LOG(logSpecLibEnter, "createCloneDLM");
    // The archive is written from inside the export tree, so only an absolute directory works.
    if (outputLocation == nullptr || outputLocation[0] != '/') {
        CLONE_LOG(logSpecError, "Output location %s is not an absolute path",
                  outputLocation != nullptr ? outputLocation : "(null)");
        CLONE_LOG(logSpecLibReturn, "createCloneDLM");
        return 1;
    }
    // A tool short of descriptors writes nothing and may still end well: a clone file with empty
    // members would pass for whole.
    const long free = cloneutil::freeDescriptors();
    if (free < cloneutil::kExportDescriptors) {
        CLONE_LOG(logSpecError, "Only %ld descriptors free under RLIMIT_NOFILE, an export needs %ld; no export runs",
                  free, cloneutil::kExportDescriptors);
        CLONE_LOG(logSpecLibReturn, "createCloneDLM");
        return 1;
    }
    CloneCreator creator(outputLocation);
    const int status = runExport(creator, rootUsable, rootProblem, password, groupNameLine);
    if (status != 0) {
        // Whatever is in the output directory under the clone file's name is not this export's, and
        // nothing unsigned is left there.
        creator.removeStaleCloneFile();
        creator.removeUnsignedArchives();
    }
    CLONE_LOG(logSpecLibReturn, "createCloneDLM");
    return status;
}

// After an exception: no clone file and no archive of this call stays. Best effort; a second
// failure here is left to the next export's clean-up.
void clearAfterException(char* outputLocation, const char* what) noexcept
{
    try {
        CLONE_LOG(logSpecError, "Export ended early (%s); no clone file is made", what);
        if (outputLocation != nullptr && outputLocation[0] == '/') {
            CloneCreator creator(outputLocation);
            creator.removeStaleCloneFile();
            creator.removeUnsignedArchives();
        }
        CLONE_LOG(logSpecLibReturn, "createCloneDLM");
    } catch (...) {
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int createCloneDLM(char* outputLocation, const char* password,
                                                                     char* groupNameLine)
{
    // A write past the host's RLIMIT_FSIZE fails with EFBIG instead of killing the host.
    const cloneutil::FileSizeSignalBlocked fileSizeSignalBlocked;
    std::unique_lock<std::timed_mutex> turn(exportTurn(), std::defer_lock);
    try {
        const unsigned limit = cloneutil::commandTimeLimit();
        if (!turn.try_lock_for(std::chrono::seconds(limit))) {
            CLONE_LOG(logSpecLibEnter, "createCloneDLM");
            CLONE_LOG(logSpecError, "Another export of this process still ran after %u s; no export runs", limit);
            CLONE_LOG(logSpecLibReturn, "createCloneDLM");
            return 1;
        }
        return exportOnce(outputLocation, password, groupNameLine);
    } catch (const std::bad_alloc&) {
        clearAfterException(outputLocation, "out of memory");
    } catch (const std::exception& e) {
        clearAfterException(outputLocation, e.what());
    } catch (...) {
        clearAfterException(outputLocation, "unknown exception");
    }
    return 1;
}
