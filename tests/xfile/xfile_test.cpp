// File utilities: status codes, modes, times and the edge cases callers rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <tuple>
#include <fcntl.h>
#include <sys/stat.h>
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
        std::filesystem::remove_all(dir_);
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

// xcopy replaces, xappend appends, xcopyp copies as xcopy does; a source that cannot be opened
// leaves the destination as it was. The source is never touched.
TEST_F(XfileTest, XcopyXcopypAndXappend)
{
    // Larger than one 8192-byte chunk and not a multiple of it, in an order a mixed-up chunk breaks.
    std::string big(20000, 'a');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>('a' + i % 26);
    }
    const struct {
        const char* name;
        std::string source;       // content, or "<none>" for a missing source
        std::string destination;  // existing content, or "<none>"
        bool destDirMissing;
        status_t status;
        std::string afterXcopy;
        std::string afterXappend;
    } cases[] = {{"EmptySource", "", "<none>", false, 0, "", ""},
                 {"ReplacesOrAppends", "new", "old-longer", false, 0, "new", "old-longernew"},
                 {"LargerThanOneChunk", big, "<none>", false, 0, big, big},
                 {"MissingSource", "<none>", "keep", false, XFILE_EOPEN, "keep", "keep"},
                 {"DestinationDirectoryMissing", "data", "<none>", true, XFILE_EOPEN, "<none>", "<none>"}};
    const std::pair<const char*, status_t (*)(char*, char*)> functions[] = {
        {"xcopy", xcopy}, {"xcopyp", xcopyp}, {"xappend", xappend}};
    for (const auto& tc : cases) {
        for (const auto& [name, copy] : functions) {
            SCOPED_TRACE(std::string(tc.name) + " " + name);
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
            EXPECT_EQ(copy(c(src), c(dest)), tc.status);
            const std::string& expected = copy == xappend ? tc.afterXappend : tc.afterXcopy;
            EXPECT_EQ(exists(dest) ? readFile(dest) : "<none>", expected);
            if (tc.source != "<none>") {
                EXPECT_EQ(readFile(src), tc.source) << "source must stay untouched";
            }
        }
    }
}

// A directory is a read failure, a FIFO an open failure (a writer never comes: the copy must not
// wait for one), a full device a write failure.
TEST_F(XfileTest, XcopyFailures)
{
    ASSERT_EQ(::mkfifo(p("fifo").c_str(), 0644), 0);
    writeFile(p("src"), "some bytes");
    for (auto [src, dest, status] : {std::make_tuple(dir_, p("dest"), XFILE_EREAD),
                                     std::make_tuple(p("fifo"), p("dest"), XFILE_EOPEN),
                                     std::make_tuple(p("src"), std::string("/dev/full"), XFILE_EWRITE)}) {
        EXPECT_EQ(xcopy(c(src), c(dest)), status) << src;
    }
}

// xcopy creates with 0644 less the umask; xcopyp keeps the mode and the times to the second.
TEST_F(XfileTest, XcopyModesAndXcopypTimes)
{
    std::string src = p("src"), dest = p("dest"), plain = p("plain");
    writeFile(src, "payload");
    ::chmod(src.c_str(), 0751);
    const struct timespec times[2] = {{1000000000, 700000000}, {1200000000, 900000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, src.c_str(), times, 0), 0);
    ::umask(027);
    ASSERT_EQ(xcopy(c(src), c(plain)), 0);
    EXPECT_EQ(modeOf(plain), 0640u);

    ASSERT_EQ(xcopyp(c(src), c(dest)), 0);
    // Reading the source may refresh its access time; the copy gets the time the source has then.
    struct stat source, st;
    ASSERT_EQ(::stat(src.c_str(), &source) | ::stat(dest.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(st.st_atim.tv_sec, source.st_atim.tv_sec);
    EXPECT_EQ(st.st_atim.tv_nsec, 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
}

// Parents get 0777 and the last directory MODE (both less the umask); then the results of odd paths.
TEST_F(XfileTest, Xmkdir)
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

    writeFile(p("file"), "");
    // Paths under the test directory; "" and "/" as they stand. A file as the last component counts
    // as made (callers check what they got); an over-long path is refused, never cut.
    const std::pair<std::string, int> cases[] = {
        {"", -1}, {"/", -1}, {"file", 0}, {"file/sub", -1}, {"x//y/", 0}, {std::string(5000, 'a'), -1}};
    for (const auto& [relative, result] : cases) {
        std::string target = (relative.empty() || relative == "/") ? relative : p(relative);
        EXPECT_EQ(xmkdir(c(target), 0755), result) << relative.substr(0, 20);
    }
}

// Only a name that is not there is absent: ENOTDIR or ENAMETOOLONG is not.
TEST_F(XfileTest, FexistsTreatsOnlyMissingAsAbsent)
{
    writeFile(p("file"), "");
    for (auto [path, found] : std::initializer_list<std::pair<std::string, int>>{
             {"", 0}, {p("missing"), 0}, {dir_, 1}, {p("file/x"), 1}, {p(std::string(300, 'a')), 1}}) {
        EXPECT_EQ(fexists(c(path)), found) << path;
    }
}

// The first token moves into the buffer and one delimiter is dropped; an empty input gives null.
TEST(StrnextTest, MovesTheFirstTokenOut)
{
    const struct {
        const char* input;
        const char* token;  // null: a null result, the buffer untouched
        const char* rest;
    } cases[] = {
        {"abc/def", "abc", "def"}, {"/x", "", "x"}, {"abc", "abc", ""}, {"a//b", "a", "/b"}, {"", nullptr, ""}};
    for (const auto& tc : cases) {
        char main[64];
        std::strcpy(main, tc.input);
        char buffer[64] = "untouched";
        char* result = strnext(main, '/', buffer);
        EXPECT_EQ(result, tc.token != nullptr ? buffer : nullptr) << tc.input;
        EXPECT_STREQ(buffer, tc.token != nullptr ? tc.token : "untouched") << tc.input;
        if (tc.token != nullptr) {
            EXPECT_STREQ(main, tc.rest) << tc.input;
        }
    }
}

}  // namespace
