// Fixture for whole exports on the sample device with its plug-ins, seen as the receiving side
// sees them (through the clonefile command).
#ifndef CLONE_TESTS_EXPORTTEST_H
#define CLONE_TESTS_EXPORTTEST_H

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CloneFileTestUtil.h"
#include "ClonefileCommand.h"
#include "CloningExportPortal.h"
#include "DeviceTest.h"
#include "XmlTree.h"
#include "cloneCreator.h"

namespace clonetest {

// What an export leaves in the staging directory.
const std::vector<std::string> kStagingLeft = {".cloneCreator.lock", "cfg_attr_list"};

inline bool contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

inline std::vector<std::string> sortedDir(const std::string& dir)
{
    std::vector<std::string> names = listDir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// The element name of an outline line.
inline std::string elementName(const std::string& line)
{
    const std::size_t start = line.find_first_not_of(' ');
    return line.substr(start, line.find_first_of("[:", start) - start);
}

class ExportTest : public DeviceTest {
protected:
    bool bareDevice() const override { return false; }
    bool withPlugins() const override { return true; }

    void SetUp() override
    {
        // The portal and the clone type outlive every export of a process; each test starts as
        // a freshly loaded library does, whichever tests ran before it in the same program.
        cloneutil::cloningPortal().GetPluginMap().clear();
        srtCloneSelfType.clear();
        DeviceTest::SetUp();
        makeDirs(root() + "/io");
        // Something in the plug-ins' name spaces, a later value that wins and a neighbour not theirs.
        setAttribute("media.custom.1.name", "Cardstock");
        setAttribute("media.custom.1.weight", "176");
        setAttribute("media.custom.1.weight", "220");
        setAttribute("mediaTray.1.size", "A4");
        setAttribute("fdi.vendor.id", "0x1A2B");
        setAttribute("fdi.device.interfaceEnabled", "TRUE");
    }
    void TearDown() override
    {
        cloneutil::cloningPortal().GetPluginMap().clear();
        DeviceTest::TearDown();
    }

    // A null GROUPLINE: the pipeline from the manifest placed in the export tree.
    int exportTo(const std::string& outputDir, const char* groupLine)
    {
        std::string out = outputDir;
        std::string line = groupLine != nullptr ? groupLine : "";
        return createCloneDLM(&out[0], kClonePassword, groupLine != nullptr ? &line[0] : nullptr);
    }

    CommandResult clonefile(const std::vector<std::string>& args) const
    {
        return runClonefile(root() + "/io/command", args);
    }

    std::vector<std::string> members(const std::string& cloneFile) const
    {
        const CommandResult list = clonefile({"list", "--key", signingPublicKey(), cloneFile});
        EXPECT_EQ(list.status, 0) << list.err;
        return lines(list.out);
    }

    // The outline of the verified clone file's manifest (verify checks its schema). Each element's
    // text, but a version's or the serial number, names a member or a folder with members in it.
    std::string verifiedOutline(const std::string& cloneFile) const
    {
        const CommandResult verify = clonefile({"verify", "--key", signingPublicKey(), cloneFile});
        EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
        const CommandResult manifest = clonefile({"manifest", "--key", signingPublicKey(), cloneFile});
        EXPECT_EQ(manifest.status, 0) << manifest.err;
        writeFile(root() + "/io/manifest.xml", manifest.out);
        const std::string outline = xmlFileOutline(root() + "/io/manifest.xml");
        const std::vector<std::string> names = members(cloneFile);
        for (const std::string& line : lines(outline)) {
            const std::size_t text = line.find(": ");
            if (text == std::string::npos || elementName(line) == "version" || elementName(line) == "serialNumber") {
                continue;
            }
            const std::string named = "./" + line.substr(text + 2);
            const std::string folder = named.back() == '/' ? named : named + "/";
            EXPECT_TRUE(std::any_of(names.begin(), names.end(), [&](const std::string& m) {
                return m == named ||
                       (m.size() > folder.size() && m.back() != '/' && m.compare(0, folder.size(), folder) == 0);
            })) << line;
        }
        return outline;
    }
};

}  // namespace clonetest

#endif
