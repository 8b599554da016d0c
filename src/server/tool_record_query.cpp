#include "server/tool_record_query.h"

#include "core/byte_string.h"
#include "package/firmware_package.h"
#include "server/decimal_text.h"
#include "server/request_text.h"
#include "server/server_request.h"
#include "server/updater_version.h"

bool queryToolRecord(ServerSession* session, FirmwarePackage* record, ToolRecordMode mode,
                     const ByteString* tag) {
    RequestText request("valid|");
    request.arg(record->serialNumber)
        .arg(static_cast<uint32_t>(record->hardwareId))
        .arg(record->firmwareVersion)
        .arg(static_cast<uint32_t>(record->firmwareId))
        .arg(kUpdaterIdentity)
        .glue(tag)
        .arg(static_cast<uint32_t>(record->optionCode))
        .arg(static_cast<uint32_t>(mode));
    ByteStringPtr reply(ServerRequest_send(session, request.get()));
    return ToolRecord_storeReply(record, reply.get());
}

bool ToolRecord_storeReply(FirmwarePackage* record, const ByteString* reply) {
    if (!ServerReply_succeeded(reply)) return false;
    auto field = [&](int32_t n) { return ServerReply_field(reply, n); };
    FirmwarePackage_setText(&record->toolName, field(2));
    FirmwarePackage_setText(&record->manualCode1, field(4));
    FirmwarePackage_setText(&record->vehicle2, field(5));
    ByteStringPtr userNumber(field(6));
    record->userNumber = decimalValue(userNumber.get());
    FirmwarePackage_setText(&record->vehicle1, field(7));
    FirmwarePackage_setText(&record->firmwareList, field(8));
    FirmwarePackage_setText(&record->manualCode2, field(9));
    return true;
}

bool identifyToolRecord(ServerSession* session, FirmwarePackage* record) {
    return queryToolRecord(session, record, ToolRecordMode::identify, nullptr);
}
