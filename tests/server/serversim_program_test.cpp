// zarvik-serversim as scripts use it: started, found through its settings file, stopped.
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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

bool accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
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
    // Its FTP server went with it.
    EXPECT_FALSE(accepts(std::stoi(settings["ZARVIK_FTP_PORT"])));
    fs::remove_all(dir);
    EXPECT_EQ(ByteString_liveCount(), live);
}
