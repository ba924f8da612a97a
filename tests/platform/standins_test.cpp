// The host stand-ins of the device services keep the contract the library is built against.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "CloneFileTestUtil.h"
#include "CloneMaker.h"
#include "DeviceTest.h"
#include "cert_hash.h"
#include "cfg_attr.h"
#include "device_log.h"
#include "xpaths.h"

namespace {

using namespace clonetest;

class StandinTest : public DeviceTest {};

// The last line of a name wins; "=" may be part of the value; a value is cut to the buffer; a
// boolean is only TRUE/true/1 or FALSE/false/0, and the output is untouched otherwise.
TEST_F(StandinTest, AttributeValues)
{
    writeFile(path("/config/attributes"),
              "# comment=ignored\n\nplain=value\nwithEquals=a=b\nempty=\ntwice=first\ntwice=second\n"
              "long=0123456789\nb.TRUE=TRUE\nb.true=true\nb.one=1\nb.FALSE=FALSE\nb.false=false\nb.zero=0\n"
              "b.yes=yes\nb.True=True\nnoequals\n");
    const struct {
        const char* name;
        const char* value;  // null: not found
        bool_t boolean;     // 42: refused as a boolean
    } cases[] = {{"plain", "value", 42},  {"withEquals", "a=b", 42}, {"empty", "", 42},      {"twice", "second", 42},
                 {"missing", nullptr, 42}, {"# comment", nullptr, 42}, {"noequals", nullptr, 42}, {"plai", nullptr, 42},
                 {"", nullptr, 42},        {"b.TRUE", "TRUE", 1},       {"b.true", "true", 1},    {"b.one", "1", 1},
                 {"b.FALSE", "FALSE", 0},  {"b.false", "false", 0},     {"b.zero", "0", 0},       {"b.yes", "yes", 42},
                 {"b.True", "True", 42}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char buffer[1064];
        std::memset(buffer, 'x', sizeof buffer - 1);
        buffer[sizeof buffer - 1] = '\0';
        EXPECT_EQ(Cfg_GetAttrValue(c.name, buffer, sizeof buffer) == 0, c.value != nullptr);
        if (c.value != nullptr) {
            EXPECT_STREQ(buffer, c.value);
        }
        bool_t v = 42;
        EXPECT_EQ(Cfg_GetBoolAttrValue(c.name, &v) == 0, c.boolean != 42);
        EXPECT_EQ(v, c.boolean);
    }
    char small[5];
    ASSERT_EQ(Cfg_GetAttrValue("long", small, sizeof small), 0);
    EXPECT_STREQ(small, "0123");

    ::unlink(path("/config/attributes").c_str());
    EXPECT_NE(Cfg_GetAttrValue("plain", small, sizeof small), 0);
    bool_t v = 7;
    EXPECT_NE(Cfg_GetBoolAttrValue("b.TRUE", &v), 0);
    EXPECT_EQ(v, 7);
}

TEST_F(StandinTest, PathServiceMapsKeysUnderTheRoot)
{
    const char* dir = xpaths_get_path("nc_dlms_data");
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(std::string(dir), path("/xpaths/nc_dlms_data"));
    EXPECT_EQ(std::string(xpaths_get_path("not_there_9")), path("/xpaths/not_there_9")) << "existence not needed";
    for (const char* bad : {"", "a/b", "..", "a b", "a-b"}) {
        EXPECT_EQ(xpaths_get_path(bad), nullptr) << bad;
    }
    EXPECT_EQ(xpaths_get_path(nullptr), nullptr);
    EXPECT_EQ(xpaths_access(dir, "clone/data", 0), 0);
    EXPECT_EQ(xpaths_access(dir, "nothing", 0), -1);
}

// One line per entry with the record name of its level, the source's base name and the message
// with its line breaks and backslashes escaped; the log folder is made when missing.
TEST_F(StandinTest, LogEntriesAreOneLineEach)
{
    ASSERT_EQ(std::system(("rm -rf " + quoted(path("/var"))).c_str()), 0);
    Log_SpecEntry(&logSpecError, "/some/dir/file.cpp", 42, "value %d and %s", 7, "text");
    Log_SpecEntry(&logSpecInfo, "x.cpp", 1, "two\nlines \\ and a\ttab");
    for (Log_Entry_Spec_t* r : {&logSpecForceInfo, &logSpecDebug, &logSpecEnter, &logSpecReturn, &logSpecLibEnter,
                                &logSpecLibReturn}) {
        Log_SpecEntry(r, "y.cpp", 2, "%s", "m");
    }
    EXPECT_EQ(readFile(path("/var/log/clone.log")),
              "ERROR\tfile.cpp:42\tvalue 7 and text\n"
              "INFO\tx.cpp:1\ttwo\\nlines \\\\ and a\ttab\n"
              "FORCEINFO\ty.cpp:2\tm\nDEBUG\ty.cpp:2\tm\nENTER\ty.cpp:2\tm\nRETURN\ty.cpp:2\tm\n"
              "LIBENTER\ty.cpp:2\tm\nLIBRETURN\ty.cpp:2\tm\n");
}

// A certificate made once by the openssl command; its subject hash is what openssl prints. Anything
// else gets an empty name.
TEST_F(StandinTest, CertificateHashNameMatchesOpenssl)
{
    const std::string key = path("/k.pem"), cert = path("/c.pem");
    if (std::system(("openssl req -x509 -newkey ed25519 -nodes -keyout " + quoted(key) + " -out " + quoted(cert) +
                     " -subj /CN=clone-test -days 1 >/dev/null 2>&1").c_str()) != 0) {
        GTEST_SKIP() << "no openssl command to make a certificate";
    }
    ASSERT_EQ(std::system(("openssl x509 -hash -noout -in " + quoted(cert) + " >" + quoted(path("/hash"))).c_str()), 0);
    char name[32];
    get_certHashName(cert.c_str(), name);
    EXPECT_EQ(std::string(name) + "\n", readFile(path("/hash")));
    for (const std::string& other : {key, path("/missing.pem")}) {
        std::memset(name, 'x', sizeof name);
        get_certHashName(other.c_str(), name);
        EXPECT_STREQ(name, "") << other;
    }
}

// Every file a stand-in reads must be a regular file: opening or reading a FIFO or a device could
// wait for ever, so it is refused at once.
TEST_F(StandinTest, SpecialFilesAreRefusedWithoutWaiting)
{
    const std::string deviceRoot = root();
    const auto handlerRefused = [deviceRoot] {
        std::string out = deviceRoot + "/out";
        return CloneMaker().cloneHandler(&out[0], "clone", "cloning") == FALSE;
    };
    const struct {
        const char* devicePath;  // what becomes the special file
        bool fifo;               // else a link to a device whose reads block
        std::function<bool()> refused;
        bool logs;  // the refusal is also logged
    } cases[] = {
        {"/config/attributes", true, [] { char b[16]; return Cfg_GetAttrValue("plain", b, sizeof b) != 0; }, false},
        {"/config/clone_password", true, [] { return CloneMaker().Process_Authentication_DLM("clone-demo") != 0; },
         true},
        {"/config/clone_signing_key.pem", false, handlerRefused, true},
        {"/out/cloning.tar", true, handlerRefused, true},
        {"/cert.pem", true,
         [deviceRoot] {
             char name[32] = "x";
             get_certHashName((deviceRoot + "/cert.pem").c_str(), name);
             return name[0] == '\0';
         },
         false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.devicePath);
        const std::string file = path(c.devicePath);
        if (!c.fifo && !exists("/dev/ptmx")) {
            continue;
        }
        const std::string saved = exists(file) ? readFile(file) : "";
        makeDirs(file.substr(0, file.rfind('/')));
        ::unlink(file.c_str());
        ASSERT_EQ(c.fifo ? ::mkfifo(file.c_str(), 0600) : ::symlink("/dev/ptmx", file.c_str()), 0);
        EXPECT_EQ(exitCodeWithin(10, [&c] { return c.refused() ? 1 : 0; }), 1);
        bool named = false;
        for (const std::string& m : messages("ERROR")) {
            named = named || m.find(file + ": not a regular file") != std::string::npos;
        }
        EXPECT_EQ(named, c.logs) << "a clear record of the refusal, where there is a log";
        ::unlink(file.c_str());
        if (!saved.empty()) {
            writeFile(file, saved);
        }
    }
}

}  // namespace
