#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "serversim/bench_certificates.h"
#include "serversim/misbehaviour.h"
#include "support/run_program.h"
#include "support/update_bench.h"
#include "support/workflow_fixture.h"

namespace {

using nlohmann::json;

// The issue's catalogue: one entry sent twice among others.
const char* const kTwice =
    "2.18.05:813:CURRENT:A#2.18.06:900:BETA:B#2.18.05:813:CURRENT:A2#2.18.07:901:BETA:C#";

class IdentificationCommandsTest : public WorkflowTest {
  protected:
    // Standard error into standard output when `oneStream`, as in `2>&1 | tee log`.
    ProgramRun cli(std::vector<std::string> arguments, bool oneStream = false) {
        std::vector<std::string> all{"--port", rig_.link.port};
        all.insert(all.end(), arguments.begin(), arguments.end());
        if (oneStream) all.insert(all.begin(), {"-c", "exec \"$0\" \"$@\" 2>&1", cliPath()});
        return runProgram(
            oneStream ? "/bin/sh" : cliPath(), all,
            {{"ZARVIK_SERVER", "127.0.0.1:" + std::to_string(rig_.server.httpPort())}});
    }
    static std::vector<json> events(const std::string& out) {
        std::vector<json> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
        return lines;
    }
    void startWithList(const char* list) {
        auto tool = benchToolRecord();
        tool["firmwareList"] = list;
        startBench(ToolState_default(), records(tool));
    }
};

TEST_F(IdentificationCommandsTest, FindPrintsTheToolAndItsChoices) {
    startWithList(kTwice);
    ProgramRun text = cli({"find"});
    EXPECT_EQ(text.status, 0) << text.err;
    for (const char* line : {"Name : KTX2 Bench", "Current Firmware : V2.18.04 Build 1",
                             "3. id 901  901-2.18.07 (Beta)  C", "Manual: offered"}) {
        EXPECT_NE(text.out.find(line), std::string::npos) << line;
    }

    // The summary and the port's own "choices" event pair each id with its own name.
    auto lines = events(cli({"--json", "find"}).out);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back()["complete"]);
    json summary = lines.back()["choices"];
    EXPECT_EQ(summary, R"J([{"id": 813, "name": "813-2.18.05 (Release)", "description": "A2"},
        {"id": 900, "name": "900-2.18.06 (Beta)", "description": "B"},
        {"id": 901, "name": "901-2.18.07 (Beta)", "description": "C"}])J"_json);
    for (json& c : summary) c["id"] = std::to_string(c["id"].get<int>());
    auto shown =
        std::ranges::find(lines, json("choices"), [](const json& e) { return e["event"]; });
    ASSERT_NE(shown, lines.end());
    EXPECT_EQ((*shown)["choices"], summary);
}

TEST_F(IdentificationCommandsTest, ProgramAsksAboutTheFirmwareNamedAfterTheSummary) {
    startWithList(kTwice);
    rig_.addFile("ktxFirmwares/901.gfi", packwriter::writeInfo(offeredInfo()));
    ProgramRun run = cli({"program", "--firmware", "901"}, true);
    EXPECT_EQ(run.status, 1);  // nobody to say Yes
    std::vector<std::string> downloads;
    for (const json& r : rig_.requests()) {
        std::string request = r.value("request", "");
        if (request.starts_with("download|")) downloads.push_back(request);
    }
    EXPECT_EQ(downloads, std::vector<std::string>{"download|ktxFirmwares/901.gfi"});
    size_t summary = run.out.find("Current Firmware : V2.18.04 Build 1");
    size_t question = run.out.find("== Do you wish to proceed? ==");
    ASSERT_NE(question, std::string::npos) << run.out;
    EXPECT_LT(summary, question) << run.out;
    EXPECT_NE(run.out.find("Answer: No"), std::string::npos);

    ProgramRun unknown = cli({"program", "--firmware", "4242"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("Firmware 4242 is not offered for this tool."), std::string::npos);
}

TEST_F(IdentificationCommandsTest, CheckVersionBothWays) {
    startBench();
    EXPECT_NE(cli({"check-version"}).out.find("up to date"), std::string::npos);

    Misbehaviour outdated;
    outdated.outdatedUpdater = true;
    rig_.server.setMisbehaviour(outdated);
    ProgramRun run = cli({"--json", "check-version"});
    EXPECT_EQ(run.status, 0);
    const json result = events(run.out).back();
    EXPECT_FALSE(result["current"]);
    EXPECT_EQ(result["downloadAddress"],
              "http://127.0.0.1:" + std::to_string(rig_.server.httpPort()) +
                  "/docs/Zarvik_Updater_Linux.deb");
}

// A server that cannot be reached is named, and never taken for an answer.
TEST_F(IdentificationCommandsTest, UnreachableServerIsNamed) {
    startBench();
    const std::string unreachable = "The server 127.0.0.1:9 could not be reached: ";
    ProgramRun check = runProgram(cliPath(), {"--server", "127.0.0.1:9", "check-version"});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.err.find(unreachable), std::string::npos) << check.err;
    EXPECT_EQ(check.out, "");
    ProgramRun find =
        runProgram(cliPath(), {"--server", "127.0.0.1:9", "--port", rig_.link.port, "find"});
    EXPECT_EQ(find.status, 1);
    for (const std::string& line :
         {std::string("KTX2 firmware can't be identified"), unreachable}) {
        EXPECT_NE(find.err.find(line), std::string::npos) << find.err;
    }
}

// Over TLS the command line trusts the authority --ca-file names over the environment's, and
// tells a certificate it cannot trust apart from a server it cannot reach.
TEST_F(IdentificationCommandsTest, TrustsTheNamedAuthorityOverTls) {
    rig_.tls = true;
    startBench();
    const std::string server = "https://127.0.0.1:" + std::to_string(rig_.server.httpPort());
    const std::string authority = (rig_.dir / "bench-ca.pem").string();
    auto other = BenchCertificate_make({.commonName = "other CA", .authority = true}, nullptr);
    ASSERT_TRUE(other);
    const std::string otherFile = (rig_.dir / "other-ca.pem").string();
    ASSERT_TRUE(BenchCertificate_write(*other, otherFile, {}));
    ProgramRun refused = runProgram(cliPath(), {"--server", server, "check-version"},
                                    {{"CURL_CA_BUNDLE", otherFile}});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("The server " + server +
                               " failed the security check: its certificate is from an unknown "
                               "certificate authority. Nothing was sent to it."),
              std::string::npos)
        << refused.err;
    ProgramRun trusted = runProgram(
        cliPath(), {"--server", server, "--ca-file", authority, "--json", "check-version"},
        {{"CURL_CA_BUNDLE", otherFile}});
    ASSERT_EQ(trusted.status, 0) << trusted.err;
    EXPECT_TRUE(events(trusted.out).back()["current"]);
    EXPECT_EQ(
        runProgram(cliPath(), {"--server", server, "--ca-file", "/nonexistent", "manual"}).status,
        2);
}

TEST_F(IdentificationCommandsTest, ManualPrintsTheAddress) {
    startBench();
    ProgramRun run = cli({"manual"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "http://127.0.0.1:" + std::to_string(rig_.server.httpPort()) +
                           "/docs/ZarvikV2.20.01-ENF.pdf\n");
}

// Program runs the whole update and exits 0 only on success; history shows each run, and a
// history that cannot be written is told once without failing the update.
TEST_F(UpdateBench, ProgramCommandExitsWithTheOutcome) {
    addRelease(kReleaseId, makeRelease("1.23", "1.23", &releaseIdentity));
    ASSERT_TRUE(startBench());
    const std::vector<std::string> arguments = {
        "--server",   "127.0.0.1:" + std::to_string(rig.server.httpPort()),
        "--port",     rig.link.port,
        "--yes",      "program",
        "--firmware", "900"};
    const std::filesystem::path blocked = rig.dir / "blocked";
    std::filesystem::create_directories(blocked / "zarvik-updater" / "history.jsonl");
    ProgramRun run = runProgram(cliPath(), arguments, {{"XDG_STATE_HOME", blocked.string()}});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE((run.out + run.err).find("KTX2 Firmware Updated Successfully"), std::string::npos);
    EXPECT_EQ(rig.tool.program(RawTarget::Firmware),
              rawProgram(catalogue::firmwareProgram(releaseIdentity, 700)));
    const std::string told = "The run history could not be written to " +
                             (blocked / "zarvik-updater" / "history.jsonl").string() +
                             ": Is a directory (the run itself is not affected).\n";
    EXPECT_EQ(run.err.find(told), run.err.rfind(told)) << run.err;
    EXPECT_NE(run.err.find(told), std::string::npos) << run.err;

    const std::map<std::string, std::string> stateHome = {
        {"XDG_STATE_HOME", (rig.dir / "state").string()}};
    auto history = [&](std::vector<std::string> options) {
        options.insert(options.begin(), "history");
        return runProgram(cliPath(), options, stateHome);
    };
    EXPECT_NE(history({}).out.find("No runs recorded in"), std::string::npos);
    EXPECT_EQ(runProgram(cliPath(), arguments, stateHome).status, 0);
    // It names the user's tools: the user's alone, also once an older copy was not.
    const std::filesystem::path file = rig.dir / "state" / "zarvik-updater" / "history.jsonl";
    const auto ownerOnly = std::filesystem::perms(0600);
    EXPECT_EQ(std::filesystem::status(file).permissions(), ownerOnly);
    std::filesystem::permissions(file, std::filesystem::perms(0644));
    rig.tool.refuseBlock(0);
    EXPECT_EQ(runProgram(cliPath(), arguments, stateHome).status, 1);
    EXPECT_EQ(std::filesystem::status(file).permissions(), ownerOnly);
    std::ofstream(file, std::ios::app) << "{\"time\": \"cut off\n";

    ProgramRun table = history({});
    EXPECT_EQ(table.status, 0);
    EXPECT_EQ(table.err, "1 unreadable line skipped in " + file.string() + ".\n");
    std::vector<std::string> rows;
    std::istringstream lines(table.out);
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 3u) << table.out;
    EXPECT_TRUE(rows[0].starts_with("TIME")) << rows[0];
    // The tool already runs the release: the unrecorded run gave it.
    for (const char* part : {" 100001 ", " program ", " 3.01.02 -> 3.01.02 ",
                             " Operation Completed: KTX2 firmware update to version "}) {
        EXPECT_NE(rows[1].find(part), std::string::npos) << part << "\n" << rows[1];
    }
    EXPECT_NE(rows[2].find(" 3.01.02 -> ? "), std::string::npos) << rows[2];
    EXPECT_TRUE(rows[2].ends_with(" Writing Firmware V3.01.02 Failed")) << rows[2];

    std::istringstream stored(history({"--json"}).out);
    std::vector<json> runs;
    for (std::string line; std::getline(stored, line);) runs.push_back(json::parse(line));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1]["reportTag"], "_Failed_FIRM");
}

// A tool that one run is updating is busy for a second one, which fails at once and leaves
// the update alone; another tool is updated side by side.
TEST_F(UpdateBench, ATwiceOpenedToolIsBusyWhileAnotherToolUpdatesSideBySide) {
    addRelease(kReleaseId, makeRelease("1.23", "1.23", &releaseIdentity));
    ASSERT_TRUE(startBench());
    VirtualTool other;
    const std::string otherPort = (rig.dir / "ktx2-other").string();
    std::string error;
    ASSERT_TRUE(other.start(ToolState_default(), otherPort, {}, &error)) << error;
    auto cli = [&](const std::string& port, std::vector<std::string> command) {
        std::vector<std::string> arguments = {
            "--server", "127.0.0.1:" + std::to_string(rig.server.httpPort()), "--port", port};
        arguments.insert(arguments.end(), command.begin(), command.end());
        return runProgram(cliPath(), arguments);
    };
    const std::vector<std::string> program = {"--yes", "program", "--firmware", "900"};

    // The first image transfer is answered late: the first run is mid-update, port held.
    rig.tool.answerLate(23, std::chrono::milliseconds(2000));
    ProgramRun first;
    std::thread firstRun([&] { first = cli(rig.link.port, program); });
    for (int i = 0; i < 2000 && framesOf(23) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const auto started = std::chrono::steady_clock::now();
    ProgramRun busy = cli(rig.link.port, {"find"});
    const auto took = std::chrono::steady_clock::now() - started;
    ProgramRun side = cli(otherPort, program);
    firstRun.join();

    EXPECT_EQ(busy.status, 1);
    EXPECT_LT(took, std::chrono::seconds(4));  // no exchange was waited out
    for (const std::string& line :
         {std::string("Failed to open the port. conn_type=0 lastError=-6"),
          "The port " + std::filesystem::canonical(rig.link.port).string() +
              " is in use by zarvik-cli (pid "}) {
        EXPECT_NE(busy.err.find(line), std::string::npos) << busy.err;
    }
    for (const ProgramRun* run : {&first, &side}) {
        EXPECT_EQ(run->status, 0) << run->err;
        EXPECT_NE((run->out + run->err).find("KTX2 Firmware Updated Successfully"),
                  std::string::npos);
    }
    const Bytes firmware = rawProgram(catalogue::firmwareProgram(releaseIdentity, 700));
    EXPECT_EQ(rig.tool.program(RawTarget::Firmware), firmware);
    EXPECT_EQ(other.program(RawTarget::Firmware), firmware);
}

TEST_F(IdentificationCommandsTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(runProgram(cliPath(), {"frobnicate"}).status, 2);
    for (const char* server : {"bad host:x", "https://", "https://a.test:65536",
                               "https://user@a.test", "file:///etc/passwd", "https://a.test/x"}) {
        EXPECT_EQ(runProgram(cliPath(), {"--server", server, "find"}).status, 2) << server;
    }
}

// The link trace of a find holds every frame the tool received, in order and each with its
// reply, between the link's find and open and its close; a trace that cannot be written
// stops the command before it touches the tool.
TEST_F(IdentificationCommandsTest, LinkTraceHoldsEveryFrameOfAFind) {
    startBench();
    const std::string path = (rig_.dir / "link.trace").string();
    ProgramRun run = cli({"--trace-link", path, "find"});
    ASSERT_EQ(run.status, 0) << run.err;
    // The tool's serial numbers and every frame: for the user alone.
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0600));

    std::vector<std::string> lines, sent;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_TRUE(lines[0].starts_with("# zarvik link trace started ")) << lines[0];
    // The port given is a link to the tool's node; the trace names the node it led to.
    const std::string node = std::filesystem::canonical(rig_.link.port).string();
    EXPECT_TRUE(lines[1].ends_with(" find " + node + ": ok")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with(" open " + node + ": ok")) << lines[2];
    EXPECT_TRUE(lines.back().ends_with(" close " + node + ": ok")) << lines.back();
    for (size_t i = 3; i + 1 < lines.size(); ++i) {
        if (lines[i].find(" > ") == std::string::npos) continue;
        sent.push_back(lines[i].substr(lines[i].find(": ") + 2));
        if (lines[i].find("send only") == std::string::npos) {
            EXPECT_NE(lines[i + 1].find(" < "), std::string::npos) << lines[i + 1];
        }
    }
    std::vector<std::string> received;
    for (const std::vector<uint8_t>& frame : rig_.tool.frames()) {
        std::string hex;
        for (uint8_t b : frame) {
            char two[4];
            std::snprintf(two, sizeof two, "%02X", b);
            hex += (hex.empty() ? "" : " ") + std::string(two);
        }
        received.push_back(hex);
    }
    EXPECT_EQ(sent, received);
    EXPECT_TRUE(lines[3].find(" > ReadBootloaderVersion(2) 12 bytes: 3B 01 02") !=
                std::string::npos)
        << lines[3];

    rig_.tool.clearFrames();
    ProgramRun refused = cli({"--trace-link", (rig_.dir / "no" / "such.trace").string(), "find"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("cannot write the link trace " + (rig_.dir / "no").string()),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(rig_.tool.frames().empty());
}

}  // namespace
