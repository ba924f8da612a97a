// IPsec configuration, packet-filter rules and SNMP files: the staged copies keep their bytes,
// modes and whole-second times, the element (or its children) names them, and a failed copy
// leaves nothing behind that the manifest does not name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <tuple>

#include "CaptureTest.h"

namespace {

using namespace clonetest;

struct FileCase {
    const char* name;
    CloneCreator::Helper helper;
    const char* source;
    const char* dir;  // below the export data
    const char* staged;
    const char* failure;
    const char* neighbour;  // another capture's file in the same directory
    Strings neighbourTree;
};

CLONE_PRINT_BY_NAME(FileCase)

const FileCase kFiles[] = {
    {"IPsec", &CloneCreator::cloneIPSecHelper, "/xpaths/ipsec/cfgipsec.xml", "ipSec", "data/ipSec/cfgipsec.xml",
     "IPSec configuration xml is not able to clone", "trusted/ca.pem", {"trusted/", "trusted/ca.pem"}},
    {"Trap", &CloneCreator::cloneSNMPTrapHelper, "/xpaths/nc_nvram/trap_reg", "snmp", "data/snmp/trap_reg",
     "Trap file is not able to clone", "other", {"other"}},
};

enum class Fault { None, Missing, SourceIsDirectory, NeighbourStays, FileInTheWay };

struct FaultCase {
    const char* name;
    Fault fault;
};

CLONE_PRINT_BY_NAME(FaultCase)

const FaultCase kFaults[] = {
    {"Works", Fault::None},
    {"Missing", Fault::Missing},
    {"SourceIsDirectory", Fault::SourceIsDirectory},
    {"MissingBesideAnotherCapture", Fault::NeighbourStays},
    {"FileInTheWay", Fault::FileInTheWay},
};

class SingleFileTest : public CaptureTest, public testing::WithParamInterface<std::tuple<FileCase, FaultCase>> {};

TEST_P(SingleFileTest, StagesTheFileOrLeavesNothing)
{
    const FileCase& c = std::get<0>(GetParam());
    const Fault fault = std::get<1>(GetParam()).fault;
    const std::string dir = kExportData + c.dir + "/";
    const std::string staged = "/xpaths/tmp_cloningData/cloningExport/" + std::string(c.staged);
    switch (fault) {
    case Fault::None:
    case Fault::FileInTheWay:
        writeSource(c.source, std::string("bytes of ") + c.source + std::string("\0\377", 2));
        break;
    case Fault::SourceIsDirectory:
        makeDirs(path(c.source));
        break;
    case Fault::NeighbourStays:
        makeDirs(path(dir + c.neighbour).substr(0, path(dir + c.neighbour).rfind('/')));
        writeFile(path(dir + c.neighbour), "kept");
        break;
    case Fault::Missing:
        break;
    }
    if (fault == Fault::FileInTheWay) {
        writeFile(path(kExportData + c.dir), "kept");
    }

    const bool copied = fault == Fault::None;
    EXPECT_EQ(run(c.helper), copied ? TRUE : FALSE);
    EXPECT_EQ(outline(), copied ? std::string("node: ") + c.staged + "\n" : "node\n");
    EXPECT_EQ(messages("ERROR"), fault == Fault::FileInTheWay ? Strings{"Creating " + dir + " is failed"} : Strings{});
    EXPECT_EQ(messages("INFO"), copied || fault == Fault::FileInTheWay ? Strings{} : Strings{c.failure});
    if (copied) {
        expectKept(staged, std::string("bytes of ") + c.source + std::string("\0\377", 2));
    } else if (fault == Fault::NeighbourStays) {
        EXPECT_EQ(treeOf(path(dir)), c.neighbourTree);
    } else if (fault == Fault::FileInTheWay) {
        EXPECT_EQ(readFile(path(kExportData + c.dir)), "kept");
    } else {
        EXPECT_FALSE(exists(path(dir)));
    }
}

INSTANTIATE_TEST_SUITE_P(NetworkFiles, SingleFileTest, testing::Combine(testing::ValuesIn(kFiles), testing::ValuesIn(kFaults)),
                         caseAndFaultName<SingleFileTest::ParamType>);

const char kDefault[] = "/xpaths/nc_nvram/ipTablesDefaultRules.cfg";
const char kCustom[] = "/xpaths/nc_nvram/ipTablesCustomRules.cfg";
const std::string kRules = kExportData + "ipTables/";

enum class Rule { Absent, Present, Broken };  // Broken: a folder where the file belongs

struct RulesCase {
    const char* name;
    Rule defaults;
    Rule custom;
    bool_t staged;
    const char* outline;
    Strings infos;
};

CLONE_PRINT_BY_NAME(RulesCase)

const RulesCase kRulesCases[] = {
    {"Both", Rule::Present, Rule::Present, TRUE,
     "node\n  defaultRules: data/ipTables/ipTablesDefaultRules.cfg\n  customRules: data/ipTables/ipTablesCustomRules.cfg\n",
     {}},
    {"Neither", Rule::Absent, Rule::Absent, FALSE, "node\n", {}},
    {"OnlyCustom", Rule::Absent, Rule::Present, TRUE, "node\n  customRules: data/ipTables/ipTablesCustomRules.cfg\n", {}},
    {"OnlyDefault", Rule::Present, Rule::Absent, TRUE, "node\n  defaultRules: data/ipTables/ipTablesDefaultRules.cfg\n",
     {}},
    {"DefaultFailsCustomWorks", Rule::Broken, Rule::Present, TRUE,
     "node\n  customRules: data/ipTables/ipTablesCustomRules.cfg\n", {"ipTablesDefaultRules.cfg is not able to clone"}},
    {"DefaultWorksCustomFails", Rule::Present, Rule::Broken, TRUE,
     "node\n  defaultRules: data/ipTables/ipTablesDefaultRules.cfg\n", {"ipTablesCustomRules.cfg is not able to clone"}},
    {"BothFail", Rule::Broken, Rule::Broken, FALSE, "node\n",
     {"ipTablesDefaultRules.cfg is not able to clone", "ipTablesCustomRules.cfg is not able to clone"}},
};

class RulesTest : public CaptureTest, public testing::WithParamInterface<RulesCase> {};

// Each rule file the device has is staged and named in a child of its own; the DLM enable state
// staged earlier in the same directory stays, whichever rule file fails.
TEST_P(RulesTest, StagesEachRuleFileItFinds)
{
    const RulesCase& c = GetParam();
    for (const auto& rule : {std::make_pair(c.defaults, kDefault), std::make_pair(c.custom, kCustom)}) {
        if (rule.first == Rule::Present) {
            writeSource(rule.second, rule.second);
        } else if (rule.first == Rule::Broken) {
            makeDirs(path(rule.second));
        }
    }
    makeDirs(path(kRules));
    writeFile(path(kRules + "dlmEnableClone"), "kept");
    EXPECT_EQ(run(&CloneCreator::cloneIPTablesRulesHelper), c.staged);
    EXPECT_EQ(outline(), c.outline);
    EXPECT_EQ(messages("INFO"), c.infos);
    EXPECT_EQ(messages("ERROR"), Strings{});
    Strings tree = {"dlmEnableClone"};
    for (const char* rule : {kDefault, kCustom}) {
        if ((rule == kDefault ? c.defaults : c.custom) == Rule::Present) {
            const std::string name = std::string(rule).substr(std::string(rule).rfind('/') + 1);
            expectKept(kRules + name, rule);
            tree.push_back(name);
        }
    }
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(treeOf(path(kRules)), tree);
}

INSTANTIATE_TEST_SUITE_P(Rules, RulesTest, testing::ValuesIn(kRulesCases), RowName());

TEST_F(CaptureTest, RulesDirectoryBlocked)
{
    writeFile(path(kRules.substr(0, kRules.size() - 1)), "kept");
    writeSource(kDefault, "rules");
    writeSource(kCustom, "custom");
    EXPECT_EQ(run(&CloneCreator::cloneIPTablesRulesHelper), FALSE);
    EXPECT_EQ(messages("ERROR"), Strings(2, "Creating " + kRules + " is failed"));
}

}  // namespace
