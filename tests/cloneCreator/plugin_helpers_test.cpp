// The clone helpers backed by plug-ins ("cmlAttributes", "fdiAttributes"): what the library's
// portal holds decides whether the element names the plug-in's staged export.
#include <gtest/gtest.h>

#include <memory>
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

// Each test starts with an empty library portal and leaves it so; the helper's element is the root
// of a manifest of its own, which the walk hands to the helper by its name.
class PluginHelperTest : public clonetest::DeviceTest, public testing::WithParamInterface<HelperCase> {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        cloneutil::cloningPortal().GetPluginMap().clear();
        creator.reset(new CloneCreator(const_cast<char*>("/out")));
        doc.reset(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
        node = xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>(GetParam().name));
        xmlDocSetRootElement(doc.get(), node);
    }
    void TearDown() override
    {
        cloneutil::cloningPortal().GetPluginMap().clear();
        DeviceTest::TearDown();
    }

    void walk() { creator->processStubManifestXML(node); }

    std::string content() const
    {
        cloneutil::XmlChar text(xmlNodeGetContent(node));
        return text ? reinterpret_cast<const char*>(text.get()) : "";
    }

    std::unique_ptr<CloneCreator> creator;
    cloneutil::XmlDoc doc;
    xmlNodePtr node = nullptr;
};

// Without a plug-in of its name the element stays empty, so pruning removes it, and plug-ins under
// other names are not asked. With one, whatever it answers, the element names the staged path when
// the export is there, and stays empty (logged) when it is not: a manifest never names what the
// clone file lacks. A name filed without a plug-in counts as found, and fails.
TEST_P(PluginHelperTest, ElementNamesStagedPathOnlyWithPluginAndExport)
{
    FakePlugin configServer("ConfigServer");
    FakePlugin other(GetParam().name == std::string("cmlAttributes") ? "fdiAttributes" : "cmlAttributes");
    cloneutil::cloningPortal().Install(&configServer);
    cloneutil::cloningPortal().Install(&other);
    walk();
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{GetParam().failureLine});
    EXPECT_EQ(node->children, nullptr);

    FakePlugin failing(GetParam().name, FALSE);
    FakePlugin succeeding(GetParam().name, TRUE);
    const std::string staged = path(std::string("/xpaths/tmp_cloningData/cloningExport/") + GetParam().staged);
    const std::string notStaged = "clone" + std::string(GetParam().name) + "Helper: " + GetParam().staged +
                                  " was not staged";
    for (const bool there : {false, true}) {
        if (there) {
            clonetest::makeDirs(staged.substr(0, staged.rfind('/')));
            clonetest::writeFile(staged, "exported");
        }
        for (cloning::Plugin* plugin : std::vector<cloning::Plugin*>{&failing, &succeeding, nullptr}) {
            cloneutil::cloningPortal().GetPluginMap()[GetParam().name] = plugin;
            xmlNodeSetContent(node, nullptr);
            clearLog();
            walk();
            EXPECT_EQ(content(), there ? GetParam().staged : "");
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
