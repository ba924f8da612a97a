// Database dumps of the address book and of accounting: four helpers of one shape.
#include "CaptureTest.h"

namespace {

using namespace clonetest;

#define DATA "/xpaths/tmp_cloningData/cloningExport/data/"
const ToolCase kDumps[] = {
    {"AddressBook", &CloneCreator::cloneAddressBooksHelper, "get_sql_data.sh --dab_contacts", "addressBook",
     "data/addressBook/dab_clone", "", "[dab_contacts]\nid\n1\n", "Creating " DATA "addressBook/ is failed",
     "Address book data are not able to cloned", true},
    {"QTM", &CloneCreator::cloneQTMHelper, "get_sql_data.sh --accounts --attributes --maps --roles", "qtm",
     "data/qtm/qtm_clone", "", "[accounts]\nid\n2\n[attributes]\nid\n3\n[maps]\nid\n4\n[roles]\nid\n5\n",
     "Creating of " DATA "qtm/ is failed", "QTM Cloning is failed", true},
    {"QTMExceptions", &CloneCreator::cloneQTMExceptionsHelper, "get_sql_data.sh --qtm_print_exceptions", "qtmException",
     "data/qtmException/qtm_exception_clone", "", "[qtm_print_exceptions]\nid\n6\n",
     "Creating of " DATA "qtmException/ is failed", "QTM Exception Cloning is failed", true},
    {"JBAExceptions", &CloneCreator::cloneJBAExceptionsHelper, "get_sql_data.sh --jba_print_exceptions", "jbaException",
     "data/jbaException/jba_exception_clone", "", "[jba_print_exceptions]\nid\n7\n",
     "Creating of " DATA "jbaException/ is failed", "JBA Exception Cloning is failed", true},
};

// One row in each table of the device's database, numbered in the order of the dumps above.
TEST_P(ToolCaseTest, OnlyAWholeDumpIsStagedAndNamed)
{
    makeDirs(path("/config/sql"));
    int row = 0;
    for (const char* table : {"dab_contacts", "accounts", "attributes", "maps", "roles", "qtm_print_exceptions",
                              "jba_print_exceptions"}) {
        writeFile(path("/config/sql/") + table, "id\n" + std::to_string(++row) + "\n");
    }
    expectWholeOutputOrNothing();
}

CLONE_CASES_WITH_FAULTS(Dumps, ToolCaseTest, kDumps, kToolFaults, kSharedToolFaults, kDumps[0]);

// A failed address book dump leaves its directory, so the address book certificates, staged below
// it with a single mkdir, are still captured.
TEST_F(CaptureTest, FailedAddressBookDumpKeepsTheCertificatesParent)
{
    setAttribute("sim.tool.get_sql_data.sh", "fail");
    writeSource("/xpaths/temp/certs/encryptionfiles/alice.pem", "certificate");
    EXPECT_EQ(creator.cloneAddressBooksHelper(node()), FALSE);
    EXPECT_EQ(creator.cloneAddressBookCertificatesHelper(node()), TRUE);
    EXPECT_EQ(outline(), "node: data/addressBook/email_certs/\n");
    expectKept(DATA "addressBook/email_certs/alice.pem", "certificate");
}

}  // namespace
