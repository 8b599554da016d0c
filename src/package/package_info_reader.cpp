// Reads a package info text: "KEY:value" lines ended by CR LF, sections of numbered item
// lines, and a last line "END". Lines are taken whole and split on ":" so that no field is
// read past the end of its line, and nothing of one line carries over to the next.
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/byte_string.h"
#include "package/firmware_package.h"
#include "package/package_readers.h"
#include "package/package_records.h"

namespace {

constexpr int32_t kNewestFormat = 8;

// Leading white space, sign and digits, as atoi reads them; saturates instead of overflowing.
int32_t decimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT32_MAX) value = INT32_MAX;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

ByteString* newText(std::string_view text) {
    ByteString* s = ByteString_create(static_cast<int32_t>(text.size()));
    ByteString_appendBytes(s, text.data(), static_cast<int32_t>(text.size()));
    return s;
}

enum class Outcome { Continue, Stop, Fail };

class InfoReader {
  public:
    InfoReader(FirmwarePackage* package, const ByteString* bytes)
        : package_(package), text_(ByteString_view(bytes)), nameList_(ByteString_fromText(";")) {}

    int run() {
        for (;;) {
            Outcome outcome = topLevelLine();
            if (outcome == Outcome::Fail) return 0;
            if (outcome == Outcome::Stop) break;
        }
        FirmwarePackage_setText(&package_->nameList, nameList_.release());
        return 1;
    }

  private:
    // The line's text up to its CR; the position moves past the CR and the byte after it.
    // False when the data ends before the CR.
    bool line(std::string_view& out) {
        size_t cr = text_.find('\r', position_);
        if (cr == std::string_view::npos) return false;
        out = text_.substr(position_, cr - position_);
        position_ = cr + 2;
        return true;
    }

    static std::vector<std::string_view> fields(std::string_view line) {
        std::vector<std::string_view> out;
        size_t start = 0;
        for (;;) {
            size_t colon = line.find(':', start);
            out.push_back(line.substr(start, colon - start));
            if (colon == std::string_view::npos) return out;
            start = colon + 1;
        }
    }

    Outcome topLevelLine() {
        std::string key;
        for (;;) {
            if (key == "END") return Outcome::Stop;
            if (position_ >= text_.size()) return Outcome::Fail;  // no "END"
            char c = text_[position_++];
            if (c == ':') break;
            key.push_back(c);  // line ends too: a line without a ":" joins the next key
        }
        std::string_view value;
        if (!line(value)) return Outcome::Fail;

        // These values hold no ":"; one ends the reading with what was read so far.
        bool plainValue =
            key == "VER" || key == "DES" || key == "B" || key == "F" || key == "E" || key == "X";
        if (plainValue && value.find(':') != std::string_view::npos) return Outcome::Stop;

        if (key == "FSN") {
            FirmwarePackage_setText(&package_->fsn, newText(value));
        } else if (key == "FLN") {
            FirmwarePackage_setText(&package_->fln, newText(value));
            if (version_ < 4) FirmwarePackage_setText(&package_->des, newText(value));
        } else if (key == "DES") {
            FirmwarePackage_setText(&package_->des, newText(value));
        } else if (key == "VER") {
            version_ = decimal(value);
            if (version_ > kNewestFormat) return Outcome::Fail;
        } else if (key.size() == 1 && plainValue) {
            return section(key[0], decimal(value));
        }
        return Outcome::Continue;  // "#" comments and unknown keys
    }

    Outcome section(char kind, int32_t count) {
        for (int32_t number = 1; number <= count; ++number) {
            std::string_view text;
            if (!line(text)) return Outcome::Fail;
            std::vector<std::string_view> item = fields(text);
            if (decimal(item[0]) != number) return Outcome::Fail;
            Outcome outcome = Outcome::Fail;
            switch (kind) {
                case 'B':
                    outcome = bootItem(number, item);
                    break;
                case 'F':
                    return firmwareItem(item);  // a package carries one firmware
                case 'E':
                    outcome = filesItem(item);
                    break;
                case 'X':
                    outcome = extraNameItem(item);
                    break;
                default:
                    break;
            }
            if (outcome != Outcome::Continue) return outcome;
        }
        return Outcome::Continue;
    }

    // number ":" address ":" name
    Outcome bootItem(int32_t number, const std::vector<std::string_view>& item) {
        if (item.size() > 3) return Outcome::Stop;
        if (item.size() < 3 || number > 2) return Outcome::Fail;
        PackageBootPtr boot(PackageRecord_new<PackageBoot>());
        ByteStringPtr address(newText(item[1]));
        boot->address = ByteString_parseHex(address.get());
        boot->name = newText(item[2]);
        FirmwarePackage_setBoot(package_, number - 1, boot.release());
        return Outcome::Continue;
    }

    // number ":" name, then the build from format 3 on; from format 5 on a field may come
    // between name and build.
    Outcome firmwareItem(const std::vector<std::string_view>& item) {
        size_t least = version_ >= 3 ? 3 : 2;
        size_t most = version_ >= 5 ? 4 : least;
        if (item.size() > most) return Outcome::Stop;
        if (item.size() < least) return Outcome::Fail;
        PackageFirmwarePtr firmware(PackageRecord_new<PackageFirmware>());
        firmware->name = newText(item[1]);
        firmware->build = version_ >= 3 ? static_cast<uint32_t>(decimal(item.back())) : 1;
        FirmwarePackage_setFirmware(package_, firmware.release());
        return Outcome::Continue;
    }

    // number ":" [kind ":"] start ":" erase count ":" (skipped) ":" file tuples
    Outcome filesItem(const std::vector<std::string_view>& item) {
        size_t header = version_ >= 6 ? 5 : 4;
        if (item.size() <= header) return Outcome::Fail;  // no file name
        size_t at = 1;
        int32_t kind = version_ >= 6 ? decimal(item[at++]) : 0;
        int32_t start = decimal(item[at++]);
        int32_t eraseCount = decimal(item[at++]);
        size_t tupleSize = version_ >= 5 ? 4 : version_ >= 2 ? 3 : 2;

        int32_t position = 0;
        for (at = header; at < item.size(); at += tupleSize) {
            ++position;
            auto field = [&](size_t i) {
                return at + i < item.size() ? item[at + i] : std::string_view();
            };
            if (field(0).empty()) return Outcome::Fail;
            PackageFilePtr file(PackageRecord_new<PackageFile>());
            file->name = newText(field(0));
            file->target = newText(field(1));
            file->start = start;
            file->eraseCount = eraseCount;
            file->memoryKind = version_ >= 6 ? kind : position;
            if (tupleSize >= 3) file->version1 = decimal(field(2));
            if (tupleSize >= 4) file->version2 = decimal(field(3));
            appendName(file->name);
            FirmwarePackage_addFile(package_, file.release());
        }
        return Outcome::Continue;
    }

    // number ":" name
    Outcome extraNameItem(const std::vector<std::string_view>& item) {
        if (item.size() > 2) return Outcome::Stop;
        if (item.size() < 2) return Outcome::Fail;
        ByteStringPtr name(newText(item[1]));
        appendName(name.get());
        return Outcome::Continue;
    }

    void appendName(const ByteString* name) {
        ByteString_append(nameList_.get(), name);
        ByteString_appendByte(nameList_.get(), ';');
    }

    FirmwarePackage* package_;
    std::string_view text_;
    size_t position_ = 0;
    ByteStringPtr nameList_;
    int32_t version_ = 1;
};

}  // namespace

int PackageInfo_read(FirmwarePackage* package, const ByteString* bytes) {
    return InfoReader(package, bytes).run();
}
