// Staging primitives the clone helpers share: directory modes, device commands, element text.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <cstdlib>
#include <string>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

#include <libxml/tree.h>

#include "CloneFileTestUtil.h"
#include "DeviceTest.h"
#include "Descriptors.h"
#include "Command.h"
#include "DevicePath.h"
#include "Handles.h"
#include "Staging.h"

namespace {

using clonetest::DeviceTest;
using cloneutil::MakeDir;

TEST_F(DeviceTest, MakeStagingDirAcceptsWhatItsModeAccepts)
{
    const struct {
        const char* name;
        MakeDir how;
        bool existsBefore;
        bool parentMissing;
        bool result;
    } cases[] = {{"OrAcceptNew", MakeDir::MakeOrAccept, false, false, true},
                 {"OrAcceptExisting", MakeDir::MakeOrAccept, true, false, true},
                 {"OrAcceptMissingParent", MakeDir::MakeOrAccept, false, true, false},
                 {"NewNew", MakeDir::MakeNew, false, false, true},
                 {"NewExisting", MakeDir::MakeNew, true, false, false},
                 {"PathMissingParent", MakeDir::MakePath, false, true, true},
                 {"PathExisting", MakeDir::MakePath, true, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(std::system(("rm -rf '" + path("/xpaths/tmp_cloningData/cloningExport") + "'").c_str()), 0);
        const char* dir = c.parentMissing ? "/xpaths/tmp_cloningData/cloningExport/data/a/b/"
                                          : "/xpaths/tmp_cloningData/cloningExport/";
        if (c.existsBefore) {
            clonetest::makeDirs(path(dir));
        }
        EXPECT_EQ(cloneutil::makeStagingDir(dir, c.how), c.result);
        EXPECT_EQ(clonetest::exists(path(dir)), c.result || c.existsBefore);
    }
}

// A tool's own 127 is its status; a child that could not become the shell says which step failed.
TEST_F(DeviceTest, DeviceCommandGivesTheStatus)
{
    const int status = cloneutil::runDeviceCommand("exit 127");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 127) << status;
    EXPECT_EQ(cloneutil::runDeviceCommand("echo %s", std::string(5000, 'x').c_str()), -1) << "never cut";
    EXPECT_EQ(cloneutil::runCommand("true", path("/no/such/folder").c_str()), -1);
    EXPECT_TRUE(anyError("Command cannot be started (working directory: No such file or directory): true"));
}

// A command that outlives the time limit is stopped with all it started, even what ignores
// SIGTERM, and counts as not run; a limit that is no number is reported and the default holds.
TEST_F(DeviceTest, CommandOverTheTimeLimitIsStoppedWithItsChildren)
{
    const std::string pidFile = path("/xpaths/tmp_cloningData/child.pid");
    {
        clonetest::ScopedEnv limit("CLONE_COMMAND_TIME_LIMIT", "1");
        EXPECT_EQ(cloneutil::runDeviceCommand("trap '' TERM; sleep 60 & echo $! > %s; wait",
                                              cloneutil::shellQuote(pidFile).c_str()),
                  -1);
        EXPECT_TRUE(anyError("Command stopped after 1 s: trap '' TERM; sleep 60 &"));
    }
    // Gone, or a zombie left to init (the shell that would reap it was stopped too). A killed
    // process still has to be scheduled to end, which takes a while on a busy machine.
    const std::string pid = clonetest::readFile(pidFile);
    ASSERT_FALSE(pid.empty()) << "the command did not start its child within the limit";
    std::string stat;
    const auto ended = [&] {
        stat = clonetest::readFile("/proc/" + std::to_string(std::stol(pid)) + "/stat");
        const std::size_t state = stat.rfind(") ");
        return stat.empty() || (state != std::string::npos && stat[state + 2] == 'Z');
    };
    for (int waited = 0; waited < 100 && !ended(); ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(ended()) << stat;

    clonetest::ScopedEnv limit("CLONE_COMMAND_TIME_LIMIT", "soon");
    EXPECT_EQ(cloneutil::commandTimeLimit(), cloneutil::kCommandTimeLimit);
    EXPECT_TRUE(anyError("CLONE_COMMAND_TIME_LIMIT=soon is not a number of seconds"));
}

// Node text is taken as it is, "&" included; text that XML 1.0 cannot hold would make the saved
// manifest unreadable, so it is refused, logged, and the node keeps what it had.
TEST_F(DeviceTest, SetNodeTextTakesXmlTextRefusesTheRest)
{
    const struct {
        const char* name;
        const char* text;
        bool taken;
    } cases[] = {{"AmpersandsAndBrackets", "A&B &amp; <C>", true},
                 {"MultiByteUtf8", "Seri\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
                 {"TabLineFeedReturn", "a\tb\nc\r", true},
                 {"ControlCharacter", "SIM\x01", false},
                 {"NotUtf8", "\xff\xfe", false},
                 {"CutSequence", "ab\xC3", false},
                 {"Overlong", "\xC0\xAF", false},
                 {"Surrogate", "\xED\xA0\x80", false},
                 {"NonCharacter", "\xEF\xBF\xBE", false},
                 {"BeyondUnicode", "\xF4\x90\x80\x80", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clearLog();
        cloneutil::XmlNode node(xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("serialNumber")));
        ASSERT_TRUE(cloneutil::setNodeText(node.get(), "old"));
        EXPECT_EQ(cloneutil::setNodeText(node.get(), c.text), c.taken);
        cloneutil::XmlChar text(xmlNodeGetContent(node.get()));
        EXPECT_STREQ(reinterpret_cast<const char*>(text.get()), c.taken ? c.text : "old");
        EXPECT_EQ(node->children, node->last) << "one text node";
        EXPECT_EQ(messages("ERROR").size(), c.taken ? 0u : 1u);
    }
}

// A path below a folder descriptor resolves the same through openat2 and through the walk: links
// and ".." only where allowed, never out of the folder.
TEST_F(DeviceTest, PathsBelowAFolderNeverLeaveIt)
{
    const std::string f = root() + "/folder";
    clonetest::makeDirs(f + "/a");
    clonetest::writeFile(f + "/a/file", "inside");
    const std::pair<const char*, const char*> links[] = {{"a/up", "../a/file"}, {"out", "../xpaths"},
                                                         {"abs", "/etc/passwd"}, {"loop", "loop"},
                                                         {"dirlink", "a"},       {"a/deep", "../../x"}};
    for (const auto& [name, target] : links) {
        ASSERT_EQ(::symlink(target, (f + "/" + name).c_str()), 0);
    }
    const cloneutil::Fd dir(::open(f.c_str(), O_PATH | O_DIRECTORY));
    const struct {
        const char* path;
        int none;     // 0: opens the file; else the errno without links
        int beneath;  // the same with links below the folder
    } cases[] = {{"a/file", 0, 0},        {"a/up", ELOOP, 0},       {"out", ELOOP, EXDEV},
                 {"abs", ELOOP, EXDEV},   {"loop", ELOOP, ELOOP},   {"dirlink/file", ELOOP, 0},
                 {"a/../a/file", EXDEV, 0}, {"..", EXDEV, EXDEV},  {"a/deep", ELOOP, EXDEV},
                 {"gone", ENOENT, ENOENT}, {"/etc/passwd", EXDEV, EXDEV}};
    for (const bool walk : {false, true}) {
        cloneutil::resolveByWalkOnly(walk);
        for (const auto& c : cases) {
            for (const auto allowed : {cloneutil::Links::None, cloneutil::Links::Beneath}) {
                SCOPED_TRACE(std::string(c.path) + (walk ? " walked" : "") + (allowed == cloneutil::Links::None ? "" : " beneath"));
                const int expected = allowed == cloneutil::Links::None ? c.none : c.beneath;
                errno = 0;
                const cloneutil::Fd fd = cloneutil::openBelow(dir.get(), c.path, O_RDONLY, allowed);
                EXPECT_EQ(fd.valid() ? 0 : errno, expected);
                char byte = 0;
                EXPECT_TRUE(!fd.valid() || (::read(fd.get(), &byte, 1) == 1 && byte == 'i'));
            }
        }
    }
    cloneutil::resolveByWalkOnly(false);
}

}  // namespace
