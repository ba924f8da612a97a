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

using clonetest::DeviceTest;
using clonetest::exists;
using clonetest::makeDirs;
using clonetest::readFile;
using clonetest::writeFile;

class StandinTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        writeFile(path("/config/attributes"),
                  "# comment=ignored\n\nplain=value\nwithEquals=a=b\nempty=\ntwice=first\ntwice=second\n"
                  "long=0123456789\nb.TRUE=TRUE\nb.true=true\nb.one=1\nb.FALSE=FALSE\nb.false=false\nb.zero=0\n"
                  "b.yes=yes\nb.True=True\nnoequals\n");
    }
};

// The last line of a name wins; "=" may be part of the value; a value is cut to the buffer; a
// boolean is only TRUE/true/1 or FALSE/false/0, and the output is untouched otherwise.
TEST_F(StandinTest, AttributeValues)
{
    const struct {
        const char* name;
        bool found;
        const char* value;
    } values[] = {{"plain", true, "value"}, {"withEquals", true, "a=b"}, {"empty", true, ""},
                  {"twice", true, "second"}, {"missing", false, ""},   {"# comment", false, ""},
                  {"noequals", false, ""},   {"plai", false, ""},       {"", false, ""}};
    for (const auto& c : values) {
        char buffer[1064];
        std::memset(buffer, 'x', sizeof buffer - 1);
        buffer[sizeof buffer - 1] = '\0';
        EXPECT_EQ(Cfg_GetAttrValue(c.name, buffer, sizeof buffer) == 0, c.found) << c.name;
        if (c.found) {
            EXPECT_STREQ(buffer, c.value) << c.name;
        }
    }
    char small[5];
    ASSERT_EQ(Cfg_GetAttrValue("long", small, sizeof small), 0);
    EXPECT_STREQ(small, "0123");

    const struct {
        const char* name;
        bool found;
        bool_t value;
    } bools[] = {{"b.TRUE", true, 1},  {"b.true", true, 1},   {"b.one", true, 1},    {"b.FALSE", true, 0},
                 {"b.false", true, 0}, {"b.zero", true, 0},   {"b.yes", false, 42},  {"b.True", false, 42},
                 {"missing", false, 42}};
    for (const auto& c : bools) {
        bool_t v = 42;
        EXPECT_EQ(Cfg_GetBoolAttrValue(c.name, &v) == 0, c.found) << c.name;
        EXPECT_EQ(v, c.value) << c.name;
    }

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
    ASSERT_EQ(std::system(("rm -rf '" + path("/var") + "'").c_str()), 0);
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

// A certificate made once by the openssl command; its subject hash is what openssl prints.
TEST_F(StandinTest, CertificateHashNameMatchesOpenssl)
{
    const std::string key = path("/k.pem"), cert = path("/c.pem");
    const std::string make = "openssl req -x509 -newkey ed25519 -nodes -keyout '" + key + "' -out '" + cert +
                             "' -subj /CN=clone-test -days 1 >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) {
        GTEST_SKIP() << "no openssl command to make a certificate";
    }
    const std::string hashCmd = "openssl x509 -hash -noout -in '" + cert + "' > '" + path("/hash") + "'";
    ASSERT_EQ(std::system(hashCmd.c_str()), 0);
    std::string expected = readFile(path("/hash"));
    expected.erase(expected.find_last_not_of("\n") + 1);

    char name[32];
    get_certHashName(cert.c_str(), name);
    EXPECT_EQ(std::string(name), expected);
    EXPECT_EQ(std::strlen(name), 8u);

    std::memset(name, 'x', sizeof name);
    get_certHashName(key.c_str(), name);
    EXPECT_STREQ(name, "") << "not a certificate";
    std::memset(name, 'x', sizeof name);
    get_certHashName(path("/missing.pem").c_str(), name);
    EXPECT_STREQ(name, "");
}

// ---- special files ----

struct SpecialFileCase {
    const char* name;
    const char* devicePath;  // what becomes the special file
    bool fifo;               // else a link to a device whose reads block
    // Calls the stand-in that reads the file; true when it refused.
    std::function<bool(const std::string& root)> refused;
    bool logs;  // the refusal is also logged
};
CLONE_PRINT_BY_NAME(SpecialFileCase)

class SpecialFileTest : public StandinTest, public ::testing::WithParamInterface<SpecialFileCase> {};

// Every file a stand-in reads must be a regular file: opening or reading a FIFO or a device could
// wait for ever, so it is refused at once.
TEST_P(SpecialFileTest, RefusedWithoutWaiting)
{
    const SpecialFileCase& c = GetParam();
    const std::string file = path(c.devicePath);
    makeDirs(file.substr(0, file.rfind('/')));
    ::unlink(file.c_str());
    if (c.fifo) {
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    } else if (!exists("/dev/ptmx")) {
        GTEST_SKIP() << "no /dev/ptmx here";
    } else {
        ASSERT_EQ(::symlink("/dev/ptmx", file.c_str()), 0);
    }
    const std::string deviceRoot = root();
    EXPECT_EQ(clonetest::exitCodeWithin(10, [&c, &deviceRoot] { return c.refused(deviceRoot) ? 1 : 0; }), 1);
    if (c.logs) {
        bool named = false;
        for (const std::string& m : messages("ERROR")) {
            named = named || m.find(file + ": not a regular file") != std::string::npos;
        }
        EXPECT_TRUE(named) << "no clear record of the refusal";
    }
}

bool attributeRefused(const std::string&)
{
    char buffer[16];
    return Cfg_GetAttrValue("plain", buffer, sizeof buffer) != 0;
}

bool handlerRefused(const std::string& root)
{
    std::string out = root + "/out";
    CloneMaker maker;
    return maker.cloneHandler(&out[0], "clone", "cloning") == FALSE;
}

INSTANTIATE_TEST_SUITE_P(
    Files, SpecialFileTest,
    ::testing::Values(
        SpecialFileCase{"attributesFifo", "/config/attributes", true, attributeRefused, false},
        SpecialFileCase{"passwordFifo", "/config/clone_password", true,
                        [](const std::string&) { return CloneMaker().Process_Authentication_DLM("clone-demo") != 0; },
                        true},
        SpecialFileCase{"signingKeyDevice", "/config/clone_signing_key.pem", false, handlerRefused, true},
        SpecialFileCase{"archiveFifo", "/out/cloning.tar", true, handlerRefused, true},
        SpecialFileCase{"certificateFifo", "/cert.pem", true,
                        [](const std::string& root) {
                            char name[32] = "x";
                            get_certHashName((root + "/cert.pem").c_str(), name);
                            return name[0] == '\0';
                        },
                        false}),
    clonetest::RowName());

}  // namespace
