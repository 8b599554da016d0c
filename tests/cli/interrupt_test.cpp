// Ctrl-C and SIGTERM during an update on the command line, with logind's inhibitor locks
// taken on a private bus from a stand-in login1 service.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "support/run_program.h"
#include "support/update_bench.h"

namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

pid_t spawnQuiet(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// A bus of the test's own with the stand-in login1 on it; its log tells what it was asked.
struct PrivateLogin1 {
    fs::path dir;
    pid_t bus = -1, login1 = -1;
    std::string address() const { return "unix:path=" + (dir / "bus").string(); }
    std::string log() const { return readAll(dir / "login1.log"); }

    bool start(const fs::path& where, const std::string& refuse) {
        dir = where;
        bus = spawnQuiet({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                          "--address=" + address()});
        for (int i = 0; i < 200 && !fs::exists(dir / "bus"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        login1 = spawnQuiet({"/usr/bin/python3",
                             std::string(ZARVIK_SOURCE_DIR) + "/bench/login1/login1_standin.py",
                             address(), (dir / "login1.log").string(), refuse});
        for (int i = 0; i < 500 && log().find("ready") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return log().find("ready") != std::string::npos;
    }
    ~PrivateLogin1() {
        for (pid_t pid : {login1, bus}) {
            if (pid <= 0) continue;
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

struct SignalCase {
    const char* name;
    std::vector<int> signals;  // sent while a firmware frame waits for its answer
    const char* refuse;        // what the stand-in refuses
    int status;
    std::vector<std::string> held;  // the locks granted, "what|mode"
    const char* note;               // what the link trace says of them; "": nothing
};

class InterruptTest : public UpdateBench, public ::testing::WithParamInterface<SignalCase> {};

}  // namespace

// One signal changes nothing; a second stops the run at the next frame, as interrupted, with
// the link closed. The locks are held while the firmware is written and let go at the end,
// however it ends; of refused locks the trace tells, and what is granted is held.
TEST_P(InterruptTest, SignalsDuringTheFirmware) {
    const SignalCase& c = GetParam();
    PrivateLogin1 login1;
    ASSERT_TRUE(login1.start(rig.dir, c.refuse)) << login1.log();
    addRelease(kReleaseId, makeRelease("1.23", "1.23", &releaseIdentity));
    ASSERT_TRUE(startBench());
    // The first firmware frame is answered late: the signals arrive mid-firmware.
    rig.tool.answerLate(23, std::chrono::milliseconds(1500));
    const fs::path trace = rig.dir / "link.trace";
    std::atomic<int> pid{0};
    ProgramRun run;
    std::thread cli([&] {
        run = runProgram(cliPath(),
                         {"--server", "127.0.0.1:" + std::to_string(rig.server.httpPort()),
                          "--port", rig.link.port, "--trace-link", trace.string(), "--yes",
                          "program", "--firmware", "900"},
                         {{"XDG_STATE_HOME", (rig.dir / "cli-state").string()},
                          {"DBUS_SYSTEM_BUS_ADDRESS", login1.address()}},
                         &pid);
    });
    for (int i = 0; i < 3000 && framesOf(23) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int framesAtStop = framesOf(23);
    const std::string heldMidRun = login1.log();
    for (int signal : c.signals) {
        kill(pid, signal);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    cli.join();

    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find("An update is running. Stopping it can leave the KTX2 unusable"),
              std::string::npos)
        << run.err;
    EXPECT_NE(heldMidRun.find("inhibit sleep:shutdown:idle|zarvik-updater|Updating the KTX2 "
                              "firmware|block"),
              std::string::npos)
        << heldMidRun;
    EXPECT_EQ(heldMidRun.find("release"), std::string::npos) << heldMidRun;
    const std::string log = login1.log();
    size_t released = 0;
    for (size_t at = log.find("release "); at != std::string::npos;
         at = log.find("release ", at + 1)) {
        ++released;
    }
    EXPECT_EQ(released, c.held.size()) << log;
    for (const std::string& lock : c.held) {
        EXPECT_NE(log.find("release " + lock + "\n"), std::string::npos) << lock << "\n" << log;
    }
    const std::string traced = readAll(trace);
    if (*c.note == '\0') {
        EXPECT_EQ(traced.find("login manager"), std::string::npos);
    } else {
        EXPECT_NE(traced.find(c.note), std::string::npos) << c.note;
    }

    const auto lines = [&] {
        std::vector<nlohmann::json> out;
        std::ifstream in(rig.dir / "cli-state" / "zarvik-updater" / "history.jsonl");
        for (std::string line; std::getline(in, line);) out.push_back(nlohmann::json::parse(line));
        return out;
    }();
    ASSERT_EQ(lines.size(), 1u);
    if (c.status == 0) {
        EXPECT_EQ(rig.tool.program(RawTarget::Firmware),
                  rawProgram(catalogue::firmwareProgram(releaseIdentity, 700)));
        EXPECT_FALSE(lines[0].contains("interrupted"));
        return;
    }
    // Not one frame after the stop, and the link's last word is its close.
    EXPECT_EQ(framesOf(23), framesAtStop);
    EXPECT_NE(run.err.find("The update was stopped"), std::string::npos) << run.err;
    EXPECT_EQ(lines[0].value("interrupted", false), true);
    EXPECT_EQ(lines[0].value("reportTag", ""), "_Failed_FIRM");
    EXPECT_EQ(tags(), "_Failed_FIRM");
    const std::string frames = readAll(trace);
    EXPECT_NE(frames.find("not sent, the run was stopped"), std::string::npos);
    const size_t lastLine = frames.rfind('\n', frames.size() - 2);
    EXPECT_NE(frames.find(" close ", lastLine), std::string::npos) << frames.substr(lastLine);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, InterruptTest,
    ::testing::Values(SignalCase{"OneSigint",
                                 {SIGINT},
                                 "",
                                 0,
                                 {"sleep:shutdown:idle|block", "handle-lid-switch|block"},
                                 ""},
                      SignalCase{"OneSigintNoLocks",
                                 {SIGINT},
                                 "refuse-all",
                                 0,
                                 {},
                                 "refused to block suspend and shutdown (Access denied"},
                      SignalCase{"SigintThenSigterm",
                                 {SIGINT, SIGTERM},
                                 "refuse-lid",
                                 130,
                                 {"sleep:shutdown:idle|block"},
                                 "refused the lid-switch lock"},
                      // What polkit grants a user outside any login session.
                      SignalCase{"OneSigintOutsideASession",
                                 {SIGINT},
                                 "outside-session",
                                 0,
                                 {"idle|block", "sleep|delay", "shutdown|delay"},
                                 "only delayed a few seconds"}),
    [](const auto& param) { return std::string(param.param.name); });
