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

// When no holder can be seen: a modem prober that is running (ModemManager opens every new
// serial device as root and sets it exclusive, so a user sees its name under procRoot but
// not what it holds), unless udev, under udevDataRoot, marks the device for it to leave alone.
std::optional<PortHolder> PortHolder_likelyProber(
    const std::string& devicePath, const std::string& procRoot = "/proc",
    const std::string& udevDataRoot = "/run/udev/data");
