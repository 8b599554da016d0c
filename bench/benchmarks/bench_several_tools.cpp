// Four paced tools updated at once by zarvik-cli program --all, against one tool alone, on
// the same release with the real waits: what the parallel update costs over one tool.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "bench_paths.h"
#include "benchmarks/bench_release.h"
#include "toolsim/virtual_tool.h"

namespace fs = std::filesystem;

namespace {

// Seconds zarvik-cli took with `arguments`, or -1 when it failed. Its lines go to `log`.
double timedRun(std::vector<std::string> arguments, const fs::path& log) {
    arguments.insert(arguments.begin(), benchBinary("../src/cli/zarvik-cli"));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const auto started = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

}  // namespace

int main() {
    std::string folder = (fs::temp_directory_path() / "zarvik-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) return 1;
    const fs::path dir = folder;
    BenchServer server;
    std::string error;
    if (!BenchRelease_serve(dir, server, &error)) {
        std::fprintf(stderr, "bench_several_tools: %s\n", error.c_str());
        return 1;
    }
    // One tree holds the lone tool, another the four: the lone run never sees the others.
    const ToolState state = BenchRelease_tool();
    std::vector<std::unique_ptr<VirtualTool>> tools;
    for (int i = 0; i < 5; ++i) {
        ToolSimOptions options;
        options.pacing = true;
        options.fakeSysfsRoot = (dir / (i == 0 ? "one" : "four")).string();
        options.usbSerial = "KTX2-" + std::to_string(i);
        auto tool = std::make_unique<VirtualTool>();
        if (!tool->start(state, (dir / options.usbSerial).string(), options, &error)) {
            std::fprintf(stderr, "bench_several_tools: %s\n", error.c_str());
            return 1;
        }
        tools.push_back(std::move(tool));
    }
    auto cli = [&](const std::string& tree, std::vector<std::string> command) {
        std::vector<std::string> arguments{
            "--server",     "127.0.0.1:" + std::to_string(server.httpPort()),
            "--sysfs-root", (dir / tree / "sys").string(),
            "--dev-root",   (dir / tree / "dev").string(),
            "--yes"};
        arguments.insert(arguments.end(), command.begin(), command.end());
        return timedRun(arguments, dir / "cli.log");
    };
    // The state lives where the benchmark does, not in the user's history.
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    const double one = cli("one", {"program", "--firmware", "900"});
    const double four = cli("four", {"program", "--all", "--firmware", "900"});
    for (auto& tool : tools) tool->stop();
    server.stop();
    if (one < 0 || four < 0) {
        std::fprintf(stderr, "bench_several_tools: an update failed (log in %s)\n",
                     (dir / "cli.log").c_str());
        return 1;
    }
    fs::remove_all(dir);
    std::printf(
        "bench_several_tools: four tools at once: %.1f s against %.1f s for one tool, "
        "%.2f x one tool\n",
        four, one, four / one);
    return 0;
}
