// What the bench server answers to each request word, from its catalogue folder, its tool
// records and the files uploaded over FTP.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "misbehaviour.h"
#include "request_decoder.h"
#include "tool_records.h"

struct BenchReply {
    std::string body;
    bool download = false;  // a file: may be sent slowly
};

class RequestAnswers {
  public:
    RequestAnswers(ToolRecords records, std::filesystem::path catalogueDir,
                   std::filesystem::path uploadDir);

    // `misbehaviour` may be used up (the dropped first registration).
    BenchReply answer(const std::string& script, const DecodedRequest& request,
                      Misbehaviour& misbehaviour);

  private:
    std::string download(const DecodedRequest& request, bool corruptCrc, bool truncated) const;
    std::string firmware(const DecodedRequest& request) const;
    std::string firmEmergency(const DecodedRequest& request) const;
    std::string userFileCount(const DecodedRequest& request);
    std::string userFileVersion(const DecodedRequest& request) const;
    std::string valid(const DecodedRequest& request) const;
    std::string fileList(const DecodedRequest& request);
    std::string uploadUserFile(const DecodedRequest& request, Misbehaviour& misbehaviour);
    std::string description(uint32_t firmwareId) const;
    bool readCatalogueFile(const std::string& name, std::string* bytes) const;

    ToolRecords records_;
    std::filesystem::path catalogueDir_;
    std::filesystem::path uploadDir_;
    std::map<int32_t, int32_t> registeredFiles_;  // user number -> files registered here
};
