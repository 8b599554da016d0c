// The server's request words over the scrambled form POST, and the "|"-delimited replies.
// Every request and reply is a ByteString that the caller frees.
#pragma once

#include <cstdint>
#include <string_view>

struct ByteString;
struct FirmwarePackage;
struct ServerSession;

// Two POSTs to the session's current path: one for a fresh key, one with the scrambled
// request. Never null; empty when the server cannot be reached.
ByteString* ServerRequest_send(ServerSession* session, const ByteString* request);

// Field n of a pipe reply ("|" f1 "|" f2 "|" ...); empty when the reply lacks it.
ByteString* ServerReply_field(const ByteString* reply, int32_t n);
// 1 when field 1 is exactly "SUCCESS".
int ServerReply_succeeded(const ByteString* reply);

// The verified file bytes of a download reply, or null.
ByteString* ServerRequest_checkDownload(const ByteString* reply);
ByteString* ServerRequest_download(ServerSession* session, std::string_view resourcePath);
// "ktxFirmwares/" + id + ".gfr".
ByteString* ServerRequest_downloadFirmware(ServerSession* session, uint32_t firmwareId);

// The description text (".gfi" form) of the firmware installed in the tool, or null. From
// "firmware|" and "firmEmergency|" replies the record's firmwareId is updated as well.
ByteString* ServerRequest_firmwareDescription(ServerSession* session, FirmwarePackage* record,
                                              int emergency);
// 1 when the record now holds the installed firmware's description, 0 when the server had
// none.
int ServerRequest_firmwareInfo(ServerSession* session, FirmwarePackage* record, int emergency);

// Backup files the server holds for the tool, or -1.
int32_t ServerRequest_userFileCount(ServerSession* session, const FirmwarePackage* record);
// 1 for "|YES|", 0 for "|NO|", -1 for anything else.
int ServerRequest_userFileVersion(ServerSession* session, std::string_view headerText1,
                                  std::string_view headerText2, uint32_t headerNumber);

// 1 when the server says a newer updater is out, else 0 (an unreachable server included).
int ServerRequest_updaterOutdated(ServerSession* session);
// The same answer from a "versionUpd|" reply at hand.
int ServerReply_updaterOutdated(const ByteString* reply);
