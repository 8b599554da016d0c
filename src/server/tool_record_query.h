// "valid|": sends what the tool says about itself and stores the server's record of it
// (name, vehicle, user number, manual codes, firmware list). In report mode the same
// request carries an event tag to the server.
#pragma once

#include <cstdint>

struct ByteString;
struct FirmwarePackage;
struct ServerSession;

enum class ToolRecordMode : int32_t { identify = 1, report = 2 };

// True when reply field 1 is exactly "SUCCESS"; the record is then updated, otherwise left
// as it was. `tag` may be null.
bool queryToolRecord(ServerSession* session, FirmwarePackage* record, ToolRecordMode mode,
                     const ByteString* tag);

// The reply side of queryToolRecord: true when field 1 is exactly "SUCCESS", and then the
// record holds the reply's fields; otherwise the record is left as it was.
bool ToolRecord_storeReply(FirmwarePackage* record, const ByteString* reply);

// Identification: mode 1, no tag.
bool identifyToolRecord(ServerSession* session, FirmwarePackage* record);
