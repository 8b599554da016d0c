// The whole bench for end-to-end tests: a virtual tool on a real pseudo-terminal, the bench
// server on loopback with a catalogue folder, a server session pointed at it and link
// settings that reach the tool, all with shortened timing.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "link/link_settings.h"
#include "server/server_session.h"
#include "serversim/bench_server.h"
#include "toolsim/virtual_tool.h"

class BenchRig {
  public:
    BenchRig();
    ~BenchRig();
    BenchRig(const BenchRig&) = delete;
    BenchRig& operator=(const BenchRig&) = delete;

    // Files for the catalogue, written before start (or after: the server reads on demand).
    void addFile(const std::string& relativePath, const std::string& bytes);
    void addFile(const std::string& relativePath, const std::vector<uint8_t>& bytes);

    bool start(const ToolState& tool, const nlohmann::json& records, std::string* error,
               bool ftp = false);
    void stop();

    std::vector<nlohmann::json> requests() const;
    // The "valid|" reports (mode 2) the server received, as their tags.
    std::vector<std::string> reportTags() const;

    static Timing shortTiming();

    std::filesystem::path dir;
    std::filesystem::path catalogue;
    VirtualTool tool;
    BenchServer server;
    ServerSessionPtr session;
    LinkSettings link;
    ToolSimOptions toolOptions;  // for the tool that start brings up
    bool tls = false;            // the server on HTTPS and FTP by TLS, under a private CA
};

// A tool record the bench server knows for ToolState_default() (serial 100001, hardware
// 0x1234).
nlohmann::json benchToolRecord();
