// Upload Backups: the stored files the server lacks are read out of the tool one by one,
// uploaded over FTP and registered with the server.
#include "core/byte_string.h"
#include "core/crc32.h"
#include "link/frame_builder.h"
#include "link/frame_exchange.h"
#include "link/tool_commands.h"
#include "link/tool_protocol.h"
#include "server/request_text.h"
#include "server/server_session.h"
#include "server/table_store.h"
#include "server/upload_turn.h"
#include "workflows/app_delegate.h"
#include "workflows/extra_area.h"
#include "workflows/message_text.h"
#include "workflows/stored_directory.h"
#include "workflows/upload_tally.h"

namespace {

constexpr uint32_t kSingleFileAddress = 0x6C0000;  // kind 1: one file, byte address
constexpr uint32_t kDirectoryBlock = 0x600000;     // kind 2: directory, block number
constexpr uint32_t kReadBlockCommand = 17;

}  // namespace

UploadTurnPtr AppDelegate::takeUploadTurn(const std::string& fileName, std::string* error) {
    const ByteString* host = session_.uploadHost != nullptr ? session_.uploadHost : session_.host;
    UploadTurnWait wait{
        session_.timing.uploadTurnWait, session_.timing.stopPoll, linkSettings_.stop,
        [&] { say("Waiting for another updater's upload of " + fileName + "..."); }};
    return UploadTurn_take(session_.uploadTurns, ByteString_str(host), fileName, wait, error);
}

void AppDelegate::executeUploadFile() {
    HistoryScope history(*this, "upload-backups");
    if (checkSameTool() != ToolCheck::same) return;
    ToolLink* toolLink = link();
    const PackageFile* area = findExtraArea(tool_.get());
    const int32_t kind = area != nullptr ? area->memoryKind : 0;

    StoredDirectory directory([toolLink](uint32_t index, ByteString* reply) {
        return ToolLink_exchange(toolLink, reply, kReadBlockCommand, kDirectoryBlock + index,
                                 kStoredDirectoryBlockSize, nullptr, 0, tool::kTimeoutShort,
                                 kSeedComputed) == 1;
    });
    // Only kinds 1 and 2 hold backup files; any other has nothing to upload.
    int32_t fileCount = kind == 1 ? 1 : 0;
    if (kind == 2) {
        if (!directory.readFirstBlock()) {
            offerFindAgain();
            return;
        }
        fileCount = directory.fileCount();
    }

    const std::string user = std::to_string(tool_->userNumber);
    const std::string total = std::to_string(fileCount);
    bool lastSucceeded = false;
    UploadTally tally;
    // A count below 0 names no file of the tool: there is nothing to upload.
    while (gnGlobalFileCount_ >= 0 && gnGlobalFileCount_ < fileCount) {
        const int32_t g = gnGlobalFileCount_;
        int32_t start = static_cast<int32_t>(kSingleFileAddress);
        if (kind == 2) {
            if (!directory.readThrough(g)) {
                noteUploadedFiles(tally);
                offerFindAgain();
                return;
            }
            start = directory.firstBlock(g);
        }
        const std::string number = std::to_string(g + 1);
        say(fillText("Downloading File %d/%d from Tool...", {number, total}));
        setProgress(0);
        ByteString* rawData = nullptr;
        ByteString* rawHeader1 = nullptr;
        ByteString* rawHeader2 = nullptr;
        int32_t headerNumber = 0;
        const int read = Tool_readFile(toolLink, start, kind == 1 ? 1 : 0, &rawData, &rawHeader1,
                                       &rawHeader2, &headerNumber, linkProgress());
        ByteStringPtr data(rawData), header1(rawHeader1), header2(rawHeader2);

        lastSucceeded = false;
        // A file that could not be read is not uploaded: nothing stands in for its bytes.
        if (read == 1 && data != nullptr) {
            say(fillText("Uploading File %d/%d...", {number, total}));
            setProgress(0);
            const uint32_t crc = checksumCrc32(data.get());
            for (int attempt = 0; attempt < 2 && !lastSucceeded; ++attempt) {
                const std::string pak = user + ".pak";
                // Held from the upload through the registration: the file registered is
                // the one this run uploaded, not another tool's of the same user.
                std::string why;
                UploadTurnPtr turn = takeUploadTurn(pak, &why);
                if (turn == nullptr) {
                    tally.tellReason(ui_, why);
                    break;
                }
                ServerSession_setPath(&session_, pak.c_str());
                const bool stored = ServerSession_upload(&session_, data.get()) == 1;
                ServerSession_setPath(&session_, kUpdaterScript);
                if (!stored) {
                    // A file the FTP server did not take is never registered: the server
                    // would count as safe a backup that exists only in the tool.
                    tally.tellReason(ui_, ServerSession_uploadFailureText(&session_));
                    // A failed security check or a proxy that refuses stays so: no retry.
                    if (session_.uploadFailure.final) break;
                } else {
                    ServerSession_setPath(&session_, kQueryScript);
                    RequestText request("uploadUserFile|");
                    request.arg(user)
                        .arg(header1.get())
                        .arg(header2.get())
                        .arg(static_cast<uint32_t>(tool_->hardwareId))
                        .arg(crc)
                        .arg(static_cast<uint32_t>(g + 1))
                        .arg(static_cast<uint32_t>(headerNumber));
                    lastSucceeded =
                        ServerTable_request(&session_, nullptr, request.get(), nullptr) == 1;
                    ServerSession_setPath(&session_, kUpdaterScript);
                }
                if (!lastSucceeded) {
                    say("File upload failed. Uploading again.");
                    setProgress(0);
                }
            }
        }
        tally.note(number, lastSucceeded);
        gnGlobalFileCount_ = g + 1;
    }
    noteUploadedFiles(tally);

    if (lastSucceeded) {
        ui_.hideControl(Control::UploadReadFiles);
        say("File uploaded to server successfully");
        setProgress(0);
        tell("Warning", fillText("File upload to server was successful.\nIt is now safe to "
                                 "disconnect the %@ from your computer",
                                 {kDeviceName}));
        return;
    }
    say("File upload failed");
    setProgress(0);
    tell("Warning", "File upload to server failed");
    offerFindAgain();
}
