// Fixed device paths land under the simulated root, in file names and in command lines alike.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <unistd.h>
#include <string>

#include "DevicePath.h"

namespace {

struct CommandCase {
    const char* name;
    const char* root;
    const char* format;
    const char* expected;
};

class DeviceCommandTest : public ::testing::TestWithParam<CommandCase> {
protected:
    void TearDown() override { ::unsetenv("CLONE_DEVICE_ROOT"); }
};

TEST_P(DeviceCommandTest, RootsEveryDevicePathOfTheFormat)
{
    ::setenv("CLONE_DEVICE_ROOT", GetParam().root, 1);
    cloneutil::refreshDeviceRoot();
    cloneutil::PathBuffer buf;
    ASSERT_TRUE(cloneutil::deviceCommand(buf, GetParam().format, "ARG"));
    EXPECT_STREQ(buf, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DeviceCommandTest,
    ::testing::Values(
        CommandCase{"EveryPathOfACommand", "/r",
                    "/xpaths/a -i /xpaths/b -o /usr/ui/c>/xpaths/d %s",
                    "/r/xpaths/a -i /r/xpaths/b -o /r/usr/ui/c>/r/xpaths/d ARG"},
        CommandCase{"ArgumentsAreNotRooted", "/r", "rm -rf %s", "rm -rf ARG"},
        CommandCase{"OnlyWordStarts", "/r", "x/xpaths/y /xpathsz %s", "x/xpaths/y /xpathsz ARG"},
        CommandCase{"TrailingSlashOfRootDropped", "/r//", "/xpaths/a%s", "/r/xpaths/aARG"},
        CommandCase{"RootWithBlanksIsQuoted", "/t/my root", "rm -rf /xpaths/t//* %s",
                    "rm -rf '/t/my root'/xpaths/t//* ARG"},
        CommandCase{"RootWithPercentAndQuote", "/t/a%s'b", "cat /xpaths/f",
                    "cat '/t/a%s'\\''b'/xpaths/f"}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

TEST(DevicePathTest, RootThatIsSlashInAnySpellingCountsAsUnset)
{
    char defaultRoot[PATH_MAX];
    const std::string fallback =
        ::realpath(CLONE_DEFAULT_DEVICE_ROOT, defaultRoot) != nullptr ? defaultRoot : CLONE_DEFAULT_DEVICE_ROOT;
    const std::string link = testing::TempDir() + "/root-is-slash";
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink("/", link.c_str()), 0);
    for (const std::string& spelling : {std::string("/"), std::string("//"), std::string("/."), std::string("/usr/.."),
                                        std::string("/./"), link}) {
        ::setenv("CLONE_DEVICE_ROOT", spelling.c_str(), 1);
        cloneutil::refreshDeviceRoot();
        EXPECT_EQ(cloneutil::devicePath("/xpaths/x"), fallback + "/xpaths/x") << spelling;
    }
    ::unlink(link.c_str());
    ::unsetenv("CLONE_DEVICE_ROOT");
}

TEST(DevicePathTest, ResultsThatDoNotFitAreRefusedNotCut)
{
    ::setenv("CLONE_DEVICE_ROOT", "/r", 1);
    cloneutil::refreshDeviceRoot();
    const std::string fits(cloneutil::kPathBufferSize - 1 - 10, 'a');  // "/r/xpaths/" is 10
    cloneutil::PathBuffer buf;
    EXPECT_TRUE(cloneutil::deviceCommand(buf, "/xpaths/%s", fits.c_str()));
    EXPECT_EQ(std::string(buf).size(), cloneutil::kPathBufferSize - 1);
    EXPECT_FALSE(cloneutil::deviceCommand(buf, "/xpaths/%s", (fits + "a").c_str()));
    EXPECT_STREQ(buf, "");
    EXPECT_FALSE(cloneutil::formatPath(buf, "%s", std::string(cloneutil::kPathBufferSize, 'b').c_str()));
    EXPECT_STREQ(buf, "");
    ::unsetenv("CLONE_DEVICE_ROOT");
}

}  // namespace
