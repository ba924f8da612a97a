#include "DeviceTest.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "DevicePath.h"
#include "clone_container.h"
#include "clone_password.h"

namespace clonetest {

std::string samplePluginDir() { return CLONE_SAMPLE_PLUGIN_DIR; }
std::string sourceDir() { return CLONE_SOURCE_DIR; }

void DeviceTest::SetUp()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/clonedev.XXXXXX";
    ASSERT_NE(::mkdtemp(&templ[0]), nullptr) << "cannot make a temporary device root";
    root_ = templ;
    const std::string command = std::string("'" CLONE_SOURCE_DIR "/device/mkdevice.sh' ") +
                                (bareDevice() ? "--bare " : "") +
                                (profileScale().empty() ? "" : "--profile " + profileScale() + " ") +
                                (withPlugins() ? "--plugins '" + samplePluginDir() + "' " : "") + "'" + root_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    ::setenv("CLONE_DEVICE_ROOT", root_.c_str(), 1);
    cloneutil::refreshDeviceRoot();
    // The signing library's password verifier and key; few iterations keep each test fast.
    std::string error;
    ASSERT_TRUE(clonefmt::writePasswordFile(root_ + "/config/clone_password", kClonePassword, 1000, error)) << error;
    ASSERT_TRUE(clonefmt::generateKeyPair(root_ + "/config/clone_signing_key.pem", signingPublicKey(), false, error))
        << error;
}

void DeviceTest::TearDown()
{
    if (!root_.empty() && std::getenv("CLONE_KEEP_DEVICE") == nullptr) {
        const std::string command = "chmod -R u+rwx '" + root_ + "' 2>/dev/null; rm -rf '" + root_ + "'";
        if (std::system(command.c_str()) != 0) {
            ADD_FAILURE() << "cannot remove " << root_;
        }
    }
}

std::vector<LogRecord> DeviceTest::log() const
{
    std::vector<LogRecord> records;
    for (const std::string& line : lines(readFile(path("/var/log/clone.log")))) {
        // RECORD, then time, process and export, SOURCE:LINE and the message.
        const auto tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1), tab3 = line.find('\t', tab2 + 1);
        if (tab1 == std::string::npos || tab2 == std::string::npos || tab3 == std::string::npos) {
            ADD_FAILURE() << "malformed log line: " << line;
            continue;
        }
        records.push_back({line.substr(0, tab1), line.substr(tab2 + 1, tab3 - tab2 - 1), line.substr(tab3 + 1)});
    }
    return records;
}

std::vector<std::string> DeviceTest::messages(const std::string& record) const
{
    std::vector<std::string> out;
    for (const LogRecord& r : log()) {
        if (r.record == record) {
            out.push_back(r.message);
        }
    }
    return out;
}

bool DeviceTest::logged(const std::string& record, const std::string& message) const
{
    const std::vector<std::string> all = messages(record);
    return std::count(all.begin(), all.end(), message) != 0;
}

bool DeviceTest::anyError(const std::string& prefix) const
{
    const std::vector<std::string> all = messages("ERROR");
    return std::any_of(all.begin(), all.end(), [&](const std::string& m) { return m.rfind(prefix, 0) == 0; });
}

void DeviceTest::clearLog() const
{
    ::unlink(path("/var/log/clone.log").c_str());
    ::unlink(path("/var/log/tools.log").c_str());
}

std::vector<std::string> DeviceTest::toolCalls() const
{
    return lines(readFile(path("/var/log/tools.log")));
}

void DeviceTest::setAttribute(const std::string& name, const std::string& value) const
{
    std::ofstream out(path("/config/attributes"), std::ios::app);
    out << name << '=' << value << '\n';
}

void DeviceTest::replaceTool(const std::string& devicePath, const std::string& body) const
{
    const std::string file = path(devicePath);
    writeFile(file, "#!/bin/sh\n" + body + "\n");
    ::chmod(file.c_str(), 0755);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        ADD_FAILURE() << "cannot write " << path;
    }
}

bool exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void makeDirs(const std::string& path)
{
    const std::string command = "mkdir -p '" + path + "'";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "cannot make " << path;
    }
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        out.push_back(line);
    }
    return out;
}

}  // namespace clonetest
