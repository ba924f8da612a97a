// The device's sample groups through the export pipeline: group line, expansion, walk and
// pruning, and one full export.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <libxml/parser.h>

#include "GroupFixture.h"

namespace {

using clonetest::LogRecord;

const std::string kNetworkConfig =
    "connectivity.8021x[<profile/>].enabled\nconnectivity.8021x[<profile/>].authenticationMethod\n"
    "connectivity.ipv6[<profile/>].enabled\nnetwork.proxy.server\nnetwork.proxy.port\nnetwork.ntp.server\n";
const std::string kScanConfig =
    "scan.defaults.resolution\nscan.defaults.colorMode\nscan.defaults.fileFormat\nscan.email.maxAttachmentSize\n";

class SamplePipelineTest : public clonetest::GroupFixture {
protected:
    bool bareDevice() const override { return false; }

    // Walks the manifest, saves it and prunes it as the export does; its outline afterwards.
    std::string fillAndPrune(CloneCreator& creator, const std::string& manifest)
    {
        xmlKeepBlanksDefault(0);
        {
            cloneutil::XmlDoc doc(xmlParseFile(manifest.c_str()));
            if (!doc) {
                ADD_FAILURE() << "no manifest";
                return "";
            }
            creator.processStubManifestXML(xmlDocGetRootElement(doc.get()));
            xmlSaveFormatFile(manifest.c_str(), doc.get(), 1);
        }
        for (int passes = 0; creator.removeEmptyNodes(manifest); ++passes) {
            if (passes > 100) {
                ADD_FAILURE() << "pruning does not end";
                break;
            }
        }
        return clonetest::xmlFileOutline(manifest);
    }
};

// Every line of an outline is an element with text, or has a line below it one level deeper.
void expectNoEmptyElement(const std::string& outline)
{
    const std::vector<std::string> rows = clonetest::lines(outline);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t depth = rows[i].find_first_not_of(' ');
        const bool hasText = rows[i].find(": ") != std::string::npos;
        const bool hasChild = i + 1 < rows.size() && rows[i + 1].find_first_not_of(' ') > depth;
        EXPECT_TRUE(hasText || hasChild) << "empty element left: " << rows[i] << "\n" << outline;
    }
}

TEST_F(SamplePipelineTest, MultiGroupLineForOtherDevices)
{
    CloneCreator creator(const_cast<char*>("/tmp"));
    char line[] = "NETWORK_GROUP SCAN_GROUP ";
    EXPECT_EQ(creator.createGroups(line), "clone");

    // Both groups were expanded, in line order, into the shared lists.
    EXPECT_EQ(file("/xpaths/tmp_cloningData/cfg_attr_list"), kNetworkConfig + kScanConfig);
    EXPECT_EQ(file("/xpaths/tmp_cloningData/dlm_attr_list"), "scanToCloud\nmobilePrint\nairPrint\n");
    EXPECT_EQ(file("/xpaths/tmp_cloningData/ds_attr_list"),
              "scanService.jobHistory.retention\nscanService.network.folderTimeout\n");
    EXPECT_EQ(file("/xpaths/tmp_cloningData/nvram_attr_listcloneself"), "<missing>");
    EXPECT_FALSE(clonetest::exists(path(CLONE_MANIFEST_CLONESELF)));

    const std::string pruned = fillAndPrune(creator, path(CLONE_MANIFEST_CLONE));
    expectNoEmptyElement(pruned);
    EXPECT_EQ(pruned.rfind(clonetest::cloneRootLine("CloningManifest") + "  cloningData\n    version: 1.0.0\n", 0), 0u)
        << pruned;
}

TEST_F(SamplePipelineTest, LastGroupNeedsItsBlank)
{
    CloneCreator creator(const_cast<char*>("/tmp"));
    char line[] = "NETWORK_GROUP SCAN_GROUP";
    creator.createGroups(line);
    EXPECT_EQ(file("/xpaths/tmp_cloningData/cfg_attr_list"), kNetworkConfig);
}

TEST_F(SamplePipelineTest, SelfCloneCarriesIdentity)
{
    CloneCreator creator(const_cast<char*>("/tmp"));
    char line[] = "NETWORK_GROUP CLONE_TO_SELF_GROUP ";
    EXPECT_EQ(creator.createGroups(line), "cloneSelf");
    EXPECT_EQ(file("/xpaths/tmp_cloningData/cfg_attr_listcloneself"),
              "connectivity.8021x[<profile/>].enabled\nnetwork.proxy.server\nsecurity.passwordPolicy.minLength\n"
              "scan.defaults.resolution\n");
    EXPECT_FALSE(clonetest::exists(path(CLONE_MANIFEST_CLONE)));

    const std::string pruned = fillAndPrune(creator, path(CLONE_MANIFEST_CLONESELF));
    expectNoEmptyElement(pruned);
    EXPECT_NE(pruned.find("\n  version: 1.0.0\n  serialNumber: SIM0123456789\n"), std::string::npos) << pruned;
}

TEST_F(SamplePipelineTest, ExportLeavesListsAndAClearLog)
{
    const std::string out = root() + "/out";
    char line[] = "NETWORK_GROUP PRINT_GROUP ";
    createCloneDLM(const_cast<char*>(out.c_str()), "pw", line);

    // The configuration server list is handed to its plug-in and stays for the next export.
    EXPECT_EQ(file("/xpaths/tmp_cloningData/cfg_attr_list"), kNetworkConfig);
    EXPECT_FALSE(logged("ERROR", "Stub Manifest file is not created"));
    int sections = 0;
    for (const LogRecord& r : log()) {
        const std::string source = r.source.substr(0, r.source.find(':'));
        if (source == "CloneGroupsProcessor.cpp" || source == "StubManifest.cpp") {
            EXPECT_NE(r.record, "ERROR") << r.message;
        }
        sections += r.record == "LIBENTER" && r.message == "addXmlNodes Called";
    }
    // Seven network sections and five print sections; the fax section's precondition fails.
    EXPECT_EQ(sections, 12);
    // The stub is written by the first section only.
    int stubs = 0;
    for (const std::string& message : messages("LIBENTER")) {
        stubs += message == "createStubXmlFile";
    }
    EXPECT_EQ(stubs, 1);
}

}  // namespace
