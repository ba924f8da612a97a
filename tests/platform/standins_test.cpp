// The host stand-ins of the device services keep the contract the library is built against, where
// the library's own tests would not notice a break (the path service and certificates' hash names
// they do).
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>
#include <unistd.h>

#include "CloneFileTestUtil.h"
#include "DeviceTest.h"
#include "cfg_attr.h"
#include "device_log.h"

namespace {

using namespace clonetest;

class StandinTest : public DeviceTest {};

// The last line of a name wins (the fixture appends attributes); "=" may be part of the value; a
// value is cut to the buffer; a boolean is only TRUE/true/1 or FALSE/false/0, the output untouched
// otherwise.
TEST_F(StandinTest, AttributeValues)
{
    writeFile(path("/config/attributes"), "# c=x\nplain=value\nwithEquals=a=b\ntwice=first\ntwice=second\n"
                                          "long=0123456789\nb.TRUE=TRUE\nb.one=1\nb.FALSE=FALSE\nb.yes=yes\n");
    const struct {
        const char* name;
        const char* value;  // null: not found
        bool_t boolean;     // 42: refused as a boolean
    } cases[] = {{"plain", "value", 42}, {"withEquals", "a=b", 42}, {"twice", "second", 42}, {"missing", nullptr, 42},
                 {"# c", nullptr, 42},   {"b.TRUE", "TRUE", 1},     {"b.one", "1", 1},        {"b.FALSE", "FALSE", 0},
                 {"b.yes", "yes", 42}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char buffer[1064] = {};
        EXPECT_EQ(Cfg_GetAttrValue(c.name, buffer, sizeof buffer) == 0, c.value != nullptr);
        EXPECT_STREQ(buffer, c.value != nullptr ? c.value : "");
        bool_t v = 42;
        EXPECT_EQ(Cfg_GetBoolAttrValue(c.name, &v) == 0, c.boolean != 42);
        EXPECT_EQ(v, c.boolean);
    }
    char small[5];
    ASSERT_EQ(Cfg_GetAttrValue("long", small, sizeof small), 0);
    EXPECT_STREQ(small, "0123");
}

// One line per entry with the record name of its level, the time, process and export, the
// source's base name and the message with its line breaks and backslashes escaped; the log folder
// is made when missing. Trace records only with CLONE_LOG_TRACE=1; the entry record of
// createCloneDLM starts the next export, written or not. (The other records' names matter where
// the library's tests read them, and are checked there.)
TEST_F(StandinTest, LogEntriesAreOneLineEach)
{
    ASSERT_EQ(std::system(("rm -rf " + quoted(path("/var"))).c_str()), 0);
    Log_SpecEntry(&logSpecError, "/some/dir/file.cpp", 42, "value %d and %s", 7, "text");
    Log_SpecEntry(&logSpecInfo, "x.cpp", 1, "two\nlines \\ and a\ttab");
    Log_SpecEntry(&logSpecEnter, "x.cpp", 2, "notTraced()");
    Log_SpecEntry(&logSpecLibEnter, "x.cpp", 3, "createCloneDLM");
    {
        const ScopedEnv trace("CLONE_LOG_TRACE", "1");
        Log_SpecEntry(&logSpecReturn, "x.cpp", 4, "traced()");
    }
    const std::regex context("\t\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z pid=" +
                             std::to_string(::getpid()) + " export=(\\d+)\t");
    const std::string log = readFile(path("/var/log/clone.log"));
    std::vector<unsigned long> exports;
    for (std::sregex_iterator it(log.begin(), log.end(), context), end; it != end; ++it) {
        exports.push_back(std::stoul((*it)[1]));
    }
    ASSERT_EQ(exports.size(), 3U) << log;
    EXPECT_EQ(exports, (std::vector<unsigned long>{exports[0], exports[0], exports[0] + 1}));
    EXPECT_EQ(std::regex_replace(log, context, "\t"),
              "ERROR\tfile.cpp:42\tvalue 7 and text\nINFO\tx.cpp:1\ttwo\\nlines \\\\ and a\ttab\n"
              "RETURN\tx.cpp:4\ttraced()\n");
}

}  // namespace
