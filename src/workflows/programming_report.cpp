// What the update runs share: the same-tool check, the failure reports and the sizes of
// the tool's memory units.
#include "core/byte_string.h"
#include "link/tool_commands.h"
#include "server/tool_record_query.h"
#include "workflows/app_delegate.h"
#include "workflows/programming_run.h"
#include "workflows/tool_check.h"

namespace {

constexpr const char* kDisconnected = "Tool Disconnected, Program Aborted";

}  // namespace

int32_t eraseUnitFor(int32_t bootVersionNumber, int serialState) {
    return bootVersionNumber >= 115 && serialState == kSerialOpened ? 2048 : 256;
}

int32_t extraDirectorySectors(int32_t fileCount) {
    return 4 * ((4 * fileCount + 3) / 2048 + 1);
}

int32_t extraFileSectors(int32_t length) {
    // (length - 1) / 2048 rounds toward zero, so an empty file still takes one block.
    return 4 * ((length - 1) / 2048 + 1);
}

AppDelegate::ToolCheck AppDelegate::checkSameTool() {
    ToolLink* toolLink = link();
    if (!ToolLink_findPort(toolLink) || !ToolLink_open(toolLink)) {
        // A failed search opens nothing and a failed open lets its descriptor go: only a
        // connection that an earlier run left open is closed, its tool being gone.
        if (toolLink->open) ToolLink_close(toolLink);
        say(kDisconnected);
        return ToolCheck::gone;
    }
    const ToolCheck check = checkAttachedTool();
    if (check == ToolCheck::gone) say(kDisconnected);
    return check;
}

AppDelegate::ToolCheck AppDelegate::checkAttachedTool() {
    ToolLink* toolLink = link();
    FirmwarePackagePtr fresh(FirmwarePackage_new());
    // A tool that does not answer is gone, not another tool: no switch is reported for it.
    if (tool_ == nullptr || !Tool_readConfiguration(toolLink, fresh.get())) {
        ToolLink_close(toolLink);
        return ToolCheck::gone;
    }
    if (ToolCheck_compare(*tool_, *fresh) != ToolMatch::same) {
        Tool_readIdentity(toolLink, fresh.get());
        ToolLink_close(toolLink);
        say(kDisconnected);
        ui_.setText(Line::Status, ToolCheck_switchText(*tool_, *fresh));
        report(tool_.get(), "_Switch_From");
        report(fresh.get(), "_Switch_To");
        return ToolCheck::switched;
    }
    return ToolCheck::same;
}

void AppDelegate::report(FirmwarePackage* record, const std::string& tag) {
    ByteStringPtr text = makeByteString(tag);
    queryToolRecord(&session_, record, ToolRecordMode::report, text.get());
    noteReport(&tag);
}

void AppDelegate::reportWithoutTag(FirmwarePackage* record) {
    queryToolRecord(&session_, record, ToolRecordMode::report, nullptr);
    noteReport(nullptr);
}

void AppDelegate::failRun(ProgrammingRun& run, const std::string& text, const std::string& tag,
                          bool updateRecord) {
    say(text);
    setProgress(0);
    if (updateRecord) {
        // The server learns which firmware the tool was being given when it failed.
        tool_->firmwareId = static_cast<int32_t>(run.firmwareId);
        const PackageFirmware* target = run.package ? run.package->firmware : nullptr;
        if (target != nullptr && tool_->firmware != nullptr) {
            FirmwarePackage_setText(&tool_->firmware->name,
                                    target->name ? ByteString_copy(target->name) : nullptr);
        }
    }
    report(tool_.get(), tag);
}
