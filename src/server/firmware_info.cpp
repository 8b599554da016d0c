#include "core/byte_string.h"
#include "package/firmware_package.h"
#include "server/server_request.h"

int ServerRequest_firmwareInfo(ServerSession* session, FirmwarePackage* record, int emergency) {
    ByteStringPtr description(ServerRequest_firmwareDescription(session, record, emergency));
    if (description == nullptr) return 0;
    // A description that does not read leaves fewer fields filled; identification goes on.
    FirmwarePackage_load(PACKAGE_INFO, record, description.get(), 0);
    return 1;
}
