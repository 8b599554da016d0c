// The virtual tool on a pseudo-terminal, optionally shown as a USB device in a fake sysfs tree
// so that port discovery finds it as it finds a real tool.
#include <unistd.h>

#include <optional>
#include <vector>

#include "toolsim/fake_sysfs.h"
#include "toolsim/pseudo_terminal.h"
#include "toolsim/tool_line.h"

namespace {

class PtyLine : public ToolLine {
  public:
    PtyLine(std::string linkPath, std::string serialAfterReboot)
        : linkPath_(std::move(linkPath)), serialAfterReboot_(std::move(serialAfterReboot)) {}
    ~PtyLine() override { remove(); }

    bool show(const std::string& root, const std::string& serial, std::string* why) {
        sysfs_.emplace(root);
        FakeUsbDevice device;
        device.product = "KTX2";
        if (!serial.empty()) device.serial = serial;
        usbPortPath_ = sysfs_->addUsbDevice(device);
        if (usbPortPath_.empty()) {
            if (why) *why = "no room for a USB device in " + root;
            sysfs_.reset();
            return false;
        }
        return true;
    }

    bool join(const LineJoin& join, std::string* why) override {
        bool opened = terminal_.open(linkPath_, why);
        // The kernel hands out the lowest free terminal number, most often the old one: while
        // it is held, the next terminal gets another.
        std::vector<int> held;
        while (opened && join.reenumerate && terminal_.devicePath() == lastTerminal_ &&
               held.size() < 4) {
            held.push_back(::dup(terminal_.master()));
            opened = terminal_.open(linkPath_, why);
        }
        for (int fd : held) {
            if (fd >= 0) ::close(fd);
        }
        if (opened && sysfs_) {
            // A bootloader that shows another USB serial: the tool comes back under it.
            if (!serialAfterReboot_.empty() && join.generation > 0) {
                sysfs_->setSerial(usbPortPath_, serialAfterReboot_);
            }
            ttyName_ = sysfs_->attachTty(usbPortPath_, terminal_.devicePath(),
                                         join.reenumerate ? lastTtyName_ : "");
            if (ttyName_.empty()) {
                if (why) *why = "no free tty name in the fake sysfs tree";
                terminal_.close();
                opened = false;
            }
        }
        if (!opened) return false;
        lastTerminal_ = terminal_.devicePath();
        if (!ttyName_.empty()) lastTtyName_ = ttyName_;
        return true;
    }

    void leave() override {
        // The node goes with the tty entry, before the host sees the hang-up.
        if (sysfs_ && !ttyName_.empty()) sysfs_->detachTty(usbPortPath_, ttyName_);
        ttyName_.clear();
        terminal_.close();
    }

    void remove() override {
        leave();
        if (sysfs_) sysfs_->removeUsbDevice(usbPortPath_);
        sysfs_.reset();
        usbPortPath_.clear();
    }

    int fd() const override { return terminal_.isOpen() ? terminal_.master() : -1; }
    std::string devicePath() const override { return terminal_.devicePath(); }
    std::string sysfsNode() const override {
        return ttyName_.empty() || !sysfs_ ? "" : sysfs_->devRoot() + "/" + ttyName_;
    }
    std::string usbPortPath() const override { return usbPortPath_; }

  private:
    std::string linkPath_;
    std::string serialAfterReboot_;
    PseudoTerminal terminal_;
    std::optional<FakeSysfs> sysfs_;
    std::string usbPortPath_;
    std::string ttyName_;  // in sysfs_, while on the bus
    std::string lastTerminal_;
    std::string lastTtyName_;
};

}  // namespace

std::unique_ptr<ToolLine> ToolLine_pseudoTerminal(const std::string& linkPath,
                                                  const std::string& sysfsRoot,
                                                  const std::string& usbSerial,
                                                  const std::string& serialAfterReboot,
                                                  std::string* why) {
    auto line = std::make_unique<PtyLine>(linkPath, serialAfterReboot);
    if (!sysfsRoot.empty() && !line->show(sysfsRoot, usbSerial, why)) return nullptr;
    return line;
}
