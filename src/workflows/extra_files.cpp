// The extra files: the server lists them for the user, each is fetched and written into
// the tool's extra-file area behind a directory that tells the tool where each one starts.
// The full update and the memory-only run share this code.
#include <sqlite3.h>

#include "core/byte_string.h"
#include "link/tool_commands.h"
#include "package/rechecksum.h"
#include "server/request_text.h"
#include "server/server_request.h"
#include "server/server_session.h"
#include "server/table_store.h"
#include "workflows/app_delegate.h"
#include "workflows/message_text.h"
#include "workflows/programming_run.h"

namespace {

constexpr const char* kListQuery = "SELECT * FROM fileList;";

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

StatementPtr prepare(sqlite3* database) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(database, kListQuery, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return StatementPtr(statement);
}

void appendLittle32(ByteString* s, uint32_t value) {
    for (int i = 0; i < 4; ++i) ByteString_appendByte(s, static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

bool AppDelegate::programExtraFiles(sqlite3* database, const ExtraArea& area, int32_t eraseUnit,
                                    int32_t* fileNumber) {
    *fileNumber = 0;
    {
        RequestText request("fileList|");
        request.arg(std::to_string(tool_->userNumber));
        ServerSession_setPath(&session_, kQueryScript);
        ServerTable_request(&session_, database, request.get(), "fileList");
        ServerSession_setPath(&session_, kUpdaterScript);
    }

    int32_t count = 0;
    {
        StatementPtr rows = prepare(database);
        if (rows == nullptr) return true;
        while (sqlite3_step(rows.get()) == SQLITE_ROW) ++count;
    }
    // No list, no files: nothing is written, not even the directory.
    if (count == 0) return true;

    ByteStringPtr directory(ByteString_create(4 + 4 * count));
    appendLittle32(directory.get(), static_cast<uint32_t>(count));
    int32_t sector = area.base + extraDirectorySectors(count);
    const uint32_t command = area.kind == 1 ? 4 : 16;
    const std::string total = std::to_string(count);
    bool ok = true;
    int32_t number = 1;

    if (StatementPtr rows = prepare(database)) {
        ByteStringPtr column = makeByteString("filename");
        while (ok && sqlite3_step(rows.get()) == SQLITE_ROW) {
            const int32_t index = TableStore_columnIndex(rows.get(), column.get());
            if (index < 0) continue;  // no name, no file, no entry
            const auto* text = sqlite3_column_text(rows.get(), index);
            std::string name = text ? reinterpret_cast<const char*>(text) : "";
            say("Downloading required file...");
            ByteStringPtr bytes(ServerRequest_download(&session_, "ktxUserFiles/" + name));
            if (bytes != nullptr && eraseUnit == 256) {
                say(fillText("Processing Extra File %d/%d", {std::to_string(number), total}));
                bytes.reset(RechecksumTo256(bytes.get()));
            }
            if (bytes == nullptr) {
                ok = false;
                break;
            }
            say(fillText("Programming Extra File %d/%d", {std::to_string(number), total}));
            appendLittle32(directory.get(), static_cast<uint32_t>(sector));
            ok = Tool_writeImage(link(), bytes.get(), eraseUnit, 0, sector, 0, 1, 1, command,
                                 linkProgress()) == 1;
            sector += extraFileSectors(bytes->length);
            if (ok) ++number;
        }
    }
    if (ok && !Tool_writeImage(link(), directory.get(), eraseUnit, 0, area.base, 0, 1, 0, command,
                               linkProgress())) {
        ok = false;
        number = 0;
    }
    *fileNumber = number;
    return ok;
}

bool AppDelegate::programExtraFilesPhase(ProgrammingRun& run) {
    TableStorePtr database(TableStore_open());
    if (!run.extraArea || database == nullptr) return true;
    int32_t number = 0;
    if (programExtraFiles(database.get(), *run.extraArea, run.eraseUnit, &number)) return true;
    failRun(run, fillText("Extra File %d Not Programmed Correctly", {std::to_string(number)}),
            "_Failed_Custom_Mem_" + std::to_string(number), true);
    return false;
}
