#include "guest/guest_bench.h"

#include <signal.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "guest/guest_process.h"
#include "guest/usb_nodes.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Ready>
bool waitFor(std::chrono::milliseconds limit, Ready ready) {
    const auto end = Clock::now() + limit;
    while (!ready()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

}  // namespace

bool BenchServer_start(BenchServer& server, const std::string& bin, const std::string& work,
                       const GuestTiming& timing, std::string* why) {
    std::filesystem::create_directories(work + "/uploads");
    const CommandRun catalogue =
        Command_run({bin + "/zarvik-catalogue", work}, std::chrono::seconds(300));
    if (catalogue.status != 0) {
        *why = "the bench catalogue was not written: " + Text_lastLine(catalogue.out);
        return false;
    }
    const std::string env = work + "/server.env";
    std::filesystem::remove(env);
    server.log = work + "/server.log";
    server.requests = work + "/requests.log";
    server.pid = Process_start({bin + "/zarvik-serversim", "--catalogue", work + "/catalogue",
                                "--records", work + "/records.json", "--log", server.requests,
                                "--upload-dir", work + "/uploads", "--env-file", env},
                               server.log);
    const bool ready = waitFor(timing.serverStart, [&] {
        return std::filesystem::exists(env) || !Process_running(server.pid);
    });
    if (!ready || !std::filesystem::exists(env)) {
        *why = "the bench server did not start (log " + server.log +
               "): " + Text_lastLine(File_read(server.log));
        BenchServer_stop(server);
        return false;
    }
    server.environment = Text_lines(File_read(env));
    return true;
}

void BenchServer_stop(BenchServer& server) {
    if (server.pid > 0) Process_stop(server.pid);
    server.pid = -1;
}

int BenchServer_requestCount(const BenchServer& server) {
    return static_cast<int>(Text_lines(File_read(server.requests)).size());
}

std::vector<std::string> BenchServer_reportsSince(const BenchServer& server, int from) {
    static const std::regex tag(R"re("tag":"([^"]*)")re");
    std::vector<std::string> tags;
    const std::vector<std::string> lines = Text_lines(File_read(server.requests));
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < lines.size(); ++i) {
        std::smatch m;
        if (Text_holds(lines[i], "\"valid|\"") && std::regex_search(lines[i], m, tag)) {
            tags.push_back(m[1]);
        }
    }
    return tags;
}

std::vector<std::string> ToolPlug_command(const ToolPlug& plug) {
    std::vector<std::string> command{
        plug.bin + "/zarvik-toolsim", "--state", plug.state, "--gadget", plug.name, "--udc",
        plug.udc, "--usb-serial", plug.serial,
        // Where the demo tool keeps its extra files.
        "--extra-area", std::to_string(40 * 65536), std::to_string(4 * 65536)};
    if (!plug.memoryOut.empty()) {
        command.push_back("--memory-out");
        command.push_back(plug.memoryOut);
    }
    command.insert(command.end(), plug.faults.begin(), plug.faults.end());
    return command;
}

bool PluggedTool_plug(PluggedTool& tool, const std::vector<std::string>& command,
                      const std::string& serial, const std::string& log,
                      const GuestTiming& timing) {
    tool.serial = serial;
    tool.log = log;
    tool.pid = Process_start(command, log);
    tool.node = "";
    waitFor(timing.enumeration, [&] {
        tool.node = UsbNodes_wait(serial, std::chrono::milliseconds(0));
        return !tool.node.empty() || !Process_running(tool.pid);
    });
    return !tool.node.empty();
}

ToolReport PluggedTool_unplug(PluggedTool& tool, const GuestTiming& timing) {
    ToolReport report;
    if (tool.pid <= 0) return report;
    report.status = Process_stop(tool.pid);
    tool.pid = -1;
    static const std::regex said(
        R"re((\d+) frames received, \d+ reboots, (\d+) stray bytes "(.*)")re");
    const std::string log = File_read(tool.log);
    std::smatch m;
    if (std::regex_search(log, m, said)) {
        report.frames = std::stoi(m[1]);
        report.strayBytes = std::stol(m[2]);
        report.stray = m[3];
    }
    std::this_thread::sleep_for(timing.settle);  // the host's side of the cable settles
    return report;
}

bool PluggedTool_powerCycle(PluggedTool& tool, const GuestTiming& timing) {
    if (tool.pid <= 0 || ::kill(tool.pid, SIGUSR1) != 0) return false;
    const bool said = waitFor(timing.powerCycle, [&] {
        return Text_holds(File_read(tool.log), "power cycle: back on the bus");
    });
    return said && !UsbNodes_wait(tool.serial, timing.enumeration).empty();
}
