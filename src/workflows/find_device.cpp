// Find Device: find and open the tool, read who it is, ask the server what it runs and may
// receive, and offer what fits this tool.
#include <cstring>

#include "core/byte_string.h"
#include "link/frame_exchange.h"
#include "link/tool_commands.h"
#include "server/server_request.h"
#include "server/server_session.h"
#include "server/tool_record_query.h"
#include "workflows/app_delegate.h"
#include "workflows/extra_area.h"
#include "workflows/message_text.h"

namespace {

#if defined(__APPLE__)
constexpr const char* kDriverHelp =
    "1. Go to the %@_Updater_Mac folder you downloaded from our website.\n2. Go to the Driver "
    "folder.\n3. Right-click on the installer package for your OS (likely 64 bits, but may be "
    "32 bits for older Macs) and choose Open.\n4. Unplug the device.\n5. Install the "
    "driver.\n6. Plug the device.\n7. It should now work properly. If you press Find Device and "
    "still see this message, you will need to reboot your Mac.";
#else
// Linux drives the tool with its own cdc_acm module: there is nothing to install, only the
// device to find and the access to it.
constexpr const char* kDriverHelp =
    "1. Unplug the %@ and plug it in again.\n2. Check that it is listed by \"zarvik-cli "
    "ports\".\n3. Check the kernel log (sudo dmesg): the cdc_acm driver should report a ttyACM "
    "device for it.\n4. Install the updater's udev rule (sudo cp 70-zarvik-ktx2.rules "
    "/etc/udev/rules.d/ && sudo udevadm control --reload), or add your user to the dialout "
    "group (sudo usermod -aG dialout $USER, then log in again).\n5. Press Find Device again.";
#endif

uint32_t little16(const ByteString* reply, int32_t offset) {
    return reply->data[offset] | (reply->data[offset + 1] << 8);
}

// A request that never reached the server is a network problem, not the tool's.
void tellUnreachableServer(UpdaterUi& ui, const ServerSession& session) {
    const std::string line = ServerSession_failureText(&session);
    if (!line.empty()) ui.setText(Line::Status, line);
}

bool hasName(const FirmwarePackage* record, const char* name) {
    ByteStringPtr text(ByteString_fromText(name));
    return FirmwarePackage_hasFile(record, text.get()) > 0;
}

}  // namespace

void AppDelegate::readBackupState(FirmwarePackage* record) {
    ui_.showControl(Control::ProgramMemories);
    ServerSession_setPath(&session_, kQueryScript);
    const PackageFile* cpak = findExtraArea(record);
    if (cpak != nullptr && cpak->memoryKind == 2) {
        ByteStringPtr reply(ByteString_create(16));
        if (ToolLink_exchange(link_.get(), reply.get(), 17, 0x600000, 8, nullptr, 0, 500, -1) &&
            reply->length >= 6) {
            int32_t stored = static_cast<int32_t>(little16(reply.get(), 4));
            int32_t onServer = ServerRequest_userFileCount(&session_, record);
            // A count outside what the tool holds is no answer: the upload would start past
            // the end of the tool's directory, or before its start.
            if (onServer >= 0 && onServer < stored && stored <= 1022) {
                setGnGlobalFileCount(onServer);
                ui_.showControl(Control::UploadReadFiles);
            }
        }
    } else if (cpak != nullptr && cpak->memoryKind == 1) {
        ByteStringPtr reply(ByteString_create(64));
        if (ToolLink_exchange(link_.get(), reply.get(), 11, 0x6C0000, 43, nullptr, 0, 500, -1) &&
            reply->length >= 43) {
            uint32_t number = little16(reply.get(), 6);
            std::string_view first(reinterpret_cast<const char*>(reply->data) + 8, 17);
            const char* second = reinterpret_cast<const char*>(reply->data) + 25;
            std::string_view secondText(second, strnlen(second, 18));
            if (first.substr(0, 2) == "SA" &&
                ServerRequest_userFileVersion(&session_, first, secondText, number) == 0) {
                ui_.showControl(Control::UploadReadFiles);
            }
        }
    }
    ServerSession_setPath(&session_, kUpdaterScript);
}

void AppDelegate::findDevice() {
    firmwareUnknown_ = false;
    LinkSettings settings = linkSettings_;
    if (!pickTool(settings)) {
        say("No tool chosen");
        ui_.enableButton(Control::Find);
        return;
    }
    link_ = makeToolLink(settings);
    ToolLink* link = link_.get();
    ui_.hideControl(Control::ProgramMemories);
    ui_.hideControl(Control::UploadReadFiles);
    ui_.hideControl(Control::FirmLabel);

    if (!ToolLink_findPort(link)) {
        say("Device not found");
        ui_.messageBoxNew(AlertMessage(fillText("%@ not Found", {kDeviceName}),
                                       "Please ensure that the device is connected",
                                       AlertMessage::kTypeOk));
        // What to do next, there once the box is gone.
        ui_.setText(Line::Status, ToolLink_notFoundText(link));
        ui_.enableButton(Control::Find);
        return;
    }
    say("Device found");
    if (!ToolLink_open(link)) {
        if (link->lastError == kLinkErrorSpeed) {
            say("Unable to communicate. Missing Driver.");
            ui_.enableButton(Control::Find);
            tell("How to install the missing driver", fillText(kDriverHelp, {kDeviceName}));
        } else {
            say(fillText("Failed to open the port. conn_type=%d lastError=%d",
                         {std::to_string(link->transportKind), std::to_string(link->lastError)}));
            ui_.enableButton(Control::Find);
            // Linux says why; the user learns how to get access to the device.
            std::string hint = ToolLink_openFailureText(link);
            if (!hint.empty()) ui_.setText(Line::Status, hint);
        }
        ToolLink_close(link);
        return;
    }
    // The hint of an earlier failed open no longer applies.
    ui_.setText(Line::Status, "");
    say("Connected to device");
    FirmwarePackagePtr record(FirmwarePackage_new());

    say("Gathering tool info. Step 0");
    if (!Tool_readBootloaderVersion(link, record.get())) {
        say("Failed to communicate with the device.");
        ui_.enableButton(Control::Find);
        ToolLink_close(link);
        return;
    }

    bool identified = false;
    bool known = false;
    bool manual = false;
    do {
        say("Gathering tool info. Step 1");
        record->linkCode = link->serialState + 1;
        if (!Tool_readIdentity(link, record.get())) break;
        say("Gathering tool info. Step 2");
        say("Gathering tool info. Step 3");
        if (!Tool_readConfiguration(link, record.get())) break;
        say("Gathering tool info. Step 4");
        if (!ServerRequest_firmwareInfo(&session_, record.get(), 0)) {
            if (ServerRequest_firmwareInfo(&session_, record.get(), 1) != 1) {
                tellUnreachableServer(ui_, session_);
                break;
            }
            firmwareUnknown_ = true;
        }
        identified = true;
        if (!identifyToolRecord(&session_, record.get())) {
            tellUnreachableServer(ui_, session_);
            break;
        }
        known = true;

        ui_.setText(Line::Name, "Name : " + ByteString_str(record->toolName));
        ui_.setText(Line::Car, "Vehicle : " + ByteString_str(record->vehicle1) + " " +
                                   ByteString_str(record->vehicle2));
        if (firmwareUnknown_) {
            ui_.setText(Line::Firm, "Current Firmware: Unknown");
        } else {
            ui_.setText(Line::Firm, "Current Firmware : V" +
                                        ByteString_str(record->firmwareVersion) + " Build " +
                                        std::to_string(record->firmwareBuild));
        }
        if (hasName(record.get(), "CPAK")) readBackupState(record.get());
        manual = hasName(record.get(), "MANUAL");
        parseFirmwareIds(ByteString_str(record->firmwareList));
        tellUnfinishedUpdate(record->serialNumber);
        say("");
    } while (false);

    if (identified && !known) {
        // The server does not know this tool: say so and keep the tool identified before.
        say("Tool not recognised by the server");
        ui_.setColour(Line::Msg, Colour::Red);
        ToolLink_close(link);
        ui_.enableButton(Control::Find);
        return;
    }
    ToolLink_close(link);
    replaceToolRecord(std::move(record));
    if (identified) {
        updateFirmwareDesc();
    } else {
        // Said last, so that the description of an earlier tool's firmware does not hide it.
        say(fillText("%@ firmware can't be identified", {kDeviceName}));
        ui_.setColour(Line::Msg, Colour::Red);
    }
    // Enabled last: a click acts on the record and the link of this run, which is over.
    ui_.enableButton(Control::Find);
    if (manual) ui_.enableButton(Control::Manual);
    if (known) ui_.enableButton(Control::Program);
}
