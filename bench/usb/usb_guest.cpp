#include "usb/usb_guest.h"

#include <filesystem>
#include <fstream>

UsbGuest& usbGuest() {
    static UsbGuest guest;
    return guest;
}

std::vector<std::string> UsbGuest_toolCommand(const UsbGuest& guest, const std::string& name,
                                              const std::string& udc, const std::string& serial,
                                              const std::vector<std::string>& extra,
                                              const std::string& state) {
    return ToolPlug_command({guest.build + "/bench",
                             state.empty() ? guest.work + "/demo-tool.json" : state, name, udc,
                             serial, guest.work + "/memory-" + name, extra});
}

PluggedTool UsbGuest_plug(UsbGuest& guest, const std::vector<std::string>& extra,
                          const std::string& name, const std::string& udc,
                          const std::string& serial) {
    PluggedTool tool;
    std::filesystem::remove(guest.work + "/memory-" + name);
    const std::string log = guest.work + "/tool-" + name + ".log";
    if (!PluggedTool_plug(tool, UsbGuest_toolCommand(guest, name, udc, serial, extra), serial, log,
                          guest.timing)) {
        ADD_FAILURE() << "the tool " << name
                      << " did not enumerate: " << Text_lastLine(File_read(log));
    }
    return tool;
}

CommandRun UsbGuest_cli(UsbGuest& guest, const std::vector<std::string>& arguments,
                        int limitSeconds, const std::vector<std::string>& prefix) {
    std::vector<std::string> command = prefix;
    command.push_back(guest.cli);
    command.insert(command.end(), arguments.begin(), arguments.end());
    CommandRun run =
        Command_run(command, std::chrono::seconds(limitSeconds), guest.server.environment);
    std::ofstream(guest.work + "/cli.log", std::ios::app) << run.out;
    return run;
}

std::string UsbGuest_memory(const UsbGuest& guest, const std::string& name) {
    return File_read(guest.work + "/memory-" + name);
}

void UsbGuest_needCleanUpdate(UsbGuest& guest) {
    if (!guest.cleanMemory.empty()) return;
    PluggedTool tool = UsbGuest_plug(guest);
    const CommandRun run = UsbGuest_cli(guest, {"--yes", "program", "--firmware", "900"});
    const ToolReport report = PluggedTool_unplug(tool, guest.timing);
    if (run.status == 0 && report.status == 0) {
        guest.cleanSeconds = run.seconds;
        guest.cleanMemory = UsbGuest_memory(guest);
    }
}
