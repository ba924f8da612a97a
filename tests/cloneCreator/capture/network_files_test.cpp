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

CLONE_CASES_WITH_FAULTS(NetworkFiles, CopyCaseTest, kFiles, kCopyFaults, kSharedCopyFaults, kFiles[0]);

const std::string kNvram = "/xpaths/nc_nvram/";
const char kDefault[] = "ipTablesDefaultRules.cfg";
const char kCustom[] = "ipTablesCustomRules.cfg";
const std::string kRules = kExportData + "ipTables/";

enum class Rule { Absent, Present, Broken };  // Broken: a folder where the file belongs

struct RulesCase {
    const char* name;
    Rule defaults, custom;
    bool_t staged;
    const char* outline;
    Strings infos;
};

CLONE_PRINT_BY_NAME(RulesCase)

#define DEFAULT "  defaultRules: data/ipTables/ipTablesDefaultRules.cfg\n"
#define CUSTOM "  customRules: data/ipTables/ipTablesCustomRules.cfg\n"
const std::string kDefaultFails = "ipTablesDefaultRules.cfg is not able to clone";
const std::string kCustomFails = "ipTablesCustomRules.cfg is not able to clone";
const RulesCase kRulesCases[] = {
    {"Both", Rule::Present, Rule::Present, TRUE, "node\n" DEFAULT CUSTOM, {}},
    {"Neither", Rule::Absent, Rule::Absent, FALSE, "node\n", {}},
    {"OnlyDefault", Rule::Present, Rule::Absent, TRUE, "node\n" DEFAULT, {}},
    {"DefaultFailsCustomWorks", Rule::Broken, Rule::Present, TRUE, "node\n" CUSTOM, {kDefaultFails}},
    {"DefaultWorksCustomFails", Rule::Present, Rule::Broken, TRUE, "node\n" DEFAULT, {kCustomFails}},
    {"BothFail", Rule::Broken, Rule::Broken, FALSE, "node\n", {kDefaultFails, kCustomFails}},
};

class RulesTest : public CaptureTest, public testing::WithParamInterface<RulesCase> {};

// Each rule file the device has is staged and named in a child of its own; the DLM enable state
// staged earlier in the same directory stays, whichever rule file fails.
TEST_P(RulesTest, StagesEachRuleFileItFinds)
{
    const RulesCase& c = GetParam();
    makeDirs(path(kRules));
    writeFile(path(kRules + "dlmEnableClone"), "kept");
    Strings tree = {"dlmEnableClone"};
    for (const auto& [rule, file] : {std::make_pair(c.defaults, kDefault), std::make_pair(c.custom, kCustom)}) {
        if (rule == Rule::Present) {
            writeSource(kNvram + file, kNvram + file);
            tree.push_back(file);
        } else if (rule == Rule::Broken) {
            makeDirs(path(kNvram + file));
        }
    }
    EXPECT_EQ(run(&CloneCreator::cloneIPTablesRulesHelper), c.staged);
    EXPECT_EQ(outline(), c.outline);
    EXPECT_EQ(messages("INFO"), c.infos);
    EXPECT_EQ(messages("ERROR"), Strings{});
    for (std::size_t i = 1; i < tree.size(); ++i) {
        expectKept(kRules + tree[i], kNvram + tree[i]);
    }
    EXPECT_EQ(treeOf(path(kRules)), sorted(tree));
}

INSTANTIATE_TEST_SUITE_P(Rules, RulesTest, testing::ValuesIn(kRulesCases), RowName());

TEST_F(CaptureTest, RulesDirectoryBlocked)
{
    writeFile(path(kRules.substr(0, kRules.size() - 1)), "kept");
    writeSource(kNvram + kDefault, "rules");
    writeSource(kNvram + kCustom, "custom");
    EXPECT_EQ(run(&CloneCreator::cloneIPTablesRulesHelper), FALSE);
    EXPECT_EQ(messages("ERROR"), Strings(2, "Creating " + kRules + " is failed"));
}

}  // namespace
