// Database dumps of the address book and of accounting: one shape for four helpers, so every fault
// is tried on every helper.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "CaptureTest.h"

namespace {

using namespace clonetest;

const std::string kNothing;
const std::string kGarbage = std::string("a.b=\0\377\200\n", 8) + std::string(8192, '\351') + "\n";

struct DumpCase {
    const char* name;
    CloneCreator::Helper helper;
    const char* selectors;
    const char* dir;
    const char* staged;
    const char* dump;  // what the test's database gives for the selectors
    const char* dirError;
    const char* failure;
};

CLONE_PRINT_BY_NAME(DumpCase)

#define DATA "/xpaths/tmp_cloningData/cloningExport/data/"
const DumpCase kDumpCases[] = {
    {"AddressBook", &CloneCreator::cloneAddressBooksHelper, "--dab_contacts", DATA "addressBook/",
     "data/addressBook/dab_clone", "[dab_contacts]\nid\n1\n", "Creating " DATA "addressBook/ is failed",
     "Address book data are not able to cloned"},
    {"QTM", &CloneCreator::cloneQTMHelper, "--accounts --attributes --maps --roles", DATA "qtm/", "data/qtm/qtm_clone",
     "[accounts]\nid\n2\n[attributes]\nid\n3\n[maps]\nid\n4\n[roles]\nid\n5\n", "Creating of " DATA "qtm/ is failed",
     "QTM Cloning is failed"},
    {"QTMExceptions", &CloneCreator::cloneQTMExceptionsHelper, "--qtm_print_exceptions", DATA "qtmException/",
     "data/qtmException/qtm_exception_clone", "[qtm_print_exceptions]\nid\n6\n",
     "Creating of " DATA "qtmException/ is failed", "QTM Exception Cloning is failed"},
    {"JBAExceptions", &CloneCreator::cloneJBAExceptionsHelper, "--jba_print_exceptions", DATA "jbaException/",
     "data/jbaException/jba_exception_clone", "[jba_print_exceptions]\nid\n7\n",
     "Creating of " DATA "jbaException/ is failed", "JBA Exception Cloning is failed"},
};

struct Fault {
    const char* name;
    const char* how;   // a sim.tool mode, or what the test does to the directory or the node
    const std::string* dump;  // staged bytes when the dump succeeds; null: the database's
    bool_t staged;
    bool blocked;  // the staging directory cannot be made: nothing runs
};

CLONE_PRINT_BY_NAME(Fault)

const Fault kFaults[] = {
    {"Works", "", nullptr, TRUE, false},
    {"Empty", "empty", &kNothing, TRUE, false},
    {"Garbage", "garbage", &kGarbage, TRUE, false},
    {"Fails", "fail", nullptr, FALSE, false},
    {"NoNode", "noNode", nullptr, FALSE, false},
    {"DirectoryExists", "directory", nullptr, FALSE, true},
};

class DumpTest : public CaptureTest, public testing::WithParamInterface<std::tuple<DumpCase, Fault>> {};

TEST_P(DumpTest, OnlyAWholeDumpIsStagedAndNamed)
{
    const DumpCase& c = std::get<0>(GetParam());
    const Fault& f = std::get<1>(GetParam());
    const std::string how = f.how;
    const std::string dir = path(c.dir);
    makeDirs(path("/config/sql"));
    int row = 0;
    for (const char* table : {"dab_contacts", "accounts", "attributes", "maps", "roles", "qtm_print_exceptions",
                              "jba_print_exceptions"}) {
        writeFile(path("/config/sql/") + table, "id\n" + std::to_string(++row) + "\n");
    }
    if (how == "directory") {
        makeDirs(dir);
        writeFile(dir + "earlier", "kept");
    } else if (!how.empty() && how != "noNode") {
        setAttribute("sim.tool.get_sql_data.sh", how);
    }

    EXPECT_EQ((creator.*c.helper)(how == "noNode" ? nullptr : node()), f.staged);
    EXPECT_EQ(toolCalls(), !f.blocked ? Strings{std::string("get_sql_data.sh ") + c.selectors} : Strings{});
    EXPECT_EQ(outline(), f.staged ? "node: " + std::string(c.staged) + "\n" : "node\n");
    EXPECT_EQ(messages("ERROR"), f.blocked ? Strings{c.dirError} : Strings{});
    EXPECT_EQ(messages("INFO"), f.staged || f.blocked || how == "noNode" ? Strings{} : Strings{c.failure});
    if (f.staged) {
        const std::string dump = path(std::string(CLONE_EXPORT_TREE) + c.staged);
        EXPECT_EQ(readFile(dump), f.dump != nullptr ? *f.dump : c.dump);
        struct stat st;
        ASSERT_EQ(::stat(dump.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0755u);
    } else if (f.blocked) {
        // An earlier capture's directory is not taken over.
        EXPECT_EQ(readFile(dir + "earlier"), "kept");
    } else {
        // Neither the leftover of a failed dump nor its directory reaches the archive.
        EXPECT_FALSE(exists(dir));
    }
}

INSTANTIATE_TEST_SUITE_P(Dumps, DumpTest, testing::Combine(testing::ValuesIn(kDumpCases), testing::ValuesIn(kFaults)),
                         caseAndFaultName<DumpTest::ParamType>);

}  // namespace
