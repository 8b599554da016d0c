#include "workflows/upload_tally.h"

#include "workflows/updater_ui.h"

void UploadTally::note(const std::string& number, bool reachedServer) {
    std::string& list = reachedServer ? uploaded : notUploaded;
    if (!list.empty()) list += ' ';
    list += number;
}

void UploadTally::tellReason(UpdaterUi& ui, const std::string& reason) {
    if (reason == shownReason) return;
    shownReason = reason;
    ui.setText(Line::Status, reason);
}
