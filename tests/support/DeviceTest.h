// Test fixture: every test gets a fresh simulated device of its own (a temporary directory laid
// out by device/mkdevice.sh) and reads the device log the way an integrator would.
#ifndef CLONE_TESTS_DEVICETEST_H
#define CLONE_TESTS_DEVICETEST_H

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

// Test parameters print as their row's name (in the parameter type's own namespace, for lookup).
#define CLONE_PRINT_BY_NAME(Type) \
    void PrintTo(const Type& c, std::ostream* os) { *os << c.name; }

namespace clonetest {

// Names the instances of a parameterized test after their rows' "name".
struct RowName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const
    {
        return info.param.name;
    }
};

struct LogRecord {
    std::string record;   // "ERROR", "INFO", ...
    std::string source;   // "file.cpp:LINE"
    std::string message;  // as formatted (with \n and \\ escapes)
};

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Options for laying out the device; override to change.
    virtual bool bareDevice() const { return true; }
    // True to install the simulated device's cloning plug-ins (built in samplePluginDir()).
    virtual bool withPlugins() const { return false; }
    // A size for a large generated device profile ("0.1", "1", ...; see device/profile.sh), or none.
    virtual std::string profileScale() const { return ""; }

    // Every test device accepts this clone password and signs with a key of its own.
    static constexpr const char* kClonePassword = "clone-demo";
    // The public key that checks the device's clone files.
    std::string signingPublicKey() const { return root_ + "/config/clone_signing_key.pub.pem"; }

    // ROOT + "/xpaths/..." for a fixed device path.
    std::string path(const std::string& devicePath) const { return root_ + devicePath; }
    const std::string& root() const { return root_; }

    std::vector<LogRecord> log() const;
    // Messages of one record kind ("ERROR", ...), in order.
    std::vector<std::string> messages(const std::string& record) const;
    // True when some record of that kind has exactly MESSAGE.
    bool logged(const std::string& record, const std::string& message) const;
    // True when some ERROR record starts with PREFIX.
    bool anyError(const std::string& prefix) const;
    void clearLog() const;
    // Argument lines the simulated tools recorded.
    std::vector<std::string> toolCalls() const;

    // Sets (or appends) an attribute of the device's configuration.
    void setAttribute(const std::string& name, const std::string& value) const;

    // Replaces a device tool by a shell script with BODY (after "#!/bin/sh").
    void replaceTool(const std::string& devicePath, const std::string& body) const;

private:
    std::string root_;
};

// File helpers for tests.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool exists(const std::string& path);
void makeDirs(const std::string& path);
std::vector<std::string> lines(const std::string& text);
// Where the simulated device's cloning plug-ins are built.
std::string samplePluginDir();
// The project's source tree.
std::string sourceDir();

}  // namespace clonetest

#endif
