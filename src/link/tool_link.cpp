#include "link/tool_link.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/port_discovery.h"
#include "link/serial_line.h"

namespace {

bool storePath(ToolLink* link, const std::string& path) {
    if (path.empty() || path.size() >= static_cast<size_t>(kDevicePathSize)) return false;
    std::memcpy(link->devicePath, path.c_str(), path.size() + 1);
    return true;
}

void releaseDescriptor(ToolLink* link) {
    if (link->descriptor >= 0) {
        // Let other programs open the port again; closing drops the lock.
        ::ioctl(link->descriptor, TIOCNXCL);
        // On Linux the descriptor is released even when close reports an error (a device
        // that has gone away), so it is never closed twice.
        ::close(link->descriptor);
        link->descriptor = -1;
    }
}

int failOpen(ToolLink* link, int fd, int32_t code, int savedErrno) {
    if (fd >= 0) ::close(fd);
    link->lastError = code;
    link->openErrno = savedErrno;
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

int ToolLink_findPort(ToolLink* link) {
    link->transportKind = 0;
    if (!link->settings.port.empty()) {
        if (!storePath(link, link->settings.port)) return 0;
        link->serialState = 2;
        return 1;
    }
    for (const SerialPortInfo& port :
         PortDiscovery_list(link->settings.sysfsRoot, link->settings.devRoot)) {
        if (!SerialPortInfo_isTool(port)) continue;
        // The first matching device decides, even when it has no device node.
        if (!port.nodeExists || !storePath(link, port.devicePath)) return 0;
        link->serialState = 2;
        return 1;
    }
    return 0;
}

int ToolLink_open(ToolLink* link) {
    if (link->open) return 1;
    if (link->transportKind == 1) {
        link->open = 1;
        return 1;
    }
    if (link->transportKind != 0) return 1;
    // A connection left behind by a reboot is dead; let it go before the new one.
    releaseDescriptor(link);
    if (link->serialState == 0) {
        // Only the vendor library would open a device that was never found; it is not built.
        return failOpen(link, -1, kLinkErrorOpen, ENODEV);
    }
    link->serialState = 1;

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
    if (::fcntl(fd, F_SETFL, 0) != 0) return failOpen(link, fd, kLinkErrorBlocking, errno);
    if (SerialLine_configure(fd, kToolBitRate) != 0) {
        return failOpen(link, fd, kLinkErrorSpeed, errno);
    }
    // Programs that do not lock are kept out too: their opens fail with EBUSY (except
    // root's; the lock still stands against those that lock).
    ::ioctl(fd, TIOCEXCL);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);

    link->descriptor = fd;
    link->open = 1;
    link->lastError = 0;
    link->openErrno = 0;
    return 1;
}

int ToolLink_close(ToolLink* link) {
    if (!link->open) return 1;
    if (link->transportKind == 1) {
        link->open = 0;
        return 1;
    }
    if (link->transportKind != 0) return 1;
    releaseDescriptor(link);
    link->open = 0;
    return 1;
}

void ToolLink_markNotOpen(ToolLink* link) {
    link->open = 0;
    link->transportKind = 0;
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
