// The connection to the tool's serial device: finding it, opening it at 256000 bit/s and
// closing it again. One record serves the whole process; the exchange and the command set
// work on an open record.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "link/link_settings.h"
#include "link/usb_identity.h"

inline constexpr int kDevicePathSize = 512;
inline constexpr int kReceiveBufferSize = 1000;
inline constexpr uint32_t kToolVendorId = 0x04D8;
inline constexpr uint32_t kToolProductId = 0xF32B;

// Failure codes of ToolLink_open, kept in lastError.
inline constexpr int32_t kLinkErrorOpen = -3;      // the device path did not open
inline constexpr int32_t kLinkErrorBlocking = -4;  // the descriptor refused blocking mode
inline constexpr int32_t kLinkErrorSpeed = -5;     // 256000 bit/s refused: no tool driver
inline constexpr int32_t kLinkErrorBusy = -6;      // another program holds the port

// The link's states keep the numbers the record has always held: the tool's record reports
// the serial state (plus one) to the server, so the values are part of the wire.
inline constexpr uint8_t kTransportSerial = 0;
inline constexpr uint8_t kTransportHid = 1;  // never selected here
inline constexpr uint8_t kSerialNotFound = 0;
inline constexpr uint8_t kSerialOpened = 1;
inline constexpr uint8_t kSerialFound = 2;

struct ToolLink {
    uint8_t open;           // 1 while open
    uint8_t transportKind;  // kTransportSerial or kTransportHid
    uint8_t serialState;    // kSerialNotFound, kSerialFound or kSerialOpened
    char* vendorArgument;   // vendor-library open argument; always null here
    int32_t lastError;      // failure code of the last ToolLink_open, 0 after a success
    char* devicePath;       // kDevicePathSize bytes, zero-terminated
    int32_t descriptor;     // -1: none held
    void* vendorHandle;     // the vendor-library transport is not built; always null

    // Set after ToolLink_create: each Find Device makes a new record from the same settings.
    LinkSettings settings;
    int32_t openErrno;       // errno of the step of ToolLink_open that failed, else 0
    uint8_t* receiveBuffer;  // kReceiveBufferSize bytes, refilled by every exchange
    // An exchange gave up on its reply, whose bytes may still come: the next exchange first
    // waits for a quiet line and trusts its own reply only once the line stays quiet.
    uint8_t unsettled;
    // Just opened: what is still on its way from before the open is dropped first.
    uint8_t freshLine;
    // The tool this record follows from one reboot to the next: the USB identity of the
    // device first found and opened, empty until then. `found` is that of the device the
    // last ToolLink_findPort stored, when it is a tool listed in sysfs.
    UsbIdentity followed;
    UsbIdentity found;
    // Other tools were attached when the followed (or found) device was found.
    uint8_t followedAmongOthers;
    uint8_t foundAmongOthers;
};

ToolLink* ToolLink_create();
// 1 when the tool's device was found (path stored, serial state 2), else 0. Once the record
// follows a tool, that tool is looked up, under whatever node it has now; while it is away
// only a tool alone in its USB socket is taken, and otherwise the path is cleared so that no
// other tool is opened in its stead. Before that: the tool with the settings' USB serial
// (none: 0); else the explicit port, its links followed to the real node (a link that leads
// nowhere is stored as it is, for the open to fail on); else the first tool in name order.
int ToolLink_findPort(ToolLink* link);
// 1 when the link is open afterwards, 0 with lastError and openErrno set.
int ToolLink_open(ToolLink* link);
int ToolLink_close(ToolLink* link);
void ToolLink_free(ToolLink* link);

// The tool restarts and leaves the bus: the record is marked not open without closing the
// old connection; its descriptor is released by the next open, close or free.
void ToolLink_markNotOpen(ToolLink* link);
// After ToolLink_markNotOpen: 1 once the old connection has hung up (the tool has left the
// bus), or when none is held; 0 when it is still up at `deadline` or a stop was asked for.
// What the tool still sends meanwhile is dropped.
int ToolLink_waitForDeparture(ToolLink* link, std::chrono::steady_clock::time_point deadline);

// A sentence that tells the user why the last open failed and what to do about it.
std::string ToolLink_openFailureText(const ToolLink* link);
// After a failed ToolLink_findPort: why no tool was found and what the user can do.
std::string ToolLink_notFoundText(const ToolLink* link);

struct ToolLinkDeleter {
    void operator()(ToolLink* link) const { ToolLink_free(link); }
};
using ToolLinkPtr = std::unique_ptr<ToolLink, ToolLinkDeleter>;

inline ToolLinkPtr makeToolLink(const LinkSettings& settings) {
    ToolLinkPtr link(ToolLink_create());
    link->settings = settings;
    return link;
}
