// zarvik-fuzz-seeds DIR: writes the seed corpus of the fuzz targets into DIR/<target>/.
// Images are written unscrambled: the image target reads them as the reader sees them.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "package_writer.h"

namespace {

using namespace packwriter;
namespace fs = std::filesystem;

Section stored(const std::string& name, const std::string& data) {
    return {name, bytesOf(data)};
}

Section packed(const std::string& name, const std::string& data) {
    Section s{name, bytesOf(data)};
    s.compressed = true;
    return s;
}

// `lead`: records the reader must step over before the usual ones. Built in order, not
// inserted at the front: a false -Wmaybe-uninitialized on the variant at -O3.
Image fullImage(int format, std::vector<Record> lead = {}) {
    Image image;
    image.format = format;
    image.records = std::move(lead);
    image.fsn = "GM";
    image.fln = "General Motors";
    image.des = "Seed release";
    image.records.push_back(Boot{0, 0x08000000, "1.14", packed("boot0", "boot zero data")});
    image.records.push_back(Boot{1, 0x08004000, "1.15", stored("boot1", "boot one")});
    image.records.push_back(Firmware{"2.31", 17, 5, 0, packed("fw", "firmware firmware firmware")});
    FileGroup group{3, 16, 4, {}, "", {}};
    group.entries.push_back(FileEntry{"MEM1", "A", 3, 4, 1, stored("m1", "memory one")});
    group.entries.push_back(FileEntry{"MEM2", "", 1, 0, 0, packed("m2", "memory two")});
    image.records.push_back(group);
    image.records.push_back(FileGroup{1, 2, 1, {}, "LIST", {}});
    image.records.push_back(ExtraNames{{"HELP", "LOGO"}});
    return image;
}

void write(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zarvik-fuzz-seeds DIR\n";
        return 2;
    }
    fs::path dir(argv[1]);

    for (int format : {1, 3, 5, 6, 8}) {
        write(dir / "image" / ("format" + std::to_string(format)),
              writePlainImage(fullImage(format)));
    }
    Image external = fullImage(7);
    std::get<Firmware>(external.records[2]).section.externalName = "fw.bin";
    write(dir / "image" / "external", writePlainImage(external));
    Image odd = fullImage(8, {RawBytes{{0x00, 'Z', 0xFF}}});
    odd.records.push_back(FileGroup{0, 0, 0, {}, "", uint8_t{3}});  // claims 3 entries
    write(dir / "image" / "odd", writePlainImage(odd));
    Image large = fullImage(8);  // sections that announce more than a package may hold
    Section bomb = packed("bomb", "");
    bomb.stored = bytesOf("000000268435456");
    large.records.push_back(FileGroup{2, 0, 0, {}, "", {}});
    std::get<FileGroup>(large.records.back()).entries.assign(6, FileEntry{"B", "", 1, 0, 0, bomb});
    write(dir / "image" / "large", writePlainImage(large));
    Bytes cut = writePlainImage(fullImage(8));
    cut.resize(cut.size() / 2);
    write(dir / "image" / "truncated", cut);

    for (int format : {1, 5, 8}) {
        write(dir / "info" / ("format" + std::to_string(format)),
              bytesOf(writeInfo(describe(fullImage(format)))));
    }
    write(dir / "info" / "newer", bytesOf("VER:9\r\nFSN:GM\r\nEND\r\n"));
    write(dir / "info" / "odd", bytesOf("#:a: comment\r\nFLN:x:y\r\nQQ:skipped\r\nVER:4\r\nB:2\r\n"
                                        "1:0x100:1.14\r\n2:FF:1.15\r\nX:1\r\n1:A:B\r\nEND"));

    write(dir / "inflate" / "hello", compressBlock(bytesOf("hello")));
    Bytes shortPrefix = compressBlock(bytesOf("hello"));
    shortPrefix[14] = '4';
    write(dir / "inflate" / "short-prefix", shortPrefix);
    write(dir / "inflate" / "empty", compressBlock({}));
    Bytes absurd = compressBlock(bytesOf("hello"));
    std::fill(absurd.begin(), absurd.begin() + 15, '9');
    write(dir / "inflate" / "absurd", absurd);
    write(dir / "inflate" / "tiny", bytesOf("00000"));
    write(dir / "inflate" / "large-junk", bytesOf("000000016777216junk"));

    Bytes blocks;
    for (int b = 0; b < 2; ++b) {
        uint32_t sum = 0;
        for (int i = 0; i < 2048; ++i) {
            blocks.push_back(static_cast<uint8_t>(i * 7 + b));
            sum += blocks.back();
        }
        blocks.push_back(static_cast<uint8_t>(sum));
        blocks.push_back(static_cast<uint8_t>(sum >> 8));
    }
    Bytes withTail = blocks;
    for (uint8_t b : {0x10, 0x20, 0x30, 0x60, 0x00}) withTail.push_back(b);
    write(dir / "rechecksum" / "two-blocks", blocks);
    write(dir / "rechecksum" / "partial-tail", withTail);
    Bytes bad = blocks;
    bad[5] ^= 1;
    write(dir / "rechecksum" / "mismatch", bad);
    Bytes badTail = withTail;  // a partial block's sum is not compared
    badTail.back() ^= 1;
    write(dir / "rechecksum" / "partial-tail-bad-sum", badTail);
    Bytes stray = blocks;
    stray.push_back(0x42);
    write(dir / "rechecksum" / "stray-byte", stray);
    write(dir / "rechecksum" / "tiny", {0x01, 0x01, 0x00});
    return 0;
}
