#include "FuzzDevice.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parserInternals.h>

#include "DevicePath.h"
#include "device_log.h"
#include "xfile.h"

namespace fuzzdev {

namespace {

[[noreturn]] void fail(const std::string& what)
{
    std::perror(what.c_str());
    std::abort();
}

void makeDirs(std::string dir)
{
    if (xmkdir(&dir[0], 0755) != 0) {
        fail("mkdir " + dir);
    }
}

int removeEntry(const char* file, const struct stat*, int, struct FTW* ftw)
{
    if (ftw->level > 0) {
        std::remove(file);
    }
    return 0;
}

std::string* rootDir = nullptr;

void removeRoot()
{
    if (rootDir != nullptr) {
        clearDirectory(*rootDir);
        ::rmdir(rootDir->c_str());
    }
}

xmlExternalEntityLoader defaultLoader = nullptr;

xmlParserInputPtr insideRootOnly(const char* url, const char* id, xmlParserCtxtPtr ctxt)
{
    const std::string inside = root() + "/";
    if (url == nullptr || std::strncmp(url, inside.c_str(), inside.size()) != 0) {
        std::fprintf(stderr, "libxml2 was asked to load %s (public id %s)\n", url ? url : "(null)", id ? id : "(null)");
        std::abort();
    }
    return defaultLoader(url, id, ctxt);
}

}  // namespace

const std::string& root()
{
    if (rootDir != nullptr) {
        return *rootDir;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/clonefuzz.XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr) {
        fail("mkdtemp " + pattern);
    }
    rootDir = new std::string(pattern);
    std::atexit(removeRoot);
    for (const char* dir : {"/xpaths/tmp_cloningData", "/xpaths/nc_dlms_data/clone/data", "/config",
                            "/usr/lib/plugins/cloning", "/out"}) {
        makeDirs(*rootDir + dir);
    }
    // Preconditions that hold, so the fuzzer reaches the sections behind them.
    const std::string attributes =
        "sysMgmt.features.scanToHome.enabled=TRUE\nHW.copyController.configuration=mfp\nHW.fax.installed=FALSE\n";
    writeFile(*rootDir + "/config/attributes", attributes.data(), attributes.size());
    ::setenv("CLONE_DEVICE_ROOT", rootDir->c_str(), 1);
    cloneutil::refreshDeviceRoot();
    return *rootDir;
}

std::string path(const std::string& devicePath)
{
    return root() + devicePath;
}

void writeFile(const std::string& file, const void* data, std::size_t size)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail("open " + file);
    }
    const bool written = size == 0 || ::write(fd, data, size) == static_cast<ssize_t>(size);
    if (::close(fd) != 0 || !written) {
        fail("write " + file);
    }
}

void clearDirectory(const std::string& dir)
{
    ::nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void forbidOutsideLoads()
{
    if (defaultLoader == nullptr) {
        defaultLoader = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(insideRootOnly);
    }
}

}  // namespace fuzzdev

// The library runs device tools, the archiver and clean-ups through the shell. A process per input
// would make fuzzing crawl, so every command naming the device root cannot be started (the library
// handles a tool that cannot be run); any other spawn (libFuzzer's own) goes ahead.
extern "C" int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                           const posix_spawnattr_t* attributes, char* const argv[], char* const envp[])
{
    for (int i = 0; argv[i] != nullptr && fuzzdev::rootDir != nullptr; ++i) {
        if (std::strstr(argv[i], fuzzdev::rootDir->c_str()) != nullptr) {
            return ENOENT;
        }
    }
    using Spawn = int (*)(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                          char* const[], char* const[]);
    static const Spawn real = reinterpret_cast<Spawn>(::dlsym(RTLD_NEXT, "posix_spawn"));
    return real(pid, path, actions, attributes, argv, envp);
}

// The device log. Every record is formatted as the log service would, so format strings meet the
// fuzzed data, and then dropped: a file per record would grow by every input and cost most of the run.
extern "C" void Log_SpecEntry(Log_Entry_Spec_t* record, const char* sourceFile, int line, const char* format, ...)
{
    if (record == nullptr || format == nullptr) {
        return;
    }
    char message[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    (void)sourceFile;
    (void)line;
}
