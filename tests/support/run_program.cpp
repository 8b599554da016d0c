#include "support/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

// The bytes written to a temporary file, which goes once read.
std::string takeFile(char* path, int fd) {
    close(fd);
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    unlink(path);
    return s.str();
}

}  // namespace

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment,
                      std::atomic<int>* started) {
    ProgramRun run;
    char outPath[] = "/tmp/zarvik-out-XXXXXX";
    char errPath[] = "/tmp/zarvik-err-XXXXXX";
    int outFd = mkstemp(outPath);
    int errFd = mkstemp(errPath);
    if (outFd < 0 || errFd < 0) return run;

    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    // The caller's variables replace those of the same name.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry(*e);
        if (!environment.contains(entry.substr(0, entry.find('=')))) env.push_back(entry);
    }
    for (const auto& [key, value] : environment) env.push_back(key + "=" + value);
    auto pointers = [](std::vector<std::string>& texts) {
        std::vector<char*> p;
        for (auto& t : texts) p.push_back(t.data());
        p.push_back(nullptr);
        return p;
    };
    std::vector<char*> argv = pointers(args), envp = pointers(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    pid_t pid;
    // The bench's HTTP server ignores SIGPIPE in this process; a program started from a shell
    // gets the default, and so does this one.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    if (spawned == 0) {
        if (started != nullptr) *started = pid;
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = takeFile(outPath, outFd);
    run.err = takeFile(errPath, errFd);
    return run;
}

std::string cliPath() {
    return std::string(ZARVIK_BUILD_DIR) + "/src/cli/zarvik-cli";
}
