// The clone helpers backed by plug-ins ("cmlAttributes", "fdiAttributes"): what the library's
// portal holds decides whether the element names the plug-in's staged export.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CloneCreator.h"
#include "CloningExportPortal.h"
#include "DeviceTest.h"
#include "FakePlugin.h"
#include "Handles.h"

namespace {

using clonetest::FakePlugin;

struct HelperCase {
    const char* name;  // of the element, and of the plug-in
    const char* staged;
    const char* failureLine;
};

const HelperCase kHelpers[] = {
    {"cmlAttributes", "data/cmlAttributes/cmlAttributes",
     "clonecmlAttributesHelper:, CloneCreator::  CLONE FAILED portal->HasPlugin Failed for Custom Media List......."},
    {"fdiAttributes", "data/fdiAttributes/fdiAttributes",
     "clonefdiAttributesHelper:, CloneCreator::  CLONE FAILED portal->HasPlugin Failed for ConfigServer......."},
};

CLONE_PRINT_BY_NAME(HelperCase)

// Each test starts with an empty library portal and leaves it so.
class PluginHelperTest : public clonetest::DeviceTest, public testing::WithParamInterface<HelperCase> {
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
};

// Without a plug-in of its name the element stays empty and other plug-ins are not asked. With one,
// whatever it answers, the element names the staged path only when the export is there: a manifest
// never names what the clone file lacks. A name filed without a plug-in counts as found, and fails.
TEST_P(PluginHelperTest, ElementNamesStagedPathOnlyWithPluginAndExport)
{
    const HelperCase& c = GetParam();
    // The element is the root of a manifest of its own, which the walk hands to its helper.
    CloneCreator creator(const_cast<char*>("/out"));
    cloneutil::XmlDoc doc(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
    xmlNodePtr node = xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>(c.name));
    xmlDocSetRootElement(doc.get(), node);
    const auto walk = [&] {
        clearLog();
        creator.processStubManifestXML(node);
        cloneutil::XmlChar text(xmlNodeGetContent(node));
        return std::string(text ? reinterpret_cast<const char*>(text.get()) : "");
    };
    FakePlugin configServer("ConfigServer");
    FakePlugin other(c.name == std::string("cmlAttributes") ? "fdiAttributes" : "cmlAttributes");
    cloneutil::cloningPortal().Install(&configServer);
    cloneutil::cloningPortal().Install(&other);
    walk();
    EXPECT_EQ(node->children, nullptr);
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{c.failureLine});

    FakePlugin failing(c.name, FALSE);
    FakePlugin succeeding(c.name, TRUE);
    const std::string staged = path(std::string("/xpaths/tmp_cloningData/cloningExport/") + c.staged);
    const std::string notStaged = "clone" + std::string(c.name) + "Helper: " + c.staged + " was not staged";
    for (const bool there : {false, true}) {
        if (there) {
            clonetest::makeDirs(staged.substr(0, staged.rfind('/')));
            clonetest::writeFile(staged, "exported");
        }
        for (cloning::Plugin* plugin : std::vector<cloning::Plugin*>{&failing, &succeeding, nullptr}) {
            cloneutil::cloningPortal().GetPluginMap()[c.name] = plugin;
            xmlNodeSetContent(node, nullptr);
            EXPECT_EQ(walk(), there ? c.staged : "");
            EXPECT_EQ(messages("ERROR"), there ? std::vector<std::string>{} : std::vector<std::string>{notStaged});
        }
    }
    const std::vector<std::string> list(2, path("/xpaths/tmp_cloningData/cfg_attr_list"));
    EXPECT_EQ(failing.exports, list);
    EXPECT_EQ(succeeding.exports, list);
    EXPECT_TRUE(configServer.exports.empty());
    EXPECT_TRUE(other.exports.empty());
}

INSTANTIATE_TEST_SUITE_P(PluginHelpers, PluginHelperTest, testing::ValuesIn(kHelpers), clonetest::RowName());

}  // namespace
