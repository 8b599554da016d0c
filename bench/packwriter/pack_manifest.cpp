#include "pack_manifest.h"

#include <fstream>
#include <iterator>

namespace packwriter {

namespace {

using nlohmann::json;

Bytes fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw WriterError("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes patternBytes(size_t size, uint32_t seed) {
    Bytes out(size);
    uint32_t x = seed == 0 ? 1 : seed;
    for (uint8_t& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

uint32_t number(const json& j, const char* key, uint32_t fallback) {
    if (!j.contains(key)) return fallback;
    const json& v = j.at(key);
    if (v.is_string()) return static_cast<uint32_t>(std::stoul(v.get<std::string>(), nullptr, 0));
    return v.get<uint32_t>();
}

std::string text(const json& j, const char* key) {
    return j.value(key, std::string());
}

Section sectionFrom(const json& j, const std::filesystem::path& baseDir) {
    Section s;
    s.name = text(j, "name");
    s.compressed = j.value("compressed", false);
    // An external section's data goes into its separate file.
    if (j.contains("external")) s.externalName = j.at("external").get<std::string>();
    if (j.contains("text")) {
        s.data = bytesOf(j.at("text").get<std::string>());
    } else if (j.contains("hex")) {
        s.data = hexBytes(j.at("hex").get<std::string>());
    } else if (j.contains("file")) {
        s.data = fileBytes(baseDir / j.at("file").get<std::string>());
    } else if (j.contains("size")) {
        s.data = patternBytes(j.at("size").get<size_t>(), number(j, "seed", 1));
    }
    return s;
}

Record recordFrom(const json& j, const std::filesystem::path& baseDir) {
    std::string type = text(j, "type");
    if (type == "boot") {
        return Boot{static_cast<uint8_t>(number(j, "slot", 0)), number(j, "address", 0),
                    text(j, "name"), sectionFrom(j.value("section", json::object()), baseDir)};
    }
    if (type == "firmware") {
        Firmware f;
        f.name = text(j, "name");
        f.build = static_cast<uint16_t>(number(j, "build", 1));
        f.value2 = static_cast<uint16_t>(number(j, "value2", 0));
        f.section = sectionFrom(j.value("section", json::object()), baseDir);
        return f;
    }
    if (type == "files") {
        FileGroup g;
        g.kind = static_cast<uint8_t>(number(j, "kind", 0));
        g.start = number(j, "start", 0);
        g.eraseCount = number(j, "eraseCount", 0);
        g.nameOnly = text(j, "nameOnly");
        for (const json& e : j.value("entries", json::array())) {
            FileEntry entry;
            entry.name = text(e, "name");
            entry.target = text(e, "target");
            entry.version1 = static_cast<uint16_t>(number(e, "version1", 1));
            entry.version2 = static_cast<uint16_t>(number(e, "version2", 0));
            entry.checksumTrailer = static_cast<uint8_t>(number(e, "checksumTrailer", 0));
            entry.section = sectionFrom(e.value("section", json::object()), baseDir);
            g.entries.push_back(std::move(entry));
        }
        return g;
    }
    if (type == "extra") return ExtraNames{j.value("names", std::vector<std::string>())};
    if (type == "raw") return RawBytes{hexBytes(text(j, "hex"))};
    throw WriterError("unknown record type \"" + type + "\"");
}

}  // namespace

Bytes hexBytes(const std::string& hex) {
    std::string digits;
    for (char c : hex) {
        if (c != ' ') digits.push_back(c);
    }
    if (digits.size() % 2 != 0) throw WriterError("odd number of hex digits");
    Bytes out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        size_t used = 0;
        unsigned long v = std::stoul(digits.substr(i, 2), &used, 16);
        if (used != 2) throw WriterError("not a hex byte: " + digits.substr(i, 2));
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

Image imageFromManifest(const json& manifest, const std::filesystem::path& baseDir) {
    Image image;
    image.format = static_cast<int>(number(manifest, "format", 8));
    image.fsn = text(manifest, "fsn");
    image.fln = text(manifest, "fln");
    image.des = text(manifest, "des");
    if (manifest.contains("fileCount")) {
        image.fileCount = static_cast<uint8_t>(number(manifest, "fileCount", 0));
    }
    for (const json& r : manifest.value("records", json::array())) {
        image.records.push_back(recordFrom(r, baseDir));
    }
    return image;
}

}  // namespace packwriter
