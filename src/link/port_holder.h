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

// A process other than this one that has `devicePath` open, looked up under procRoot. Of
// several, the one holding a lock on it; none when no such process can be seen.
std::optional<PortHolder> PortHolder_find(const std::string& devicePath,
                                          const std::string& procRoot = "/proc");
