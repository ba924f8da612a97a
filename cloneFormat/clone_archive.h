// Reads the gzip-compressed tar archive inside a clone file (or a plain archive file) member by
// member, with libarchive doing the decompression and the tar parsing. On top of what libarchive
// checks, the stream must be one complete gzip member with a matching CRC and length, and one
// complete ustar archive: an end-of-archive marker and nothing but zeros after it.
#ifndef CLONE_FORMAT_CLONE_ARCHIVE_H
#define CLONE_FORMAT_CLONE_ARCHIVE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "clone_member.h"

namespace clonefmt {

struct TarMember {
    std::string name;      // as stored, after GNU long-name and pax records (up to a NUL byte)
    std::string linkName;  // target of a symbolic or hard link
    char type = '0';       // '0' file, '1' hard link, '2' symbolic link, '5' directory, ...
    std::uint32_t mode = 0;
    std::uint64_t size = 0;  // data bytes that follow the header
    std::int64_t mtime = 0;

    bool isFile() const { return type == '0' || type == '\0' || type == '7'; }
    bool isDirectory() const { return type == '5'; }
    bool isSymlink() const { return type == '2'; }
    bool isHardLink() const { return type == '1'; }
};

// The data of the member being visited; whatever the visitor leaves unread is skipped.
class MemberData {
public:
    virtual ~MemberData() = default;
    // Up to SIZE bytes; 0 at the end of the member's data, -1 on a read failure.
    virtual long read(void* buf, std::size_t size) = 0;
    virtual std::uint64_t remaining() const = 0;
};

// Returns false (with ERROR set) to stop the walk.
using MemberVisitor = std::function<bool(const TarMember& member, MemberData& data, std::string& error)>;

// How much member data an archive may hold: kExpansionFloor bytes plus kExpansionRatio times its
// compressed size. The library's exports stay far below; a gzip bomb (up to 1032 times) is stopped
// at the header of the member that passes the bound, before its data is decompressed. (Headers are
// not counted: a million tiny members compress about 200 times, and cost no more than they hold.)
constexpr std::uint64_t kExpansionFloor = 64u << 20;
constexpr std::uint64_t kExpansionRatio = 200;
std::uint64_t expansionLimit(std::uint64_t compressedSize);

// Decompresses LENGTH bytes of FD from OFFSET and hands every member to VISIT in archive order.
// A member whose size takes the data past the expansion limit, and a sparse member (the library never writes
// one; its stored data may stand for terabytes of zeros), are refused before VISIT sees them.
// True only when the whole stream is a well-formed tar archive (checksummed ustar headers, an
// end-of-archive marker, nothing but zero padding after it) in one intact gzip member.
bool walkTarGz(int fd, std::uint64_t offset, std::uint64_t length, const MemberVisitor& visit, std::string& error);

// What a scan does after a member.
enum class Scan { Continue, Stop, Fail };
using MemberScanner = std::function<Scan(const TarMember& member, MemberData& data, std::string& error)>;

// As walkTarGz, but SCAN may end the walk early with Stop (STOPPED is then true): a reader that has
// found what it looks for does not decompress the rest. The members after it are neither read nor
// checked, so only an archive already walked whole may be scanned this way and trusted.
bool scanTarGz(int fd, std::uint64_t offset, std::uint64_t length, const MemberScanner& scan, bool& stopped,
               std::string& error);

}  // namespace clonefmt

#endif
