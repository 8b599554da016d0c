// zarvik-serversim as scripts use it: started, found through its settings file, stopped.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "bench_fixture.h"
#include "bench_paths.h"
#include "server/server_request.h"

extern char** environ;

namespace {

std::map<std::string, std::string> readSettings(const fs::path& path) {
    std::map<std::string, std::string> settings;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        auto equals = line.find('=');
        if (equals != std::string::npos) settings[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return settings;
}

}  // namespace

TEST(ServersimProgram, ServesUntilTerminated) {
    uint32_t live = ByteString_liveCount();
    char pattern[] = "/tmp/zarvik-serversim-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    fs::path dir = pattern;
    writeFile(dir / "records.json", kRecords);
    std::vector<std::string> args = {benchBinary("zarvik-serversim"), "--records",
                                     (dir / "records.json").string(), "--log",
                                     (dir / "requests.log").string(), "--env-file",
                                     (dir / "server.env").string(),   "--outdated"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);

    for (int i = 0; i < 400 && !fs::exists(dir / "server.env"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    auto settings = readSettings(dir / "server.env");
    ServerEnvironment environment{settings["ZARVIK_SERVER"], settings["ZARVIK_FTP_PORT"],
                                  settings["ZARVIK_FTP_USER"], settings["ZARVIK_FTP_PASSWORD"]};
    auto config = ServerConfig_resolve("", environment, nullptr);
    ASSERT_TRUE(config);
    EXPECT_TRUE(config->host.starts_with("127.0.0.1:"));
    {
        ServerSessionPtr session(ServerSession_create());
        ServerSession_configure(session.get(), *config);
        session->timing = shortTiming();
        EXPECT_EQ(ServerRequest_updaterOutdated(session.get()), 1);
    }
    EXPECT_EQ(RequestLog_read(dir / "requests.log").at(0)["request"], "versionUpd|1.3");

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    fs::remove_all(dir);
    EXPECT_EQ(ByteString_liveCount(), live);
}
