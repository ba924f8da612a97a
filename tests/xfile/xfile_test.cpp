// File utilities: status codes, modes, times and the edge cases callers rely on.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "DeviceTest.h"
#include "xfile.h"

namespace {

using clonetest::exists;
using clonetest::readFile;
using clonetest::writeFile;

class XfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/xfile.XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        dir_ = templ;
        oldUmask_ = ::umask(022);
    }
    void TearDown() override
    {
        ::umask(oldUmask_);
        const std::string command = "chmod -R u+rwx '" + dir_ + "'; rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    std::string p(const std::string& name) const { return dir_ + "/" + name; }
    static char* c(std::string& s) { return &s[0]; }
    static mode_t modeOf(const std::string& path)
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }

    std::string dir_;
    mode_t oldUmask_ = 022;
};

// Content larger than one 8192-byte chunk, and not a multiple of it.
std::string bigContent()
{
    std::string s;
    for (int i = 0; i < 20000; ++i) {
        s += static_cast<char>('a' + i % 26);
    }
    return s;
}

struct CopyCase {
    const char* name;
    std::string source;       // content, or "<none>" for a missing source
    std::string destination;  // existing content, or "<none>"
    bool destDirMissing;
    status_t xcopyStatus;
    std::string afterXcopy;
    std::string afterXappend;
};

class CopyTest : public XfileTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(CopyTest, XcopyAndXappend)
{
    const CopyCase& tc = GetParam();
    for (int appendMode = 0; appendMode < 2; ++appendMode) {
        std::string src = p("src");
        std::string dest = tc.destDirMissing ? p("missing/dest") : p("dest");
        ::unlink(src.c_str());
        ::unlink(dest.c_str());
        if (tc.source != "<none>") {
            writeFile(src, tc.source);
        }
        if (tc.destination != "<none>" && !tc.destDirMissing) {
            writeFile(dest, tc.destination);
        }
        const status_t status = appendMode ? xappend(c(src), c(dest)) : xcopy(c(src), c(dest));
        EXPECT_EQ(status, tc.xcopyStatus) << (appendMode ? "xappend" : "xcopy");
        const std::string& expected = appendMode ? tc.afterXappend : tc.afterXcopy;
        if (expected == "<none>") {
            EXPECT_FALSE(exists(dest)) << (appendMode ? "xappend" : "xcopy");
        } else {
            EXPECT_EQ(readFile(dest), expected) << (appendMode ? "xappend" : "xcopy");
        }
        if (tc.source != "<none>") {
            EXPECT_EQ(readFile(src), tc.source) << "source must stay untouched";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Status, CopyTest,
    ::testing::Values(
        CopyCase{"EmptySource", "", "<none>", false, 0, "", ""},
        CopyCase{"ReplacesOrAppends", "new", "old-longer", false, 0, "new", "old-longernew"},
        CopyCase{"LargerThanOneChunk", bigContent(), "<none>", false, 0, bigContent(), bigContent()},
        CopyCase{"ExactlyOneChunk", std::string(8192, 'x'), "", false, 0, std::string(8192, 'x'),
                 std::string(8192, 'x')},
        CopyCase{"MissingSource", "<none>", "keep", false, XFILE_EOPEN, "keep", "keep"},
        CopyCase{"DestinationDirectoryMissing", "data", "<none>", true, XFILE_EOPEN, "<none>", "<none>"}),
    [](const ::testing::TestParamInfo<CopyCase>& info) { return std::string(info.param.name); });

TEST_F(XfileTest, XcopyCreatesWithMode0644LessUmask)
{
    std::string src = p("src"), dest = p("dest");
    writeFile(src, "x");
    ::chmod(src.c_str(), 0700);
    ::umask(027);
    ASSERT_EQ(xcopy(c(src), c(dest)), 0);
    EXPECT_EQ(modeOf(dest), 0640u);
}

TEST_F(XfileTest, XcopyFromADirectoryIsAReadFailureFromAFifoAnOpenFailure)
{
    std::string src = dir_, dest = p("dest");
    EXPECT_EQ(xcopy(c(src), c(dest)), XFILE_EREAD);
    // A writer never comes: the copy must not wait for one.
    std::string fifo = p("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(xcopy(c(fifo), c(dest)), XFILE_EOPEN);
}

TEST_F(XfileTest, XcopyToAFullDeviceIsAWriteFailure)
{
    if (!exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this machine";
    }
    std::string src = p("src"), dest = "/dev/full";
    writeFile(src, "some bytes");
    EXPECT_EQ(xcopy(c(src), c(dest)), XFILE_EWRITE);
}

TEST_F(XfileTest, XcopypKeepsModeAndTimesToTheSecond)
{
    std::string src = p("src"), dest = p("dest");
    writeFile(src, "payload");
    ::chmod(src.c_str(), 0751);
    struct timeval times[2] = {{1000000000, 700000}, {1200000000, 900000}};
    ASSERT_EQ(::utimes(src.c_str(), times), 0);

    ASSERT_EQ(xcopyp(c(src), c(dest)), 0);

    // Reading the source may refresh its access time; the copy gets the time the source has then.
    struct stat source, st;
    ASSERT_EQ(::stat(src.c_str(), &source), 0);
    ASSERT_EQ(::stat(dest.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(st.st_atim.tv_sec, source.st_atim.tv_sec);
    EXPECT_EQ(st.st_atim.tv_nsec, 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
    EXPECT_EQ(readFile(dest), "payload");
}

TEST_F(XfileTest, XcopypPassesCopyFailuresOnUnchanged)
{
    std::string src = p("none"), dest = p("dest");
    EXPECT_EQ(xcopyp(c(src), c(dest)), XFILE_EOPEN);
}

TEST_F(XfileTest, XmkdirCreatesParentsWith0777AndTheLastWithMode)
{
    ASSERT_EQ(::chdir(dir_.c_str()), 0);
    std::string path = "a/b/c";
    ::umask(0);
    EXPECT_EQ(xmkdir(c(path), 0750), 0);
    EXPECT_EQ(modeOf(p("a")), 0777u);
    EXPECT_EQ(modeOf(p("a/b")), 0777u);
    EXPECT_EQ(modeOf(p("a/b/c")), 0750u);
    ::chmod(p("a/b/c").c_str(), 0700);
    EXPECT_EQ(xmkdir(c(path), 0755), 0) << "a second call succeeds";
    EXPECT_EQ(modeOf(p("a/b/c")), 0700u) << "an existing directory keeps its mode";
}

struct MkdirCase {
    const char* name;
    const char* relative;  // under the test directory; "" / "/" are used as they stand
    int result;
};

class XmkdirTest : public XfileTest, public ::testing::WithParamInterface<MkdirCase> {
protected:
    void SetUp() override
    {
        XfileTest::SetUp();
        writeFile(p("file"), "");
    }
};

TEST_P(XmkdirTest, Result)
{
    const std::string rel = GetParam().relative;
    std::string path = (rel.empty() || rel == "/") ? rel : dir_ + "/" + rel;
    EXPECT_EQ(xmkdir(c(path), 0755), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, XmkdirTest,
    ::testing::Values(MkdirCase{"EmptyPath", "", -1}, MkdirCase{"Root", "/", -1},
                      MkdirCase{"LastComponentIsAFile", "file", 0},
                      MkdirCase{"MiddleComponentIsAFile", "file/sub", -1},
                      MkdirCase{"DoubledAndTrailingSlashes", "x//y/", 0}, MkdirCase{"ThreeNewLevels", "n/e/w", 0}),
    [](const ::testing::TestParamInfo<MkdirCase>& info) { return std::string(info.param.name); });

TEST_F(XfileTest, XmkdirRefusesPathsLongerThanItsBuffers)
{
    std::string path = dir_ + "/" + std::string(5000, 'a');
    EXPECT_EQ(xmkdir(c(path), 0755), -1);
}

TEST_F(XfileTest, FexistsTreatsOnlyMissingAsAbsent)
{
    std::string empty;
    EXPECT_EQ(fexists(c(empty)), 0);
    std::string missing = p("missing");
    EXPECT_EQ(fexists(c(missing)), 0);
    std::string here = dir_;
    EXPECT_EQ(fexists(c(here)), 1);
    writeFile(p("file"), "");
    std::string underFile = p("file/x");
    EXPECT_EQ(fexists(c(underFile)), 1) << "ENOTDIR is not 'absent'";
    std::string tooLong = p(std::string(300, 'a'));
    EXPECT_EQ(fexists(c(tooLong)), 1) << "ENAMETOOLONG is not 'absent'";
}

TEST_F(XfileTest, FexistsBelowAnUnsearchableDirectoryIsTrue)
{
    if (::geteuid() == 0) {
        // root searches every directory; drop to another user only for this check
        GTEST_SKIP() << "permissions are not enforced for root";
    }
    ::mkdir(p("locked").c_str(), 0700);
    writeFile(p("locked/f"), "");
    ::chmod(p("locked").c_str(), 0);
    std::string path = p("locked/whatever");
    EXPECT_EQ(fexists(c(path)), 1);
}

struct StrnextCase {
    const char* name;
    const char* input;
    bool token;  // false: a null result
    const char* expectedToken;
    const char* rest;
};

class StrnextTest : public ::testing::TestWithParam<StrnextCase> {};

TEST_P(StrnextTest, MovesTheFirstTokenOut)
{
    char main[64];
    std::strcpy(main, GetParam().input);
    char buffer[64] = "untouched";
    char* result = strnext(main, '/', buffer);
    if (!GetParam().token) {
        EXPECT_EQ(result, nullptr);
        EXPECT_STREQ(buffer, "untouched");
        return;
    }
    EXPECT_EQ(result, buffer);
    EXPECT_STREQ(buffer, GetParam().expectedToken);
    EXPECT_STREQ(main, GetParam().rest);
}

INSTANTIATE_TEST_SUITE_P(Tokens, StrnextTest,
                         ::testing::Values(StrnextCase{"Middle", "abc/def", true, "abc", "def"},
                                           StrnextCase{"LeadingDelimiter", "/x", true, "", "x"},
                                           StrnextCase{"NoDelimiter", "abc", true, "abc", ""},
                                           StrnextCase{"OnlyOneDelimiterDropped", "a//b", true, "a", "/b"},
                                           StrnextCase{"Empty", "", false, "", ""}),
                         [](const ::testing::TestParamInfo<StrnextCase>& info) { return std::string(info.param.name); });

TEST_F(XfileTest, IreadAndIwriteMoveWholeBuffers)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    char out[5] = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(iwrite(fds[1], out, 0), 0);
    EXPECT_EQ(iwrite(fds[1], out, 5), 5);
    ::close(fds[1]);
    char in[16] = {};
    EXPECT_EQ(iread(fds[0], in, 0), 0);
    EXPECT_EQ(iread(fds[0], in, sizeof in), 5) << "stops at end of file";
    EXPECT_EQ(std::string(in, 5), "hello");
    ::close(fds[0]);
    EXPECT_EQ(iread(fds[0], in, 1), -1) << "a failed read";
    EXPECT_EQ(iwrite(fds[1], out, 1), -1) << "a failed write";
}

}  // namespace
