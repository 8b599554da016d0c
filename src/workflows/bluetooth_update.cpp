// The end of an update: the Bluetooth Smart module brought up to the published version,
// then the tool record rebuilt, the success reported and the user told.
#include <thread>

#include "core/byte_string.h"
#include "core/stop_request.h"
#include "link/frame_exchange.h"
#include "link/tool_commands.h"
#include "server/decimal_text.h"
#include "server/server_request.h"
#include "workflows/app_delegate.h"
#include "workflows/message_text.h"
#include "workflows/programming_run.h"

namespace {

constexpr const char* kAppName = "KTX2 MVR";
constexpr uint32_t kStartModuleUpdate = 20;
constexpr uint32_t kModuleRecordCommand = 19;

constexpr const char* kSixSteps =
    "If you are using a mobile device with your %@, do the following steps to download files "
    "needed ;\n\n1- Ensure your mobile device is connected to Internet\n2- Ensure latest "
    "version of %@ App is installed\n3- Start %@ App on your mobile device\n4- Press \"Search "
    "for Tool\" and select %@ (In Bootloader)\n5- Wait until all files are loaded\n6- Repeat "
    "steps 1 to 5 for each mobile device used";
constexpr const char* kEightSteps =
    "If you are using a mobile device with your %@, do the following steps to download files "
    "needed ;\n\n1- Disconnect %@ from USB port\n2- Re-connect your %@ to USB port\n3- Ensure "
    "your mobile device is connected to Internet\n4- Ensure latest version of %@ App is "
    "installed\n5- Start %@ App on your mobile device\n6- Press \"Search for Tool\" and select "
    "%@ (In Bootloader)\n7- Wait until all files are loaded\n8- Repeat steps 3 to 7 for each "
    "mobile device used";

}  // namespace

bool AppDelegate::updateBluetoothModule(ProgrammingRun& run) {
    if (tool_->bootVersionNumber < 123 || tool_->optionCode != 1) return true;
    int stage = 0;
    bool done = false;
    do {
        if (!Tool_prepareBluetoothModule(link())) break;
        const int moduleVersion = Tool_readBluetoothVersion(link());
        stage = 1;
        ByteStringPtr published(ServerRequest_download(&session_, "KTX2_BLEVersion.txt"));
        if (published == nullptr) break;
        if (moduleVersion != 255 && moduleVersion >= decimalValue(published.get())) {
            done = true;
            break;
        }
        setProgress(0);
        say("Updating Bluetooth Smart Module...");
        stage = 2;
        ByteStringPtr image(ServerRequest_download(&session_, "Enc_KTX2_BLE_CODE.BIN"));
        if (image == nullptr) break;
        ByteStringPtr reply(ByteString_create(8));
        const int started =
            ToolLink_exchange(link(), reply.get(), kStartModuleUpdate, 0, 0, nullptr, 0, 500, 0);
        StopRequest_sleep(linkSettings_.stop, linkSettings_.timing.bluetoothStartWait,
                          linkSettings_.timing.stopPoll);
        done = started && Tool_writeImage(link(), image.get(), 256, 1, 0, 0, 1, 0,
                                          kModuleRecordCommand, linkProgress());
    } while (false);
    if (done) return true;
    failRun(run, "Bluetooth Smart Module Update Failed",
            "_Failed_BLE_Update_" + std::to_string(stage), true);
    ToolLink_close(link());
    return false;
}

void AppDelegate::completeProgramming(ProgrammingRun& run) {
    (void)run;
    ToolLink* toolLink = link();
    // What the tool is now, read back rather than assumed.
    tool_.reset(FirmwarePackage_new());
    FirmwarePackage* record = tool_.get();
    Tool_readBootloaderVersion(toolLink, record);
    Tool_readIdentity(toolLink, record);
    Tool_readConfiguration(toolLink, record);
    ServerRequest_firmwareInfo(&session_, record, 0);
    noteFirmwareAfter(record);
    reportWithoutTag(record);

    const bool inBootloader = Tool_enterBootloader(toolLink) == 1;
    ToolLink_close(toolLink);

    const ByteString* version = record->firmwareVersion;
    if (record->optionCode == 1 && version != nullptr && version->length > 0 &&
        version->data[0] >= '3') {
        const std::string message =
            inBootloader && record->bootVersionNumber > 121
                ? fillText(kSixSteps, {kDeviceName, kAppName, kAppName, kDeviceName})
                : fillText(kEightSteps, {kDeviceName, kDeviceName, kDeviceName, kAppName, kAppName,
                                         kDeviceName});
        tell("App Update", message);
    }

    ui_.enableButton(Control::Find);
    ui_.enableButton(Control::Program);
    ui_.enableButton(Control::ProgramMemories);
    say(fillText("%@ Firmware Updated Successfully", {kDeviceName}));
    const std::string& name = run.firmwareName;
    ui_.setText(Line::Firm, fillText("Firmware : V%@", {name}));
    tell("Operation Completed",
         fillText("%@ firmware update to version %@ was successful.\nIt is now safe to "
                  "disconnect the %@ from the computer.",
                  {kDeviceName, name, kDeviceName}));
}
