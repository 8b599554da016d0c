// The benchmarks' release: a 1 MB firmware with both bootloaders, memory files and extra
// files for a tool that runs 2.18.04 with bootloaders 1.20, served by the bench server.
#pragma once

#include <filesystem>
#include <string>

#include "serversim/bench_server.h"
#include "toolsim/tool_state.h"

// Writes the catalogue under `dir` and starts `server` on it; false with `error` set.
bool BenchRelease_serve(const std::filesystem::path& dir, BenchServer& server, std::string* error);
// The tool the release is for.
ToolState BenchRelease_tool();
