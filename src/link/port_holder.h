// Who holds a serial device: the kernel lists every process's open files under /proc, so a
// busy port can be blamed on the program that has it (ModemManager, a terminal, a second
// updater).
#pragma once

#include <optional>
#include <string>

struct PortHolder {
    int pid = 0;
    std::string name;  // the program's command name, as /proc/PID/comm gives it
};

// Another process that has `devicePath` open, looked up under procRoot; none when no process
// (other than this one) can be seen holding it.
std::optional<PortHolder> PortHolder_find(const std::string& devicePath,
                                          const std::string& procRoot = "/proc");
