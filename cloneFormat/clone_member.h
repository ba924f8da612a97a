// What a member of a clone file's archive may be, so that it unpacks into a folder of its own and
// nowhere else. The library applies these rules to the staged tree before archiving it, and
// clonefile extract to every member it reads: what one accepts, the other unpacks.
#ifndef CLONE_FORMAT_CLONE_MEMBER_H
#define CLONE_FORMAT_CLONE_MEMBER_H

#include <cstddef>
#include <string>

namespace clonefmt {

// The longest member path (relative to the archive's root) and link target: a member fits below
// an extraction folder of up to 1023 characters, and the whole path within PATH_MAX.
constexpr std::size_t kMaxMemberPath = 3071;
// The longest name of one folder or file on the way.
constexpr std::size_t kMaxMemberName = 255;

enum class MemberType { Directory, File, HardLink, SymbolicLink, Other };

enum class MemberFault {
    None,
    TooLong,          // a name, the path or a link target is longer than the limits above
    Unsupported,      // not a directory, regular file or link (a FIFO, socket, device node)
    PointsOutside,    // a symbolic link that is absolute, empty or has a ".." component
};

// NAME as a relative path inside the extraction folder: "./" and empty components dropped.
// False for an absolute name, one with a ".." component or one holding a NUL byte. The archive's
// own root ("./") gives an empty RELATIVE.
bool safeRelativePath(const std::string& name, std::string& relative);

// What keeps the member RELATIVE (as safeRelativePath gives it, not empty) of TYPE, with
// LINKTARGET for a symbolic link, from unpacking inside its folder; None when nothing does.
MemberFault memberFault(const std::string& relative, MemberType type, const std::string& linkTarget);

// The fault in a few words, for messages: "path or name too long", ...
const char* memberFaultText(MemberFault fault);

}  // namespace clonefmt

#endif
