#include "server/server_request.h"

#include <string>

#include "core/byte_string.h"
#include "core/crc32.h"
#include "package/firmware_package.h"
#include "server/decimal_text.h"
#include "server/request_scrambler.h"
#include "server/request_text.h"
#include "server/server_session.h"
#include "server/updater_version.h"

namespace {

constexpr int32_t kDownloadTrailer = 9;
constexpr int32_t kUnreadFirmwareId = 0x2020;  // two spaces read from the tool

ByteStringPtr send(ServerSession* session, const RequestText& request) {
    return ByteStringPtr(ServerRequest_send(session, request.get()));
}

// "firmware|" and "firmEmergency|" share their reply: the description, then the id.
ByteString* descriptionFromReply(const ByteString* reply, FirmwarePackage* record) {
    if (!ServerReply_succeeded(reply)) return nullptr;
    ByteStringPtr id(ServerReply_field(reply, 3));
    record->firmwareId = decimalValue(id.get());
    return ServerReply_field(reply, 2);
}

}  // namespace

ByteString* ServerRequest_send(ServerSession* session, const ByteString* request) {
    ByteStringPtr empty(ByteString_create(0));
    ByteStringPtr keyReply(ServerSession_post(session, empty.get()));
    // Nothing answered the key request: the request itself would meet the same silence.
    if (session->lastTransferFailed) return empty.release();

    int32_t key = decimalValue(keyReply.get());
    ByteStringPtr encoded(RequestScrambler_encode(request, key, session->trace));
    ByteStringPtr body(ByteString_create(keyReply->length + encoded->length + 16));
    ByteString_appendBytes(body.get(), "key=", 4);
    ByteString_append(body.get(), keyReply.get());
    ByteString_appendBytes(body.get(), "&request=", 9);
    ByteString_append(body.get(), encoded.get());
    return ServerSession_post(session, body.get());
}

ByteString* ServerReply_field(const ByteString* reply, int32_t n) {
    ByteStringPtr pipe = makeByteString("|");
    return ByteString_field(reply, pipe.get(), pipe.get(), n);
}

int ServerReply_succeeded(const ByteString* reply) {
    ByteStringPtr status(ServerReply_field(reply, 1));
    return ByteString_equalsText(status.get(), "SUCCESS");
}

ByteString* ServerRequest_checkDownload(const ByteString* reply) {
    static constexpr std::string_view kHead = "|SUCCESS|";
    if (reply == nullptr || !ByteString_view(reply).starts_with(kHead)) return nullptr;
    ByteStringPtr crcText(ServerReply_field(reply, 2));
    int64_t start = int64_t{crcText->length} + kHead.size() + 1;
    int64_t length = int64_t{reply->length} - start - kDownloadTrailer;
    // Too short for its checksum, separator and trailer: no file in it.
    if (length < 0) return nullptr;
    ByteStringPtr file(
        ByteString_substring(reply, static_cast<int32_t>(start), static_cast<int32_t>(length)));
    if (file == nullptr) return nullptr;
    std::string expected = std::to_string(checksumCrc32(file.get()));
    if (ByteString_view(crcText.get()) != expected) return nullptr;
    return file.release();
}

ByteString* ServerRequest_download(ServerSession* session, std::string_view resourcePath) {
    RequestText request("download|");
    request.arg(resourcePath);
    return ServerRequest_checkDownload(send(session, request).get());
}

ByteString* ServerRequest_downloadFirmware(ServerSession* session, uint32_t firmwareId) {
    std::string path = "ktxFirmwares/" + std::to_string(firmwareId) + ".gfr";
    return ServerRequest_download(session, path);
}

ByteString* ServerRequest_firmwareDescription(ServerSession* session, FirmwarePackage* record,
                                              int emergency) {
    if (emergency) {
        RequestText request("firmEmergency|");
        request.arg(record->serialNumber)
            .arg(static_cast<uint32_t>(record->hardwareId))
            .arg(static_cast<uint32_t>(record->linkCode));
        return descriptionFromReply(send(session, request).get(), record);
    }
    if (record->firmwareId > 0 && record->firmwareId != kUnreadFirmwareId) {
        std::string path = "ktxFirmwares/" + std::to_string(record->firmwareId) + ".gfi";
        return ServerRequest_download(session, path);
    }
    RequestText request("firmware|");
    request.arg(record->deviceFamily)
        .arg(record->firmwareVersion)
        .arg(static_cast<uint32_t>(record->variantCode));
    return descriptionFromReply(send(session, request).get(), record);
}

int32_t ServerRequest_userFileCount(ServerSession* session, const FirmwarePackage* record) {
    RequestText request("userReadFileCount|");
    request.arg(std::to_string(record->userNumber)).arg(static_cast<uint32_t>(record->hardwareId));
    ByteStringPtr reply = send(session, request);
    if (!ServerReply_succeeded(reply.get())) return -1;
    ByteStringPtr count(ServerReply_field(reply.get(), 2));
    return decimalValue(count.get());
}

int ServerRequest_userFileVersion(ServerSession* session, std::string_view headerText1,
                                  std::string_view headerText2, uint32_t headerNumber) {
    RequestText request("userReadFileVersion|");
    request.arg(headerText1).arg(headerText2).arg(headerNumber);
    ByteStringPtr reply = send(session, request);
    if (ByteString_equalsText(reply.get(), "|NO|")) return 0;
    if (ByteString_equalsText(reply.get(), "|YES|")) return 1;
    return -1;
}

int ServerRequest_updaterOutdated(ServerSession* session) {
    RequestText request("versionUpd|");
    request.glue(kUpdaterVersion);
    return ServerReply_updaterOutdated(send(session, request).get());
}

int ServerReply_updaterOutdated(const ByteString* reply) {
    ByteStringPtr status(ServerReply_field(reply, 1));
    if (!ByteString_equalsText(status.get(), "NO")) return 0;
    ByteStringPtr latest(ServerReply_field(reply, 2));
    // A version text too short to read, or not made of digits, counts as no news.
    auto digit = [](uint8_t b) { return b >= '0' && b <= '9'; };
    if (latest->length < 3 || !digit(latest->data[0]) || !digit(latest->data[2])) return 0;
    auto value = [](const uint8_t* text) { return (text[0] - '0') * 10 + (text[2] - '0'); };
    int own = value(reinterpret_cast<const uint8_t*>(kUpdaterVersion));
    return value(latest->data) > own ? 1 : 0;
}
