// Entries for what the server sends: downloads, pipe fields, the tool record, table replies,
// the firmware list and the version check.
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "core/byte_string.h"
#include "core/crc32.h"
#include "fuzz_entries.h"
#include "fuzz_input.h"
#include "package/firmware_package.h"
#include "server/decimal_text.h"
#include "server/server_config.h"
#include "server/server_request.h"
#include "server/table_store.h"
#include "server/tool_record_query.h"
#include "workflows/firmware_choices.h"

namespace {

using fuzzinput::bytesOf;
using fuzzinput::terminated;

// Field n as the field rule reads it, for separators made of one repeated byte (all the
// system uses), where no partial match can hide the start of a whole one.
std::string_view referenceField(std::string_view s, std::string_view delimiter,
                                std::string_view terminator, int32_t n) {
    if (n <= 0) return {};
    size_t at = 0;
    for (int32_t seen = 0; seen < n; ++seen) {
        size_t found = s.find(delimiter, at);
        if (found == std::string_view::npos) return {};
        at = found + delimiter.size();
    }
    size_t end = s.find(terminator, at);
    return end == std::string_view::npos ? std::string_view{} : s.substr(at, end - at);
}

std::string_view view(const ByteString* s) {
    return ByteString_view(s);
}

bool holdsText(const ByteString* s) {
    return s != nullptr && terminated(s);
}

template <typename Body>
bool leakChecked(Body body) {
    const uint32_t live = ByteString_liveCount();
    const bool ok = body();
    return ok && ByteString_liveCount() == live;
}

}  // namespace

bool fuzzDownload(const uint8_t* data, size_t size) {
    return leakChecked([&] {
        ByteStringPtr reply = bytesOf(data, size);
        ByteStringPtr file(ServerRequest_checkDownload(reply.get()));
        if (file != nullptr) {
            // Only the reply's own layout around a matching checksum yields bytes.
            const std::string crc = std::to_string(checksumCrc32(file.get()));
            const std::string head = "|SUCCESS|" + crc + "|";
            if (!terminated(file.get()) || !view(reply.get()).starts_with(head) ||
                reply->length != static_cast<int32_t>(head.size()) + file->length + 9 ||
                view(reply.get()).substr(head.size(), file->length) != view(file.get())) {
                return false;
            }
        }
        // The input as the file of a well-formed reply comes back whole; one byte changed
        // and it is refused.
        std::string body(reinterpret_cast<const char*>(data), std::min<size_t>(size, 1 << 20));
        ByteStringPtr plain = makeByteString(body);
        std::string built =
            "|SUCCESS|" + std::to_string(checksumCrc32(plain.get())) + "|" + body + "TRAILER99";
        ByteStringPtr good = makeByteString(built);
        ByteStringPtr back(ServerRequest_checkDownload(good.get()));
        if (back == nullptr || view(back.get()) != body) return false;
        if (!body.empty()) {
            built[built.size() - 9 - 1 - (data[0] % body.size())] ^= 0xFF;
            ByteStringPtr bad = makeByteString(built);
            if (ByteStringPtr(ServerRequest_checkDownload(bad.get())) != nullptr) return false;
        }
        return true;
    });
}

// First byte: the field number (signed); second: the separators; the rest is the text.
bool fuzzField(const uint8_t* data, size_t size) {
    static constexpr std::string_view kSeparators[][2] = {{"|", "|"},   {"|||", "|||"}, {",", ","},
                                                          {"$$", "$$"}, {"##", "##"},   {"#", ":"},
                                                          {":", ":"},   {":", "#"}};
    if (size < 2) return true;
    return leakChecked([&] {
        const int32_t n = static_cast<int8_t>(data[0]);
        const auto& sep = kSeparators[data[1] % std::size(kSeparators)];
        ByteStringPtr text = bytesOf(data + 2, size - 2);
        ByteStringPtr delimiter = makeByteString(sep[0]);
        ByteStringPtr terminator = makeByteString(sep[1]);
        ByteStringPtr field(ByteString_field(text.get(), delimiter.get(), terminator.get(), n));
        return holdsText(field.get()) &&
               view(field.get()) == referenceField(view(text.get()), sep[0], sep[1], n);
    });
}

bool fuzzToolRecord(const uint8_t* data, size_t size) {
    return leakChecked([&] {
        ByteStringPtr reply = bytesOf(data, size);
        FirmwarePackagePtr record(FirmwarePackage_new());
        const std::string_view text = view(reply.get());
        const bool success = referenceField(text, "|", "|", 1) == "SUCCESS";
        if (ToolRecord_storeReply(record.get(), reply.get()) != success) return false;
        ByteString* const stored[] = {record->toolName, record->manualCode1,  record->vehicle2,
                                      record->vehicle1, record->firmwareList, record->manualCode2};
        for (const ByteString* s : stored) {
            if (success ? !holdsText(s) : s != nullptr) return false;
        }
        if (success && view(record->firmwareList) != referenceField(text, "|", "|", 8)) {
            return false;
        }
        // A second reply replaces the first without leaving its strings behind.
        return ToolRecord_storeReply(record.get(), reply.get()) == success;
    });
}

// Declared values (rows times columns, as bounded for storing) past which an input is left
// to the unit tests and the fault campaign: each such reply costs up to 65,536 SQLite
// inserts and would hold the target to a few hundred runs a second.
constexpr int64_t kFuzzedValues = 1024;

int64_t declaredCount(std::string_view field, int64_t limit) {
    ByteStringPtr text = makeByteString(field);
    const int64_t value = decimalValue(text.get());
    return std::clamp<int64_t>(value, 0, limit);
}

bool fuzzTable(const uint8_t* data, size_t size) {
    return leakChecked([&] {
        ByteStringPtr reply = bytesOf(data, size);
        const std::string_view text = view(reply.get());
        if (declaredCount(referenceField(text, "|||", "|||", 2), 65536) *
                declaredCount(referenceField(text, "|||", "|||", 3), 256) >
            kFuzzedValues) {
            return true;
        }
        TableStorePtr database(TableStore_open());
        if (database == nullptr) return false;
        const bool success = referenceField(view(reply.get()), "|||", "|||", 1) == "SUCCESS";
        const int result = ServerTable_read(database.get(), reply.get(), "fileList");
        if (result != (success ? 1 : 0) ||
            ServerTable_read(nullptr, reply.get(), nullptr) != result) {
            return false;
        }
        // Walk the table as the workflows do: every row, the column by name.
        sqlite3_stmt* raw = nullptr;
        const int prepared =
            sqlite3_prepare_v2(database.get(), "SELECT * FROM fileList;", -1, &raw, nullptr);
        std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
        if (prepared != SQLITE_OK) return true;  // no table came of it
        if (!success) return false;              // a refusal creates nothing
        ByteStringPtr name = makeByteString("filename");
        const int32_t column = TableStore_columnIndex(statement.get(), name.get());
        if (column >= sqlite3_column_count(statement.get())) return false;
        int64_t rows = 0;
        while (sqlite3_step(statement.get()) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(statement.get()); ++c) {
                // Every value the reply held or lacked is a text, never NULL.
                if (sqlite3_column_text(statement.get(), c) == nullptr) return false;
            }
            ++rows;
        }
        return rows <= 65536;
    });
}

// Entries past which a list is left to the unit tests: every entry is read alike, and a list
// of hundreds (a run of '#') costs a millisecond a run under the sanitizers.
constexpr std::ptrdiff_t kFuzzedEntries = 64;

bool fuzzFirmwareList(const uint8_t* data, size_t size) {
    if (std::count(data, data + size, '#') > kFuzzedEntries) return true;
    FirmwareChoices choices;
    parseFirmwareIds(choices, std::string(reinterpret_cast<const char*>(data), size));
    if (choices.opt3.size() != choices.opt5.size() || choices.count < 0) return false;
    const auto chosen = chosenIndex(choices);
    if (chosen && (*chosen < 0 || static_cast<size_t>(*chosen) >= choices.opt3.size())) {
        return false;
    }
    if (choices.shown == ChoiceControl::Opt4 &&
        (choices.opt4Items.size() != choices.opt3.size() || choices.opt4Selected < 0 ||
         static_cast<size_t>(choices.opt4Selected) >= choices.opt4Items.size())) {
        return false;
    }
    // One or two entries stand in the order sent, each field as the field rule reads it.
    if (choices.count <= 2) {
        const std::string work = "#" + std::string(reinterpret_cast<const char*>(data), size);
        for (int i = 1; i <= choices.count; ++i) {
            if (choices.opt3[i - 1] != referenceField(work, ":", ":", 3 * i - 2) ||
                choices.opt5[i - 1] != referenceField(work, ":", "#", 3 * i)) {
                return false;
            }
        }
    }
    for (size_t i = 0; i < choices.opt3.size(); ++i) (void)choiceName(choices, i);
    (void)getFirmwareId(choices);
    (void)getFirmwareName(choices);
    // A second parse of the same text gives the same choice.
    FirmwareChoices again = choices;
    parseFirmwareIds(again, std::string(reinterpret_cast<const char*>(data), size));
    return again.opt3 == choices.opt3 && again.opt5 == choices.opt5 && again.count == choices.count;
}

bool fuzzVersionReply(const uint8_t* data, size_t size) {
    return leakChecked([&] {
        ByteStringPtr reply = bytesOf(data, size);
        const int outdated = ServerReply_updaterOutdated(reply.get());
        if (outdated == 0) return true;
        const std::string_view text = view(reply.get());
        const std::string_view latest = referenceField(text, "|", "|", 2);
        auto digit = [](char c) { return c >= '0' && c <= '9'; };
        return outdated == 1 && referenceField(text, "|", "|", 1) == "NO" && latest.size() >= 3 &&
               digit(latest[0]) && digit(latest[2]) &&
               (latest[0] - '0') * 10 + (latest[2] - '0') > 13;
    });
}

namespace {

// "name[:port]/" with nothing that could take libcurl elsewhere: no account, no path, no
// space or control byte, a port of 1 to 65535.
bool plainHost(std::string_view host) {
    if (host.size() < 2 || host.back() != '/') return false;
    host.remove_suffix(1);
    if (host.find_first_of("/@?#\\ ") != std::string_view::npos) return false;
    if (std::any_of(host.begin(), host.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
        return false;
    }
    const size_t close = host.rfind(']');
    const size_t colon = host.rfind(':');
    if (colon == std::string_view::npos || (close != std::string_view::npos && colon < close)) {
        return true;
    }
    std::string_view port = host.substr(colon + 1);
    if (port.empty() || port.size() > 5 || colon == 0) return false;
    long value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

}  // namespace

bool fuzzServerAddress(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (text.empty()) return true;  // the build's own address, not the input
    std::string error;
    auto config = ServerConfig_resolve(text, ServerEnvironment{}, &error);
    if (!config) return error.rfind("not a server address", 0) == 0;
    if (!plainHost(config->host) || !plainHost(config->uploadHost)) return false;
    if (config->https && !config->ftpTls) return false;
    // What was understood, written out again, means the same.
    const std::string again = (config->https ? "https://" : "http://") + config->host;
    auto second = ServerConfig_resolve(again, ServerEnvironment{}, &error);
    return second && second->host == config->host && second->https == config->https &&
           second->uploadHost == config->uploadHost;
}
