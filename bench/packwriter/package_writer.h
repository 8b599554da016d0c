// Builds package images (".gfr") and package infos (".gfi") for the tests and the bench
// server, from a plain description. The updater itself only reads packages.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace packwriter {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const std::string& text);

// A malformed description: a string longer than 255 bytes, a format outside 1 to 8, ...
struct WriterError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

struct Section {
    std::string name;
    Bytes data;               // the contents, uncompressed
    bool compressed = false;  // stored as a compressed block, compression byte 1
    // Formats 7 and 8: the data lives in a separate file of this name (see externalFile).
    std::optional<std::string> externalName;
    // Odd sections: the compression byte and the stored bytes exactly as given.
    std::optional<uint8_t> compressionByte;
    std::optional<Bytes> stored;
};

struct Boot {
    uint8_t slot = 0;
    uint32_t address = 0;
    std::string name;  // e.g. 1.14
    Section section;
};

struct Firmware {
    std::string name;
    uint16_t build = 1;   // format 3 on
    uint16_t value2 = 0;  // format 5 on
    uint8_t reserved = 0;
    Section section;
};

struct FileEntry {
    std::string name;
    std::string target;
    uint16_t version1 = 1;        // format 3 on
    uint16_t version2 = 0;        // format 5 on
    uint8_t checksumTrailer = 0;  // format 6 on
    Section section;
};

// An 'E' record: files sharing one memory area. With no entries, `nameOnly` is written as
// the single name without data.
struct FileGroup {
    uint8_t kind = 0;  // formats 6 to 8
    uint32_t start = 0;
    uint32_t eraseCount = 0;
    std::vector<FileEntry> entries;
    std::string nameOnly;
    // Overrides the entry count byte, to describe records that claim more than they hold.
    std::optional<uint8_t> countByte;
};

struct ExtraNames {
    std::vector<std::string> names;
};

// Bytes written as they are between records, e.g. unknown record kinds.
struct RawBytes {
    Bytes bytes;
};

using Record = std::variant<Boot, Firmware, FileGroup, ExtraNames, RawBytes>;

struct Image {
    int format = 8;              // 1 to 8
    uint8_t formatByteBits = 0;  // OR-ed into the bits the reader ignores
    std::string fsn;
    std::string fln;
    std::string des;                   // format 4 on
    std::optional<uint8_t> fileCount;  // default: the number of files the records give
    std::vector<Record> records;
};

// The 15-digit length prefix and the zlib stream of `data`.
Bytes compressBlock(const Bytes& data);
// Applies the package pad table; the same call scrambles and descrambles.
Bytes scramble(const Bytes& bytes);

// The image as the reader sees it after descrambling.
Bytes writePlainImage(const Image& image);
// The image as the server delivers it: scrambled.
Bytes writeImage(const Image& image);
// The file behind an external section: compressed when the section is, then scrambled.
Bytes externalFile(const Section& section);

struct InfoBoot {
    uint32_t address = 0;
    std::string name;
};

struct InfoFileLine {
    int32_t kind = 0;  // written from format 6 on
    int32_t start = 0;
    int32_t eraseCount = 0;
    // name, target, version1, version2; fewer fields are written as the format allows.
    struct Tuple {
        std::string name;
        std::string target;
        int32_t version1 = 0;
        int32_t version2 = 0;
    };
    std::vector<Tuple> files;
};

struct Info {
    int version = 8;
    std::string fsn;
    std::string fln;
    std::optional<std::string> des;  // written from format 4 on when set
    std::vector<InfoBoot> boots;     // item 1 fills slot 0, item 2 slot 1
    std::optional<std::string> firmwareName;
    int32_t firmwareBuild = 1;
    std::vector<InfoFileLine> fileLines;
    std::vector<std::string> extraNames;
    std::vector<std::string> comments;
};

// "KEY:value" lines ended by CR LF, then "END" and CR LF.
std::string writeInfo(const Info& info);
// The package info that describes the same release as `image`.
Info describe(const Image& image);

}  // namespace packwriter
