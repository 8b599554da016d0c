// What a backup upload did with each file: which reached the server, for the run's
// history, and the reason of a failed transfer, shown once however many attempts and files
// it stopped.
#pragma once

#include <string>

class UpdaterUi;

struct UploadTally {
    std::string uploaded;     // file numbers, "2 3"
    std::string notUploaded;  // the same for the files the server did not get
    std::string shownReason;

    void note(const std::string& number, bool reachedServer);
    // Puts `reason` on the status line unless it is there already.
    void tellReason(UpdaterUi& ui, const std::string& reason);
};
