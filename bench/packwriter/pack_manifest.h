// The JSON manifest of zarvik-pack: one package release described as data.
//
// {
//   "name": "4242",                  base name of the outputs; default: the manifest's name
//   "format": 8, "fsn": "GM", "fln": "General Motors", "des": "Spring release",
//   "fileCount": 2,                  optional; default: the number of files
//   "records": [                     written in this order
//     {"type": "boot", "slot": 0, "address": "0x08000000", "name": "1.14", "section": S},
//     {"type": "firmware", "name": "2.31", "build": 17, "value2": 0, "section": S},
//     {"type": "files", "kind": 1, "start": 16, "eraseCount": 4,
//      "entries": [{"name": "MEM1", "target": "A", "version1": 3, "version2": 0,
//                   "checksumTrailer": 1, "section": S}]},
//     {"type": "files", "start": 2, "eraseCount": 1, "nameOnly": "LIST"},
//     {"type": "extra", "names": ["HELP", "LOGO"]},
//     {"type": "raw", "hex": "5A"}
//   ]
// }
// A section S: {"name": "fw", "compressed": true, and its data as one of
//   "text": "...", "hex": "00FF...", "file": "path" (relative to the manifest),
//   "size": N with optional "seed" (N deterministic pseudo-random bytes);
//   or "external": "NAME" (formats 7 and 8) for data kept in a separate file NAME}.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>

#include "package_writer.h"

namespace packwriter {

// Throws WriterError (or nlohmann::json::exception) on a malformed manifest.
Image imageFromManifest(const nlohmann::json& manifest, const std::filesystem::path& baseDir);

Bytes hexBytes(const std::string& hex);

}  // namespace packwriter
