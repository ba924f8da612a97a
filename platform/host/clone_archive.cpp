#include "clone_archive.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "clone_io.h"

namespace clonefmt {

namespace {

constexpr std::size_t kBlock = 512;
// Long names and pax records are held in memory; anything larger is not from a sane archive.
constexpr std::uint64_t kMaxMetaSize = 1u << 20;

std::string findProgram(const char* name)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr && *path != '\0' ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty()) {
            dir = ".";
        }
        const std::string candidate = dir + "/" + name;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::string();
}

// Copies LENGTH bytes of SRC from OFFSET into DST. Runs in a forked child: only
// async-signal-safe calls, no allocation.
[[noreturn]] void feedRegion(int src, int dst, std::uint64_t offset, std::uint64_t length)
{
    char buf[16384];
    while (length > 0) {
        const std::size_t want = length < sizeof buf ? static_cast<std::size_t>(length) : sizeof buf;
        const ssize_t n = ::pread(src, buf, want, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            _exit(1);
        }
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(dst, buf + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                _exit(1);
            }
            done += w;
        }
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::uint64_t>(n);
    }
    _exit(0);
}

// "gzip -dc" fed from a region of a file by a second child; the parent reads the plain stream.
class Gunzip {
public:
    ~Gunzip()
    {
        output_.reset();
        // Stopped early (a fault in the stream): the children must not outlive the walk.
        for (pid_t* pid : {&gzip_, &feeder_}) {
            if (*pid > 0) {
                ::kill(*pid, SIGKILL);
                int status;
                while (::waitpid(*pid, &status, 0) < 0 && errno == EINTR) {
                }
                *pid = -1;
            }
        }
    }

    bool start(int src, std::uint64_t offset, std::uint64_t length, std::string& error)
    {
        const std::string gzip = findProgram("gzip");
        if (gzip.empty()) {
            error = "gzip is not found in PATH";
            return false;
        }
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0) {
            error = errnoText("cannot make a pipe");
            return false;
        }
        UniqueFd inRead(in[0]);
        UniqueFd inWrite(in[1]);
        if (::pipe2(out, O_CLOEXEC) != 0) {
            error = errnoText("cannot make a pipe");
            return false;
        }
        UniqueFd outRead(out[0]);
        UniqueFd outWrite(out[1]);
        UniqueFd devNull(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        if (!devNull.valid()) {
            error = errnoText("/dev/null");
            return false;
        }
        char arg0[] = "gzip";
        char arg1[] = "-dc";
        char* const argv[] = {arg0, arg1, nullptr};

        gzip_ = ::fork();
        if (gzip_ < 0) {
            error = errnoText("cannot start gzip");
            return false;
        }
        if (gzip_ == 0) {
            // The descriptors that dup2 places at 0, 1 and 2 lose close-on-exec; all others close.
            if (::dup2(inRead.get(), 0) < 0 || ::dup2(outWrite.get(), 1) < 0 || ::dup2(devNull.get(), 2) < 0) {
                _exit(127);
            }
            ::signal(SIGPIPE, SIG_DFL);
            ::execv(gzip.c_str(), argv);
            _exit(127);
        }
        feeder_ = ::fork();
        if (feeder_ < 0) {
            error = errnoText("cannot start the archive reader");
            return false;
        }
        if (feeder_ == 0) {
            ::close(inRead.get());
            ::close(outRead.get());
            ::close(outWrite.get());
            ::signal(SIGPIPE, SIG_DFL);
            feedRegion(src, inWrite.get(), offset, length);
        }
        output_ = std::move(outRead);
        return true;
    }

    int fd() const { return output_.get(); }

    // Waits for both children; true when both ended successfully.
    bool finish(std::string& error)
    {
        output_.reset();
        const bool feederOk = reap(feeder_);
        const bool gzipOk = reap(gzip_);
        if (!gzipOk) {
            error = "gzip reports a damaged or incomplete compressed stream";
            return false;
        }
        if (!feederOk) {
            error = "the archive bytes cannot be read";
            return false;
        }
        return true;
    }

private:
    static bool reap(pid_t& pid)
    {
        int status = 0;
        pid_t rc;
        while ((rc = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        pid = -1;
        return rc > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    pid_t gzip_ = -1;
    pid_t feeder_ = -1;
    UniqueFd output_;
};

class StreamReader {
public:
    explicit StreamReader(int fd) : fd_(fd) {}

    // Reads up to SIZE bytes; 0 at the end of the stream, -1 on an error.
    long read(void* buf, std::size_t size)
    {
        if (pos_ == len_) {
            if (eof_) {
                return 0;
            }
            ssize_t n;
            while ((n = ::read(fd_, buf_.data(), buf_.size())) < 0 && errno == EINTR) {
            }
            if (n < 0) {
                return -1;
            }
            if (n == 0) {
                eof_ = true;
                return 0;
            }
            pos_ = 0;
            len_ = static_cast<std::size_t>(n);
        }
        const std::size_t take = std::min(size, len_ - pos_);
        std::memcpy(buf, buf_.data() + pos_, take);
        pos_ += take;
        return static_cast<long>(take);
    }

    // 1 when all SIZE bytes were read, 0 at a clean end before the first byte, -1 otherwise.
    int readExact(void* buf, std::size_t size)
    {
        char* p = static_cast<char*>(buf);
        std::size_t got = 0;
        while (got < size) {
            const long n = read(p + got, size - got);
            if (n <= 0) {
                return (n == 0 && got == 0) ? 0 : -1;
            }
            got += static_cast<std::size_t>(n);
        }
        return 1;
    }

    bool skip(std::uint64_t size)
    {
        char tmp[4096];
        while (size > 0) {
            const std::size_t want = size < sizeof tmp ? static_cast<std::size_t>(size) : sizeof tmp;
            if (readExact(tmp, want) != 1) {
                return false;
            }
            size -= want;
        }
        return true;
    }

private:
    int fd_;
    std::vector<char> buf_ = std::vector<char>(65536);
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool eof_ = false;
};

class StreamMemberData : public MemberData {
public:
    StreamMemberData(StreamReader& reader, std::uint64_t size) : reader_(reader), remaining_(size) {}

    long read(void* buf, std::size_t size) override
    {
        if (remaining_ == 0) {
            return 0;
        }
        const std::size_t want = remaining_ < size ? static_cast<std::size_t>(remaining_) : size;
        const long n = reader_.read(buf, want);
        if (n <= 0) {
            failed_ = true;
            return -1;
        }
        remaining_ -= static_cast<std::uint64_t>(n);
        return n;
    }

    std::uint64_t remaining() const override { return remaining_; }
    bool failed() const { return failed_; }

private:
    StreamReader& reader_;
    std::uint64_t remaining_;
    bool failed_ = false;
};

std::uint64_t padding(std::uint64_t size)
{
    return (kBlock - size % kBlock) % kBlock;
}

std::string field(const unsigned char* p, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), size));
}

// Octal (space or NUL terminated, leading spaces allowed) or GNU base-256 for large values.
bool numberField(const unsigned char* p, std::size_t size, std::uint64_t& value)
{
    value = 0;
    if (p[0] & 0x80) {
        if (p[0] != 0x80) {
            return false;  // negative base-256 values have no use here
        }
        for (std::size_t i = 1; i < size; ++i) {
            if (value >> 55) {
                return false;
            }
            value = (value << 8) | p[i];
        }
        return true;
    }
    std::size_t i = 0;
    while (i < size && p[i] == ' ') {
        ++i;
    }
    bool digits = false;
    for (; i < size && p[i] >= '0' && p[i] <= '7'; ++i) {
        if (value >> 60) {
            return false;
        }
        value = value * 8 + static_cast<std::uint64_t>(p[i] - '0');
        digits = true;
    }
    for (; i < size; ++i) {
        if (p[i] != ' ' && p[i] != '\0') {
            return false;
        }
    }
    return digits;
}

bool checksumMatches(const unsigned char* h)
{
    std::uint64_t stored;
    if (!numberField(h + 148, 8, stored)) {
        return false;
    }
    std::uint64_t unsignedSum = 0;
    std::int64_t signedSum = 0;
    for (std::size_t i = 0; i < kBlock; ++i) {
        const unsigned char c = (i >= 148 && i < 156) ? ' ' : h[i];
        unsignedSum += c;
        signedSum += static_cast<signed char>(c);
    }
    // Some old writers summed signed chars; both are accepted, as GNU tar does.
    return stored == unsignedSum || static_cast<std::int64_t>(stored) == signedSum;
}

// "LEN key=value\n" records of a pax extended header.
bool parsePax(const std::string& data, std::string& path, std::string& linkPath, bool& haveSize, std::uint64_t& size)
{
    std::size_t pos = 0;
    while (pos < data.size()) {
        std::size_t space = data.find(' ', pos);
        if (space == std::string::npos || space == pos) {
            return false;
        }
        std::uint64_t len = 0;
        for (std::size_t i = pos; i < space; ++i) {
            if (data[i] < '0' || data[i] > '9' || len > kMaxMetaSize) {
                return false;
            }
            len = len * 10 + static_cast<std::uint64_t>(data[i] - '0');
        }
        if (len == 0 || pos + len > data.size() || data[pos + len - 1] != '\n') {
            return false;
        }
        const std::string record = data.substr(space + 1, pos + len - 1 - (space + 1));
        const std::size_t eq = record.find('=');
        if (eq == std::string::npos) {
            return false;
        }
        const std::string key = record.substr(0, eq);
        const std::string value = record.substr(eq + 1);
        if (key == "path") {
            path = value;
        } else if (key == "linkpath") {
            linkPath = value;
        } else if (key == "size") {
            std::uint64_t v = 0;
            if (value.empty()) {
                return false;
            }
            for (char c : value) {
                if (c < '0' || c > '9' || (v >> 59)) {
                    return false;
                }
                v = v * 10 + static_cast<std::uint64_t>(c - '0');
            }
            haveSize = true;
            size = v;
        }
        pos += len;
    }
    return true;
}

bool parseTar(StreamReader& reader, const MemberVisitor& visit, std::string& error, bool& stoppedByVisitor)
{
    unsigned char h[kBlock];
    std::string longName;
    std::string longLink;
    std::string paxPath;
    std::string paxLink;
    bool paxHaveSize = false;
    std::uint64_t paxSize = 0;
    std::uint64_t index = 0;
    for (;; ++index) {
        const int got = reader.readExact(h, kBlock);
        if (got != 1) {
            error = "the archive ends without an end-of-archive marker";
            return false;
        }
        if (std::all_of(h, h + kBlock, [](unsigned char c) { return c == 0; })) {
            break;
        }
        const std::string where = "header " + std::to_string(index + 1);
        if (!checksumMatches(h)) {
            error = where + ": checksum mismatch (not a tar archive, or a damaged one)";
            return false;
        }
        const bool posix = std::memcmp(h + 257, "ustar\0" "00", 8) == 0;
        const bool gnu = std::memcmp(h + 257, "ustar  \0", 8) == 0;
        if (!posix && !gnu) {
            error = where + ": not a ustar header";
            return false;
        }
        std::uint64_t size;
        std::uint64_t mode;
        std::uint64_t mtime;
        if (!numberField(h + 124, 12, size) || !numberField(h + 100, 8, mode) || !numberField(h + 136, 12, mtime)) {
            error = where + ": malformed number field";
            return false;
        }
        const char type = static_cast<char>(h[156]);
        if (type == 'L' || type == 'K' || type == 'x' || type == 'g') {
            if (size > kMaxMetaSize) {
                error = where + ": extended header too large";
                return false;
            }
            std::string data(static_cast<std::size_t>(size), '\0');
            if ((size > 0 && reader.readExact(&data[0], data.size()) != 1) || !reader.skip(padding(size))) {
                error = where + ": the archive ends inside an extended header";
                return false;
            }
            if (type == 'L') {
                longName = data.c_str();
            } else if (type == 'K') {
                longLink = data.c_str();
            } else if (type == 'x' && !parsePax(data, paxPath, paxLink, paxHaveSize, paxSize)) {
                error = where + ": malformed pax extended header";
                return false;
            }
            continue;
        }

        TarMember member;
        member.type = type;
        member.mode = static_cast<std::uint32_t>(mode & 07777);
        member.mtime = static_cast<std::int64_t>(mtime);
        member.size = paxHaveSize ? paxSize : size;
        if (!paxPath.empty()) {
            member.name = paxPath;
        } else if (!longName.empty()) {
            member.name = longName;
        } else {
            member.name = field(h, 100);
            const std::string prefix = posix ? field(h + 345, 155) : std::string();
            if (!prefix.empty()) {
                member.name = prefix + "/" + member.name;
            }
        }
        if (!paxLink.empty()) {
            member.linkName = paxLink;
        } else if (!longLink.empty()) {
            member.linkName = longLink;
        } else {
            member.linkName = field(h + 157, 100);
        }
        longName.clear();
        longLink.clear();
        paxPath.clear();
        paxLink.clear();
        paxHaveSize = false;
        if (member.name.empty()) {
            error = where + ": member without a name";
            return false;
        }
        // Links and directories carry no data, whatever their size field says.
        const std::uint64_t dataSize = (member.isSymlink() || member.isHardLink() || member.isDirectory()) ? 0 : member.size;
        member.size = dataSize;

        StreamMemberData data(reader, dataSize);
        if (!visit(member, data, error)) {
            stoppedByVisitor = !data.failed();
            return false;
        }
        if (data.failed() || !reader.skip(data.remaining()) || !reader.skip(padding(dataSize))) {
            error = "member " + member.name + ": the archive ends inside its data";
            return false;
        }
    }
    // After the marker only zero padding may follow (the second marker block and the record fill).
    unsigned char tail[kBlock];
    for (;;) {
        const long n = reader.read(tail, sizeof tail);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            error = "the archive cannot be read after its end-of-archive marker";
            return false;
        }
        if (!std::all_of(tail, tail + n, [](unsigned char c) { return c == 0; })) {
            error = "data after the end-of-archive marker";
            return false;
        }
    }
}

}  // namespace

bool walkTarGz(int fd, std::uint64_t offset, std::uint64_t length, const MemberVisitor& visit, std::string& error)
{
    Gunzip gunzip;
    if (!gunzip.start(fd, offset, length, error)) {
        return false;
    }
    StreamReader reader(gunzip.fd());
    std::string parseError;
    bool stoppedByVisitor = false;
    if (parseTar(reader, visit, parseError, stoppedByVisitor)) {
        return gunzip.finish(error);
    }
    if (stoppedByVisitor) {
        error = parseError;
        return false;  // the destructor stops the children
    }
    // A damaged compressed stream also shows up as a short or garbled tar stream; gzip's verdict
    // is the more telling one then. Reading to the end lets gzip reach it.
    char sink[4096];
    while (reader.read(sink, sizeof sink) > 0) {
    }
    std::string gzipError;
    error = gunzip.finish(gzipError) ? parseError : gzipError;
    return false;
}

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

}  // namespace clonefmt
