// Accounting and address book: database dumps of the device's accounting and contacts. The
// database is the device's own business; get_sql_data.sh dumps one selection of it per helper
// into that helper's staging directory, in a format of its own.
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "CloneCreator.h"
#include "CloneLog.h"
#include "Command.h"
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

using cloneutil::MakeDir;

struct DatabaseDump {
    // The dump: its command line is a literal, so that its paths are rooted and its format
    // checked; exit status 0 means the dump was written. A directory that is already there
    // belongs to an earlier capture: it is not taken over. Dumps are staged with mode 0755
    // whatever the umask.
    cloneutil::ToolOutput out;
    int (*run)();
    const char* staged;  // the dump as the manifest names it
};

enum DumpRow { kAddressBook, kQTM, kQTMExceptions, kJBAExceptions };

// The address book's folder stays after a failed dump: its certificates are staged below it.
const DatabaseDump kDumps[] = {
    {{ADDRESS_BOOK_DIR, MakeDir::MakeNew, DAB_CLONE, "Creating %s is failed", "Address book data are not able to cloned",
      true, true, 0755},
     [] { return cloneutil::runDeviceCommand(GET_SQL_DATA " --dab_contacts > " DAB_CLONE); },
     "data/addressBook/dab_clone"},
    {{QTM_DIR, MakeDir::MakeNew, QTM_CLONE, "Creating of %s is failed", "QTM Cloning is failed", true, false, 0755},
     [] { return cloneutil::runDeviceCommand(GET_SQL_DATA " --accounts --attributes --maps --roles > " QTM_CLONE); },
     "data/qtm/qtm_clone"},
    {{QTM_EXCEPTION_DIR, MakeDir::MakeNew, QTM_EXCEPTION_CLONE, "Creating of %s is failed",
      "QTM Exception Cloning is failed", true, false, 0755},
     [] { return cloneutil::runDeviceCommand(GET_SQL_DATA " --qtm_print_exceptions > " QTM_EXCEPTION_CLONE); },
     "data/qtmException/qtm_exception_clone"},
    {{JBA_EXCEPTION_DIR, MakeDir::MakeNew, JBA_EXCEPTION_CLONE, "Creating of %s is failed",
      "JBA Exception Cloning is failed", true, false, 0755},
     [] { return cloneutil::runDeviceCommand(GET_SQL_DATA " --jba_print_exceptions > " JBA_EXCEPTION_CLONE); },
     "data/jbaException/jba_exception_clone"},
};

bool_t captureDump(DumpRow row, xmlNodePtr node)
{
    const DatabaseDump& d = kDumps[row];
    return cloneutil::captureToolOutput(d.out, d.run) && cloneutil::setNodeText(node, d.staged) ? TRUE : FALSE;
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
