// zarvik-pack: writes a package image (".gfr") and its package info (".gfi") from a JSON
// manifest, plus the separate files of external sections.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "pack_manifest.h"
#include "package_writer.h"

namespace {

const char* kManifestHelp = R"(
The manifest is one JSON object describing one release:
  name        base name of the outputs (default: the manifest's file name)
  format      1 to 8 (default 8); fsn, fln, des: the header texts
  fileCount   optional header byte (default: the number of files)
  records     in order, each with a "type":
    boot      slot, address ("0x08000000" or a number), name, section
    firmware  name, build, value2, section
    files     kind, start, eraseCount, entries [{name, target, version1, version2,
              checksumTrailer, section}], or nameOnly for a name without data
    extra     names [...]
    raw       hex: bytes written as they are
A section: name, compressed (true/false), and its data as "text", "hex", "file" (a path
relative to the manifest) or "size" (+ "seed": deterministic pseudo-random bytes);
with "external": NAME (formats 7, 8) the data goes to the separate file NAME instead.)";

void writeFile(const std::filesystem::path& path, const packwriter::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw packwriter::WriterError("cannot write " + path.string());
    std::cout << path.string() << " (" << bytes.size() << " bytes)\n";
}

void writeExternalFiles(const packwriter::Image& image, const std::filesystem::path& dir) {
    auto visitSection = [&](const packwriter::Section& s) {
        if (s.externalName) writeFile(dir / *s.externalName, packwriter::externalFile(s));
    };
    for (const packwriter::Record& record : image.records) {
        if (const auto* boot = std::get_if<packwriter::Boot>(&record)) visitSection(boot->section);
        if (const auto* fw = std::get_if<packwriter::Firmware>(&record)) visitSection(fw->section);
        if (const auto* group = std::get_if<packwriter::FileGroup>(&record)) {
            for (const packwriter::FileEntry& e : group->entries) visitSection(e.section);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zarvik-pack: writes a package image and package info from a manifest"};
    app.footer(kManifestHelp);
    std::string manifestPath;
    std::string outDir = ".";
    bool imageOnly = false;
    bool infoOnly = false;
    bool plain = false;
    app.add_option("MANIFEST", manifestPath, "JSON manifest")->required()->check(CLI::ExistingFile);
    app.add_option("-o,--out", outDir, "Folder for the outputs (default: the current one)");
    auto* image = app.add_flag("--image-only", imageOnly, "Write only the .gfr");
    app.add_flag("--info-only", infoOnly, "Write only the .gfi")->excludes(image);
    app.add_flag("--plain", plain, "Write the .gfr unscrambled (for fuzzing seeds)");
    CLI11_PARSE(app, argc, argv);

    try {
        std::filesystem::path path(manifestPath);
        std::ifstream in(path);
        nlohmann::json manifest = nlohmann::json::parse(in);
        packwriter::Image release = packwriter::imageFromManifest(manifest, path.parent_path());
        std::string name = manifest.value("name", path.stem().string());
        std::filesystem::path dir(outDir);
        std::filesystem::create_directories(dir);
        if (!infoOnly) {
            writeFile(dir / (name + ".gfr"), plain ? packwriter::writePlainImage(release)
                                                   : packwriter::writeImage(release));
            writeExternalFiles(release, dir);
        }
        if (!imageOnly) {
            writeFile(dir / (name + ".gfi"),
                      packwriter::bytesOf(packwriter::writeInfo(packwriter::describe(release))));
        }
    } catch (const std::exception& e) {
        std::cerr << "zarvik-pack: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
