// clonefile: checks, inspects and unpacks clone files, and provisions a simulated device with the
// password verifier and signing key that the signing library needs.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <clocale>
#include <fcntl.h>
#include <getopt.h>
#include <limits.h>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include <archive.h>
#include <archive_entry.h>
#include <openssl/crypto.h>

#include "clone_archive.h"
#include "clone_container.h"
#include "clone_io.h"
#include "clone_password.h"
#include "clone_schema.h"
#include "clonefile_common.h"
#include "commands.h"
#include "contents.h"

namespace {

using namespace clonetool;

constexpr std::size_t kMaxPassword = 1024;

// Each command's options, by their short letters, and what they do.
struct OptionHelp {
    char letter;
    const char* usage;
    const char* text;
};
const OptionHelp kOptionHelp[] = {
    {'k', "-k, --key PUBLIC.pem", "verify FILE with this public key first; every byte read after is checked"},
    {'j', "-j, --json", "write one JSON object (docs/reading-clone-files.md)"},
    {'c', "-c, --content", "show the changed lines of text members (secrets included)"},
    {'r', "-r, --root ROOT", "the device root (default $CLONE_DEVICE_ROOT)"},
    {'i', "-i, --iterations N", "PBKDF2 iterations (default 600000)"},
    {'f', "-f, --force", "replace an existing signing key"},
    {'h', "-h, --help", "this help"},
};
const struct option kLongOptions[] = {
    {"key", required_argument, nullptr, 'k'}, {"json", no_argument, nullptr, 'j'},
    {"content", no_argument, nullptr, 'c'},   {"root", required_argument, nullptr, 'r'},
    {"iterations", required_argument, nullptr, 'i'}, {"force", no_argument, nullptr, 'f'},
    {"help", no_argument, nullptr, 'h'},      {nullptr, 0, nullptr, 0},
};
// Options may follow the operands, as with the GNU tools; "--" ends them.
const char kShortOptions[] = "k:jcr:i:fh";

const char kGeneral[] =
    "usage: clonefile COMMAND [OPTIONS] ARGS\n"
    "       clonefile --help | --version\n"
    "       clonefile COMMAND --help\n"
    "\n"
    "FILE may be - for the standard input. With --key every command reads FILE once into a private\n"
    "copy, checks it there and reads nothing else. Exit status: 0 success, 1 failed check or\n"
    "operation, 2 usage error; diff: 0 the same, 1 different, 2 trouble.\n"
    "\n"
    "Commands:\n";

// Parses ARGV (ARGV[0] the command's name) with getopt_long, accepting only the letters in ALLOWED.
bool parseArgs(int argc, char** argv, const char* allowed, Args& args, std::string& error)
{
    optind = 0;  // GNU getopt starts afresh
    opterr = 0;  // messages are ours, with the usage line
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the command has one thread
    for (int c; (c = ::getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1;) {
        const std::string given = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        if (c == '?' || c == ':' || std::strchr(allowed, c) == nullptr) {
            if (c != '?' && c != ':') {
                error = "option " + given + " is not one of " + std::string(argv[0]) + "'s";
            } else if (optopt != 0 && std::strchr("kri", optopt) != nullptr) {
                error = "option " + given + " needs a value";
            } else {
                error = "unknown option " + given;
            }
            return false;
        }
        if (optarg != nullptr && *optarg == '\0') {
            error = "option " + given + " needs a value";
            return false;
        }
        switch (c) {
        case 'k': args.key = optarg; break;
        case 'r': args.root = optarg; break;
        case 'i': args.iterations = optarg; break;
        case 'j': args.json = true; break;
        case 'c': args.content = true; break;
        case 'f': args.force = true; break;
        default: args.help = true; break;
        }
    }
    for (int i = optind; i < argc; ++i) {
        args.operands.push_back(argv[i]);
    }
    return true;
}

int cmdVerify(const Args& args)
{
    if (args.key.empty()) {
        return usageError("verify needs --key PUBLIC.pem");
    }
    if (args.operands.size() != 1) {
        return usageError("verify takes one FILE");
    }
    const std::string& file = args.operands[0];
    std::string error;
    clonefmt::UniqueFd fd;
    clonefmt::CloneFileInfo info;
    if (!openChecked(args, file, fd, info, error)) {
        return failure(error);
    }
    std::string name;
    std::string manifest;
    if (!readManifest(fd.get(), info, name, manifest, error)) {
        return failure(file + ": " + error);
    }
    std::string checked;
    const bool valid = checkManifest(name, manifest, checked, error);
    if (args.json) {
        Output out;
        Json j(out);
        j.begin('{').field("file", file).key("verified").boolean(valid);
        j.field("cloneType", info.cloneType).field("name", info.name).field("archiveSize", info.archiveSize);
        j.key("signature").string("valid").key("manifest").begin('{').key("member");
        name.empty() ? j.null() : j.string(name);
        j.key("schema").string(valid ? (name.empty() ? "absent" : checked == "empty manifest" ? "empty" : "valid")
                                     : "invalid");
        j.key("error");
        valid ? j.null() : j.string(error);
        j.end().end();
        if (!out.finish()) {
            return failure("cannot write to the standard output");
        }
    }
    if (!valid) {
        return failure(file + ": " + error);
    }
    if (!args.json) {
        std::printf("%s: OK (clone type %s, name %s, archive %llu bytes, %s)\n", printable(file).c_str(),
                    info.cloneType.c_str(), info.name.c_str(), static_cast<unsigned long long>(info.archiveSize),
                    checked.c_str());
    }
    return kOk;
}

int cmdInfo(const Args& args)
{
    if (args.operands.size() != 1) {
        return usageError("info takes one FILE");
    }
    clonefmt::UniqueFd fd;
    clonefmt::CloneFileInfo info;
    std::string error;
    if (!openChecked(args, args.operands[0], fd, info, error)) {
        return failure(error);
    }
    const std::string keyId = clonefmt::hex(info.keyId.data(), info.keyId.size());
    if (args.json) {
        Output out;
        Json j(out);
        j.begin('{').field("file", args.operands[0]).field("formatVersion", std::uint64_t{info.version});
        j.field("signatureAlgorithm", "ed25519-sha512").field("keyId", keyId).field("cloneType", info.cloneType);
        j.field("name", info.name).field("archiveOffset", info.archiveOffset).field("archiveSize", info.archiveSize);
        j.field("fileSize", info.fileSize).end();
        return out.finish() ? kOk : failure("cannot write to the standard output");
    }
    std::printf("format-version: %u\n", static_cast<unsigned>(info.version));
    std::printf("signature-algorithm: ed25519-sha512\n");
    std::printf("key-id: %s\n", keyId.c_str());
    std::printf("clone-type: %s\n", info.cloneType.c_str());
    std::printf("name: %s\n", info.name.c_str());
    std::printf("archive-offset: %llu\n", static_cast<unsigned long long>(info.archiveOffset));
    std::printf("archive-size: %llu\n", static_cast<unsigned long long>(info.archiveSize));
    std::printf("file-size: %llu\n", static_cast<unsigned long long>(info.fileSize));
    return kOk;
}

int cmdManifest(const Args& args)
{
    if (args.operands.size() != 1) {
        return usageError("manifest takes one FILE");
    }
    const std::string& file = args.operands[0];
    std::string error;
    clonefmt::UniqueFd fd;
    clonefmt::CloneFileInfo info;
    if (!openChecked(args, file, fd, info, error)) {
        return failure(error);
    }
    std::string name;
    std::string manifest;
    if (!readManifest(fd.get(), info, name, manifest, error)) {
        return failure(file + ": " + error);
    }
    if (name.empty()) {
        return failure(file + ": the archive holds no CloningManifest.xml or ConfigurationManifest.xml");
    }
    std::string verdict;
    if (!args.key.empty() && !checkManifest(name, manifest, verdict, error)) {
        return failure(file + ": verification failed: " + error);
    }
    // Exact bytes into a file or a pipe; on a terminal no control character acts.
    if (::isatty(STDOUT_FILENO) != 0) {
        manifest = terminalSafe(manifest);
    }
    if (std::fwrite(manifest.data(), 1, manifest.size(), stdout) != manifest.size() || std::fflush(stdout) != 0) {
        return failure("cannot write the manifest");
    }
    return kOk;
}

int cmdList(const Args& args)
{
    if (args.operands.size() != 1) {
        return usageError("list takes one FILE");
    }
    const std::string& file = args.operands[0];
    std::string error;
    clonefmt::UniqueFd fd;
    clonefmt::CloneFileInfo info;
    if (!openChecked(args, file, fd, info, error)) {
        return failure(error);
    }
    if (!args.key.empty() && !verifiedManifest(fd.get(), info, error)) {
        return failure(file + ": verification failed: " + error);
    }
    Output out;
    Json j(out);
    std::uint64_t members = 0;
    if (args.json) {
        j.begin('{').field("file", file).key("list").begin('[');
    }
    auto visit = [&](const clonefmt::TarMember& m, clonefmt::MemberData&, std::string&) {
        ++members;
        if (args.json) {
            // The fields of diff --json's members, the name as stored without "./".
            char mode[8];
            (void)std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(m.mode & 07777));  // 4 digits
            j.begin('{').field("name", m.name.compare(0, 2, "./") == 0 ? m.name.substr(2) : m.name);
            j.field("type", typeName(m.type)).field("mode", mode).field("size", m.size);
            if (m.isSymlink() || m.isHardLink()) {
                j.field("target", m.linkName);
            }
            j.end();
            return true;
        }
        std::string line = printable(m.name);
        if (m.isSymlink()) {
            line += " -> " + printable(m.linkName);
        } else if (m.isHardLink()) {
            line += " link to " + printable(m.linkName);
        }
        out << line << "\n";
        return true;
    };
    if (!clonefmt::walkTarGz(fd.get(), info.archiveOffset, info.archiveSize, visit, error)) {
        return failure(file + ": " + error);
    }
    if (args.json) {
        j.end().field("members", members).end();
    }
    return out.finish() ? kOk : failure("cannot write the list");
}

// Where the members go inside the extraction folder, checked for the whole archive and then against
// what the folder holds, all before the first write: a refused archive writes nothing, and an
// accepted one does not stop halfway over a clash between its members or with the folder.
class ExtractionPlan {
public:
    bool check(const clonefmt::TarMember& m, std::string& relative, std::string& error)
    {
        const std::string shown = printable(m.name);
        if (!clonefmt::safeRelativePath(m.name, relative)) {
            error = "refusing member " + shown + ": absolute name, \"..\" component or NUL byte";
            return false;
        }
        if (relative.empty()) {
            if (!m.isDirectory()) {
                error = "refusing member " + shown + ": it would replace the extraction folder";
                return false;
            }
            return true;
        }
        const clonefmt::MemberType type = m.isDirectory()   ? clonefmt::MemberType::Directory
                                          : m.isFile()      ? clonefmt::MemberType::File
                                          : m.isHardLink()  ? clonefmt::MemberType::HardLink
                                          : m.isSymlink()   ? clonefmt::MemberType::SymbolicLink
                                                            : clonefmt::MemberType::Other;
        switch (clonefmt::memberFault(relative, type, m.linkName)) {
        case clonefmt::MemberFault::None:
            break;
        case clonefmt::MemberFault::TooLong:
            error = "refusing member " + shown + ": name, path or link target too long for the file system";
            return false;
        case clonefmt::MemberFault::Unsupported:
            error = "refusing member " + shown + ": unsupported type '" + std::string(1, m.type) + "'";
            return false;
        case clonefmt::MemberFault::PointsOutside:
            error = "refusing link " + shown + " -> " + printable(m.linkName) + ": it would point outside";
            return false;
        }
        const Kind kind = type == clonefmt::MemberType::Directory  ? Kind::Directory
                          : type == clonefmt::MemberType::SymbolicLink ? Kind::Link
                                                                       : Kind::File;
        // Every folder on the way is a directory of the archive, also where no member makes it: a
        // member below a link or file of the archive would be written through it.
        for (std::size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
            if (entries_.emplace(relative.substr(0, slash), Entry{Kind::Directory, false}).first->second.kind !=
                Kind::Directory) {
                error = "refusing member " + shown + ": it lies below a link or file of the archive";
                return false;
            }
        }
        if (m.isHardLink()) {
            std::string target;
            if (!clonefmt::safeRelativePath(m.linkName, target) || target.empty()) {
                error = "refusing hard link " + shown + " to " + printable(m.linkName) + ": it would point outside";
                return false;
            }
            // A link to its own name would remove its target before linking to it.
            const auto it = entries_.find(target);
            if (it == entries_.end() || it->second.kind != Kind::File || target == relative) {
                error = "refusing hard link " + shown + " to " + printable(m.linkName) +
                        ": no other earlier file of that name";
                return false;
            }
        }
        bytes_ += m.isFile() ? m.size : 0;
        // One name, one type. The same type again replaces the earlier member (the later wins, as
        // with tar); another type could not (a directory may hold members by then).
        const Entry& entry = entries_.emplace(relative, Entry{kind, true}).first->second;
        if (entry.kind != kind) {
            error = "refusing member " + shown + ": the archive also has it as a " + kindName(entry.kind);
            return false;
        }
        return true;
    }

    // Checks the planned members against what DIR holds now. Nothing below a link or file there is
    // looked at: below a directory that is still to be made there is nothing yet.
    bool checkFolder(const std::string& dir, std::string& error) const
    {
        std::set<std::string> made;
        // A folder sorts before the names below it.
        for (const auto& planned : entries_) {
            const std::string& relative = planned.first;
            const Entry& entry = planned.second;
            const std::string path = std::string(dir).append("/").append(relative);
            if (path.size() >= PATH_MAX) {
                error = "refusing member " + printable(relative) + ": path too long for the file system";
                return false;
            }
            const std::size_t slash = relative.rfind('/');
            if (slash != std::string::npos && made.count(relative.substr(0, slash)) != 0) {
                if (entry.kind == Kind::Directory) {
                    made.insert(relative);
                }
                continue;
            }
            struct stat st;
            if (::lstat(path.c_str(), &st) != 0) {
                if (errno != ENOENT) {
                    error = clonefmt::errnoText(path);
                    return false;
                }
                if (entry.kind == Kind::Directory) {
                    made.insert(relative);
                }
            } else if (S_ISDIR(st.st_mode) && entry.kind != Kind::Directory) {
                error = "refusing member " + printable(relative) + ": " + path + " is a directory";
                return false;
            } else if (!S_ISDIR(st.st_mode) && entry.kind == Kind::Directory) {
                // A directory member replaces a link or file, as tar does, unless a member below it
                // comes first: that one would be written through it.
                if (!entry.memberFirst) {
                    error = "refusing to write through " + path + ": not a directory";
                    return false;
                }
                made.insert(relative);
            }
        }
        return true;
    }

    // What the files need at most (a repeated name counted each time).
    std::uint64_t bytes() const { return bytes_; }

private:
    enum class Kind { Directory, File, Link };
    struct Entry {
        Kind kind;
        bool memberFirst;  // a member of that name comes before any member below it
    };

    static const char* kindName(Kind kind)
    {
        return kind == Kind::Directory ? "directory" : kind == Kind::File ? "file" : "symbolic link";
    }

    std::map<std::string, Entry> entries_;
    std::uint64_t bytes_ = 0;
};

struct ArchiveWriteFree {
    void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryFree {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

// The working directory for as long as it lives: libarchive writes relative to it, so its own
// checks (no "..", no absolute name, nothing through a link) hold for DIR.
class WorkingDirectory {
public:
    bool enter(const std::string& dir, std::string& error)
    {
        saved_ = clonefmt::UniqueFd(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!saved_.valid() || ::chdir(dir.c_str()) != 0) {
            error = clonefmt::errnoText(dir);
            saved_.reset();
            return false;
        }
        return true;
    }
    ~WorkingDirectory()
    {
        if (saved_.valid() && ::fchdir(saved_.get()) != 0) {
            std::perror("clonefile: cannot return to the working directory");
        }
    }

private:
    clonefmt::UniqueFd saved_;
};

// Writes the members, each checked again against the plan, through libarchive's disk writer with
// its secure-extraction flags. An existing entry is unlinked first, never written through.
class Extractor {
public:
    bool open(const std::string& dir, std::string& error)
    {
        disk_.reset(archive_write_disk_new());
        if (!disk_ || !cwd_.enter(dir, error)) {
            error = disk_ ? error : "out of memory";
            return false;
        }
        const int flags = ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                          ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS | ARCHIVE_EXTRACT_UNLINK | ARCHIVE_EXTRACT_TIME |
                          ARCHIVE_EXTRACT_PERM;
        if (archive_write_disk_set_options(disk_.get(), flags) != ARCHIVE_OK) {
            error = diskError();
            return false;
        }
        return true;
    }

    bool extract(const clonefmt::TarMember& m, clonefmt::MemberData& data, std::string& error)
    {
        std::string relative;
        if (!plan_.check(m, relative, error)) {
            return false;
        }
        if (relative.empty()) {
            return true;  // the archive's root: DIR itself
        }
        std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
        if (!entry) {
            error = "out of memory";
            return false;
        }
        archive_entry* e = entry.get();
        archive_entry_set_pathname(e, relative.c_str());
        archive_entry_set_mtime(e, static_cast<time_t>(m.mtime), 0);
        archive_entry_set_atime(e, static_cast<time_t>(m.mtime), 0);
        if (m.isDirectory()) {
            archive_entry_set_filetype(e, AE_IFDIR);
            // Owner access stays, so the members that follow can be written into it.
            archive_entry_set_perm(e, (m.mode & 0777) | 0700);
        } else if (m.isSymlink()) {
            archive_entry_set_filetype(e, AE_IFLNK);
            archive_entry_set_perm(e, 0777);
            archive_entry_set_symlink(e, m.linkName.c_str());
        } else if (m.isHardLink()) {
            std::string target;
            clonefmt::safeRelativePath(m.linkName, target);
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, m.mode & 0777);
            archive_entry_set_hardlink(e, target.c_str());
            archive_entry_set_size(e, 0);
        } else {
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, m.mode & 0777);
            archive_entry_set_size(e, static_cast<la_int64_t>(m.size));
        }
        if (archive_write_header(disk_.get(), e) != ARCHIVE_OK) {
            error = relative + ": " + diskError();
            return false;
        }
        if (m.isFile() && !copyData(relative, m, data, error)) {
            return false;
        }
        if (archive_write_finish_entry(disk_.get()) != ARCHIVE_OK) {
            error = relative + ": " + diskError();
            return false;
        }
        return true;
    }

    // Gives the directories their modes and times, which wait until their members are written.
    bool close(std::string& error)
    {
        if (archive_write_close(disk_.get()) != ARCHIVE_OK) {
            error = diskError();
            return false;
        }
        return true;
    }

private:
    bool copyData(const std::string& relative, const clonefmt::TarMember& m, clonefmt::MemberData& data,
                  std::string& error)
    {
        char buf[65536];
        for (;;) {
            const long n = data.read(buf, sizeof buf);
            if (n < 0) {
                error = "cannot read member " + printable(m.name);
                return false;
            }
            if (n == 0) {
                return true;
            }
            if (archive_write_data(disk_.get(), buf, static_cast<std::size_t>(n)) != n) {
                error = relative + ": " + diskError();
                return false;
            }
        }
    }

    std::string diskError() const
    {
        const char* text = archive_error_string(disk_.get());
        return text != nullptr ? text : "cannot be written";
    }

    std::unique_ptr<archive, ArchiveWriteFree> disk_;
    WorkingDirectory cwd_;
    ExtractionPlan plan_;
};

int cmdExtract(const Args& args)
{
    if (args.operands.size() != 2) {
        return usageError("extract takes FILE and DIR");
    }
    const std::string& file = args.operands[0];
    std::string dir = args.operands[1];
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    std::string error;
    clonefmt::UniqueFd fd;
    clonefmt::CloneFileInfo info;
    if (!openChecked(args, file, fd, info, error)) {
        return failure(error);
    }
    if (!args.key.empty() && !verifiedManifest(fd.get(), info, error)) {
        return failure(file + ": verification failed: " + error);
    }
    // First every member is checked, then what DIR holds, so a refused archive writes nothing at all.
    ExtractionPlan plan;
    auto check = [&plan](const clonefmt::TarMember& m, clonefmt::MemberData&, std::string& err) {
        std::string relative;
        return plan.check(m, relative, err);
    };
    if (!clonefmt::walkTarGz(fd.get(), info.archiveOffset, info.archiveSize, check, error)) {
        return failure(file + ": " + error);
    }
    struct stat st;
    const bool present = ::stat(dir.c_str(), &st) == 0;
    if (!present && errno != ENOENT) {
        return failure(clonefmt::errnoText(dir));
    }
    if (present && !S_ISDIR(st.st_mode)) {
        return failure(dir + ": not a directory");
    }
    if (!plan.checkFolder(dir, error)) {
        return failure(file + ": " + error);
    }
    // A full disk would stop the writing halfway: the files must fit in what is free now.
    struct statvfs fs;
    const std::string where = present ? dir : clonefmt::dirName(dir);
    if (::statvfs(where.c_str(), &fs) != 0) {
        return failure(clonefmt::errnoText(where));
    }
    const std::uint64_t free = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
    if (plan.bytes() > free) {
        return failure(file + ": refused: its files need " + std::to_string(plan.bytes()) + " bytes, " + where +
                       " has " + std::to_string(free) + " free");
    }
    if (!present && ::mkdir(dir.c_str(), 0755) != 0) {
        return failure(clonefmt::errnoText(dir));
    }
    Extractor extractor;
    if (!extractor.open(dir, error)) {
        return failure(error);
    }
    auto extract = [&extractor](const clonefmt::TarMember& m, clonefmt::MemberData& data, std::string& err) {
        return extractor.extract(m, data, err);
    };
    if (!clonefmt::walkTarGz(fd.get(), info.archiveOffset, info.archiveSize, extract, error) ||
        !extractor.close(error)) {
        return failure(file + ": " + error);
    }
    return kOk;
}

std::string deviceRoot(const Args& args)
{
    if (!args.root.empty()) {
        return args.root;
    }
    const char* env = std::getenv("CLONE_DEVICE_ROOT");
    return env != nullptr ? env : "";
}

bool ensureConfigDir(const std::string& root, std::string& error)
{
    struct stat st;
    if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = root + ": no such device root";
        return false;
    }
    const std::string config = root + "/config";
    if (::mkdir(config.c_str(), 0755) != 0 && errno != EEXIST) {
        error = clonefmt::errnoText(config);
        return false;
    }
    return true;
}

// Reads the password's first line from standard input, without echo on a terminal.
bool readPassword(std::string& password, std::string& error)
{
    const bool tty = ::isatty(0) != 0;
    struct termios saved;
    if (tty) {
        // A prompt that cannot be shown changes nothing: the password is read all the same.
        (void)std::fputs("New clone password: ", stderr);
        (void)std::fflush(stderr);
        if (::tcgetattr(0, &saved) == 0) {
            struct termios quiet = saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            ::tcsetattr(0, TCSAFLUSH, &quiet);
        }
    }
    char buf[kMaxPassword + 2];
    std::size_t len = 0;
    bool ended = false;
    while (len < sizeof buf) {
        const ssize_t n = ::read(0, buf + len, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || buf[len] == '\n') {
            ended = true;
            break;
        }
        ++len;
    }
    if (tty) {
        ::tcsetattr(0, TCSAFLUSH, &saved);
        (void)std::fputc('\n', stderr);
    }
    if (len > 0 && buf[len - 1] == '\r') {
        --len;
    }
    password.assign(buf, len);
    OPENSSL_cleanse(buf, sizeof buf);
    if (!ended || len > kMaxPassword) {
        error = "password longer than " + std::to_string(kMaxPassword) + " bytes refused";
        return false;
    }
    if (password.empty()) {
        error = "empty password refused";
        return false;
    }
    return true;
}

int cmdSetPassword(const Args& args)
{
    if (!args.operands.empty()) {
        return usageError("set-password takes no operands (the password is read from standard input)");
    }
    unsigned long iterations = clonefmt::kDefaultIterations;
    if (!args.iterations.empty()) {
        char* end = nullptr;
        errno = 0;
        iterations = std::strtoul(args.iterations.c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || args.iterations[0] == '-' || iterations == 0 ||
            iterations > clonefmt::kMaxIterations) {
            return usageError("--iterations must be 1 to " + std::to_string(clonefmt::kMaxIterations));
        }
    }
    const std::string root = deviceRoot(args);
    if (root.empty()) {
        return usageError("no device root: give --root ROOT or set CLONE_DEVICE_ROOT");
    }
    std::string error;
    if (!ensureConfigDir(root, error)) {
        return failure(error);
    }
    std::string password;
    const bool ok = readPassword(password, error) &&
                    clonefmt::writePasswordFile(root + "/config/clone_password", password, iterations, error);
    if (!password.empty()) {
        OPENSSL_cleanse(password.data(), password.size());
    }
    return ok ? kOk : failure(error);
}

int cmdKeygen(const Args& args)
{
    if (args.operands.size() != 1) {
        return usageError("keygen takes the path for the PUBLIC.pem key");
    }
    const std::string root = deviceRoot(args);
    if (root.empty()) {
        return usageError("no device root: give --root ROOT or set CLONE_DEVICE_ROOT");
    }
    std::string error;
    if (!ensureConfigDir(root, error) ||
        !clonefmt::generateKeyPair(root + "/config/clone_signing_key.pem", args.operands[0], args.force, error)) {
        return failure(error);
    }
    return kOk;
}

struct Command {
    const char* name;
    int (*run)(const Args&);
    const char* options;  // the letters of kOptionHelp it takes
    const char* synopsis;
    const char* description;
};

const Command kCommands[] = {
    {"verify", cmdVerify, "kjh", "verify -k PUBLIC.pem [-j] FILE",
     "check that FILE is an intact clone file signed by the key and that its manifest validates\n"
     "against its schema"},
    {"info", cmdInfo, "jh", "info [-j] FILE", "print the header of FILE (the signature is not checked)"},
    {"manifest", cmdManifest, "kh", "manifest [-k PUBLIC.pem] FILE",
     "print the manifest XML inside FILE's archive (control characters escaped on a terminal)"},
    {"list", cmdList, "kjh", "list [-k PUBLIC.pem] [-j] FILE", "list the members of FILE's archive"},
    {"show", cmdShow, "kjh", "show [-k PUBLIC.pem] [-j] FILE",
     "summarize FILE: header, manifest elements and what each holds, certificates and their\n"
     "expiry, unnamed members"},
    {"diff", cmdDiff, "kjch", "diff [-k PUBLIC.pem] [-j] [-c] A B",
     "what differs between clone files A and B: elements, and members added, removed or changed;\n"
     "nothing is printed when they are the same"},
    {"extract", cmdExtract, "kh", "extract [-k PUBLIC.pem] FILE DIR",
     "unpack FILE's archive into DIR; an archive with members that would land outside DIR, clash\n"
     "with each other or with DIR's entries, or not fit, is refused and then nothing is written"},
    {"set-password", cmdSetPassword, "rih", "set-password [-r ROOT] [-i N]",
     "read a new clone password from standard input and write the verifier ROOT/config/clone_password"},
    {"keygen", cmdKeygen, "rfh", "keygen [-r ROOT] [-f] PUBLIC.pem",
     "make the device signing key ROOT/config/clone_signing_key.pem and write its public key to\n"
     "PUBLIC.pem"},
};

std::string indented(const char* text, const char* indent)
{
    std::string out = indent;
    for (const char* p = text; *p != '\0'; ++p) {
        out += *p;
        if (*p == '\n') {
            out += indent;
        }
    }
    return out + "\n";
}

// The general usage, or one command's; on the standard output, a failed write fails the command.
int printUsage(const Command* command)
{
    std::string text;
    if (command == nullptr) {
        text = kGeneral;
        for (const Command& c : kCommands) {
            text += std::string("  ") + c.synopsis + "\n" + indented(c.description, "      ");
        }
    } else {
        text = std::string("usage: clonefile ") + command->synopsis + "\n" + indented(command->description, "") +
               "\nOptions:\n";
        for (const OptionHelp& o : kOptionHelp) {
            if (std::strchr(command->options, o.letter) != nullptr) {
                char line[160];
                // Fixed texts, all shorter than the buffer.
                (void)std::snprintf(line, sizeof line, "  %-22s %s\n", o.usage, o.text);
                text += line;
            }
        }
    }
    return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? kOk : kFailed;
}

// Roff text: a backslash doubled, a line that would begin with '.' or '\'' kept from being a request.
std::string roff(const std::string& text)
{
    std::string out;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\'')) {
            out += "\\&";
        }
        out += c == '\\' ? std::string("\\e") : c == '-' ? std::string("\\-") : std::string(1, c);
        lineStart = c == '\n';
    }
    return out;
}

// The manual page, made at build time from the same texts as --help, so the two never differ.
int printManual()
{
    std::string page = ".TH CLONEFILE 1 \"\" \"clonefile " CLONE_VERSION "\" \"User Commands\"\n"
                       ".SH NAME\nclonefile \\- check, inspect and unpack clone files\n.SH SYNOPSIS\n";
    for (const Command& c : kCommands) {
        page += ".B clonefile\n" + roff(c.synopsis) + "\n.br\n";
    }
    const std::string general = kGeneral;
    const std::size_t from = general.find("\n\n") + 2;
    page += ".SH DESCRIPTION\n" + roff(general.substr(from, general.find("\n\nCommands:") - from)) + "\n.SH COMMANDS\n";
    for (const Command& c : kCommands) {
        page += ".TP\n.B " + roff(c.synopsis) + "\n" + roff(c.description) + "\n";
    }
    page += ".SH OPTIONS\n";
    for (const OptionHelp& o : kOptionHelp) {
        page += ".TP\n.B " + roff(o.usage) + "\n" + roff(o.text) + "\n";
    }
    page += ".SH SEE ALSO\ndocs/reading-clone-files.md and docs/clone-file-format.md of the sources\n";
    return std::fputs(page.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? kOk : kFailed;
}

// Bash completion of the commands and of each command's options, from the same table.
int printCompletion()
{
    std::string script = "# bash completion for clonefile, made by clonefile --bash-completion\n"
                         "_clonefile() {\n"
                         "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} words\n"
                         "    if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
                         "        words=\"--help --version";
    for (const Command& c : kCommands) {
        script += std::string(" ") + c.name;
    }
    script += "\"\n    else\n        case $prev in -k|--key|-r|--root) COMPREPLY=($(compgen -f -- \"$cur\")); return ;; "
              "-i|--iterations) return ;; esac\n        case ${COMP_WORDS[1]} in\n";
    for (const Command& c : kCommands) {
        script += std::string("        ") + c.name + ") words=\"";
        for (const struct option* o = kLongOptions; o->name != nullptr; ++o) {
            if (std::strchr(c.options, o->val) != nullptr) {
                script += std::string("-") + static_cast<char>(o->val) + " --" + o->name + " ";
            }
        }
        script += "\" ;;\n";
    }
    script += "        esac\n        case $cur in -*) ;; *) COMPREPLY=($(compgen -f -- \"$cur\")); return ;; esac\n"
              "    fi\n    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n}\ncomplete -o filenames -F _clonefile clonefile\n";
    return std::fputs(script.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? kOk : kFailed;
}

}  // namespace

int main(int argc, char** argv)
{
    // A closed pipe ends the command quietly, as it does GNU tools, whatever the parent ignored.
    (void)std::signal(SIGPIPE, SIG_DFL);  // cannot fail for SIGPIPE
    (void)std::setlocale(LC_CTYPE, "");   // NOLINT(concurrency-mt-unsafe): one thread; to know whether the terminal takes UTF-8
    if (argc < 2) {
        return usageError("no command given");
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        return printUsage(nullptr);
    }
    if (name == "--man") {
        return printManual();
    }
    if (name == "--bash-completion") {
        return printCompletion();
    }
    if (name == "--version") {
        std::printf("clonefile %s (clone file format %u, %s)\n", CLONE_VERSION,
                    static_cast<unsigned>(clonefmt::kFormatVersion), archive_version_string());
        return std::fflush(stdout) == 0 ? kOk : kFailed;
    }
    for (const Command& command : kCommands) {
        if (name != command.name) {
            continue;
        }
        Args args;
        std::string error;
        if (!parseArgs(argc - 1, argv + 1, command.options, args, error)) {
            return usageError(error);
        }
        if (args.help) {
            return printUsage(&command);
        }
        const int status = command.run(args);
        // What a command printed without checking (a header, a verdict) still must have arrived.
        const bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
        if (!written && (status == kOk || (name == "diff" && status == 1))) {
            failure("cannot write to the standard output");
            return name == "diff" ? kMisuse : kFailed;
        }
        return status;
    }
    return usageError("unknown command " + name);
}
