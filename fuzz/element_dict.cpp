// Prints the dictionary entries of every manifest element and misc key the element tables know, so
// the fuzzers' dictionary never lags behind the tables (scripts/fuzz.sh adds fuzz/clone.dict).
#include <cstdio>
#include <set>
#include <string>

#include "ElementTables.h"

int main()
{
    std::set<std::string> elements;
    std::set<std::string> keys;
    for (const cloneutil::HelperRow& row : cloneutil::kHelperTable) {
        elements.insert(row.element);
    }
    for (const cloneutil::MiscRow& row : cloneutil::kMiscRows) {
        keys.insert(row.key);
        elements.insert(row.path.begin(), row.path.end());
    }
    for (const cloneutil::PlainCopyRow& row : cloneutil::kPlainCopies) {
        elements.insert(row.element);
        elements.insert(row.parents.begin(), row.parents.end());
        if (row.key != nullptr) {
            keys.insert(row.key);
        }
    }
    for (const cloneutil::CompanionRow& row : cloneutil::kCertificateCompanions) {
        elements.insert(row.companion);
    }
    for (const std::string& key : keys) {
        std::printf("\"%s\"\n", key.c_str());
    }
    for (const std::string& e : elements) {
        std::printf("\"<%s>\"\n\"</%s>\"\n\"<%s/>\"\n", e.c_str(), e.c_str(), e.c_str());
    }
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
}
