// The loader's hook: every library the framework loads installs its plug-ins in the portal through
// its init function, found through the exported kel::plugin::dlsym only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CloningExportPortal.h"
#include "DeviceTest.h"
#include "Loader.h"

namespace {

using clonetest::readFile;
using clonetest::writeFile;

typedef kel::plugin::Loader<cloning::Plugin> CloningLoader;

class LoaderTest : public clonetest::DeviceTest {
protected:
    bool withPlugins() const override { return true; }
};

// Every library of the category ("*.so" files, in name order) installs its plug-ins; one without an
// init function is logged and skipped, one that cannot be loaded is logged once, by the framework,
// and never looked into. Other names, folders and other categories are not loaded at all.
TEST_F(LoaderTest, EveryLibraryInstallsItsPluginsTheOthersAreSkipped)
{
    const std::string dir = path("/usr/lib/plugins/cloning");
    const std::string noinit = readFile(CLONE_NOINIT_PLUGIN);
    clonetest::makeDirs(path("/usr/lib/plugins/other"));
    for (const std::string& library : {dir + "/libnoinit.so", dir + "/libnoinit.so.1", dir + "/.hidden.so",
                                       path("/usr/lib/plugins/other/libnoinit.so")}) {
        writeFile(library, noinit);
    }
    clonetest::makeDirs(dir + "/libfolder.so");
    writeFile(dir + "/libbad.so", "not a library\n");
    CloningExportPortal portal;
    CloningLoader loader("cloning", &portal);
    EXPECT_EQ(kel::plugin::LoadPlugins(loader.category, loader), 4);
    std::vector<std::string> names;
    for (const auto& entry : portal.GetPluginMap()) {
        names.push_back(entry.first);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ConfigServer", "cmlAttributes", "fdiAttributes"}));
    const std::vector<std::string> errors = messages("ERROR");
    ASSERT_EQ(errors.size(), 2u) << ::testing::PrintToString(errors);
    EXPECT_EQ(errors[0].rfind("Plug-in library " + dir + "/libbad.so cannot be loaded: ", 0), 0u) << errors[0];
    EXPECT_EQ(errors[1], "Plug-in library libnoinit.so has no cloning_plugin_init");
}

std::vector<std::string> lookedUp;
std::vector<kel::plugin::Portal<cloning::Plugin>*> initCalls;

// Whatever kel::plugin::dlsym finds is the init function, called with the loader's portal.
TEST_F(LoaderTest, InitFunctionIsLookedUpThroughExportedDlsym)
{
    const kel::plugin::DlsymFunction saved = kel::plugin::dlsym;
    kel::plugin::dlsym = [](void* /*handle*/, const char* symbol) {
        lookedUp.push_back(symbol);
        return reinterpret_cast<void*>(+[](kel::plugin::Portal<cloning::Plugin>* p) { initCalls.push_back(p); });
    };
    CloningExportPortal portal;
    CloningLoader loader("cloning", &portal);
    kel::plugin::LoadPlugins(loader.category, loader);
    kel::plugin::dlsym = saved;

    EXPECT_EQ(lookedUp, std::vector<std::string>(3, "cloning_plugin_init"));
    EXPECT_EQ(initCalls, std::vector<kel::plugin::Portal<cloning::Plugin>*>(3, &portal));
    // The libraries' own init functions were never reached.
    EXPECT_TRUE(portal.GetPluginMap().empty());
}

}  // namespace
