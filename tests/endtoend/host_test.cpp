// The library as a guest in a host process such as the device's web server: threads using libxml2
// and the working directory, a reaper of its children or SIGCHLD ignored, closed standard
// descriptors, descriptors and signal settings of its own, and exports that overlap. Each export
// must still give a whole clone file, and the host must find its process as it left it.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <libxml/encoding.h>
#include <libxml/parser.h>

#include "CloneCreator.h"
#include "ExportTest.h"
#include "Handles.h"

namespace {

using namespace clonetest;

const char kGroups[] = "SCAN_GROUP NETWORK_GROUP SECURITY_GROUP ACCOUNTING_GROUP PRINT_GROUP ";

// Members that only tools make, one of each kind of tool.
const std::vector<std::string> kToolMembers = {
    "./data/cloneStorage/ds_clone",          "./data/cloneStorage/ds_ccs_clone",
    "./data/mailbox/cfg_clone_mailbox",      "./data/serviceRegistry/srtFile",
    "./data/singleTouch/single_touch_clone", "./data/qtmException/qtm_exception_clone",
};

// A host thread that does WORK over and over until it is stopped.
class HostThread {
public:
    template <typename Work>
    explicit HostThread(Work work) : thread_([this, work] {
                                         while (!stop_) {
                                             work();
                                         }
                                     })
    {
    }
    ~HostThread() { stop(); }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class HostTest : public ExportTest {
protected:
    // ROUNDS exports in a row; the clone files they made.
    std::vector<std::string> exportRounds(int rounds)
    {
        std::vector<std::string> cloneFiles;
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE(round);
            clearLog();
            const std::string out = root() + "/out" + std::to_string(round);
            EXPECT_EQ(exportTo(out, kGroups), 0);
            EXPECT_EQ(messages("ERROR"), std::vector<std::string>{});
            cloneFiles.push_back(out + "/cloning.dlm");
        }
        return cloneFiles;
    }

    // Each clone file holds what the tools made (checked once the host is back to normal: the
    // clonefile command is a child of the test's too).
    void expectToolMembers(const std::vector<std::string>& cloneFiles)
    {
        for (const std::string& cloneFile : cloneFiles) {
            const std::vector<std::string> names = members(cloneFile);
            for (const std::string& member : kToolMembers) {
                EXPECT_TRUE(contains(names, member)) << cloneFile << ": " << member;
            }
        }
    }

    // An export in a fresh child process under LIMIT of RESOURCE: its exit status, 3 for a result 1
    // without an ERROR (looked for when the log itself is not under the limit: a file-size limit or
    // no descriptor left to open it).
    int exportUnderLimit(int resource, rlim_t limit, const std::string& out)
    {
        const pid_t child = ::fork();
        if (child == 0) {
            clearLog();
            struct rlimit set = {limit, limit};
            if (::setrlimit(resource, &set) != 0) {
                ::_exit(4);
            }
            const int spare = ::fcntl(2, F_DUPFD_CLOEXEC, 0);
            const bool logWritable = resource != RLIMIT_FSIZE && spare >= 0;
            ::close(spare);
            int result = 1;
            try {
                result = exportTo(out, kGroups);
            } catch (...) {
                std::abort();  // as in a C host: nothing above createCloneDLM catches
            }
            ::_exit(result != 0 && logWritable && messages("ERROR").empty() ? 3 : result);
        }
        int status = -1;
        EXPECT_EQ(::waitpid(child, &status, 0), child);
        return status;
    }

    // Children that send no signal when they end: an emulator may not make them.
    static bool quietChildrenPossible()
    {
        alignas(16) static char stack[16384];
        const pid_t pid = ::clone([](void*) -> int { ::_exit(0); }, stack + sizeof stack, CLONE_VM | CLONE_VFORK,
                                  nullptr);
        if (pid == -1) {
            return false;
        }
        int status;
        ::waitpid(pid, &status, __WALL);
        return true;
    }
};

// libxml2 belongs to the host too: it is never cleaned up or set otherwise under it.
TEST_F(HostTest, LibxmlOfTheHostStaysAsItWas)
{
    ASSERT_EQ(xmlAddEncodingAlias("ISO-8859-1", "HOST-LATIN"), 0);
    static const char latin[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xe9</a>";
    HostThread parser([] {
        xmlDocPtr doc = xmlReadMemory(latin, sizeof latin - 1, "host.xml", nullptr, XML_PARSE_NONET);
        xmlFreeDoc(doc);
    });
    const std::vector<std::string> cloneFiles = exportRounds(3);
    parser.stop();
    expectToolMembers(cloneFiles);
    EXPECT_NE(xmlGetEncodingAlias("HOST-LATIN"), nullptr);
    // Blanks are kept unless a parse asks otherwise.
    static const char blanks[] = "<a> <b/> </a>";
    xmlDocPtr doc = xmlReadMemory(blanks, sizeof blanks - 1, "blanks.xml", nullptr, 0);
    ASSERT_NE(doc, nullptr);
    int children = 0;
    for (xmlNodePtr n = xmlDocGetRootElement(doc)->children; n != nullptr; n = n->next) {
        ++children;
    }
    EXPECT_EQ(children, 3) << "blank text nodes were dropped";
    xmlFreeDoc(doc);
    xmlDelEncodingAlias("HOST-LATIN");
}

// The working directory is the whole process's: it never moves, not even for the archive.
TEST_F(HostTest, WorkingDirectoryNeverMoves)
{
    char start[PATH_MAX];
    ASSERT_NE(::getcwd(start, sizeof start), nullptr);
    std::atomic<int> moved{0};
    HostThread watcher([&] {
        char now[PATH_MAX];
        if (::getcwd(now, sizeof now) == nullptr || std::strcmp(now, start) != 0) {
            ++moved;
        }
    });
    const std::vector<std::string> cloneFiles = exportRounds(3);
    watcher.stop();
    EXPECT_EQ(moved, 0);
    expectToolMembers(cloneFiles);
}

// A host that reaps any child that ends, from a thread of its own, takes no tool's status.
TEST_F(HostTest, HostReapingItsChildrenTakesNoStatus)
{
    if (!quietChildrenPossible()) {
        GTEST_SKIP() << "children here always signal their end (emulator)";
    }
    HostThread reaper([] {
        int status;
        ::waitpid(-1, &status, WNOHANG);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    });
    const std::vector<std::string> cloneFiles = exportRounds(3);
    reaper.stop();
    expectToolMembers(cloneFiles);
}

// A daemon that ignores SIGCHLD (and SIGPIPE) can export, and its tools see neither ignored.
TEST_F(HostTest, HostIgnoringSignalsCanExport)
{
    if (!quietChildrenPossible()) {
        GTEST_SKIP() << "children here always signal their end (emulator)";
    }
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction child, pipe;
    ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &child), 0);
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &pipe), 0);
    const std::vector<std::string> cloneFiles = exportRounds(1);
    ::sigaction(SIGCHLD, &child, nullptr);
    ::sigaction(SIGPIPE, &pipe, nullptr);
    expectToolMembers(cloneFiles);
}

// Tools start clean: no descriptor of the host's (77, left inheritable), no ignored or blocked
// signal, and standard descriptors even when the host has closed its own.
TEST_F(HostTest, ToolsGetNothingOfTheHost)
{
    const std::string seen = root() + "/io/tool-saw";
    replaceTool("/xpaths/nc_dlms/clone/apps/srtClone",
                "{ [ -e /proc/$$/fd/77 ] && echo 'fd 77 inherited'; grep -E '^Sig(Ign|Blk)' /proc/self/status;"
                " [ -w /proc/$$/fd/1 ] || echo 'no standard output'; } > '" + seen + "'; echo srt=1 > \"$1\"");
    const int hostFile = ::open((root() + "/io/host-file").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(::dup2(hostFile, 77), 77);
    ::close(hostFile);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction pipe;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &pipe), 0);
    sigset_t usr1, previous;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &usr1, &previous), 0);
    // The standard descriptors closed, kept aside to be given back.
    const int kept[3] = {::fcntl(0, F_DUPFD_CLOEXEC, 100), ::fcntl(1, F_DUPFD_CLOEXEC, 100),
                         ::fcntl(2, F_DUPFD_CLOEXEC, 100)};
    ::close(0);
    ::close(1);
    ::close(2);

    std::string out = root() + "/out";
    std::string line = kGroups;
    const int result = createCloneDLM(&out[0], kClonePassword, &line[0]);

    for (int fd = 0; fd < 3; ++fd) {
        ::dup2(kept[fd], fd);
        ::close(kept[fd]);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::sigaction(SIGPIPE, &pipe, nullptr);
    ::close(77);
    ASSERT_EQ(result, 0);
    // Under an emulator the signal settings of a native shell are the emulator's to make.
    const bool emulated = std::strlen(CLONEFILE_EMULATOR) != 0;
    const std::string clean = "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n";
    EXPECT_EQ(emulated ? clean : readFile(seen), clean);
    EXPECT_EQ(readFile(seen).find("fd 77"), std::string::npos);
    EXPECT_EQ(readFile(seen).find("no standard output"), std::string::npos);
    expectToolMembers({out + "/cloning.dlm"});
}

// Children the host starts from another thread during exports inherit no handle on the library's
// files: the staging area and the group files.
TEST_F(HostTest, HostChildrenInheritNoFileOfTheLibrary)
{
    const std::string seen = root() + "/io/host-child-fds";
    const std::string script = "ls -l /proc/self/fd/ >> '" + seen + "'";
    HostThread spawner([&] {
        std::system(script.c_str());
    });
    const std::vector<std::string> cloneFiles = exportRounds(3);
    spawner.stop();
    ASSERT_TRUE(exists(seen));
    for (const std::string& line : lines(readFile(seen))) {
        EXPECT_EQ(line.find("/xpaths/tmp_cloningData"), std::string::npos) << line;
        EXPECT_EQ(line.find("/clone/data/tmp_"), std::string::npos) << line;
    }
    expectToolMembers(cloneFiles);
}

// Exports that overlap wait for each other, within a process and across processes, and all of
// them make their clone files.
TEST_F(HostTest, OverlappingExportsTakeTurns)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        int results[2] = {-1, -1};
        std::thread first([&] {
            std::string out = root() + "/thread0", line = kGroups;
            results[0] = createCloneDLM(&out[0], kClonePassword, &line[0]);
        });
        std::thread second([&] {
            std::string out = root() + "/thread1", line = kGroups;
            results[1] = createCloneDLM(&out[0], kClonePassword, &line[0]);
        });
        first.join();
        second.join();
        EXPECT_EQ(results[0], 0);
        EXPECT_EQ(results[1], 0);

        pid_t children[2];
        for (int i = 0; i < 2; ++i) {
            children[i] = ::fork();
            ASSERT_NE(children[i], -1);
            if (children[i] == 0) {
                std::string out = root() + "/process" + std::to_string(i), line = kGroups;
                ::_exit(createCloneDLM(&out[0], kClonePassword, &line[0]));
            }
        }
        for (pid_t child : children) {
            int status = -1;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        for (const char* name : {"/thread0", "/thread1", "/process0", "/process1"}) {
            EXPECT_EQ(clonefile({"verify", "--key", signingPublicKey(), root() + name + "/cloning.dlm"}).status, 0)
                << name;
        }
    }
    // An export that finds the device's lock held past the time limit, by another process, touches
    // nothing.
    const std::string lock = path(CLONE_EXPORT_LOCK);
    int ready[2];
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    const pid_t holder = ::fork();
    ASSERT_NE(holder, -1);
    if (holder == 0) {
        const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        struct flock whole = {};
        whole.l_type = F_WRLCK;
        if (fd < 0 || ::fcntl(fd, F_SETLK, &whole) != 0 || ::write(ready[1], "l", 1) != 1) {
            ::_exit(1);
        }
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char taken = 0;
    ASSERT_EQ(::read(ready[0], &taken, 1), 1);
    ::close(ready[0]);
    writeFile(path(CLONE_STAGING_DIR "earlier"), "kept");
    const ScopedEnv limit("CLONE_COMMAND_TIME_LIMIT", "1");
    std::string out = root() + "/locked", line = kGroups;
    EXPECT_EQ(createCloneDLM(&out[0], kClonePassword, &line[0]), 1);
    EXPECT_TRUE(logged("ERROR", "Another export still held " CLONE_EXPORT_LOCK " after 1 s; no export runs"))
        << ::testing::PrintToString(messages("ERROR"));
    EXPECT_EQ(readFile(path(CLONE_STAGING_DIR "earlier")), "kept");
    EXPECT_FALSE(exists(out + "/cloning.dlm"));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
}

// A host thread that fork()s long-lived children during an export: they keep nothing of it, so the
// next export finds the lock free at once.
TEST_F(HostTest, HostForksKeepNoLock)
{
    std::vector<pid_t> forked;
    HostThread forker([&] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::pause();
            ::_exit(0);
        }
        if (pid > 0) {
            forked.push_back(pid);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    EXPECT_EQ(exportTo(root() + "/first", kGroups), 0);
    forker.stop();
    ASSERT_FALSE(forked.empty());
    // A lock a child kept would be waited for the time limit, then the export refused; the limit
    // leaves a busy machine's tools time enough.
    const ScopedEnv limit("CLONE_COMMAND_TIME_LIMIT", "10");
    EXPECT_EQ(exportTo(root() + "/second", kGroups), 0) << ::testing::PrintToString(messages("ERROR"));
    for (pid_t pid : forked) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

// Limits a host may run under end an export with result 1 and an ERROR, never with a signal; a
// result 0 is a clone file that verifies with every tool's member whole. Each export in a fresh
// process.
TEST_F(HostTest, ResourceLimitsEndAnExportNeverTheHost)
{
    ASSERT_EQ(exportTo(root() + "/sized", kGroups), 0);
    struct stat sized;
    ASSERT_EQ(::stat((root() + "/sized/cloning.dlm").c_str(), &sized), 0);
    const rlim_t cloneSize = static_cast<rlim_t>(sized.st_size);
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t vm = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
    std::vector<std::pair<int, rlim_t>> limits;  // resource, limit
    // An emulator keeps address-space limits to itself and spends descriptors of its own; the
    // address sanitizer's allocator aborts by design when address space runs out.
    const bool emulated = std::strlen(CLONEFILE_EMULATOR) != 0;
#if defined(__SANITIZE_ADDRESS__)
    const bool sanitized = true;
#else
    const bool sanitized = false;
#endif
    for (rlim_t kib : {0, 128, 256, 384, 512, 768, 1024, 1536, 2048, 4096, 8192, 16384, 32768, 65536, 131072,
                       262144}) {
        // cppcheck-suppress knownConditionTrueFalse ; both are false on a native build only
        if (!emulated && !sanitized) {
            limits.emplace_back(RLIMIT_AS, vm + kib * 1024);
        }
    }
    for (rlim_t size : {rlim_t{1}, cloneSize / 2, cloneSize - 1, cloneSize, cloneSize + 4096, 4 * cloneSize}) {
        limits.emplace_back(RLIMIT_FSIZE, size);
    }
    // cppcheck-suppress knownConditionTrueFalse ; false on a cross build
    for (rlim_t n = 4; n <= 32 && !emulated; ++n) {
        limits.emplace_back(RLIMIT_NOFILE, n);
    }
    int exported = 0;
    for (const auto& [resource, limit] : limits) {
        SCOPED_TRACE("resource " + std::to_string(resource) + " limit " + std::to_string(limit));
        const std::string out = root() + "/limited" + std::to_string(exported++);
        const int status = exportUnderLimit(resource, limit, out);
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        ASSERT_NE(WEXITSTATUS(status), 3) << "result 1 without an ERROR";
        if (WEXITSTATUS(status) != 0) {
            EXPECT_FALSE(exists(out + "/cloning.dlm"));
            continue;
        }
        const std::string unpacked = root() + "/unpacked" + std::to_string(exported);
        ASSERT_EQ(clonefile({"extract", "--key", signingPublicKey(), out + "/cloning.dlm", unpacked}).status, 0);
        for (const std::string& member : kToolMembers) {
            struct stat st;
            EXPECT_TRUE(::stat((unpacked + "/" + member).c_str(), &st) == 0 && st.st_size > 0) << member;
        }
    }
    // A partial hidden temp file of the signing step is taken away by the next export.
    writeFile(root() + "/sized/.cloning.dlm.Ab12Cd", "partial");
    EXPECT_EQ(exportTo(root() + "/sized", kGroups), 0);
    EXPECT_FALSE(exists(root() + "/sized/.cloning.dlm.Ab12Cd"));
}

}  // namespace
