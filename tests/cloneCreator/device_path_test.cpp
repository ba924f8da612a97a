// Fixed device paths land under the simulated root, in file names and in command lines alike.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "DevicePath.h"

namespace {

// Every device path that starts a word of the format is rooted, the root quoted for the shell when
// it needs to be; arguments are not.
TEST(DevicePathTest, DeviceCommandRootsEveryDevicePathOfTheFormat)
{
    const struct {
        const char* name;
        const char* root;
        const char* format;
        const char* expected;
    } cases[] = {
        {"EveryPathOfACommand", "/r", "/xpaths/a -i /xpaths/b -o /usr/ui/c>/xpaths/d %s",
         "/r/xpaths/a -i /r/xpaths/b -o /r/usr/ui/c>/r/xpaths/d ARG"},
        {"ArgumentsAreNotRooted", "/r", "rm -rf %s", "rm -rf ARG"},
        {"OnlyWordStarts", "/r", "x/xpaths/y /xpathsz %s", "x/xpaths/y /xpathsz ARG"},
        {"TrailingSlashOfRootDropped", "/r//", "/xpaths/a%s", "/r/xpaths/aARG"},
        {"RootWithBlanksIsQuoted", "/t/my root", "rm -rf /xpaths/t//* %s", "rm -rf '/t/my root'/xpaths/t//* ARG"},
        {"RootWithPercentAndQuote", "/t/a%s'b", "cat /xpaths/f", "cat '/t/a%s'\\''b'/xpaths/f"}};
    for (const auto& c : cases) {
        ::setenv("CLONE_DEVICE_ROOT", c.root, 1);
        cloneutil::refreshDeviceRoot();
        cloneutil::PathBuffer buf;
        EXPECT_TRUE(cloneutil::deviceCommand(buf, c.format, "ARG")) << c.name;
        EXPECT_STREQ(buf, c.expected) << c.name;
    }
    ::unsetenv("CLONE_DEVICE_ROOT");
}

// The root is resolved before it is compared: any spelling of "/" resolves alike.
TEST(DevicePathTest, RootThatIsSlashInAnySpellingCountsAsUnset)
{
    char defaultRoot[PATH_MAX];
    const std::string fallback =
        ::realpath(CLONE_DEFAULT_DEVICE_ROOT, defaultRoot) != nullptr ? defaultRoot : CLONE_DEFAULT_DEVICE_ROOT;
    for (const char* spelling : {"/", "/usr/.."}) {
        ::setenv("CLONE_DEVICE_ROOT", spelling, 1);
        cloneutil::refreshDeviceRoot();
        EXPECT_EQ(cloneutil::devicePath("/xpaths/x"), fallback + "/xpaths/x") << spelling;
    }
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
