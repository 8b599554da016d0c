#include "package_writer.h"

#include <zlib.h>

#include <cstdio>
#include <map>

#include "core/pad_tables.h"

namespace packwriter {

namespace {

void put8(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
}

void put16(Bytes& out, uint32_t v) {
    put8(out, v & 0xFF);
    put8(out, (v >> 8) & 0xFF);
}

void put32(Bytes& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void putBytes(Bytes& out, const Bytes& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void putShort(Bytes& out, const std::string& s) {
    if (s.size() > 255) throw WriterError("string longer than 255 bytes: " + s.substr(0, 40));
    put8(out, static_cast<uint32_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

class ImageWriter {
  public:
    explicit ImageWriter(const Image& image) : image_(image), v_(image.format) {
        if (v_ < 1 || v_ > 8) throw WriterError("format must be 1 to 8");
    }

    Bytes write() {
        put8(out_, static_cast<uint32_t>((v_ - 1) << 1) | (image_.formatByteBits & 0xF1u));
        putShort(out_, image_.fsn);
        putShort(out_, image_.fln);
        if (v_ >= 4) putShort(out_, image_.des);
        put8(out_, image_.fileCount.value_or(static_cast<uint8_t>(fileCount(image_))));
        for (const Record& record : image_.records) std::visit(*this, record);
        return std::move(out_);
    }

    static size_t fileCount(const Image& image) {
        size_t count = 0;
        for (const Record& record : image.records) {
            if (const auto* group = std::get_if<FileGroup>(&record)) {
                count += group->entries.empty() ? 1 : group->entries.size();
            }
        }
        return count;
    }

    void operator()(const Boot& boot) {
        put8(out_, 'B');
        put8(out_, boot.slot);
        put32(out_, boot.address);
        putShort(out_, boot.name);
        section(boot.section);
    }

    void operator()(const Firmware& firmware) {
        put8(out_, 'F');
        put8(out_, firmware.reserved);
        putShort(out_, firmware.name);
        if (v_ >= 3) put16(out_, firmware.build);
        if (v_ >= 5) put16(out_, firmware.value2);
        section(firmware.section);
    }

    void operator()(const FileGroup& group) {
        if (group.entries.size() > 255) throw WriterError("more than 255 entries in a record");
        put8(out_, 'E');
        put8(out_, group.countByte.value_or(static_cast<uint8_t>(group.entries.size())));
        if (v_ >= 6) {
            put8(out_, group.kind);
            put32(out_, group.start);
            put32(out_, group.eraseCount);
        } else {
            put8(out_, group.start);
            put8(out_, group.eraseCount);
        }
        if (group.entries.empty()) putShort(out_, group.nameOnly);
        for (const FileEntry& entry : group.entries) {
            putShort(out_, entry.name);
            putShort(out_, entry.target);
            if (v_ >= 3) put16(out_, entry.version1);
            if (v_ >= 5) put16(out_, entry.version2);
            if (v_ >= 6) put8(out_, entry.checksumTrailer);
            section(entry.section);
        }
    }

    void operator()(const ExtraNames& extra) {
        if (extra.names.size() > 255) throw WriterError("more than 255 extra names in a record");
        put8(out_, 'X');
        put8(out_, static_cast<uint32_t>(extra.names.size()));
        for (const std::string& name : extra.names) putShort(out_, name);
    }

    void operator()(const RawBytes& raw) { putBytes(out_, raw.bytes); }

  private:
    void section(const Section& s) {
        bool external = s.externalName.has_value();
        if (external && v_ < 7) throw WriterError("external sections need format 7 or 8");
        put8(out_, s.compressionByte.value_or(s.compressed ? 1 : 0));
        if (v_ >= 7) put8(out_, external ? 1 : 0);
        putShort(out_, s.name);
        if (external) {
            putShort(out_, *s.externalName);
            return;
        }
        Bytes stored = s.stored ? *s.stored : s.compressed ? compressBlock(s.data) : s.data;
        put32(out_, static_cast<uint32_t>(stored.size()));
        putBytes(out_, stored);
    }

    const Image& image_;
    int v_;
    Bytes out_;
};

std::string hexAddress(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", address);
    return text;
}

}  // namespace

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes compressBlock(const Bytes& data) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%015zu", data.size());
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(15 + size);
    std::copy(prefix, prefix + 15, out.begin());
    if (compress(out.data() + 15, &size, data.data(), static_cast<uLong>(data.size())) != Z_OK) {
        throw WriterError("zlib compress failed");
    }
    out.resize(15 + size);
    return out;
}

Bytes scramble(const Bytes& bytes) {
    Bytes out(bytes);
    size_t k = packagePadStart;
    for (uint8_t& b : out) {
        b ^= packagePadTable[k];
        k = (k + packagePadStep) % packagePadTable.size();
    }
    return out;
}

Bytes writePlainImage(const Image& image) {
    return ImageWriter(image).write();
}

Bytes writeImage(const Image& image) {
    return scramble(writePlainImage(image));
}

Bytes externalFile(const Section& section) {
    return scramble(section.compressed ? compressBlock(section.data) : section.data);
}

std::string writeInfo(const Info& info) {
    const int v = info.version;
    std::string out;
    // Fields joined by ":" and ended by CR LF.
    auto line = [&out](const std::vector<std::string>& fields) {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) out.push_back(':');
            out.append(fields[i]);
        }
        out.append("\r\n");
    };
    auto num = [](auto n) { return std::to_string(n); };
    for (const std::string& comment : info.comments) line({"#", comment});
    line({"VER", num(v)});
    line({"FSN", info.fsn});
    line({"FLN", info.fln});
    if (v >= 4 && info.des) line({"DES", *info.des});
    if (!info.boots.empty()) {
        line({"B", num(info.boots.size())});
        for (size_t i = 0; i < info.boots.size(); ++i) {
            line({num(i + 1), hexAddress(info.boots[i].address), info.boots[i].name});
        }
    }
    if (info.firmwareName) {
        line({"F", "1"});
        std::vector<std::string> item = {"1", *info.firmwareName};
        if (v >= 3) item.push_back(num(info.firmwareBuild));
        line(item);
    }
    if (!info.fileLines.empty()) {
        line({"E", num(info.fileLines.size())});
        for (size_t i = 0; i < info.fileLines.size(); ++i) {
            const InfoFileLine& fl = info.fileLines[i];
            std::vector<std::string> item = {num(i + 1)};
            if (v >= 6) item.push_back(num(fl.kind));
            item.insert(item.end(), {num(fl.start), num(fl.eraseCount), "0"});
            for (const InfoFileLine::Tuple& t : fl.files) {
                item.insert(item.end(), {t.name, t.target});
                if (v >= 2) item.push_back(num(t.version1));
                if (v >= 5) item.push_back(num(t.version2));
            }
            line(item);
        }
    }
    if (!info.extraNames.empty()) {
        line({"X", num(info.extraNames.size())});
        for (size_t i = 0; i < info.extraNames.size(); ++i) line({num(i + 1), info.extraNames[i]});
    }
    line({"END"});
    return out;
}

Info describe(const Image& image) {
    Info info;
    info.version = image.format;
    info.fsn = image.fsn;
    info.fln = image.fln;
    if (image.format >= 4) info.des = image.des;
    std::map<uint8_t, InfoBoot> boots;
    for (const Record& record : image.records) {
        if (const auto* boot = std::get_if<Boot>(&record)) {
            boots[boot->slot] = InfoBoot{boot->address, boot->name};
        } else if (const auto* firmware = std::get_if<Firmware>(&record)) {
            info.firmwareName = firmware->name;
            info.firmwareBuild = image.format >= 3 ? firmware->build : 1;
        } else if (const auto* group = std::get_if<FileGroup>(&record)) {
            InfoFileLine fl{group->kind,
                            static_cast<int32_t>(group->start),
                            static_cast<int32_t>(group->eraseCount),
                            {}};
            for (const FileEntry& e : group->entries) {
                fl.files.push_back({e.name, e.target, e.version1, e.version2});
            }
            if (group->entries.empty()) fl.files.push_back({group->nameOnly, "", 0, 0});
            info.fileLines.push_back(std::move(fl));
        } else if (const auto* extra = std::get_if<ExtraNames>(&record)) {
            info.extraNames.insert(info.extraNames.end(), extra->names.begin(), extra->names.end());
        }
    }
    for (const auto& [slot, boot] : boots) info.boots.push_back(boot);
    return info;
}

}  // namespace packwriter
