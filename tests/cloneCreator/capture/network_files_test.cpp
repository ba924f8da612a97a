// IPsec configuration, packet-filter rules and SNMP files: the staged copies keep their bytes,
// modes and whole-second times, the element (or its children) names them, and a failed copy
// leaves nothing behind that the manifest does not name.
#include "CaptureTest.h"

namespace {

using namespace clonetest;

// data/ipSec/ is shared with the IPsec certificates.
const CopyCase kFiles[] = {
    {"IPsec", &CloneCreator::cloneIPSecHelper, "/xpaths/ipsec/cfgipsec.xml", "ipSec", "cfgipsec.xml",
     "data/ipSec/cfgipsec.xml", "IPSec configuration xml is not able to clone", false},
    {"Trap", &CloneCreator::cloneSNMPTrapHelper, "/xpaths/nc_nvram/trap_reg", "snmp", "trap_reg", "data/snmp/trap_reg",
     "Trap file is not able to clone", false},
};

TEST_P(CopyCaseTest, StagesTheFileOrLeavesNothing)
{
    expectStagedOrNothing();
}

INSTANTIATE_TEST_SUITE_P(NetworkFiles, CopyCaseTest,
                         testing::Combine(testing::ValuesIn(kFiles), testing::ValuesIn(kCopyFaults)),
                         caseAndFaultName<CopyCaseTest::ParamType>);

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
    makeDirs(path(kRules));
    writeFile(path(kRules + "dlmEnableClone"), "kept");
    Strings present;
    for (const auto& rule : {std::make_pair(c.defaults, kDefault), std::make_pair(c.custom, kCustom)}) {
        if (rule.first == Rule::Present) {
            writeSource(rule.second, rule.second);
            present.push_back(rule.second);
        } else if (rule.first == Rule::Broken) {
            makeDirs(path(rule.second));
        }
    }
    EXPECT_EQ(run(&CloneCreator::cloneIPTablesRulesHelper), c.staged);
    EXPECT_EQ(outline(), c.outline);
    EXPECT_EQ(messages("INFO"), c.infos);
    EXPECT_EQ(messages("ERROR"), Strings{});
    Strings tree = {"dlmEnableClone"};
    for (const std::string& rule : present) {
        tree.push_back(rule.substr(rule.rfind('/') + 1));
        expectKept(kRules + tree.back(), rule);
    }
    EXPECT_EQ(treeOf(path(kRules)), sorted(tree));
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
