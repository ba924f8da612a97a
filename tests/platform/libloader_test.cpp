// The plug-in framework stand-in: which files of a category it loads, in which order, and what a
// loader is told about each.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>
#include <unistd.h>

#include "DeviceTest.h"
#include "kel/LibLoader.h"

namespace {

using clonetest::readFile;
using clonetest::writeFile;

class RecordingLoader : public kel::LibLoader {
public:
    void post_load_hook(const std::string& lib, void* dl_h) override { calls.push_back(std::make_pair(lib, dl_h)); }
    std::vector<std::pair<std::string, void*>> calls;
};

class LibLoaderTest : public clonetest::DeviceTest {
protected:
    std::string pluginDir(const std::string& category = "cloning") const
    {
        return path("/usr/lib/plugins/" + category);
    }
    // A real, loadable library under NAME in DIR (a copy, so every name is a library of its own).
    void putLibrary(const std::string& dir, const std::string& name) const
    {
        clonetest::makeDirs(dir);
        writeFile(dir + "/" + name, readFile(clonetest::samplePluginDir() + "/libfdiAttributes.so"));
    }
};

// Every library of the category is offered to the loader in name order; one that cannot be loaded
// gets a null handle and is logged with the loader's own reason after the fixed text.
TEST_F(LibLoaderTest, LoadsEveryLibraryOfTheCategoryInNameOrder)
{
    const std::string dir = pluginDir();
    for (const char* name : {"b.so", "a.so", "B.so", "c.so.1", ".hidden.so", "so"}) {
        putLibrary(dir, name);  // the last three are not libraries of the category
    }
    writeFile(dir + "/notes.txt", "not a library\n");
    clonetest::makeDirs(dir + "/d.so");
    putLibrary(path("/usr/lib/plugins/other"), "x.so");
    writeFile(dir + "/bad.so", "this is not an ELF file\n");
    ASSERT_EQ(::symlink((dir + "/missing-target").c_str(), (dir + "/dangling.so").c_str()), 0);

    RecordingLoader loader;
    EXPECT_EQ(kel::plugin::LoadPlugins("cloning", loader), 3);
    std::vector<std::string> names;
    for (const auto& call : loader.calls) {
        names.push_back(call.first);
        EXPECT_EQ(call.second == nullptr, call.first == "bad.so" || call.first == "dangling.so") << call.first;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"B.so", "a.so", "b.so", "bad.so", "dangling.so"}));
    const std::vector<std::string> errors = messages("ERROR");
    ASSERT_EQ(errors.size(), 2u);
    for (std::size_t i = 0; i < errors.size(); ++i) {
        const std::string prefix = "Plug-in library " + dir + "/" + names[i + 3] + " cannot be loaded: ";
        EXPECT_EQ(errors[i].rfind(prefix, 0), 0u) << errors[i];
        EXPECT_GT(errors[i].size(), prefix.size()) << errors[i];
    }
}

// A category names a directory, so anything that could leave the plug-in directory is refused
// before a file is looked at.
TEST_F(LibLoaderTest, OnlyAPlainNameIsACategory)
{
    putLibrary(path("/usr/lib"), "lib.so");
    putLibrary(path("/usr/lib/plugins"), "plugins.so");
    putLibrary(pluginDir(), "cloning.so");
    putLibrary(pluginDir("Fax_2"), "a.so");
    const std::pair<std::string, int> cases[] = {  // loaded; -1: refused as a name
        {"Fax_2", 1},
        {"scanning", 0},  // no directory: nothing to load, and no error
        {"", -1},         {".", -1},          {"..", -1},         {"../cloning", -1}, {"cloning/", -1},
        {"cloning/..", -1}, {"clo-ning", -1}, {"cloning ", -1},   {"*", -1},          {"cloning.so", -1}};
    for (const auto& [category, loaded] : cases) {
        SCOPED_TRACE("\"" + category + "\"");
        clearLog();
        RecordingLoader loader;
        EXPECT_EQ(kel::plugin::LoadPlugins(category, loader), std::max(loaded, 0));
        EXPECT_EQ(loader.calls.size(), static_cast<std::size_t>(std::max(loaded, 0)));
        const std::vector<std::string> refused = {"Plug-in category \"" + category + "\" is not a valid name"};
        EXPECT_EQ(messages("ERROR"), loaded < 0 ? refused : std::vector<std::string>{});
    }
}

}  // namespace
