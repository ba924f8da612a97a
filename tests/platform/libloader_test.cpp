// The plug-in framework stand-in: which files of a category it loads, in which order, and what a
// loader is told about each.
#include <gtest/gtest.h>

#include <ostream>
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
    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        for (const auto& call : calls) {
            out.push_back(call.first);
        }
        return out;
    }
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

TEST_F(LibLoaderTest, LoadsEveryLibraryOfTheCategoryInNameOrder)
{
    const std::string dir = pluginDir();
    putLibrary(dir, "b.so");
    putLibrary(dir, "a.so");
    putLibrary(dir, "B.so");
    // Not libraries of the category: other names, hidden files and directories.
    putLibrary(dir, "c.so.1");
    putLibrary(dir, ".hidden.so");
    putLibrary(dir, "so");
    writeFile(dir + "/notes.txt", "not a library\n");
    clonetest::makeDirs(dir + "/d.so");
    putLibrary(path("/usr/lib/plugins/other"), "x.so");

    RecordingLoader loader;
    EXPECT_EQ(kel::plugin::LoadPlugins("cloning", loader), 3);
    EXPECT_EQ(loader.names(), (std::vector<std::string>{"B.so", "a.so", "b.so"}));
    for (const auto& call : loader.calls) {
        EXPECT_NE(call.second, nullptr) << call.first;
    }
    EXPECT_TRUE(messages("ERROR").empty());
}

TEST_F(LibLoaderTest, LibraryThatCannotBeLoadedGetsNullHandleAndIsLogged)
{
    const std::string dir = pluginDir();
    writeFile(dir + "/bad.so", "this is not an ELF file\n");
    ASSERT_EQ(::symlink((dir + "/missing-target").c_str(), (dir + "/dangling.so").c_str()), 0);
    putLibrary(dir, "good.so");

    RecordingLoader loader;
    EXPECT_EQ(kel::plugin::LoadPlugins("cloning", loader), 1);
    ASSERT_EQ(loader.names(), (std::vector<std::string>{"bad.so", "dangling.so", "good.so"}));
    EXPECT_EQ(loader.calls[0].second, nullptr);
    EXPECT_EQ(loader.calls[1].second, nullptr);
    EXPECT_NE(loader.calls[2].second, nullptr);

    // The loader's own reason follows the fixed text.
    const std::vector<std::string> errors = messages("ERROR");
    ASSERT_EQ(errors.size(), 2u);
    for (std::size_t i = 0; i < errors.size(); ++i) {
        const std::string prefix = "Plug-in library " + dir + "/" + loader.names()[i] + " cannot be loaded: ";
        EXPECT_EQ(errors[i].rfind(prefix, 0), 0u) << errors[i];
        EXPECT_GT(errors[i].size(), prefix.size()) << errors[i];
    }
}

TEST_F(LibLoaderTest, LaterLoadOfSameLibraryGivesSameHandle)
{
    putLibrary(pluginDir(), "a.so");
    putLibrary(pluginDir(), "b.so");
    RecordingLoader first;
    RecordingLoader second;
    kel::plugin::LoadPlugins("cloning", first);
    kel::plugin::LoadPlugins("cloning", second);
    ASSERT_EQ(first.calls.size(), 2u);
    EXPECT_EQ(second.calls, first.calls);
    EXPECT_NE(first.calls[0].second, first.calls[1].second);
}

TEST_F(LibLoaderTest, MissingCategoryDirectoryLoadsNothingWithoutError)
{
    RecordingLoader loader;
    EXPECT_EQ(kel::plugin::LoadPlugins("scanning", loader), 0);
    EXPECT_TRUE(loader.calls.empty());
    EXPECT_TRUE(messages("ERROR").empty());
    ASSERT_EQ(messages("INFO").size(), 1u);
    EXPECT_EQ(messages("INFO")[0].rfind("Plug-in directory " + pluginDir("scanning") + " cannot be read: ", 0), 0u);
}

// A category names a directory, so anything that could leave the plug-in directory is refused
// before a file is looked at.
struct CategoryCase {
    const char* name;
    const char* category;
    bool valid;
};

void PrintTo(const CategoryCase& c, std::ostream* os)
{
    *os << "\"" << c.category << "\"";
}

class LibLoaderCategoryTest : public LibLoaderTest, public testing::WithParamInterface<CategoryCase> {};

TEST_P(LibLoaderCategoryTest, OnlyAPlainNameIsACategory)
{
    putLibrary(path("/usr/lib"), "lib.so");
    putLibrary(path("/usr/lib/plugins"), "plugins.so");
    putLibrary(pluginDir(), "cloning.so");
    putLibrary(pluginDir("Fax_2"), "a.so");
    const std::string category = GetParam().category;

    RecordingLoader loader;
    EXPECT_EQ(kel::plugin::LoadPlugins(category, loader), GetParam().valid ? 1 : 0);
    EXPECT_EQ(loader.calls.size(), GetParam().valid ? 1u : 0u);
    EXPECT_EQ(logged("ERROR", "Plug-in category \"" + category + "\" is not a valid name"), !GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    LibLoader, LibLoaderCategoryTest,
    testing::Values(CategoryCase{"LettersDigitsUnderscore", "Fax_2", true}, CategoryCase{"Empty", "", false},
                    CategoryCase{"Dot", ".", false}, CategoryCase{"DotDot", "..", false},
                    CategoryCase{"Parent", "../cloning", false}, CategoryCase{"TrailingSlash", "cloning/", false},
                    CategoryCase{"UpAgain", "cloning/..", false}, CategoryCase{"Dash", "clo-ning", false},
                    CategoryCase{"TrailingBlank", "cloning ", false}, CategoryCase{"Wildcard", "*", false},
                    CategoryCase{"FileName", "cloning.so", false}),
    [](const testing::TestParamInfo<CategoryCase>& info) { return std::string(info.param.name); });

}  // namespace
