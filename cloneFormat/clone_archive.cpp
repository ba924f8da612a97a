#include "clone_archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <vector>
#include <zlib.h>

#include "clone_io.h"

namespace clonefmt {

namespace {

constexpr std::size_t kBlock = 512;
constexpr std::size_t kChunk = 65536;
// Zeros allowed after the end-of-archive marker: tar pads to its record size (32 KiB here).
constexpr std::uint64_t kMaxPadding = 1u << 20;

struct ArchiveFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveFree>;

std::string archiveError(archive* a, const char* fallback)
{
    const char* text = archive_error_string(a);
    return text != nullptr ? text : fallback;
}

// The compressed bytes: a region of a file, read with pread so the caller's offset stays put.
struct Region {
    int fd;
    std::uint64_t offset;
    std::uint64_t length;
    std::uint64_t pos = 0;
    bool failed = false;
    std::vector<char> buf = std::vector<char>(kChunk);

    static la_ssize_t read(archive*, void* self, const void** block)
    {
        Region& r = *static_cast<Region*>(self);
        const std::uint64_t left = r.length - r.pos;
        const std::size_t want = left < r.buf.size() ? static_cast<std::size_t>(left) : r.buf.size();
        if (want > 0 && !preadFully(r.fd, r.buf.data(), want, r.offset + r.pos)) {
            r.failed = true;
            return -1;
        }
        r.pos += want;
        *block = r.buf.data();
        return static_cast<la_ssize_t>(want);
    }
};

// The decompressed stream, fed to the tar reader. libarchive 3.6 does not check the gzip trailer,
// so the CRC and length are summed here; the start of the trailing run of zero bytes tells whether
// anything follows the end-of-archive marker.
struct Plain {
    archive* gunzip;
    bool tooLarge = false;
    uLong crc = crc32(0L, Z_NULL, 0);
    std::uint64_t size = 0;
    std::uint64_t zeroRunStart = 0;
    bool failed = false;
    std::vector<char> buf = std::vector<char>(kChunk);

    static la_ssize_t read(archive*, void* self, const void** block)
    {
        Plain& p = *static_cast<Plain*>(self);
        const la_ssize_t n = archive_read_data(p.gunzip, p.buf.data(), p.buf.size());
        if (n < 0) {
            p.failed = true;
            return -1;
        }
        p.consume(p.buf.data(), static_cast<std::size_t>(n));
        *block = p.buf.data();
        return n;
    }

    void consume(const char* data, std::size_t n)
    {
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(n));
        for (std::size_t i = n; i > 0; --i) {
            if (data[i - 1] != 0) {
                zeroRunStart = size + i;
                break;
            }
        }
        size += n;
    }

    // Reads what the tar reader left (the zero padding after the marker, or anything else), up to
    // LIMIT bytes of decompressed stream: a padding beyond is a bomb of zeros.
    bool drain(std::uint64_t limit)
    {
        for (;;) {
            const la_ssize_t n = archive_read_data(gunzip, buf.data(), buf.size());
            if (n < 0) {
                return false;
            }
            if (n == 0) {
                return true;
            }
            consume(buf.data(), static_cast<std::size_t>(n));
            if (size > limit) {
                tooLarge = true;
                return false;
            }
        }
    }
};

class LibarchiveMemberData : public MemberData {
public:
    LibarchiveMemberData(archive* a, std::uint64_t size) : a_(a), remaining_(size) {}

    long read(void* buf, std::size_t size) override
    {
        if (remaining_ == 0) {
            return 0;
        }
        const la_ssize_t n = archive_read_data(a_, buf, size < remaining_ ? size : static_cast<std::size_t>(remaining_));
        if (n <= 0) {
            failed_ = true;
            return -1;
        }
        remaining_ -= static_cast<std::uint64_t>(n);
        return static_cast<long>(n);
    }

    std::uint64_t remaining() const override { return remaining_; }
    bool failed() const { return failed_; }

private:
    archive* a_;
    std::uint64_t remaining_;
    bool failed_ = false;
};

char memberType(archive_entry* e)
{
    if (archive_entry_hardlink(e) != nullptr) {
        return '1';
    }
    switch (archive_entry_filetype(e)) {
    case AE_IFREG:
        return '0';
    case AE_IFLNK:
        return '2';
    case AE_IFCHR:
        return '3';
    case AE_IFBLK:
        return '4';
    case AE_IFDIR:
        return '5';
    case AE_IFIFO:
        return '6';
    default:
        return '?';
    }
}

bool isUstar(int format)
{
    return format == ARCHIVE_FORMAT_TAR_USTAR || format == ARCHIVE_FORMAT_TAR_PAX_INTERCHANGE ||
           format == ARCHIVE_FORMAT_TAR_PAX_RESTRICTED || format == ARCHIVE_FORMAT_TAR_GNUTAR;
}

std::uint32_t littleEndian32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Walks the tar members; true at a clean end of the tar reader. DATAEND is where the last
// member's data (with its padding) ends in the decompressed stream.
bool walkMembers(archive* tar, std::uint64_t limit, const MemberScanner& scan, bool& stopped, std::uint64_t& dataEnd,
                 std::string& error)
{
    std::uint64_t dataBytes = 0;
    for (std::uint64_t index = 1;; ++index) {
        archive_entry* e = nullptr;
        const int rc = archive_read_next_header(tar, &e);
        if (rc == ARCHIVE_EOF) {
            return true;
        }
        const std::string where = "header " + std::to_string(index);
        if (rc != ARCHIVE_OK) {
            error = where + ": " + archiveError(tar, "not a tar archive, or a damaged one");
            return false;
        }
        if (!isUstar(archive_format(tar))) {
            error = where + ": not a ustar header";
            return false;
        }
        TarMember member;
        const char* name = archive_entry_pathname(e);
        member.name = name != nullptr ? name : "";
        if (member.name.empty()) {
            error = where + ": member without a name";
            return false;
        }
        member.type = memberType(e);
        const char* link = member.isHardLink() ? archive_entry_hardlink(e) : archive_entry_symlink(e);
        member.linkName = link != nullptr ? link : "";
        member.mode = static_cast<std::uint32_t>(archive_entry_perm(e) & 07777);
        member.mtime = static_cast<std::int64_t>(archive_entry_mtime(e));
        // Links and directories carry no data, whatever their size field says.
        member.size = member.isFile() ? static_cast<std::uint64_t>(archive_entry_size(e)) : 0;
        if (archive_entry_sparse_count(e) > 0) {
            error = "refusing member " + member.name + ": a sparse file";
            return false;
        }
        // By the sizes the headers state, before any of the data is decompressed.
        if (member.size > limit - dataBytes) {
            error = "refusing member " + member.name + ": the members' data would pass " + std::to_string(limit) +
                    " bytes (" + std::to_string(kExpansionFloor) + " plus " + std::to_string(kExpansionRatio) +
                    " times the archive's size)";
            return false;
        }
        dataBytes += member.size;

        LibarchiveMemberData data(tar, member.size);
        const Scan next = scan(member, data, error);
        if (next == Scan::Fail) {
            return false;
        }
        if (next == Scan::Stop) {
            stopped = !data.failed();
            if (!stopped) {
                error = "member " + member.name + ": " + archiveError(tar, "the archive ends inside its data");
            }
            return stopped;
        }
        if (data.failed() || archive_read_data_skip(tar) != ARCHIVE_OK) {
            error = "member " + member.name + ": " + archiveError(tar, "the archive ends inside its data");
            return false;
        }
        dataEnd = static_cast<std::uint64_t>(archive_filter_bytes(tar, 0));
    }
}

}  // namespace

std::uint64_t expansionLimit(std::uint64_t compressedSize)
{
    const std::uint64_t most = ~std::uint64_t{0};
    return compressedSize > (most - kExpansionFloor) / kExpansionRatio ? most
                                                                       : kExpansionFloor + kExpansionRatio * compressedSize;
}

bool walkTarGz(int fd, std::uint64_t offset, std::uint64_t length, const MemberVisitor& visit, std::string& error)
{
    bool stopped = false;
    return scanTarGz(
        fd, offset, length,
        [&visit](const TarMember& m, MemberData& data, std::string& err) {
            return visit(m, data, err) ? Scan::Continue : Scan::Fail;
        },
        stopped, error);
}

bool scanTarGz(int fd, std::uint64_t offset, std::uint64_t length, const MemberScanner& scan, bool& stopped,
               std::string& error)
{
    stopped = false;
    // Each reader is freed before the source its callbacks read from.
    Region region{fd, offset, length};
    // Outer reader: gzip only, its output taken as one raw stream.
    ArchivePtr gunzip(archive_read_new());
    Plain plain{gunzip.get()};
    // Inner reader: tar only, no further filter.
    ArchivePtr tar(archive_read_new());
    if (!gunzip || !tar) {
        error = "out of memory";
        return false;
    }
    archive_entry* raw = nullptr;
    // Anything but ARCHIVE_OK here (ARCHIVE_WARN: a libarchive without zlib, which would run an
    // external gzip program) is refused.
    if (archive_read_support_filter_gzip(gunzip.get()) != ARCHIVE_OK ||
        archive_read_support_format_raw(gunzip.get()) != ARCHIVE_OK ||
        archive_read_open(gunzip.get(), &region, nullptr, &Region::read, nullptr) != ARCHIVE_OK ||
        archive_read_next_header(gunzip.get(), &raw) != ARCHIVE_OK) {
        error = region.failed ? "the archive bytes cannot be read" : archiveError(gunzip.get(), "not an archive");
        return false;
    }
    if (archive_filter_count(gunzip.get()) != 2 || archive_filter_code(gunzip.get(), 0) != ARCHIVE_FILTER_GZIP) {
        error = "not gzip-compressed";
        return false;
    }

    std::uint64_t dataEnd = 0;
    if (archive_read_support_format_tar(tar.get()) != ARCHIVE_OK ||
        archive_read_open(tar.get(), &plain, nullptr, &Plain::read, nullptr) != ARCHIVE_OK) {
        error = plain.failed ? archiveError(gunzip.get(), "damaged compressed stream")
                             : "not a tar archive: " + archiveError(tar.get(), "unknown format");
        return false;
    }
    std::string walkError;
    const bool walked = walkMembers(tar.get(), expansionLimit(length), scan, stopped, dataEnd, walkError);
    if (plain.failed || region.failed) {
        error = region.failed ? "the archive bytes cannot be read"
                              : "damaged compressed stream: " + archiveError(gunzip.get(), "read error");
        return false;
    }
    if (!walked) {
        error = walkError;
        return false;
    }
    if (stopped) {
        return true;
    }
    const std::uint64_t consumed = static_cast<std::uint64_t>(archive_filter_bytes(tar.get(), 0));
    if (!plain.drain(consumed + kMaxPadding)) {
        error = plain.tooLarge ? "refused: more than " + std::to_string(kMaxPadding) + " bytes after its end"
                               : "damaged compressed stream: " + archiveError(gunzip.get(), "read error");
        return false;
    }
    if (consumed < dataEnd + kBlock) {
        error = "the archive ends without an end-of-archive marker";
        return false;
    }
    if (plain.zeroRunStart > dataEnd) {
        error = "data after the end-of-archive marker";
        return false;
    }
    // One gzip member that fills the region, whose trailer matches what was decompressed.
    unsigned char trailer[8];
    if (static_cast<std::uint64_t>(archive_filter_bytes(gunzip.get(), -1)) != length || length < sizeof trailer ||
        !preadFully(fd, trailer, sizeof trailer, offset + length - sizeof trailer)) {
        error = "data after the compressed stream";
        return false;
    }
    if (littleEndian32(trailer) != static_cast<std::uint32_t>(plain.crc) ||
        littleEndian32(trailer + 4) != static_cast<std::uint32_t>(plain.size)) {
        error = "the compressed stream's CRC or length does not match its data";
        return false;
    }
    return true;
}

}  // namespace clonefmt
