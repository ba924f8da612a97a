// Runs the clonefile command as a separate program (no shell in between); on cross builds through
// the same emulator as the tests. Include only from targets that define CLONEFILE_PATH and
// CLONEFILE_EMULATOR ("EMULATOR|ARG|..." or empty).
#ifndef CLONE_TESTS_CLONEFILECOMMAND_H
#define CLONE_TESTS_CLONEFILECOMMAND_H

#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "CloneFileTestUtil.h"

namespace clonetest {

struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};

// ARGS to clonefile with INPUT on its standard input; IO is a path prefix for the streams' files.
// With a TIMELIMIT (seconds) a command that hangs is killed then, and its status is -1. WRAPPER (a
// program and its arguments, such as strace) runs clonefile when given.
inline CommandResult runClonefile(const std::string& io, const std::vector<std::string>& args,
                                  const std::string& input = "", bool withoutRoot = false, unsigned timeLimit = 0,
                                  const std::vector<std::string>& wrapper = {})
{
    writeFile(io + ".in", input);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<std::string> words = wrapper;
        std::istringstream emulator(CLONEFILE_EMULATOR);
        for (std::string word; std::getline(emulator, word, '|');) {
            words.push_back(word);
        }
        words.push_back(CLONEFILE_PATH);
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(&w[0]);
        }
        argv.push_back(nullptr);
        const int in = ::open((io + ".in").c_str(), O_RDONLY);
        const int out = ::open((io + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open((io + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
            _exit(126);
        }
        if (withoutRoot) {
            ::unsetenv("CLONE_DEVICE_ROOT");
        }
        ::alarm(timeLimit);  // survives execv
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    CommandResult r;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        r.status = WEXITSTATUS(status);
    }
    r.out = readFile(io + ".out");
    r.err = readFile(io + ".err");
    for (const char* stream : {".in", ".out", ".err"}) {
        ::unlink((io + stream).c_str());
    }
    return r;
}

}  // namespace clonetest

#endif
