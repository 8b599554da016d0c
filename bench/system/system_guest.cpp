#include "system/system_guest.h"

#include <ctime>
#include <filesystem>
#include <fstream>

#include "guest/usb_nodes.h"

namespace {

using namespace std::chrono_literals;

std::string settle() {
    return Shell_run("udevadm settle -t 30").out;
}

}  // namespace

SystemGuest& systemGuest() {
    static SystemGuest guest;
    return guest;
}

CommandRun UserSession_run(SystemGuest& guest, const std::string& script, int limitSeconds) {
    const std::string n = std::to_string(++guest.requests);
    const std::string request = guest.check + "/requests/" + n;
    File_write(request + ".part", "set -a; [ -f " + guest.work + "/server.env ] && . " +
                                      guest.work + "/server.env; set +a; cd\n" + script + "\n");
    std::filesystem::rename(request + ".part", request + ".sh");
    const std::string done = guest.check + "/done/" + n;
    const auto start = std::chrono::steady_clock::now();
    CommandRun run;
    run.status = 124;
    // The agent's own start-up and a slow guest get half a minute beyond the limit.
    while (Seconds_since(start) < limitSeconds + 30) {
        if (std::filesystem::exists(done + ".rc")) {
            run.status = std::atoi(File_read(done + ".rc").c_str());
            break;
        }
        std::this_thread::sleep_for(200ms);
    }
    run.seconds = Seconds_since(start);
    run.out = File_read(done + ".out");
    std::ofstream(guest.out + "/user.log", std::ios::app)
        << "== as " << guest.user << " (" << run.seconds << " s, status " << run.status << "):\n"
        << script << "\n"
        << run.out << "\n";
    return run;
}

PluggedTool SystemGuest_plug(SystemGuest& guest, const std::vector<std::string>& faults,
                             const std::string& state, const std::string& serial) {
    PluggedTool tool;
    ToolPlug plug{guest.bin, state.empty() ? guest.work + "/demo-tool.json" : state};
    plug.serial = serial;
    plug.faults = faults;
    if (!PluggedTool_plug(tool, ToolPlug_command(plug), serial, guest.work + "/tool.log",
                          guest.timing)) {
        ADD_FAILURE() << "the tool did not enumerate: " << Text_lastLine(File_read(tool.log));
    }
    settle();
    return tool;
}

ToolReport SystemGuest_unplug(SystemGuest& guest, PluggedTool& tool) {
    const ToolReport report = PluggedTool_unplug(tool, guest.timing);
    std::ofstream(guest.out + "/tool.log", std::ios::app) << File_read(tool.log);
    settle();
    return report;
}

std::string SystemGuest_userAcl(const SystemGuest& guest, const std::string& node) {
    return Shell_line("getfacl -cp '" + node + "' 2>/dev/null | grep '^user:" + guest.user + ":'");
}

std::string SystemGuest_mmIgnore(const std::string& node) {
    return Shell_line("udevadm info -q property -n '" + node + "' | grep '^ID_MM_DEVICE_IGNORE='");
}

std::string Inhibitors_now() {
    return Shell_run("systemd-inhibit --list --no-pager --no-legend 2>&1 | grep zarvik").out;
}

InhibitorWatch::InhibitorWatch()
    : thread_([this] {
          while (!stop_) {
              const std::string now = Inhibitors_now();
              {
                  std::lock_guard lock(mutex_);
                  seen_ += now;
                  looksHeld_ += Text_holds(now, "block") ? 1 : 0;
              }
              std::this_thread::sleep_for(300ms);
          }
      }) {}

InhibitorWatch::~InhibitorWatch() {
    stop_ = true;
    thread_.join();
}

std::string InhibitorWatch::seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

int InhibitorWatch::looksHeld() const {
    std::lock_guard lock(mutex_);
    return looksHeld_;
}

ModemLog ModemLog_mark() {
    char text[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    return {text};
}

std::string ModemLog_read(const ModemLog& mark) {
    return Command_run({"journalctl", "-u", "ModemManager", "--since", mark.since, "--no-pager",
                        "-o", "cat"},
                       60s)
        .out;
}

std::string Modems_listed() {
    return Shell_line("mmcli -L 2>&1 | grep -v '^$' | head -1 | sed 's/^ *//'");
}
