// The plug-in framework stand-in: which files of a category it loads, in which order, and what a
// loader is told about each. (The library asks for its one category only, "cloning".)
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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
    // A real, loadable library under NAME in DIR (a copy, so every name is a library of its own).
    void putLibrary(const std::string& dir, const std::string& name) const
    {
        clonetest::makeDirs(dir);
        writeFile(dir + "/" + name, readFile(clonetest::samplePluginDir() + "/libfdiAttributes.so"));
    }
};

// Every library of the category ("*.so", but no directory) is offered to the loader in name order,
// one that cannot be loaded with a null handle. (Its log record: LoaderTest.)
TEST_F(LibLoaderTest, LoadsEveryLibraryOfTheCategoryInNameOrder)
{
    const std::string dir = path("/usr/lib/plugins/cloning");
    for (const char* name : {"b.so", "a.so", "c.so.1", ".hidden.so"}) {
        putLibrary(dir, name);  // the last two are not libraries of the category
    }
    writeFile(dir + "/bad.so", "this is not an ELF file\n");
    clonetest::makeDirs(dir + "/d.so");
    putLibrary(path("/usr/lib/plugins/other"), "x.so");

    RecordingLoader loader;
    EXPECT_EQ(kel::plugin::LoadPlugins("cloning", loader), 2);
    std::vector<std::string> names;
    for (const auto& call : loader.calls) {
        names.push_back(call.first);
        EXPECT_EQ(call.second == nullptr, call.first == "bad.so") << call.first;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a.so", "b.so", "bad.so"}));
}

}  // namespace
