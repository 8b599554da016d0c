// What passed on an FTP control connection, as far as a failure's text needs it: the
// server's last reply, and whether the account had been sent when the transfer ended.
#pragma once

#include <curl/curl.h>

#include <string>

struct FtpDialogue {
    std::string lastReply;  // "530 Login incorrect.", the server's own words
    bool accountSent = false;
};

// Follows `handle`'s conversation into `dialogue` (which must outlive the transfer).
void FtpDialogue_watch(CURL* handle, FtpDialogue* dialogue);

// The reply's code (the first three digits), or 0 when it has none.
int FtpDialogue_replyCode(const FtpDialogue& dialogue);
