// Program Memories: the tool's extra-file area rewritten alone, from the CPAK record of the
// firmware installed in the tool; bootloaders, firmware and other memories stay untouched.
#include "core/byte_string.h"
#include "link/tool_commands.h"
#include "server/table_store.h"
#include "workflows/app_delegate.h"
#include "workflows/extra_area.h"
#include "workflows/message_text.h"
#include "workflows/programming_run.h"

void AppDelegate::executeMemoryProgramming() {
    HistoryScope history(*this, "program-memories");
    if (checkSameTool() != ToolCheck::same) return;
    ToolLink* toolLink = link();
    const int32_t eraseUnit = eraseUnitFor(tool_->bootVersionNumber, toolLink->serialState);
    const PackageFile* cpak = findExtraArea(tool_.get());
    if (cpak == nullptr) return;

    ui_.disableButton(Control::Find);
    ui_.disableButton(Control::Program);
    ui_.disableButton(Control::ProgramMemories);
    auto enableButtons = [this] {
        ui_.enableButton(Control::Find);
        ui_.enableButton(Control::Program);
        ui_.enableButton(Control::ProgramMemories);
    };

    const std::optional<ExtraArea> area = ExtraArea_locate(*cpak);
    if (!area) {
        // Nothing is erased or written in an area the tool cannot address.
        say("Extra File 0 Not Programmed Correctly");
        setProgress(0);
        report(tool_.get(), "_Failed_Custom_Mem_0");
        ToolLink_close(toolLink);
        enableButtons();
        return;
    }
    if (area->kind == 1) {
        say("Erasing Memory...");
        setProgress(-1);
        // The whole area goes, also with a count of 0: the tool takes it as it comes.
        const int erased = Tool_eraseBlocks(toolLink, cpak->start, cpak->eraseCount);
        setProgress(0);
        if (!erased) {
            say("Erase Failed");
            setProgress(0);
            report(tool_.get(), "_Failed_MemErase_Block_" + std::to_string(cpak->start));
            enableButtons();
            return;
        }
    }

    TableStorePtr database(TableStore_open());
    int32_t number = 0;
    if (database != nullptr && !programExtraFiles(database.get(), *area, eraseUnit, &number)) {
        say(fillText("Extra File %d Not Programmed Correctly", {std::to_string(number)}));
        setProgress(0);
        report(tool_.get(), "_Failed_Custom_Mem_" + std::to_string(number));
        ToolLink_close(toolLink);
        database.reset();
        enableButtons();
        return;
    }
    ToolLink_close(toolLink);
    database.reset();
    report(tool_.get(), "_FFO");
    tell("Programming succeed", "The extra files have been programmed correctly.");
    enableButtons();
}
