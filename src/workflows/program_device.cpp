// Program: check the chosen firmware against the tool and ask the fitting question.
#include "core/byte_string.h"
#include "server/server_request.h"
#include "server/server_session.h"
#include "workflows/app_delegate.h"
#include "workflows/message_text.h"

namespace {

constexpr const char* kMotionDest =
    "You are about to update your %@ with the MotionDest special firmware. This firmware can "
    "only be used to enable destination entry while the vehicle is moving and cannot perform "
    "any diagnostic tasks.\nThe process involve two consecutives reflashes of the Touchscreen "
    "and takes about 71 minutes.\nPlease consult the %@ user manual for more details.\n\nDo "
    "you which to continue?";
constexpr const char* kUpdateTo =
    "Your %@ is about to be updated to version\n%s Build %d\nDo you wish to continue?\n\nPlease "
    "leave the %@ connected during programming.";
constexpr const char* kUpdateFrom =
    "Your %@ is about to be updated from\nfirmware version %s Build %d\nto version "
    "%@\n\n\n\nPlease leave the %@ connected during programming.";
constexpr const char* kVehicleChange =
    "The firmware on your %@ is for a different vehicle type than your registered "
    "vehicle.\nRegistered Vehicle Type : %s\nCurrent Vehicle Type    : %s\nDo you wish proceed "
    "and change the vehicle type for the registered one?\nIf not please abort and contact us "
    "to have your vehicle registration corrected.";

}  // namespace

void AppDelegate::programDevice() {
    ui_.setColour(Line::Msg, Colour::Black);
    int id = getFirmwareId();
    force_ = false;
    if (id == 0) {
        say("Downloading Newest Firmware");
        return;
    }
    const FirmwarePackage* tool = tool_.get();
    if (tool != nullptr && id == tool->firmwareId) {
        force_ = true;
        askQuestion("Would you like to reinstall the firmware?",
                    fillText("Firmware version %s Build %d is already programmed.\n\n\n\nPlease "
                             "leave the %@ connected during programming.",
                             {ByteString_view(tool->firmwareVersion),
                              std::to_string(tool->firmwareBuild), kDeviceName}),
                    &AppDelegate::executeProgramming);
        return;
    }

    std::string path = "ktxFirmwares/" + std::to_string(id) + ".gfi";
    ui_.setText(Line::Status, "Downloading firmware information...");
    ByteStringPtr bytes(ServerRequest_download(&session_, path));
    // Why the server did not answer, when it did not: the box alone cannot say.
    ui_.setText(Line::Status, bytes == nullptr ? ServerSession_failureText(&session_) : "");
    if (bytes == nullptr) {
        // A network failure is not an outdated updater.
        tell("Download Failed",
             "Please ensure your computer is connected to internet\nTry again or contact us");
        return;
    }
    FirmwarePackagePtr info(FirmwarePackage_new());
    if (!FirmwarePackage_load(PACKAGE_INFO, info.get(), bytes.get(), 0)) {
        tell("Error", "Your updater is out of date");
        return;
    }

    std::string chosenName = getFirmwareName();
    std::string infoName = info->firmware ? ByteString_str(info->firmware->name) : "";
    std::string infoBuild = info->firmware ? std::to_string(info->firmware->build) : "0";
    // Without the installed firmware's description the tool cannot be compared: the
    // plain update text is all that can be said.
    bool toolDescribed = tool != nullptr && tool->firmware != nullptr && tool->fsn != nullptr &&
                         tool->fln != nullptr && info->fsn != nullptr && info->fln != nullptr;
    std::string message;
    // The chosen entry decides, whatever the message line shows after an earlier run.
    if (chosenDescription() == "MotionDest") {
        message = fillText(kMotionDest, {kDeviceName, kDeviceName});
    } else if (firmwareUnknown_ || !toolDescribed) {
        message = fillText(kUpdateTo, {kDeviceName, infoName, infoBuild, kDeviceName});
    } else if (ByteString_prefixEquals(tool->fsn, info->fsn)) {
        message =
            fillText(kUpdateFrom, {kDeviceName, ByteString_view(tool->firmware->name),
                                   std::to_string(tool->firmwareBuild), chosenName, kDeviceName});
    } else {
        message = fillText(kVehicleChange,
                           {kDeviceName, ByteString_view(info->fln), ByteString_view(tool->fln)});
        force_ = true;
    }
    info.reset();
    bytes.reset();
    askQuestion("Do you wish to proceed?", message, &AppDelegate::executeProgramming);
}
