// Another program that has the tool's port: a child process that opens the node and takes
// its lock, as ModemManager does when it probes a new serial device. Being a process of its
// own, it shows under /proc with its own pid and name.
#pragma once

#include <sys/types.h>
#include <string>

class HoldingProcess {
  public:
    HoldingProcess() = default;
    HoldingProcess(const HoldingProcess&) = delete;
    HoldingProcess& operator=(const HoldingProcess&) = delete;
    ~HoldingProcess() { release(); }

    // Returns once the child holds `devicePath` locked; false with `error` when it could not.
    bool hold(const std::string& devicePath, const std::string& name = "ModemManager",
              std::string* error = nullptr);
    // The child lets go and ends.
    void release();

    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int stayOpen_ = -1;  // the child runs until this, its pipe's write end, closes
};
