// The virtual tool as a real USB device: the gadget bound to its UDC is the cable plugged in,
// its terminal /dev/ttyGSn the tool's end of the line.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "toolsim/tool_line.h"

namespace {

class GadgetLine : public ToolLine {
  public:
    explicit GadgetLine(std::string serialAfterReboot)
        : serialAfterReboot_(std::move(serialAfterReboot)) {}
    ~GadgetLine() override { remove(); }

    bool create(const UsbGadgetIdentity& identity, std::string* why) {
        return gadget_.create(identity, why);
    }

    bool join(const LineJoin& join, std::string* why) override {
        // A tool that kept its old serial would pass a case about a serial that changes.
        if (!serialAfterReboot_.empty() && join.generation > 0 &&
            !gadget_.setSerial(serialAfterReboot_)) {
            if (why) *why = "could not set the USB serial " + serialAfterReboot_;
            return false;
        }
        if (!gadget_.bind(why)) return false;
        const std::string& path = gadget_.terminals().front();
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios line{};
        if (fd_ < 0 || ::tcgetattr(fd_, &line) != 0) {
            if (why) *why = "opening " + path + ": " + std::strerror(errno);
            leave();
            return false;
        }
        ::cfmakeraw(&line);
        line.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(fd_, TCSANOW, &line);
        return true;
    }

    void leave() override {
        if (fd_ >= 0) {
            // Unsent bytes go with the cable: the close must not wait for a host that is gone.
            ::tcflush(fd_, TCIOFLUSH);
            ::close(fd_);
            fd_ = -1;
        }
        gadget_.unbind();
    }

    void remove() override {
        leave();
        gadget_.remove();
    }

    int fd() const override { return fd_; }
    std::string devicePath() const override { return fd_ >= 0 ? gadget_.terminals().front() : ""; }

  private:
    UsbGadget gadget_;
    std::string serialAfterReboot_;
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<ToolLine> ToolLine_usbGadget(const UsbGadgetIdentity& identity,
                                             const std::string& serialAfterReboot,
                                             std::string* why) {
    auto line = std::make_unique<GadgetLine>(serialAfterReboot);
    if (!line->create(identity, why)) return nullptr;
    return line;
}
