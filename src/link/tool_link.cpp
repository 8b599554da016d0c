#include "link/tool_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "core/stop_request.h"
#include "link/device_kind.h"
#include "link/link_trace.h"
#include "link/port_discovery.h"
#include "link/port_holder.h"
#include "link/serial_line.h"

namespace fs = std::filesystem;

namespace {

bool storePath(ToolLink* link, const std::string& path) {
    if (path.empty() || path.size() >= static_cast<size_t>(kDevicePathSize)) return false;
    std::memcpy(link->devicePath, path.c_str(), path.size() + 1);
    return true;
}

void releaseDescriptor(ToolLink* link) {
    if (link->descriptor >= 0) {
        // After a given-up exchange the frame may still sit in the driver, for a tool that
        // stopped reading; cdc_acm's close would wait up to 30 s for it to go out.
        if (link->unsettled) ::tcflush(link->descriptor, TCOFLUSH);
        // Let other programs open the port again; closing drops the lock.
        ::ioctl(link->descriptor, TIOCNXCL);
        // On Linux the descriptor is released even when close reports an error (a device
        // that has gone away), so it is never closed twice.
        ::close(link->descriptor);
        link->descriptor = -1;
    }
}

bool isPseudoTerminal(int fd) {
    struct stat node {};
    if (::fstat(fd, &node) != 0 || !S_ISCHR(node.st_mode)) return false;
    return DeviceKind_isPseudoTerminal(node.st_rdev);
}

int failOpen(ToolLink* link, int fd, int32_t code, int savedErrno) {
    if (fd >= 0) ::close(fd);
    link->lastError = code;
    link->openErrno = savedErrno;
    return 0;
}

int toolCount(const std::vector<SerialPortInfo>& ports) {
    return static_cast<int>(
        std::ranges::count_if(ports, [](const auto& p) { return SerialPortInfo_isTool(p); }));
}

int storeFound(ToolLink* link, const std::string& path, UsbIdentity identity,
               const std::vector<SerialPortInfo>& ports) {
    if (!storePath(link, path)) return 0;
    link->found = std::move(identity);
    link->foundAmongOthers = toolCount(ports) > 1 ? 1 : 0;
    link->serialState = kSerialFound;
    return 1;
}

// The only tool attached, when it sits in `socket`; else null.
const SerialPortInfo* loneToolInSocket(const std::vector<SerialPortInfo>& ports,
                                       const std::string& socket) {
    if (socket.empty() || toolCount(ports) != 1) return nullptr;
    const auto tool = std::ranges::find_if(ports, SerialPortInfo_isTool);
    return tool->usbPortPath == socket ? &*tool : nullptr;
}

// The search as the settings name it: a USB serial, an explicit port, or the first tool.
int findByName(ToolLink* link, const std::vector<SerialPortInfo>& ports) {
    const LinkSettings& settings = link->settings;
    if (!settings.tool.empty()) {
        const SerialPortInfo* port = UsbIdentity_findTool(ports, {settings.tool, ""});
        if (port == nullptr || !port->nodeExists) return 0;
        return storeFound(link, port->devicePath, UsbIdentity_of(*port), ports);
    }
    if (!settings.port.empty()) {
        // /dev/serial/by-id links and the like lead to the node the tool has now; a link
        // that leads nowhere is kept, so the open fails on the name the user gave.
        std::error_code ec;
        const fs::path node = fs::canonical(settings.port, ec);
        const std::string path = ec ? settings.port : node.string();
        const SerialPortInfo* port = UsbIdentity_toolAtNode(ports, path);
        return storeFound(link, path, port != nullptr ? UsbIdentity_of(*port) : UsbIdentity{},
                          ports);
    }
    for (const SerialPortInfo& port : ports) {
        if (!SerialPortInfo_isTool(port)) continue;
        // The first matching device decides, even when it has no device node.
        if (!port.nodeExists) return 0;
        return storeFound(link, port.devicePath, UsbIdentity_of(port), ports);
    }
    return 0;
}

}  // namespace

ToolLink* ToolLink_create() {
    auto* link = new ToolLink{};
    link->devicePath = new char[kDevicePathSize]();
    link->receiveBuffer = new uint8_t[kReceiveBufferSize]();
    link->descriptor = -1;
    return link;
}

static int findPortUntraced(ToolLink* link) {
    link->transportKind = kTransportSerial;
    // An open that worked since the last search decides which tool the record follows.
    if (UsbIdentity_isEmpty(link->followed) && link->serialState == kSerialOpened &&
        link->lastError == 0) {
        link->followed = link->found;
        link->followedAmongOthers = link->foundAmongOthers;
    }
    const std::vector<SerialPortInfo> ports =
        PortDiscovery_list(link->settings.sysfsRoot, link->settings.devRoot);
    if (!UsbIdentity_isEmpty(link->followed)) {
        const SerialPortInfo* port = UsbIdentity_findTool(ports, link->followed);
        if (port != nullptr && port->nodeExists) {
            const uint8_t amongOthers = link->followedAmongOthers;
            const int stored = storeFound(link, port->devicePath, link->followed, ports);
            link->foundAmongOthers = amongOthers;
            return stored;
        }
        // While the tool is away (rebooting) no other tool is taken in its stead, not even
        // one that now sits alone or under the node it had. A tool that was alone and comes
        // back alone in its own USB socket is taken, also when the user named its serial:
        // its bootloader may give another. The run checks who answers before writing on.
        const SerialPortInfo* back = loneToolInSocket(ports, link->followed.usbPortPath);
        if (link->followedAmongOthers == 0 && back != nullptr && back->nodeExists) {
            return storeFound(link, back->devicePath, UsbIdentity_of(*back), ports);
        }
        // The stored path may be another tool's node by now: nothing is left to open.
        link->devicePath[0] = '\0';
        return 0;
    }
    return findByName(link, ports);
}

static int openUntraced(ToolLink* link) {
    if (link->open) return 1;
    if (link->transportKind == kTransportHid) {
        link->open = 1;
        return 1;
    }
    if (link->transportKind != kTransportSerial) return 1;
    // A connection left behind by a reboot is dead; let it go before the new one.
    releaseDescriptor(link);
    if (link->serialState == kSerialNotFound) {
        // Only the vendor library would open a device that was never found; it is not built.
        return failOpen(link, -1, kLinkErrorOpen, ENODEV);
    }
    link->serialState = kSerialOpened;

    int fd = ::open(link->devicePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int openErrno = errno;  // EBUSY: another program set the line exclusive
        return failOpen(link, -1, openErrno == EBUSY ? kLinkErrorBusy : kLinkErrorOpen, openErrno);
    }
    // The port is ours alone: a second updater, a terminal or a modem prober that writes to
    // the tool mid-update would corrupt what it receives. Another holder fails the open now,
    // before anything is sent. A node that cannot be locked at all is used unlocked.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        return failOpen(link, fd, kLinkErrorBusy, EBUSY);
    }
    // A program that holds the port without a lock (a terminal, a logger) would take the
    // tool's replies from under the updater. A pseudo-terminal is always held by the program
    // at its other end, so only real serial devices are checked.
    if (::isatty(fd) && !isPseudoTerminal(fd) && PortHolder_find(link->devicePath).has_value()) {
        return failOpen(link, fd, kLinkErrorBusy, EBUSY);
    }
    if (::fcntl(fd, F_SETFL, 0) != 0) return failOpen(link, fd, kLinkErrorBlocking, errno);
    if (SerialLine_configure(fd, kToolBitRate) != 0) {
        return failOpen(link, fd, kLinkErrorSpeed, errno);
    }
    // Programs that do not lock are kept out too: their opens fail with EBUSY (except
    // root's; the lock still stands against those that lock).
    ::ioctl(fd, TIOCEXCL);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);

    // The answer to an exchange given up before this open (by this record or an earlier
    // program) may wait on the line or still be on its way: drop what is there, and let the
    // first exchange wait for a quiet line before it sends.
    ::tcflush(fd, TCIFLUSH);
    link->freshLine = 1;

    link->descriptor = fd;
    link->open = 1;
    link->lastError = 0;
    link->openErrno = 0;
    return 1;
}

int ToolLink_findPort(ToolLink* link) {
    const int found = findPortUntraced(link);
    LinkTrace_event(link->settings.trace, LinkTraceEvent::Find, found ? link->devicePath : "",
                    found);
    return found;
}

int ToolLink_open(ToolLink* link) {
    const bool wasOpen = link->open != 0;
    const int opened = openUntraced(link);
    if (!wasOpen) {
        LinkTrace_event(link->settings.trace, LinkTraceEvent::Open, link->devicePath, opened,
                        link->lastError, link->openErrno);
    }
    return opened;
}

int ToolLink_close(ToolLink* link) {
    if (!link->open) return 1;
    LinkTrace_event(link->settings.trace, LinkTraceEvent::Close, link->devicePath, 1);
    if (link->transportKind == kTransportHid) {
        link->open = 0;
        return 1;
    }
    if (link->transportKind != kTransportSerial) return 1;
    releaseDescriptor(link);
    link->open = 0;
    return 1;
}

void ToolLink_markNotOpen(ToolLink* link) {
    LinkTrace_event(link->settings.trace, LinkTraceEvent::Reboot, link->devicePath, 1);
    link->open = 0;
    link->transportKind = kTransportSerial;
}

int ToolLink_waitForDeparture(ToolLink* link, std::chrono::steady_clock::time_point deadline) {
    if (link->open || link->descriptor < 0) return 1;
    using Clock = std::chrono::steady_clock;
    const auto slice = link->settings.timing.stopPoll;
    uint8_t scratch[256];
    while (!StopRequest_requested(link->settings.stop)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return 0;
        pollfd p{link->descriptor, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min(left, slice).count()) + 1);
        if (r < 0 && errno != EINTR) return 1;
        if (r <= 0) continue;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return 1;
        // A terminal that has hung up reads as 0 bytes; any other failure but "nothing
        // yet" means the device is going.
        const ssize_t n = ::read(link->descriptor, scratch, sizeof scratch);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return 1;
        }
    }
    return 0;
}

void ToolLink_free(ToolLink* link) {
    if (link == nullptr) return;
    delete[] link->vendorArgument;
    if (link->open) ToolLink_close(link);
    releaseDescriptor(link);
    delete[] link->devicePath;
    delete[] link->receiveBuffer;
    delete link;
}
