// Table replies of the server ("fileList|") held in an in-memory SQLite database, and the
// status replies with the same "|||" separators ("uploadUserFile|").
#pragma once

#include <cstdint>
#include <memory>

struct ByteString;
struct ServerSession;
struct sqlite3;
struct sqlite3_stmt;

// A new database on ":memory:", or null.
sqlite3* TableStore_open();
int TableStore_close(sqlite3* database);

// 0-based index of the first result column named exactly `name`, or -1.
int32_t TableStore_columnIndex(sqlite3_stmt* statement, const ByteString* name);

// Sends `request`; 1 when field 1 of the "|||" reply is exactly "SUCCESS", else 0. With a
// table name the reply's table is created in `database` and filled; without one the
// database is not touched (it may be null).
int ServerTable_request(ServerSession* session, sqlite3* database, const ByteString* request,
                        const char* tableName);

// The reply side of ServerTable_request: the same result and table from a reply at hand.
int ServerTable_read(sqlite3* database, const ByteString* reply, const char* tableName);

struct TableStoreDeleter {
    void operator()(sqlite3* database) const { TableStore_close(database); }
};
using TableStorePtr = std::unique_ptr<sqlite3, TableStoreDeleter>;
