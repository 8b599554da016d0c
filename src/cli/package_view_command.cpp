// zarvik-cli inspect FILE: shows what a package image or package info holds.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "core/byte_string.h"
#include "core/crc32.h"
#include "package/firmware_package.h"

namespace {

using nlohmann::json;

std::optional<std::string> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || bytes.size() >= 0x7FFFFFFF) return std::nullopt;
    return bytes;
}

// The format version, when the file states one: the image's first byte, the info's "VER".
std::optional<int> formatOf(int32_t kind, const ByteString* bytes) {
    if (kind == PACKAGE_IMAGE) {
        if (bytes->length == 0) return std::nullopt;
        ByteStringPtr plain(FirmwarePackage_descramble(bytes));
        return ((plain->data[0] >> 1) & 7) + 1;
    }
    std::string_view text = ByteString_view(bytes);
    size_t at = text.rfind("VER:", 0) == 0 ? 0 : text.find("\nVER:");
    if (at == std::string_view::npos) return 1;
    at = text.find(':', at) + 1;
    int value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && value < 1000) {
        value = value * 10 + (text[at++] - '0');
    }
    return value;
}

std::string printable(const ByteString* s) {
    std::string out;
    for (char c : ByteString_view(s)) {
        auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F) {
            out.push_back(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", b);
            out += esc;
        }
    }
    return out;
}

std::string hex32(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

json jsonText(const ByteString* s) {
    return s == nullptr ? json(nullptr) : json(ByteString_str(s));
}

json sectionJson(const PackageSection* s) {
    if (s == nullptr) return nullptr;
    json j = {{"name", jsonText(s->name)},
              {"compressed", s->compressed},
              {"external", s->external},
              {"externalName", jsonText(s->externalName)},
              {"size", s->data == nullptr ? json(nullptr) : json(s->data->length)}};
    j["crc32"] = s->data == nullptr ? json(nullptr) : json(hex32(checksumCrc32(s->data)));
    return j;
}

json packageJson(const FirmwarePackage* p) {
    json j;
    j["fsn"] = jsonText(p->fsn);
    j["fln"] = jsonText(p->fln);
    j["des"] = jsonText(p->des);
    j["fileCount"] = p->fileCount;
    j["bootVersion"] = jsonText(p->bootVersion);
    j["bootVersionNumber"] = p->bootVersionNumber;
    j["firmwareVersion"] = jsonText(p->firmwareVersion);
    j["firmwareBuild"] = p->firmwareBuild;
    j["boots"] = json::array();
    for (int slot = 0; slot < 2; ++slot) {
        const PackageBoot* b = p->boot[slot];
        if (b == nullptr) continue;
        j["boots"].push_back({{"slot", slot},
                              {"name", jsonText(b->name)},
                              {"address", b->address},
                              {"section", sectionJson(b->section)}});
    }
    j["firmware"] = nullptr;
    if (const PackageFirmware* f = p->firmware) {
        j["firmware"] = {{"name", jsonText(f->name)},
                         {"build", f->build},
                         {"value2", f->value2},
                         {"section", sectionJson(f->section)}};
    }
    j["files"] = json::array();
    for (const PackageFile* f : p->files) {
        if (f == nullptr) break;
        j["files"].push_back({{"name", jsonText(f->name)},
                              {"target", jsonText(f->target)},
                              {"memoryKind", f->memoryKind},
                              {"start", f->start},
                              {"eraseCount", f->eraseCount},
                              {"version1", f->version1},
                              {"version2", f->version2},
                              {"checksumTrailer", f->checksumTrailer},
                              {"section", sectionJson(f->section)}});
    }
    j["nameList"] = jsonText(p->nameList);
    return j;
}

std::string sectionText(const PackageSection* s) {
    if (s == nullptr) return "";
    std::ostringstream out;
    out << "  section \"" << printable(s->name) << "\"";
    if (s->external == 1) {
        out << " external \"" << printable(s->externalName) << "\"";
    } else if (s->data != nullptr) {
        out << " " << s->data->length << " bytes, crc32 " << hex32(checksumCrc32(s->data));
    }
    if (s->compressed == 1) out << ", compressed";
    return out.str();
}

void printText(const std::string& path, const char* kindName, std::optional<int> format,
               const FirmwarePackage* p) {
    std::cout << kindName << " " << path;
    if (format) std::cout << " (format " << *format << ")";
    std::cout << "\n  FSN         " << printable(p->fsn) << "\n  FLN         " << printable(p->fln)
              << "\n  DES         " << printable(p->des) << "\n  File count  " << p->fileCount
              << "\n";
    for (int slot = 0; slot < 2; ++slot) {
        const PackageBoot* b = p->boot[slot];
        if (b == nullptr) continue;
        std::cout << "Boot " << slot << "  " << printable(b->name) << "  address "
                  << hex32(b->address) << sectionText(b->section) << "\n";
    }
    if (const PackageFirmware* f = p->firmware) {
        std::cout << "Firmware  " << printable(f->name) << "  build " << f->build << "  value2 "
                  << f->value2 << sectionText(f->section) << "\n";
    }
    int n = 0;
    for (const PackageFile* f : p->files) {
        if (f == nullptr) break;
        std::cout << "File " << ++n << "  " << printable(f->name) << "  target \""
                  << printable(f->target) << "\"  kind " << f->memoryKind << "  start " << f->start
                  << "  erase " << f->eraseCount << "  versions " << f->version1 << "/"
                  << f->version2 << "  trailer " << f->checksumTrailer << sectionText(f->section)
                  << "\n";
    }
    std::cout << "Names  " << printable(p->nameList) << "\n";
}

int inspect(const std::string& path, const std::string& kindOption, const CliOptions& options) {
    int32_t kind = 0;
    std::string extension = std::filesystem::path(path).extension().string();
    if (kindOption == "image" || (kindOption.empty() && extension == ".gfr")) {
        kind = PACKAGE_IMAGE;
    } else if (kindOption == "info" || (kindOption.empty() && extension == ".gfi")) {
        kind = PACKAGE_INFO;
    } else {
        std::cerr << "zarvik-cli: cannot tell whether " << path
                  << " is a package image or info; name it .gfr or .gfi, or give --kind\n";
        return 2;
    }

    std::optional<std::string> contents = readWholeFile(path);
    if (!contents) {
        std::cerr << "zarvik-cli: cannot read " << path << "\n";
        return 1;
    }
    ByteStringPtr bytes = makeByteString(*contents);
    FirmwarePackagePtr package(FirmwarePackage_new());
    const char* kindName = kind == PACKAGE_IMAGE ? "Package image" : "Package info";
    PackageLoadFailure failure = PackageLoadFailure::none;
    if (FirmwarePackage_load(kind, package.get(), bytes.get(), kind == PACKAGE_IMAGE, &failure) !=
        1) {
        if (failure == PackageLoadFailure::tooLarge) {
            std::cerr << "zarvik-cli: " << path << " holds more than " << (kPackageDataLimit >> 20)
                      << " MiB of section data\n";
        } else {
            std::cerr << "zarvik-cli: " << path << " is not a readable "
                      << (kind == PACKAGE_IMAGE ? "package image" : "package info") << "\n";
        }
        return 1;
    }
    std::optional<int> format = formatOf(kind, bytes.get());
    if (options.json) {
        json j = packageJson(package.get());
        j["file"] = path;
        j["kind"] = kind == PACKAGE_IMAGE ? "image" : "info";
        j["format"] = format ? json(*format) : json(nullptr);
        std::cout << j.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
    } else {
        printText(path, kindName, format, package.get());
    }
    return 0;
}

}  // namespace

void addInspectCommand(CLI::App& app, const CliOptions& options, int& status) {
    auto* cmd =
        app.add_subcommand("inspect", "Show what a package image (.gfr) or info (.gfi) holds");
    auto path = std::make_shared<std::string>();
    auto kind = std::make_shared<std::string>();
    cmd->add_option("FILE", *path, "Package file")->required();
    cmd->add_option("--kind", *kind, "Read the file as this kind, whatever its name")
        ->check(CLI::IsMember({"image", "info"}));
    cmd->fallthrough();  // global options such as --json may follow the file
    cmd->callback([&options, &status, path, kind] { status = inspect(*path, *kind, options); });
}
