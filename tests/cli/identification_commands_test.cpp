#include <nlohmann/json.hpp>
#include <sstream>

#include "serversim/misbehaviour.h"
#include "support/run_program.h"
#include "support/update_bench.h"
#include "support/workflow_fixture.h"

namespace {

using nlohmann::json;

class IdentificationCommandsTest : public WorkflowTest {
  protected:
    ProgramRun cli(std::vector<std::string> arguments) {
        std::vector<std::string> all{"--port", rig_.link.port};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return runProgram(
            cliPath(), all,
            {{"ZARVIK_SERVER", "127.0.0.1:" + std::to_string(rig_.server.httpPort())}});
    }
    static std::vector<json> events(const std::string& out) {
        std::vector<json> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
        return lines;
    }
};

TEST_F(IdentificationCommandsTest, FindPrintsTheToolAndItsChoices) {
    startBench();
    ProgramRun text = cli({"find"});
    EXPECT_EQ(text.status, 0) << text.err;
    for (const char* line : {"Name : KTX2 Bench", "Current Firmware : V2.18.04 Build 1",
                             "id 900  2.20.01 (Release)  Latest release", "Manual: offered"}) {
        EXPECT_NE(text.out.find(line), std::string::npos) << line;
    }

    ProgramRun run = cli({"--json", "find"});
    EXPECT_EQ(run.status, 0) << run.err;
    auto lines = events(run.out);
    ASSERT_FALSE(lines.empty());
    const json& result = lines.back();
    EXPECT_EQ(result["event"], "identification");
    EXPECT_TRUE(result["complete"]);
    EXPECT_EQ(result["choices"][0]["id"], 900);
    // Every port call is its own object, in order.
    bool sawStep4 = false, sawProgramEnabled = false;
    for (const json& e : lines) {
        if (e["event"] == "text" && e["text"] == "Gathering tool info. Step 4") sawStep4 = true;
        if (e["event"] == "button" && e["control"] == "btnProgram" && e["enabled"] == true) {
            EXPECT_TRUE(sawStep4);
            sawProgramEnabled = true;
        }
    }
    EXPECT_TRUE(sawProgramEnabled);
}

TEST_F(IdentificationCommandsTest, FindFailsWithoutATool) {
    startBench();
    ProgramRun run = runProgram(cliPath(), {"--port", "/nonexistent/ktx2", "find"},
                                {{"ZARVIK_SERVER", "127.0.0.1:1"}});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Failed to open the port. conn_type=0 lastError=-3"), std::string::npos);
}

TEST_F(IdentificationCommandsTest, ProgramWithoutAnyoneToSayYesDoesNothing) {
    startBench();
    ProgramRun run = cli({"--json", "program"});
    EXPECT_EQ(run.status, 1);
    bool asked = false, answeredNo = false;
    for (const json& e : events(run.out)) {
        if (e["event"] == "messageBox" && e["title"] == "Do you wish to proceed?") asked = true;
        if (e["event"] == "answer" && e["answer"] == "No") answeredNo = true;
    }
    EXPECT_TRUE(asked);
    EXPECT_TRUE(answeredNo);

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
                  "/docs/Zarvik_Updater_Mac.zip");
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

TEST_F(IdentificationCommandsTest, ManualPrintsTheAddress) {
    startBench();
    ProgramRun run = cli({"manual"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "http://127.0.0.1:" + std::to_string(rig_.server.httpPort()) +
                           "/docs/ZarvikV2.20.01-ENF.pdf\n");
}

// Program runs the whole update and exits 0 only on success.
TEST_F(UpdateBench, ProgramCommandExitsWithTheOutcome) {
    addRelease(kReleaseId, makeRelease("1.23", "1.23", &releaseIdentity));
    ASSERT_TRUE(startBench());
    const std::vector<std::string> arguments = {
        "--server",   "127.0.0.1:" + std::to_string(rig_.server.httpPort()),
        "--port",     rig_.link.port,
        "--yes",      "program",
        "--firmware", "900"};
    ProgramRun run = runProgram(cliPath(), arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE((run.out + run.err).find("KTX2 Firmware Updated Successfully"), std::string::npos);
    EXPECT_EQ(rig_.tool.program(RawTarget::Firmware),
              rawProgram(catalogue::firmwareProgram(releaseIdentity, 700)));
    rig_.tool.refuseBlock(0);
    EXPECT_EQ(runProgram(cliPath(), arguments).status, 1);
}

TEST_F(IdentificationCommandsTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(runProgram(cliPath(), {"frobnicate"}).status, 2);
    EXPECT_EQ(runProgram(cliPath(), {"--server", "bad host:x", "find"}).status, 2);
}

}  // namespace
