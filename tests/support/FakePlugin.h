// A cloning plug-in whose name and export result a test chooses; it records what it was asked.
#ifndef CLONE_TESTS_FAKEPLUGIN_H
#define CLONE_TESTS_FAKEPLUGIN_H

#include <string>
#include <vector>

#include "CloningPlugin.h"

namespace clonetest {

class FakePlugin : public cloning::Plugin {
public:
    explicit FakePlugin(const std::string& name, bool_t exportResult = TRUE) : name_(name), exportResult_(exportResult)
    {
    }

    std::string ContentType() const override { return name_; }
    bool_t importClone(const std::string& /*filename*/, bool_t /*flag*/) override { return FALSE; }
    bool_t exportClone(const std::string& filename) override
    {
        exports.push_back(filename);
        return exportResult_;
    }

    // The file names exportClone was called with, in order.
    std::vector<std::string> exports;

private:
    std::string name_;
    bool_t exportResult_;
};

}  // namespace clonetest

#endif
