// Uploads to one file name of one FTP server take turns, among every updater of this user on
// this machine. Two tools with the same user number both upload "N.pak": one tool's file
// replacing the other's between its upload and its registration would have the server
// record as safe a backup that it never received.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

struct StopRequest;

// Where the turns are kept: "$XDG_RUNTIME_DIR/zarvik-updater", or a private folder in /tmp
// without one.
std::string UploadTurn_directory(const char* runtimeDirectory, unsigned uid);

struct UploadTurn;
struct UploadTurnDeleter {
    void operator()(UploadTurn* turn) const;
};
// Held for as long as the file must stay as uploaded; the next waiting updater goes on
// when it is released (or its process ends, however it ends).
using UploadTurnPtr = std::unique_ptr<UploadTurn, UploadTurnDeleter>;

struct UploadTurnWait {
    std::chrono::milliseconds limit;  // longest wait for another's turn to end
    std::chrono::milliseconds poll;   // how often the wait looks at `stop`
    const StopRequest* stop = nullptr;
    std::function<void()> waiting;  // called once, when another updater has the turn
};

// The turn for `fileName` on `host` ("name[:port]/"), kept in `directory` (empty: turns are
// not kept, and it is given at once). Null when it could
// not be had: the folder is unusable, the wait passed its limit or a stop was requested;
// `error` says which.
UploadTurnPtr UploadTurn_take(const std::string& directory, const std::string& host,
                              const std::string& fileName, const UploadTurnWait& wait,
                              std::string* error);
