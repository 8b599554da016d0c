#include "server/table_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/byte_string.h"
#include "server/decimal_text.h"
#include "server/server_request.h"

namespace {

// Declared sizes beyond these are no table of ours; they must not stall the updater.
constexpr int32_t kMaxRows = 65536;
constexpr int32_t kMaxColumns = 256;
// A few bytes can declare both at their largest: the values stored, present or missing, are
// bounded as a whole.
constexpr int32_t kMaxValues = 65536;

// The fields of `text` between successive separators, as ByteString_field takes them one by
// one (the k-th field lies between the k-th and the next separator; no re-test after a
// partial match), found in a single pass. A field past the last separator comes out empty.
class FieldSplitter {
  public:
    FieldSplitter(std::string_view text, std::string_view separator) : text_(text) {
        if (separator.empty()) return;
        size_t match = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == separator[match]) {
                if (++match == separator.size()) {
                    ends_.push_back(i + 1);
                    starts_.push_back(i + 1 - separator.size());
                    match = 0;
                }
            } else {
                match = 0;
            }
        }
    }

    // Field n, counted from 1.
    std::string_view field(int32_t n) const {
        if (n <= 0 || static_cast<size_t>(n) >= ends_.size()) return {};
        size_t from = ends_[static_cast<size_t>(n) - 1];
        return text_.substr(from, starts_[static_cast<size_t>(n)] - from);
    }

  private:
    std::string_view text_;
    std::vector<size_t> starts_;  // where each separator begins
    std::vector<size_t> ends_;    // where each separator ends
};

std::string quotedIdentifier(std::string_view name) {
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + "\"";
}

int32_t countValue(std::string_view text, int32_t limit) {
    ByteStringPtr s = makeByteString(text);
    int32_t value = decimalValue(s.get());
    return value < 0 ? 0 : (value > limit ? limit : value);
}

void fillTable(sqlite3* database, const FieldSplitter& reply, const char* tableName) {
    int32_t rows = countValue(reply.field(2), kMaxRows);
    int32_t columns = countValue(reply.field(3), kMaxColumns);
    if (columns > 0) rows = std::min(rows, kMaxValues / columns);
    FieldSplitter names(reply.field(4), ",");
    FieldSplitter rowTexts(reply.field(5), "$$");

    // Names come from the server: quoted as identifiers, never pasted as SQL.
    std::string table = quotedIdentifier(tableName);
    std::string create = "CREATE TABLE " + table + "(";
    std::string columnList;
    std::string placeholders;
    for (int32_t i = 1; i <= columns; ++i) {
        std::string name = quotedIdentifier(names.field(i));
        create += (i > 1 ? "," : "") + name + " TEXT";
        columnList += (i > 1 ? "," : "") + name;
        placeholders += i > 1 ? ",?" : "?";
    }
    create += ");";
    // A table that cannot be made simply stays missing; the reply still succeeded.
    if (sqlite3_exec(database, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return;
    if (rows == 0) return;

    std::string insert =
        "INSERT INTO " + table + " (" + columnList + ") VALUES (" + placeholders + ");";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(database, insert.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return;
    }
    sqlite3_exec(database, "BEGIN;", nullptr, nullptr, nullptr);
    for (int32_t r = 1; r <= rows; ++r) {
        FieldSplitter values(rowTexts.field(r), "##");
        for (int32_t k = 1; k <= columns; ++k) {
            std::string_view value = values.field(k);
            // A missing value is the empty text, never SQL NULL.
            const char* bytes = value.empty() ? "" : value.data();
            sqlite3_bind_text(statement, k, bytes, static_cast<int>(value.size()),
                              SQLITE_TRANSIENT);
        }
        // A row that does not go in is missing from the table, as the server would expect.
        sqlite3_step(statement);
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
    sqlite3_exec(database, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_finalize(statement);
}

}  // namespace

sqlite3* TableStore_open() {
    sqlite3* database = nullptr;
    if (sqlite3_open(":memory:", &database) != SQLITE_OK) {
        sqlite3_close(database);
        return nullptr;
    }
    return database;
}

int TableStore_close(sqlite3* database) {
    return sqlite3_close(database);
}

int32_t TableStore_columnIndex(sqlite3_stmt* statement, const ByteString* name) {
    if (statement == nullptr || name == nullptr) return -1;
    int count = sqlite3_column_count(statement);
    for (int i = 0; i < count; ++i) {
        const char* columnName = sqlite3_column_name(statement, i);
        if (columnName != nullptr && ByteString_equalsText(name, columnName)) return i;
    }
    return -1;
}

int ServerTable_request(ServerSession* session, sqlite3* database, const ByteString* request,
                        const char* tableName) {
    ByteStringPtr reply(ServerRequest_send(session, request));
    return ServerTable_read(database, reply.get(), tableName);
}

int ServerTable_read(sqlite3* database, const ByteString* reply, const char* tableName) {
    FieldSplitter fields(ByteString_view(reply), "|||");
    if (fields.field(1) != "SUCCESS") return 0;
    if (tableName != nullptr && database != nullptr) fillTable(database, fields, tableName);
    return 1;
}
