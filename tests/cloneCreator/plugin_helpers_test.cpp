// The clone helpers backed by plug-ins ("cmlAttributes", "fdiAttributes"), the library's portal
// across exports, and an export that stages the sample plug-ins' data.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>
#include <sys/stat.h>

#include <libxml/parser.h>

#include "CloneCreator.h"
#include "CloningExportPortal.h"
#include "DeviceTest.h"
#include "FakePlugin.h"
#include "Handles.h"
#include "Loader.h"

namespace {

using clonetest::exists;
using clonetest::FakePlugin;
using clonetest::readFile;
using clonetest::writeFile;

typedef std::vector<std::pair<std::string, std::string>> Records;

struct HelperCase {
    const char* helper;
    const char* node;
    CloneCreator::Helper function;
    const char* staged;
    const char* startLine;
    const char* foundLine;
    const char* statusLine;  // without the number
    const char* failureLine;
};

const HelperCase kHelpers[] = {
    {"clonecmlAttributesHelper", "cmlAttributes", &CloneCreator::clonecmlAttributesHelper,
     "data/cmlAttributes/cmlAttributes", "  In clonecmlAttributesHelper: CLONE PLUGIN START...1.... Enter",
     "  In CloneCreator::clonecmlAttributesHelper: In if portal->HasPlugin....... ", " exportClone status= ",
     "clonecmlAttributesHelper:, CloneCreator::  CLONE FAILED portal->HasPlugin Failed for Custom Media List......."},
    {"clonefdiAttributesHelper", "fdiAttributes", &CloneCreator::clonefdiAttributesHelper,
     "data/fdiAttributes/fdiAttributes", "  In clonefdiAttributesHelper: CLONE PLUGIN START...1.... Enter",
     "  In CloneCreator::clonefdiAttributesHelper: In if portal->HasPlugin....... ", " exportClone = ",
     "clonefdiAttributesHelper:, CloneCreator::  CLONE FAILED portal->HasPlugin Failed for ConfigServer......."},
};

void PrintTo(const HelperCase& c, std::ostream* os)
{
    *os << c.helper;
}

// Element tree with texts, namespaces left out: "a(b[text],c)".
std::string tree(xmlNodePtr node)
{
    std::string out;
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) {
            continue;
        }
        if (!out.empty()) {
            out += ",";
        }
        out += reinterpret_cast<const char*>(node->name);
        if (node->children != nullptr && node->children->type == XML_TEXT_NODE && node->children->next == nullptr) {
            out += std::string("[") + reinterpret_cast<const char*>(node->children->content) + "]";
        } else if (node->children != nullptr) {
            out += "(" + tree(node->children) + ")";
        }
    }
    return out;
}

std::string manifestTree(const std::string& file)
{
    xmlKeepBlanksDefault(0);
    cloneutil::XmlDoc doc(xmlParseFile(file.c_str()));
    return doc ? tree(xmlDocGetRootElement(doc.get())) : "(no manifest)";
}

std::string content(xmlNodePtr node)
{
    cloneutil::XmlChar text(xmlNodeGetContent(node));
    return text ? reinterpret_cast<const char*>(text.get()) : "";
}

// Each test starts with an empty library portal and leaves it so.
class PortalTest : public clonetest::DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        cloneutil::cloningPortal().GetPluginMap().clear();
    }
    void TearDown() override
    {
        cloneutil::cloningPortal().GetPluginMap().clear();
        DeviceTest::TearDown();
    }

    Records records() const
    {
        Records out;
        for (const clonetest::LogRecord& r : log()) {
            out.push_back(std::make_pair(r.record, r.message));
        }
        return out;
    }
};

class PluginHelperTest : public PortalTest, public testing::WithParamInterface<HelperCase> {
protected:
    void SetUp() override
    {
        PortalTest::SetUp();
        char out[] = "/out";
        creator.reset(new CloneCreator(out));
        doc.reset(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
        xmlNodePtr root = xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("CloningManifest"));
        xmlDocSetRootElement(doc.get(), root);
        xmlNodePtr data = xmlNewChild(root, nullptr, reinterpret_cast<const xmlChar*>("cloningData"), nullptr);
        xmlNewChild(data, nullptr, reinterpret_cast<const xmlChar*>("serialNumber"),
                    reinterpret_cast<const xmlChar*>("kept"));
        node = xmlNewChild(data, nullptr, reinterpret_cast<const xmlChar*>(GetParam().node), nullptr);
        clearLog();
    }

    bool_t runHelper() { return (creator.get()->*(GetParam().function))(node); }

    // What the helper logs when it finds a plug-in entry and the export gives RESULT.
    Records foundRecords(int result) const
    {
        const HelperCase& h = GetParam();
        return Records{{"FORCEINFO", h.helper},
                       {"DEBUG", h.startLine},
                       {"INFO", h.foundLine},
                       {"INFO", h.statusLine + std::to_string(result)},
                       {"RETURN", h.helper}};
    }

    std::unique_ptr<CloneCreator> creator;
    cloneutil::XmlDoc doc;
    xmlNodePtr node = nullptr;
};

TEST_P(PluginHelperTest, WithoutPluginLogsFailureAndLeavesNodeToPruning)
{
    // Plug-ins under other names do not count.
    FakePlugin configServer("ConfigServer");
    FakePlugin other(GetParam().node == std::string("cmlAttributes") ? "fdiAttributes" : "cmlAttributes");
    cloneutil::cloningPortal().Install(&configServer);
    cloneutil::cloningPortal().Install(&other);

    EXPECT_EQ(runHelper(), FALSE);
    EXPECT_EQ(records(), (Records{{"FORCEINFO", GetParam().helper},
                                  {"DEBUG", GetParam().startLine},
                                  {"ERROR", GetParam().failureLine},
                                  {"RETURN", GetParam().helper}}));
    EXPECT_EQ(node->children, nullptr);
    EXPECT_TRUE(configServer.exports.empty());
    EXPECT_TRUE(other.exports.empty());

    const std::string manifest = path(CLONE_MANIFEST_CLONE);
    clonetest::makeDirs(path(CLONE_EXPORT_TREE));
    ASSERT_GT(xmlSaveFormatFile(manifest.c_str(), doc.get(), 1), 0);
    while (creator->removeEmptyNodes(manifest)) {
    }
    EXPECT_EQ(manifestTree(manifest), "CloningManifest(cloningData(serialNumber[kept]))");
}

// Whatever the plug-in answers, the element names the staged path; the helper passes the answer on.
TEST_P(PluginHelperTest, PluginResultIsPassedOnAndElementNamesStagedPath)
{
    for (const bool_t result : {FALSE, TRUE}) {
        SCOPED_TRACE(result);
        FakePlugin plugin(GetParam().node, result);
        cloneutil::cloningPortal().Install(&plugin);
        xmlNodeSetContent(node, nullptr);
        clearLog();

        EXPECT_EQ(runHelper(), result);
        EXPECT_EQ(records(), foundRecords(result));
        EXPECT_EQ(content(node), GetParam().staged);
        EXPECT_EQ(plugin.exports, std::vector<std::string>{path("/xpaths/tmp_cloningData/cfg_attr_list")});
        cloneutil::cloningPortal().Uninstall(&plugin);
    }
}

TEST_P(PluginHelperTest, NameFiledWithoutPluginCountsAsFoundAndFails)
{
    cloneutil::cloningPortal().GetPluginMap()[GetParam().node] = nullptr;

    EXPECT_EQ(runHelper(), FALSE);
    EXPECT_EQ(records(), foundRecords(0));
    EXPECT_EQ(content(node), GetParam().staged);
}

TEST_P(PluginHelperTest, ManifestWalkHandsNodeToHelperAtAnyDepth)
{
    FakePlugin plugin(GetParam().node, TRUE);
    cloneutil::cloningPortal().Install(&plugin);
    xmlNodePtr deeper = xmlNewChild(node->parent, nullptr, reinterpret_cast<const xmlChar*>("accounting"), nullptr);
    xmlNodePtr nested = xmlNewChild(deeper, nullptr, reinterpret_cast<const xmlChar*>(GetParam().node), nullptr);

    creator->processStubManifestXML(xmlDocGetRootElement(doc.get()));
    EXPECT_EQ(content(node), GetParam().staged);
    EXPECT_EQ(content(nested), GetParam().staged);
    EXPECT_EQ(plugin.exports.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(PluginHelpers, PluginHelperTest, testing::ValuesIn(kHelpers),
                         [](const testing::TestParamInfo<HelperCase>& info) { return std::string(info.param.node); });

// The simulated device with its sample plug-ins: attributes for both, and the configuration-attribute
// list that the group expansion would have written.
class PluginExportTest : public PortalTest {
protected:
    bool withPlugins() const override { return true; }

    void SetUp() override
    {
        PortalTest::SetUp();
        setAttribute("media.custom.1.name", "Cardstock");
        setAttribute("fdi.enabled", "TRUE");
        writeFile(path("/xpaths/tmp_cloningData/cfg_attr_list"), "sys.location\n");
        clonetest::makeDirs(path("/out"));
        placeStubManifest();
    }

    // A manifest as the group expansion writes it for both elements, plus one no helper fills.
    void placeStubManifest() const
    {
        clonetest::makeDirs(path(CLONE_EXPORT_TREE));
        writeFile(path(CLONE_MANIFEST_CLONE),
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<CloningManifest><cloningData><cmlAttributes/><accounting><accountingMode/>"
                  "<accountingAttributes><fdiAttributes/></accountingAttributes></accounting></cloningData>"
                  "</CloningManifest>\n");
    }

    // The export's steps up to the packaging: load the plug-ins, walk the manifest, save, prune.
    void fillManifest() const
    {
        char out[] = "/out";
        CloneCreator creator(out);
        kel::plugin::Loader<cloning::Plugin> loader("cloning", &cloneutil::cloningPortal());
        kel::plugin::LoadPlugins(loader.category, loader);

        const std::string manifest = path(CLONE_MANIFEST_CLONE);
        xmlKeepBlanksDefault(0);
        cloneutil::XmlDoc doc(xmlParseFile(manifest.c_str()));
        ASSERT_TRUE(doc);
        ::mkdir(path(CLONE_EXPORT_DATA_DIR).c_str(), 0755);
        creator.processStubManifestXML(xmlDocGetRootElement(doc.get()));
        ASSERT_GT(xmlSaveFormatFile(manifest.c_str(), doc.get(), 1), 0);
        while (creator.removeEmptyNodes(manifest)) {
        }
    }

    std::string staged(const std::string& relative) const { return path(CLONE_EXPORT_TREE) + relative; }
};

TEST_F(PluginExportTest, SamplePluginsStageTheirExportsNamedInManifest)
{
    fillManifest();
    EXPECT_EQ(manifestTree(path(CLONE_MANIFEST_CLONE)),
              "CloningManifest(cloningData(cmlAttributes[data/cmlAttributes/cmlAttributes],"
              "accounting(accountingAttributes(fdiAttributes[data/fdiAttributes/fdiAttributes]))))");
    EXPECT_EQ(readFile(staged("data/cmlAttributes/cmlAttributes")), "set media.custom.1.name=Cardstock\n");
    EXPECT_EQ(readFile(staged("data/fdiAttributes/fdiAttributes")), "set fdi.enabled=TRUE\n");
    EXPECT_TRUE(logged("INFO", " exportClone status= 1"));
    EXPECT_TRUE(logged("INFO", " exportClone = 1"));
    EXPECT_TRUE(messages("ERROR").empty());
}

TEST_F(PluginExportTest, FailingSamplePluginLeavesPathInManifestButStagesNothing)
{
    setAttribute("sim.plugin.fdiAttributes.fail", "TRUE");
    fillManifest();
    EXPECT_EQ(manifestTree(path(CLONE_MANIFEST_CLONE)),
              "CloningManifest(cloningData(cmlAttributes[data/cmlAttributes/cmlAttributes],"
              "accounting(accountingAttributes(fdiAttributes[data/fdiAttributes/fdiAttributes]))))");
    EXPECT_EQ(readFile(staged("data/cmlAttributes/cmlAttributes")), "set media.custom.1.name=Cardstock\n");
    EXPECT_FALSE(exists(staged("data/fdiAttributes")));
    EXPECT_TRUE(logged("INFO", " exportClone status= 1"));
    EXPECT_TRUE(logged("INFO", " exportClone = 0"));
}

TEST_F(PluginExportTest, DeviceWithoutPluginsLeavesBothElementsToPruning)
{
    ASSERT_EQ(std::system(("rm -f '" + path("/usr/lib/plugins/cloning") + "'/*.so").c_str()), 0);
    fillManifest();
    // Nothing else was captured either, so how much of the manifest remains is pruning's business.
    const std::string manifest = manifestTree(path(CLONE_MANIFEST_CLONE));
    EXPECT_EQ(manifest.find("cmlAttributes"), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("fdiAttributes"), std::string::npos) << manifest;
    EXPECT_FALSE(exists(staged("data/cmlAttributes")));
    EXPECT_FALSE(exists(staged("data/fdiAttributes")));
    EXPECT_EQ(messages("ERROR"),
              (std::vector<std::string>{
                  "clonecmlAttributesHelper:, CloneCreator::  CLONE FAILED portal->HasPlugin Failed for Custom Media "
                  "List.......",
                  "clonefdiAttributesHelper:, CloneCreator::  CLONE FAILED portal->HasPlugin Failed for "
                  "ConfigServer......."}));
}

// The portal outlives each export: the plug-ins the first export installed are still valid after
// it returned, and the second export files the very same objects again.
TEST_F(PluginExportTest, PluginsStayInstalledAcrossExports)
{
    std::string outputLocation = path("/out");
    createCloneDLM(&outputLocation[0], "password", nullptr);
    cloning::Plugin* const cml = cloneutil::cloningPortal().GetPlugin("cmlAttributes");
    cloning::Plugin* const fdi = cloneutil::cloningPortal().GetPlugin("fdiAttributes");
    ASSERT_NE(cml, nullptr);
    ASSERT_NE(fdi, nullptr);
    EXPECT_TRUE(logged("INFO", " exportClone status= 1"));
    EXPECT_TRUE(logged("INFO", " exportClone = 1"));

    EXPECT_EQ(cml->ContentType(), "cmlAttributes");
    EXPECT_EQ(cml->exportClone(path("/xpaths/tmp_cloningData/cfg_attr_list")), TRUE);

    // Whatever the packaging left, the second export starts from the same stub.
    placeStubManifest();
    clearLog();
    createCloneDLM(&outputLocation[0], "password", nullptr);
    EXPECT_EQ(cloneutil::cloningPortal().GetPlugin("cmlAttributes"), cml);
    EXPECT_EQ(cloneutil::cloningPortal().GetPlugin("fdiAttributes"), fdi);
    EXPECT_TRUE(logged("INFO", " exportClone status= 1"));
    EXPECT_TRUE(logged("INFO", " exportClone = 1"));
}

}  // namespace
