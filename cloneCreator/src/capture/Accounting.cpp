// Accounting and address book: database dumps of the device's accounting and contacts. The
// database is the device's own business; get_sql_data.sh dumps one selection of it per helper
// into that helper's staging directory, in a format of its own.
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "DevicePath.h"
#include "SharedPaths.h"
#include "Staging.h"

#define GET_SQL_DATA "/xpaths/nc_dlms/upgrade/apps/get_sql_data.sh"

#define QTM_DIR CLONE_EXPORT_DATA_DIR "qtm/"
#define QTM_EXCEPTION_DIR CLONE_EXPORT_DATA_DIR "qtmException/"
#define JBA_EXCEPTION_DIR CLONE_EXPORT_DATA_DIR "jbaException/"

#define DAB_CLONE ADDRESS_BOOK_DIR "dab_clone"
#define QTM_CLONE QTM_DIR "qtm_clone"
#define QTM_EXCEPTION_CLONE QTM_EXCEPTION_DIR "qtm_exception_clone"
#define JBA_EXCEPTION_CLONE JBA_EXCEPTION_DIR "jba_exception_clone"

namespace {

struct DatabaseDump {
    const char* dir;
    int (*run)();  // the dump's command line, a literal so that its paths are rooted and its format checked
    const char* dump;
    const char* staged;      // the dump as the manifest names it
    const char* dirFailure;  // format, with the directory
    const char* dumpFailure;
};

enum DumpRow { kAddressBook, kQTM, kQTMExceptions, kJBAExceptions };

const DatabaseDump kDumps[] = {
    {ADDRESS_BOOK_DIR,
     [] { return cloneutil::runDeviceCommand(GET_SQL_DATA " --dab_contacts > " DAB_CLONE); },
     DAB_CLONE, "data/addressBook/dab_clone", "Creating %s is failed", "Address book data are not able to cloned"},
    {QTM_DIR,
     [] { return cloneutil::runDeviceCommand(GET_SQL_DATA " --accounts --attributes --maps --roles > " QTM_CLONE); },
     QTM_CLONE, "data/qtm/qtm_clone", "Creating of %s is failed", "QTM Cloning is failed"},
    {QTM_EXCEPTION_DIR,
     [] { return cloneutil::runDeviceCommand(GET_SQL_DATA " --qtm_print_exceptions > " QTM_EXCEPTION_CLONE); },
     QTM_EXCEPTION_CLONE, "data/qtmException/qtm_exception_clone", "Creating of %s is failed",
     "QTM Exception Cloning is failed"},
    {JBA_EXCEPTION_DIR,
     [] { return cloneutil::runDeviceCommand(GET_SQL_DATA " --jba_print_exceptions > " JBA_EXCEPTION_CLONE); },
     JBA_EXCEPTION_CLONE, "data/jbaException/jba_exception_clone", "Creating of %s is failed",
     "JBA Exception Cloning is failed"},
};

// Removes the dump and its directory.
void discard(const DatabaseDump& d)
{
    (void)std::remove(cloneutil::devicePath(d.dump).c_str());
    (void)::rmdir(cloneutil::devicePath(d.dir).c_str());
}

bool_t captureDump(DumpRow row, xmlNodePtr node)
{
    const DatabaseDump& d = kDumps[row];
    // A directory that is already there belongs to an earlier capture: it is not taken over.
    if (!cloneutil::makeStagingDir(d.dir, cloneutil::MakeDir::MakeNew)) {
        CLONE_LOG(logSpecError, d.dirFailure, d.dir);
        return FALSE;
    }
    const int status = d.run();
    if (status != 0) {
        CLONE_LOG(logSpecInfo, "%s", d.dumpFailure);
        // What the shell's redirection began is no dump. The address book's folder stays: its
        // certificates are staged below it.
        (void)std::remove(cloneutil::devicePath(d.dump).c_str());
        if (row != kAddressBook) {
            (void)::rmdir(cloneutil::devicePath(d.dir).c_str());
        }
        return FALSE;
    }
    // Dumps are staged with mode 0755 whatever the umask; one that keeps its mode is still whole.
    (void)::chmod(cloneutil::devicePath(d.dump).c_str(), 0755);
    if (!cloneutil::setNodeText(node, d.staged)) {
        discard(d);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool_t CloneCreator::cloneQTMHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return captureDump(kQTM, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneJBAExceptionsHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return captureDump(kJBAExceptions, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneQTMExceptionsHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return captureDump(kQTMExceptions, xmlCurrentGroupPtr);
}

bool_t CloneCreator::cloneAddressBooksHelper(xmlNodePtr xmlCurrentGroupPtr)
{
    return captureDump(kAddressBook, xmlCurrentGroupPtr);
}
