// "fileList|" table replies into SQLite, read back as the workflows read them.
#include <sqlite3.h>

#include "bench_fixture.h"
#include "server/request_text.h"
#include "server/table_store.h"

namespace {

// Every row of `column`, in table order; nothing when the table cannot be read.
std::optional<std::vector<std::string>> readColumn(sqlite3* db, const std::string& table,
                                                   const char* column) {
    std::string sql = "SELECT * FROM \"" + table + "\";";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return std::nullopt;
    }
    std::vector<std::string> values;
    ByteStringPtr name = makeByteString(column);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        int32_t index = TableStore_columnIndex(statement, name.get());
        if (index < 0) break;
        auto text = sqlite3_column_text(statement, index);
        values.emplace_back(text == nullptr ? "<null>" : reinterpret_cast<const char*>(text));
    }
    sqlite3_finalize(statement);
    return values;
}

}  // namespace

struct TableCase {
    const char* name;
    uint32_t userNumber;
    const char* column;
    std::vector<std::string> rows;
};

class FileListTable : public BenchTest, public ::testing::WithParamInterface<TableCase> {};

TEST_P(FileListTable, HoldsTheServersRows) {
    const TableCase& c = GetParam();
    TableStorePtr db(TableStore_open());
    ASSERT_NE(db, nullptr);
    ServerSession_setPath(session(), kQueryScript);
    RequestText request("fileList|");
    request.arg(c.userNumber);
    EXPECT_EQ(ServerTable_request(session(), db.get(), request.get(), "fileList"), 1);
    EXPECT_EQ(lastRequest()["request"], "fileList|" + std::to_string(c.userNumber));
    EXPECT_EQ(readColumn(db.get(), "fileList", c.column), c.rows);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Replies, FileListTable, ::testing::Values(
    TableCase{"two_rows", 77, "filename", {"a.bin", "b.bin"}},
    TableCase{"no_rows", 78, "filename", {}},
    // Quotes and SQL in values are stored as text, not run.
    TableCase{"three_rows_with_quotes", 79, "filename", {"it's.bin", "x'); DROP TABLE fileList; --", "c.bin"}},
    TableCase{"count_beyond_rows", 80, "filename", {"a.bin", "b.bin", ""}},
    TableCase{"quoted_column_names", 81, "owner's", {"Jo's"}},
    TableCase{"names_match_exactly", 81, "Owner's", {}}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

TEST_F(BenchTest, AbsurdRowCountIsBounded) {
    TableStorePtr db(TableStore_open());
    ServerSession_setPath(session(), kQueryScript);
    EXPECT_EQ(
        ServerTable_request(session(), db.get(), makeByteString("fileList|82").get(), "fileList"),
        1);
    auto rows = readColumn(db.get(), "fileList", "filename");
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->size(), 65536u);
    EXPECT_EQ(rows->front(), "a.bin");
}

// 256 columns of 65536 declared rows, in a reply of a kilobyte, would stall the update.
TEST(TableStore, DeclaredValuesAreBoundedAsAWhole) {
    std::string names = ",";
    for (int i = 0; i < 256; ++i) names += "c" + std::to_string(i) + ",";
    ByteStringPtr reply = makeByteString("|||SUCCESS|||65536|||256|||" + names + "|||$$##1##$$|||");
    TableStorePtr db(TableStore_open());
    EXPECT_EQ(ServerTable_read(db.get(), reply.get(), "fileList"), 1);
    auto rows = readColumn(db.get(), "fileList", "c0");
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->size(), 256u);
    EXPECT_EQ(rows->front(), "1");
}

struct StatusCase {
    const char* name;
    std::string reply;
    int result;
};

class StatusReply : public BenchTest, public ::testing::WithParamInterface<StatusCase> {};

// With a table name (the file list) and without (the upload registration).
TEST_P(StatusReply, CountsOnlyAClosedSuccess) {
    const StatusCase& c = GetParam();
    Misbehaviour m;
    m.replies = {{"fileList|", c.reply}, {"uploadUserFile|", c.reply}};
    misbehave(m);
    ServerSession_setPath(session(), kQueryScript);
    TableStorePtr db(TableStore_open());
    ByteStringPtr list = makeByteString("fileList|77");
    EXPECT_EQ(ServerTable_request(session(), db.get(), list.get(), "fileList"), c.result);
    // Nothing to hold, not even a bare success without columns.
    EXPECT_EQ(readColumn(db.get(), "fileList", "filename"), std::nullopt);
    ByteStringPtr registration = makeByteString("uploadUserFile|77");
    EXPECT_EQ(ServerTable_request(session(), nullptr, registration.get(), nullptr), c.result);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Replies, StatusReply, ::testing::Values(
    StatusCase{"Closed", "|||SUCCESS|||", 1}, StatusCase{"Unclosed", "|||SUCCESS", 0},
    StatusCase{"Failure", "|||FAILURE|||", 0}, StatusCase{"PipeReply", "|SUCCESS|", 0},
    // The fourth "|" starts no separator: the field is "|SUCCESS".
    StatusCase{"FourPipes", "||||SUCCESS|||", 0}, StatusCase{"Empty", "", 0}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on
