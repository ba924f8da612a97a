// Reaching files through descriptors. A path below a folder descriptor is resolved one component at
// a time, each step from the descriptor of the step before, so what is decided on is always what
// was opened: a name checked once is never looked up again, and no link or ".." leads out.
#ifndef CLONE_DESCRIPTORS_H
#define CLONE_DESCRIPTORS_H

#include <string>
#include <sys/types.h>
#include <vector>

#include "Handles.h"

namespace cloneutil {

// Which links a path below a folder may pass.
enum class Links {
    None,     // no component is a link, and none is ".."
    Beneath,  // relative links and ".." are followed while the path stays below the folder
};

// Opens RELATIVE ("a/b/c"; empty: the folder itself) below the folder DIRFD with FLAGS, close-on-exec.
// Invalid, with errno, when it cannot: ELOOP for a link where LINKS allows none, EXDEV for a path
// that would leave the folder (an absolute link, too many ".."). Uses openat2 where the kernel has
// it, else a walk of openat(O_NOFOLLOW) steps with the same outcome.
Fd openBelow(int dirfd, const std::string& relative, int flags, Links links);

// Resolves every path by the walk even where the kernel has openat2 (tests cover both ways).
void resolveByWalkOnly(bool walkOnly);

// An entry of a folder, with the type the folder reports (DT_UNKNOWN where it reports none).
struct FolderEntry {
    std::string name;
    unsigned char type;
};

// The entries of the folder FD ("." and ".." left out), in the order the folder gives them; false,
// with errno, when it cannot be read.
bool listFolder(int fd, std::vector<FolderEntry>& entries);

// Copies the first SIZE bytes of the file FROM into the empty file TO, holes kept as holes (a file
// that shrinks meanwhile is copied as far as it goes). False, with errno, on a failure.
bool copyBytes(int from, int to, off_t size);

// Removes NAME in the folder DIRFD: a file or link (never followed), or a folder with everything
// below it, however deep, with a few descriptors at a time. False when something stays.
bool removeBelow(int dirfd, const std::string& name);

// Every entry of the folder DIRFD, but those whose names begin with a dot; false when one stays.
bool removeEntries(int dirfd);

enum class WriteMode {
    Truncate,  // "w"
    Append,    // "a"
    Update,    // "w+"
};

// PATH opened as a stream for writing, close-on-exec: made anew (mode 0644 less the umask; whatever
// stood at the name is replaced, never written into), or, with Append, added to when it is a
// regular file of one name. Null, with errno, when it cannot be.
File openForWriting(const std::string& path, WriteMode mode = WriteMode::Truncate);

}  // namespace cloneutil

#endif
