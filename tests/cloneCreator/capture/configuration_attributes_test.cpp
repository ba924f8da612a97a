// Configuration server and data store capture: the "cloningAttributes" and "configurationAttributes"
// walks, the configClient round trip, ds_backup, the ConfigServer plug-in, and what is left when a
// tool or the staging area fails.
#include <cstring>
#include <memory>

#include <libxml/parser.h>

#include "CaptureTest.h"
#include "CloningExportPortal.h"
#include "FakePlugin.h"

namespace {

using namespace clonetest;

const std::string kStaging = "/xpaths/tmp_cloningData/";
const std::string kStorage = kExportData + "cloneStorage/";
const char kConfigClient[] = "/xpaths/nc_bin/configClient";
const char kDsBackup[] = "/xpaths/nc_dlms/upgrade/apps/ds_backup";

// A placeholder, an empty line, a repeat and a name the server lacks: answered sorted, each once,
// for both profiles, without the unknown name.
const char kConfigList[] = "b.x[<profile/>]\na.y\n\nb.x[wired]\nz.unknown\n";
// Values are bytes: a NUL or a byte that is not UTF-8 travels as it is.
const std::string kOddValue("3\0\xe9", 3);
const std::string kConfigSettings = "set a.y=" + kOddValue + "\nset b.x[wired]=1\nset b.x[wireless]=2\n";
const char kConfigDone[] =
    "set connectivity.8021x[wired].configDone=TRUE\nset connectivity.8021x[wireless].configDone=TRUE\n";
// Sorted for the data store, in first-occurrence order for the CCS one.
const char kDsList[] = "s.b[<profile/>]\ns.a\ns.a\n";
const std::string kDsSaved = "s.a=" + kOddValue + "\ns.b[wired]=2\n";
const char kCcsDsList[] = "c.z\nc.a[<profile/>]\nc.z\n";
const char kCcsDsSaved[] = "c.z=9\nc.a[wired]=7\nc.a[wireless]=8\n";
const std::string kNotCloned = "Datastore Attributes are not able to clone";
// What configClient and ds_backup write in their garbage mode, and those lines as settings.
const std::string kToolGarbage = "a.b=" + std::string("\0\377\200\n", 4) + std::string(8192, '\351') + "\n";
const std::string kGarbageSettings = "set " + kToolGarbage.substr(0, 8) + "set " + kToolGarbage.substr(8);

class ConfigTest : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        cloneutil::cloningPortal().GetPluginMap().clear();
        writeFile(path("/config/attributes"), "a.y=" + kOddValue + "\nb.x[wired]=1\nb.x[wireless]=2\n");
        writeFile(path("/config/datastore"), "s.a=" + kOddValue + "\ns.b[wired]=2\nc.a[wired]=7\nc.a[wireless]=8\nc.z=9\n");
    }
    void TearDown() override
    {
        cloneutil::cloningPortal().GetPluginMap().clear();
        CaptureTest::TearDown();
    }

    void writeList(const std::string& name, const std::string& content) const
    {
        writeFile(path(kStaging + name), content);
    }
    std::string staged(const std::string& name) const { return readFile(path(kStorage + name)); }

    // The first element below the root of XML, which the fixture's document now holds.
    xmlNodePtr parse(const std::string& xml)
    {
        doc.reset(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NOBLANKS));
        return xmlFirstElementChild(node());
    }
    Strings stagingLeft() const { return sorted(listDir(path(kStaging))); }
};

// Which children the two entry points dispatch to or add, by the lists present.
struct EntryCase {
    const char* name;
    const char* manifest;  // the root's first child is handed to ENTRY
    CloneCreator::Helper entry;
    const char* list;  // null: none
    bool_t result;
    const char* outline;  // unpruned
    Strings errors;
};

CLONE_PRINT_BY_NAME(EntryCase)

const EntryCase kEntryCases[] = {
    {"NoChildren", "<r><cloningAttributes/></r>", &CloneCreator::cloneCloningAttributes, "ds_attr_list", FALSE,
     "r\n  cloningAttributes\n", {}},
    {"OnlyDataStoreList", "<r><cloningAttributes><nvRAM/>text<dataStore/><other/></cloningAttributes></r>",
     &CloneCreator::cloneCloningAttributes, "ds_attr_list", TRUE,
     "r\n  cloningAttributes: text\n    nvRAM\n    dataStore: data/cloneStorage/ds_clone\n    other\n", {}},
    {"NoSelfLists", "<r><configurationAttributes/></r>", &CloneCreator::cloneConfigurationAttributes, nullptr, FALSE,
     "r\n  configurationAttributes\n", {}},
    {"OnlySelfNvramList", "<r><configurationAttributes/></r>", &CloneCreator::cloneConfigurationAttributes,
     "nvram_attr_listcloneself", FALSE,
     "r\n  configurationAttributes\n    nvRAM: data/cloneStorage/nvm_cloneself\n",
     {"unable to copy NVM.xml file to clone file"}},
};

class EntryTest : public ConfigTest, public testing::WithParamInterface<EntryCase> {};

TEST_P(EntryTest, DispatchesByList)
{
    const EntryCase& c = GetParam();
    if (c.list != nullptr) {
        writeList(c.list, "s.a\n");
    }
    EXPECT_EQ((creator.*c.entry)(parse(c.manifest)), c.result);
    EXPECT_EQ(outline(), c.outline);
    EXPECT_EQ(messages("ERROR"), c.errors);
}

INSTANTIATE_TEST_SUITE_P(Entries, EntryTest, testing::ValuesIn(kEntryCases), RowName());

// The ConfigServer plug-in is asked only when filed, with the list as group expansion wrote it;
// the node names its export when the export is there (here: when it answers TRUE).
TEST_F(ConfigTest, ConfigServerPlugin)
{
    const Strings missing = {
        "cloneConfigServerHelper:, CloneCreator::  CLONE FAILED portal->HasPlugin Failed for ConfigServer......."};
    const Strings notStaged = {"cloneConfigServerHelper: data/cloneStorage/cfg_clone was not staged"};
    for (const bool_t answer : {FALSE, TRUE}) {
        for (const bool filed : {false, true}) {
            SCOPED_TRACE(std::to_string(answer) + (filed ? " filed" : " not filed"));
            if (answer) {
                makeDirs(path(kStorage));
                writeFile(path(kStorage + "cfg_clone"), "exported");
            }
            FakePlugin plugin(filed ? "ConfigServer" : "cmlAttributes", answer);
            cloneutil::cloningPortal().GetPluginMap() = {{plugin.ContentType(), &plugin}};
            xmlNodePtr node = parse("<r><configServer/></r>");
            clearLog();

            EXPECT_EQ(creator.cloneConfigServerHelper(node), filed ? answer : FALSE);
            EXPECT_EQ(text(node), filed && answer ? "data/cloneStorage/cfg_clone" : "");
            EXPECT_EQ(plugin.exports, filed ? Strings{path(kStaging + "cfg_attr_list")} : Strings{});
            EXPECT_EQ(messages("ERROR"), filed ? (answer ? Strings{} : notStaged) : missing);
        }
    }
}

// HOW breaks both tools: a sim.tool.NAME mode ("empty", "garbage"), "noOutput" (success without
// output) or "partOutput" (a part of ds_backup's output, then failure); "" leaves them working.
class ToolTest : public ConfigTest, public testing::WithParamInterface<std::string> {};

// configClient's status is not looked at: whatever it answered is staged, the configDone lines
// always last in the self clone, bytes that are no text kept. ds_backup's status and output
// decide: a success without output, or what a failed backup left behind, is neither staged nor
// named, and a failure is logged per helper.
TEST_P(ToolTest, ConfigClientAnswersAreStagedDataStoreStatusDecides)
{
    const std::string how = GetParam();
    for (const char* tool : {kConfigClient, kDsBackup}) {
        if (how == "noOutput" || how == "partOutput") {
            replaceTool(tool, how == "noOutput" ? "exit 0" : "echo part > \"$5\"; exit 1");
        } else if (!how.empty()) {
            setAttribute(std::string("sim.tool.") + (std::strrchr(tool, '/') + 1), how);
        }
    }
    writeList("cfg_attr_listcloneself", kConfigList);
    writeList("cfg_ccs_attr_list", kConfigList);
    writeList("ds_attr_list", kDsList);
    writeList("ds_ccs_attr_list", kCcsDsList);
    xmlNodePtr node = parse("<r><configServer/><ccsNVM/><dataStore/><ccsDataStore/></r>");

    EXPECT_EQ(creator.cloneSelfConfigServerHelper(node), TRUE);
    EXPECT_EQ(creator.cloneCCSConfigServerHelper(node->next), TRUE);
    const bool_t ok = how.empty() || how == "empty" || how == "garbage";
    EXPECT_EQ(creator.cloneDataStoreHelper(node->next->next), ok);
    EXPECT_EQ(creator.cloneCCSDataStoreHelper(node->next->next->next), ok);

    EXPECT_EQ(outline(), "r\n  configServer: data/cloneStorage/cfg_cloneself\n  ccsNVM: data/cloneStorage/ccs_clone\n" +
                             std::string(ok ? "  dataStore: data/cloneStorage/ds_clone\n  ccsDataStore: "
                                              "data/cloneStorage/ds_ccs_clone\n"
                                            : "  dataStore\n  ccsDataStore\n"));
    const std::string answered = how.empty() ? kConfigSettings : how == "garbage" ? kGarbageSettings : "";
    EXPECT_EQ(staged("cfg_cloneself"), answered + kConfigDone);
    EXPECT_EQ(staged("ccs_clone"), answered);
    // A backup that failed leaves no file; readFile finds nothing there.
    EXPECT_EQ(staged("ds_clone"), !ok || how == "empty" ? "" : how == "garbage" ? kToolGarbage : kDsSaved);
    EXPECT_EQ(staged("ds_ccs_clone"), !ok || how == "empty" ? "" : how == "garbage" ? kToolGarbage : kCcsDsSaved);
    const Strings stored = {"ccs_clone", "cfg_cloneself", "ds_ccs_clone", "ds_clone"};
    EXPECT_EQ(sorted(listDir(path(kStorage))), ok ? stored : Strings(stored.begin(), stored.begin() + 2));
    EXPECT_EQ(messages("INFO"), ok ? Strings{} : (Strings{kNotCloned, "CCS-" + kNotCloned}));
    EXPECT_EQ(stagingLeft(), Strings{"cloningExport"});
    EXPECT_EQ(messages("ERROR"), Strings{});
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolTest, testing::Values("", "empty", "garbage", "noOutput", "partOutput"),
                         [](const testing::TestParamInfo<std::string>& i) {
                             return i.param.empty() ? "works" : i.param;
                         });

// No list, or a staging area that cannot take the capture: an error, nothing half-written staged
// or named, and the list consumed.
struct FailureCase {
    const char* name;
    CloneCreator::Helper helper;
    const char* list;  // null: none
    // A 16 KB disk at the staging area that the answer overfills, or at cloneStorage full beforehand
    // (short writes then fail only when the file is closed); null: a file where cloneStorage belongs.
    const char* diskAt;
    Strings errors;  // after "Command stopped ..." when configClient hangs
    bool hangs = false;  // configClient writes a line, then is stopped at the time limit
};

CLONE_PRINT_BY_NAME(FailureCase)

#define STORAGE "/xpaths/tmp_cloningData/cloningExport/data/cloneStorage"
const FailureCase kFailureCases[] = {
    {"DataStoreWithoutList", &CloneCreator::cloneDataStoreHelper, nullptr, nullptr, {kNotCloned}},
    {"DataStoreIntoFile", &CloneCreator::cloneDataStoreHelper, "ds_attr_list", nullptr,
     {"Creating " STORAGE "/ is failed"}},
    {"SelfConfigIntoFile", &CloneCreator::cloneSelfConfigServerHelper, "cfg_attr_listcloneself", nullptr,
     {"cloneSelfConfigServerHelper: " STORAGE "/cfg_cloneself cannot be written: Not a directory"}},
    {"CcsConfigIntoFile", &CloneCreator::cloneCCSConfigServerHelper, "cfg_ccs_attr_list", nullptr,
     {"cloneCCSConfigServerHelper: " STORAGE "/ccs_clone cannot be written: Not a directory"}},
    {"SelfConfigDiskFull", &CloneCreator::cloneSelfConfigServerHelper, "cfg_attr_listcloneself",
     "/xpaths/tmp_cloningData",
     {"cloneSelfConfigServerHelper: /xpaths/tmp_cloningData/attr_list.tmp cannot be written: No space left on device"}},
    {"CcsConfigDiskFull", &CloneCreator::cloneCCSConfigServerHelper, "cfg_ccs_attr_list", STORAGE,
     {"cloneCCSConfigServerHelper: " STORAGE "/ccs_clone cannot be written: No space left on device"}},
    {"SelfConfigClientStopped", &CloneCreator::cloneSelfConfigServerHelper, "cfg_attr_listcloneself", nullptr,
     {"cloneSelfConfigServerHelper: /xpaths/nc_bin/configClient did not finish; the configuration is not cloned"}, true},
    {"CcsConfigClientStopped", &CloneCreator::cloneCCSConfigServerHelper, "cfg_ccs_attr_list", nullptr,
     {"cloneCCSConfigServerHelper: /xpaths/nc_bin/configClient did not finish; the configuration is not cloned"}, true},
};

class FailureTest : public ConfigTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, NothingHalfWrittenIsNamed)
{
    const FailureCase& c = GetParam();
    std::unique_ptr<TmpfsMount> mount;
    const bool storageFull = c.diskAt != nullptr && c.diskAt == std::string(STORAGE);
    if (c.diskAt != nullptr) {
        mount.reset(new TmpfsMount(path(c.diskAt), "size=16k"));
        CLONE_SKIP_UNLESS_MOUNTED(*mount);
        makeDirs(path(kStorage));
        if (storageFull) {
            ASSERT_NE(std::system(("head -c 65536 /dev/zero 2>/dev/null >'" + path(c.diskAt) + "/filler'").c_str()), 0);
        } else {
            replaceTool(kConfigClient, "head -c 24576 /dev/zero | tr '\\0' v; echo");
        }
    } else if (c.hangs) {
        setAttribute("sim.tool.configClient", "hang");
    } else if (c.list != nullptr) {
        writeFile(path(STORAGE), "");
    }
    const ScopedEnv limit("CLONE_COMMAND_TIME_LIMIT", "1");
    if (c.list != nullptr) {
        writeList(c.list, "a.y\n");
    }
    xmlNodePtr node = parse("<r><n/></r>");

    EXPECT_EQ((creator.*c.helper)(node), FALSE);
    EXPECT_EQ(text(node), "");
    Strings errors = messages("ERROR");
    if (c.hangs && !errors.empty()) {
        EXPECT_EQ(errors[0].rfind("Command stopped after 1 s: ", 0), 0u) << errors[0];
        errors.erase(errors.begin());
    }
    EXPECT_EQ(errors, c.errors);
    EXPECT_EQ(stagingLeft(), Strings{"cloningExport"});
    EXPECT_EQ(listDir(path(kStorage)), storageFull ? Strings{"filler"} : Strings{});
}

INSTANTIATE_TEST_SUITE_P(Failures, FailureTest, testing::ValuesIn(kFailureCases), RowName());

}  // namespace
