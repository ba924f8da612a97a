// The loader's hook: every library the framework loads installs its plug-ins in the portal through
// its init function, found through the exported kel::plugin::dlsym only.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>
#include <dlfcn.h>

#include "CloningExportPortal.h"
#include "DeviceTest.h"
#include "Loader.h"

namespace {

using clonetest::readFile;
using clonetest::writeFile;

typedef kel::plugin::Loader<cloning::Plugin> CloningLoader;

// The handles the framework hands to the hook, in order.
class HandleRecordingLoader : public CloningLoader {
public:
    HandleRecordingLoader(const std::string& category, kel::plugin::Portal<cloning::Plugin>* portal)
        : CloningLoader(category, portal)
    {
    }
    void post_load_hook(const std::string& lib, void* dl_h) override
    {
        handles.push_back(dl_h);
        CloningLoader::post_load_hook(lib, dl_h);
    }
    std::vector<void*> handles;
};

// Puts a replacement in kel::plugin::dlsym for one test.
class DlsymReplacement {
public:
    explicit DlsymReplacement(kel::plugin::DlsymFunction replacement) : saved_(kel::plugin::dlsym)
    {
        kel::plugin::dlsym = replacement;
        lookups().clear();
        initCalls().clear();
    }
    ~DlsymReplacement() { kel::plugin::dlsym = saved_; }
    DlsymReplacement(const DlsymReplacement&) = delete;
    DlsymReplacement& operator=(const DlsymReplacement&) = delete;

    static std::vector<std::pair<void*, std::string>>& lookups()
    {
        static std::vector<std::pair<void*, std::string>> calls;
        return calls;
    }
    static std::vector<kel::plugin::Portal<cloning::Plugin>*>& initCalls()
    {
        static std::vector<kel::plugin::Portal<cloning::Plugin>*> calls;
        return calls;
    }

private:
    kel::plugin::DlsymFunction saved_;
};

void* recordingDlsym(void* handle, const char* symbol)
{
    DlsymReplacement::lookups().push_back(std::make_pair(handle, std::string(symbol)));
    return ::dlsym(handle, symbol);
}

void fakeInit(kel::plugin::Portal<cloning::Plugin>* portal)
{
    DlsymReplacement::initCalls().push_back(portal);
}

void* dlsymGivingFakeInit(void* handle, const char* symbol)
{
    DlsymReplacement::lookups().push_back(std::make_pair(handle, std::string(symbol)));
    return reinterpret_cast<void*>(&fakeInit);
}

class LoaderTest : public clonetest::DeviceTest {
protected:
    bool withPlugins() const override { return true; }

    std::string pluginDir(const std::string& category = "cloning") const
    {
        return path("/usr/lib/plugins/" + category);
    }

    std::set<std::string> filedNames(CloningExportPortal& portal) const
    {
        std::set<std::string> names;
        for (const auto& entry : portal.GetPluginMap()) {
            names.insert(entry.first);
        }
        return names;
    }

    // Every sample plug-in is filed under its own name with a live object.
    void expectSamplePlugins(CloningExportPortal& portal) const
    {
        EXPECT_EQ(filedNames(portal), (std::set<std::string>{"ConfigServer", "cmlAttributes", "fdiAttributes"}));
        for (const auto& entry : portal.GetPluginMap()) {
            ASSERT_NE(entry.second, nullptr) << entry.first;
            EXPECT_EQ(entry.second->ContentType(), entry.first);
        }
    }
};

TEST_F(LoaderTest, EveryLibraryInstallsItsPlugins)
{
    CloningExportPortal portal;
    CloningLoader loader("cloning", &portal);
    EXPECT_EQ(kel::plugin::LoadPlugins(loader.category, loader), 3);
    expectSamplePlugins(portal);
    EXPECT_TRUE(messages("ERROR").empty());
}

TEST_F(LoaderTest, LibraryWithoutInitFunctionIsLoggedAndSkipped)
{
    writeFile(pluginDir() + "/libnoinit.so", readFile(CLONE_NOINIT_PLUGIN));
    CloningExportPortal portal;
    CloningLoader loader("cloning", &portal);
    EXPECT_EQ(kel::plugin::LoadPlugins(loader.category, loader), 4);
    expectSamplePlugins(portal);
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"Plug-in library libnoinit.so has no cloning_plugin_init"});
}

TEST_F(LoaderTest, CategoryNamesTheInitFunction)
{
    clonetest::makeDirs(pluginDir("fax"));
    writeFile(pluginDir("fax") + "/libConfigServer.so", readFile(pluginDir() + "/libConfigServer.so"));
    CloningExportPortal portal;
    CloningLoader loader("fax", &portal);
    kel::plugin::LoadPlugins(loader.category, loader);
    EXPECT_TRUE(portal.GetPluginMap().empty());
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"Plug-in library libConfigServer.so has no fax_plugin_init"});
}

TEST_F(LoaderTest, InitFunctionIsLookedUpThroughExportedDlsym)
{
    DlsymReplacement replacement(&recordingDlsym);
    CloningExportPortal portal;
    HandleRecordingLoader loader("cloning", &portal);
    kel::plugin::LoadPlugins(loader.category, loader);

    std::vector<std::pair<void*, std::string>> expected;
    for (void* handle : loader.handles) {
        expected.push_back(std::make_pair(handle, std::string("cloning_plugin_init")));
    }
    EXPECT_EQ(DlsymReplacement::lookups(), expected);
    EXPECT_EQ(DlsymReplacement::lookups().size(), 3u);
    expectSamplePlugins(portal);
}

TEST_F(LoaderTest, WhatDlsymFindsIsCalledWithTheLoadersPortal)
{
    DlsymReplacement replacement(&dlsymGivingFakeInit);
    CloningExportPortal portal;
    CloningLoader loader("cloning", &portal);
    kel::plugin::LoadPlugins(loader.category, loader);

    const std::vector<kel::plugin::Portal<cloning::Plugin>*> expected(3, &portal);
    EXPECT_EQ(DlsymReplacement::initCalls(), expected);
    // The libraries' own init functions were never reached.
    EXPECT_TRUE(portal.GetPluginMap().empty());
}

TEST_F(LoaderTest, NullHandleIsNeitherLookedUpNorLogged)
{
    DlsymReplacement replacement(&recordingDlsym);
    CloningExportPortal portal;
    CloningLoader loader("cloning", &portal);
    loader.post_load_hook("libbroken.so", nullptr);
    EXPECT_TRUE(DlsymReplacement::lookups().empty());
    EXPECT_TRUE(portal.GetPluginMap().empty());
    EXPECT_TRUE(log().empty());
}

}  // namespace
