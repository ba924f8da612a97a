// Fixture for the file-copying capture helpers: a fresh device, an export tree, one manifest
// element to fill, and a way to read back what was staged (names, bytes, modes, times).
#ifndef CLONE_TESTS_CAPTURETEST_H
#define CLONE_TESTS_CAPTURETEST_H

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <tuple>
#include <vector>

#include "CloneCreator.h"
#include "DeviceTest.h"
#include "Handles.h"
#include "XmlTree.h"

namespace clonetest {

using Strings = std::vector<std::string>;

const std::string kExportData = "/xpaths/tmp_cloningData/cloningExport/data/";

// Times given to source files: a fraction of a second shows whether a copy keeps whole seconds.
const time_t kSourceTime = 1500000000;

// "name" for files (with "/" for directories, "@" for links), sorted, every level below DIR.
inline Strings treeOf(const std::string& dir, const std::string& prefix = "")
{
    Strings names;
    cloneutil::Dir d(::opendir(dir.c_str()));
    for (struct dirent* e = d ? ::readdir(d.get()) : nullptr; e != nullptr; e = ::readdir(d.get())) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st;
        ::lstat((dir + "/" + name).c_str(), &st);
        if (S_ISDIR(st.st_mode)) {
            names.push_back(prefix + name + "/");
            for (const std::string& below : treeOf(dir + "/" + name, prefix + name + "/")) {
                names.push_back(below);
            }
        } else {
            names.push_back(prefix + name + (S_ISLNK(st.st_mode) ? "@" : ""));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The name of a (case, fault) parameter of a combined table: "Case_Fault".
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

    // The device file PATH with CONTENT, mode 0640 and both times at kSourceTime and a half.
    void writeSource(const std::string& devicePath, const std::string& content) const
    {
        const std::string file = path(devicePath);
        makeDirs(file.substr(0, file.rfind('/')));
        writeFile(file, content);
        ::chmod(file.c_str(), 0640);
        const struct timeval times[2] = {{kSourceTime, 500000}, {kSourceTime, 500000}};
        ::utimes(file.c_str(), times);
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

}  // namespace clonetest

#endif
