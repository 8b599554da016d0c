// Ways the bench server can be told to let the updater down.
#pragma once

#include <map>
#include <set>
#include <string>

struct Misbehaviour {
    std::set<std::string> refusedWords;          // request words answered with a failure status
    bool outdatedUpdater = false;                // "|NO|1.4|" to the version check
    bool corruptCrc = false;                     // downloads carry a wrong CRC-32
    bool emptyAnswers = false;                   // scrambled requests get an empty body
    bool stall = false;                          // every POST is accepted and never answered
    bool dropFirstRegistration = false;          // the first "uploadUserFile|" fails
    int trickleMs = 0;                           // a download reply goes out 64 bytes per pause
    std::set<std::string> stalledWords;          // these requests are accepted, never answered
    std::set<std::string> errorWords;            // HTTP 500 with an error page
    std::set<std::string> enormousWords;         // the normal answer, then 300 MiB of filler
    bool closeMidDownload = false;               // half a download, then the connection closes
    bool truncatedDownloads = false;             // a whole reply of half the file, its CRC kept
    bool ftpStall = false;                       // FTP accepts connections and says nothing
    std::string keyText;                         // handed out instead of a fresh key
    std::map<std::string, std::string> replies;  // request word -> exactly this reply
};
