// Fixture for the capture helpers: a fresh device, an export tree, one manifest element to fill,
// and ways to read back what was staged (names, bytes, modes, times).
#ifndef CLONE_TESTS_CAPTURETEST_H
#define CLONE_TESTS_CAPTURETEST_H

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "CloneCreator.h"
#include "CloneFileTestUtil.h"
#include "DeviceTest.h"
#include "Handles.h"
#include "XmlTree.h"

namespace clonetest {

using Strings = std::vector<std::string>;

const std::string kExportData = "/xpaths/tmp_cloningData/cloningExport/data/";

// Times given to source files: a fraction of a second shows whether a copy keeps whole seconds.
const time_t kSourceTime = 1500000000;

inline Strings sorted(Strings v)
{
    std::sort(v.begin(), v.end());
    return v;
}

inline std::string text(xmlNodePtr node)
{
    cloneutil::XmlChar content(xmlNodeGetContent(node));
    return content ? reinterpret_cast<const char*>(content.get()) : "";
}

// "name" for files (with "/" for directories, "@" for links), sorted, every level below DIR.
inline Strings treeOf(std::string dir)
{
    namespace fs = std::filesystem;
    dir += dir.back() == '/' ? "" : "/";
    Strings names;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
        const fs::file_type type = e.symlink_status().type();
        names.push_back(e.path().string().substr(dir.size()) + (type == fs::file_type::directory ? "/"
                                                                : type == fs::file_type::symlink ? "@"
                                                                                                 : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
}

template <typename Tuple>
std::string caseAndFaultName(const testing::TestParamInfo<Tuple>& info)
{
    return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
}

class CaptureTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        makeDirs(path(kExportData));
        xmlDocSetRootElement(doc.get(), xmlNewNode(nullptr, reinterpret_cast<const xmlChar*>("node")));
        clearLog();
    }

    xmlNodePtr node() const { return xmlDocGetRootElement(doc.get()); }
    std::string outline() const { return xmlOutline(doc.get()); }
    bool_t run(CloneCreator::Helper helper) { return (creator.*helper)(node()); }
    void removeTree(const std::string& devicePath) const { std::filesystem::remove_all(path(devicePath)); }
    Strings stagedTree(const std::string& dir) const
    {
        return exists(path(dir)) ? treeOf(path(dir)) : Strings{"<none>"};
    }

    // The device file PATH with CONTENT, mode 0640 and both times at kSourceTime and a half.
    void writeSource(const std::string& devicePath, const std::string& content) const
    {
        const std::string file = path(devicePath);
        makeDirs(file.substr(0, file.rfind('/')));
        writeFile(file, content);
        ::chmod(file.c_str(), 0640);
        const struct timespec times[2] = {{kSourceTime, 500000000}, {kSourceTime, 500000000}};
        ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    }

    // The staged file has the bytes and mode of a file that writeSource made, and its times to the
    // whole second (cp -p keeps the fraction, xcopyp drops it).
    void expectKept(const std::string& stagedDevicePath, const std::string& content) const
    {
        const std::string file = path(stagedDevicePath);
        EXPECT_EQ(readFile(file), content) << stagedDevicePath;
        struct stat st;
        ASSERT_EQ(::stat(file.c_str(), &st), 0) << stagedDevicePath;
        EXPECT_EQ(st.st_mode & 07777, 0640u) << stagedDevicePath;
        EXPECT_EQ(st.st_mtim.tv_sec, kSourceTime) << stagedDevicePath;
    }

    CloneCreator creator{const_cast<char*>("/tmp")};
    cloneutil::XmlDoc doc{xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"))};
};

// A helper that copies one device file (or the directory that holds it) into a staging directory
// that another capture may share.
struct CopyCase {
    const char* name;
    CloneCreator::Helper helper;
    std::string source;   // the device file
    std::string dir;      // the staging directory, below the export data
    std::string staged;   // where the source lands, below the staging directory
    std::string named;    // the element's text
    std::string failure;  // INFO of a failed copy
    bool copiesTree;      // the source's directory is copied whole, so a directory in its place too
};

enum class CopyFault { None, BesideAnother, Missing, MissingBesideAnother, SourceIsDirectory, FileInTheWay };

struct CopyFaultRow {
    const char* name;
    CopyFault fault;
};

inline void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }
inline void PrintTo(const CopyFaultRow& c, std::ostream* os) { *os << c.name; }

// What each helper copies, stages and logs; the shared faults take one path for each way of
// copying, so they are tried once for each.
const CopyFaultRow kCopyFaults[] = {
    {"Works", CopyFault::None}, {"Missing", CopyFault::Missing}, {"FileInTheWay", CopyFault::FileInTheWay}};
const CopyFaultRow kSharedCopyFaults[] = {{"BesideAnotherCapture", CopyFault::BesideAnother},
                                          {"MissingBesideAnotherCapture", CopyFault::MissingBesideAnother},
                                          {"SourceIsDirectory", CopyFault::SourceIsDirectory}};

class CopyCaseTest : public CaptureTest, public testing::WithParamInterface<std::tuple<CopyCase, CopyFaultRow>> {
protected:
    // The file is staged with its bytes, mode and time and the element names it; or the element
    // stays empty and nothing is left that the manifest does not name, while what another capture
    // (or something else) put there stays.
    void expectStagedOrNothing()
    {
        const CopyCase& c = std::get<0>(GetParam());
        const CopyFault f = std::get<1>(GetParam()).fault;
        const std::string dir = kExportData + c.dir + "/";
        const std::string bytes = "bytes of " + c.source + std::string("\0\377", 2);
        const bool beside = f == CopyFault::BesideAnother || f == CopyFault::MissingBesideAnother;
        if (f == CopyFault::SourceIsDirectory) {
            makeDirs(path(c.source + "/inner"));
        } else if (f != CopyFault::Missing && f != CopyFault::MissingBesideAnother) {
            writeSource(c.source, bytes);
        }
        if (beside) {
            writeSource(dir + "earlier", "kept");
        } else if (f == CopyFault::FileInTheWay) {
            writeFile(path(kExportData + c.dir), "kept");
        }

        const bool copied = f == CopyFault::None || f == CopyFault::BesideAnother;
        const bool staged = copied || (f == CopyFault::SourceIsDirectory && c.copiesTree);
        EXPECT_EQ(run(c.helper), staged ? TRUE : FALSE);
        EXPECT_EQ(outline(), staged ? "node: " + c.named + "\n" : "node\n");
        const bool inTheWay = f == CopyFault::FileInTheWay;
        EXPECT_EQ(messages("ERROR"), inTheWay ? Strings{"Creating " + dir + " is failed"} : Strings{});
        EXPECT_EQ(messages("INFO"), staged || inTheWay ? Strings{} : Strings{c.failure});
        if (copied) {
            expectKept(dir + c.staged, bytes);
        } else if (staged) {
            EXPECT_TRUE(exists(path(dir + c.staged + "/inner")));
        }
        if (inTheWay) {
            EXPECT_EQ(readFile(path(kExportData + c.dir)), "kept");
        } else if (beside) {
            EXPECT_EQ(readFile(path(dir + "earlier")), "kept");
        }
        if (!staged && !inTheWay) {
            EXPECT_EQ(stagedTree(dir), beside ? Strings{"earlier"} : Strings{"<none>"});
        }
    }
};

// A helper that has a device tool write one file into a staging directory of its own.
struct ToolCase {
    const char* name;
    CloneCreator::Helper helper;
    std::string call;      // the tool's tools.log line, "@" standing for the device root
    std::string dir;       // the staging directory, below the export data
    std::string named;     // the staged file as the element names it
    std::string child;     // the element that names it, below the node; "": the node itself
    std::string bytes;     // what the tool stages when it works
    std::string dirError;  // when the staging directory cannot be made
    std::string failure;   // INFO when nothing was captured
    // A database dump: its status decides (so an empty dump is one), it is staged with mode 0755,
    // and a staging directory already there belongs to an earlier capture.
    bool dump;
};

enum class ToolFault { None, Empty, Fails, Hangs, DirectoryExists, FileInTheWay };

struct ToolFaultRow {
    const char* name;
    ToolFault fault;
    const char* mode;  // sim.tool.TOOL
};

inline void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.name; }
inline void PrintTo(const ToolFaultRow& c, std::ostream* os) { *os << c.name; }

// As for the copies: each helper's own rows, and the shared faults on one helper of each shape.
// Empty output is each helper's own: whether its status or its output decides is a row of data.
const ToolFaultRow kToolFaults[] = {{"Works", ToolFault::None, ""},
                                   {"Fails", ToolFault::Fails, "fail"},
                                   {"FileInTheWay", ToolFault::FileInTheWay, ""},
                                   {"Empty", ToolFault::Empty, "empty"}};
// A tool that hangs has written part of its output when it is stopped.
const ToolFaultRow kSharedToolFaults[] = {{"Hangs", ToolFault::Hangs, "hang"},
                                          {"DirectoryExists", ToolFault::DirectoryExists, ""}};

class ToolCaseTest : public CaptureTest, public testing::WithParamInterface<std::tuple<ToolCase, ToolFaultRow>> {
protected:
    // What the tool wrote is staged whole and named; or the element stays empty and neither the
    // leftover of a failed run nor its directory reaches the archive, while what was there stays.
    void expectWholeOutputOrNothing()
    {
        const ToolCase& c = std::get<0>(GetParam());
        const ToolFaultRow& f = std::get<1>(GetParam());
        const std::string dir = kExportData + c.dir + "/";
        setAttribute("sim.tool." + c.call.substr(0, c.call.find(' ')), f.mode);
        if (f.fault == ToolFault::DirectoryExists) {
            writeSource(dir + "earlier", "kept");
        } else if (f.fault == ToolFault::FileInTheWay) {
            writeFile(path(kExportData + c.dir), "kept");
        }

        const bool ran = f.fault != ToolFault::FileInTheWay && (f.fault != ToolFault::DirectoryExists || !c.dump);
        const bool hangs = f.fault == ToolFault::Hangs;
        const bool staged =
            ran && f.fault != ToolFault::Fails && !hangs && (f.fault != ToolFault::Empty || c.dump);
        const ScopedEnv limit("CLONE_COMMAND_TIME_LIMIT", "1");
        EXPECT_EQ(run(c.helper), staged ? TRUE : FALSE);
        std::string call = c.call;
        if (call.find('@') != std::string::npos) {
            call.replace(call.find('@'), 1, root());
        }
        EXPECT_EQ(toolCalls(), ran ? Strings{call} : Strings{});
        const std::string named = c.child.empty() ? "node: " + c.named : "node\n  " + c.child + ": " + c.named;
        EXPECT_EQ(outline(), (staged ? named : "node") + "\n");
        if (hangs) {
            ASSERT_EQ(messages("ERROR").size(), 1u);
            EXPECT_EQ(messages("ERROR")[0].rfind("Command stopped after 1 s: ", 0), 0u) << messages("ERROR")[0];
        } else {
            EXPECT_EQ(messages("ERROR"), ran ? Strings{} : Strings{c.dirError});
        }
        EXPECT_EQ(messages("INFO"), staged || !ran ? Strings{} : Strings{c.failure});
        if (staged) {
            const std::string file = path(CLONE_EXPORT_TREE + c.named);
            EXPECT_EQ(readFile(file), f.fault == ToolFault::Empty ? "" : c.bytes);
            struct stat st;
            ASSERT_EQ(::stat(file.c_str(), &st), 0);
            EXPECT_TRUE(!c.dump || (st.st_mode & 07777) == 0755) << std::oct << st.st_mode;
        }
        if (f.fault == ToolFault::FileInTheWay) {
            EXPECT_EQ(readFile(path(kExportData + c.dir)), "kept");
        } else if (f.fault == ToolFault::DirectoryExists) {
            EXPECT_EQ(readFile(path(dir + "earlier")), "kept");
        } else if (!staged) {
            // Nothing of a failed or stopped run stays; the address book's folder does, for the
            // certificates staged below it.
            EXPECT_EQ(exists(path(dir)), c.dump && c.dir == "addressBook");
            EXPECT_FALSE(exists(path(CLONE_EXPORT_TREE + c.named)));
        }
    }
};

// Every case of CASES with FAULTS, and the cases given last with SHARED_FAULTS: faults that take
// one code path for every helper of a shape are tried once per shape.
#define CLONE_CASES_WITH_FAULTS(Name, Test, cases, faults, sharedFaults, ...)                                       \
    INSTANTIATE_TEST_SUITE_P(Name, Test, testing::Combine(testing::ValuesIn(cases), testing::ValuesIn(faults)),       \
                             caseAndFaultName<Test::ParamType>);                                                     \
    INSTANTIATE_TEST_SUITE_P(Shared##Name, Test,                                                                     \
                             testing::Combine(testing::Values(__VA_ARGS__), testing::ValuesIn(sharedFaults)),        \
                             caseAndFaultName<Test::ParamType>)

}  // namespace clonetest

#endif
