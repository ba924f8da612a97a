#include "clone_member.h"

#include <algorithm>

namespace clonefmt {

bool safeRelativePath(const std::string& name, std::string& relative)
{
    relative.clear();
    // The file system sees a name only up to a NUL: the rest would pass the checks unseen.
    if (name.empty() || name[0] == '/' || name.find('\0') != std::string::npos) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos) {
            end = name.size();
        }
        const std::string part = name.substr(start, end - start);
        if (part == "..") {
            relative.clear();
            return false;
        }
        if (!part.empty() && part != ".") {
            if (!relative.empty()) {
                relative += '/';
            }
            relative += part;
        }
        start = end + 1;
    }
    return true;
}

namespace {

bool nameTooLong(const std::string& relative)
{
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        if (end - start > kMaxMemberName) {
            return true;
        }
        if (end == relative.size()) {
            return false;
        }
        start = end + 1;
    }
}

}  // namespace

MemberFault memberFault(const std::string& relative, MemberType type, const std::string& linkTarget)
{
    if (relative.size() > kMaxMemberPath || nameTooLong(relative) ||
        (type == MemberType::SymbolicLink && linkTarget.size() > kMaxMemberPath)) {
        return MemberFault::TooLong;
    }
    if (type == MemberType::Other) {
        return MemberFault::Unsupported;
    }
    // A link that only leads down from its own folder cannot lead out of the extraction folder,
    // also when links are chained.
    std::string target;
    if (type == MemberType::SymbolicLink && !safeRelativePath(linkTarget, target)) {
        return MemberFault::PointsOutside;
    }
    return MemberFault::None;
}

const char* memberFaultText(MemberFault fault)
{
    switch (fault) {
    case MemberFault::None:
        return "none";
    case MemberFault::TooLong:
        return "path or name too long";
    case MemberFault::Unsupported:
        return "not a regular file, folder or link";
    case MemberFault::PointsOutside:
        return "a link pointing outside the clone file";
    }
    return "unknown";
}

}  // namespace clonefmt
