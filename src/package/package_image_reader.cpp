// Reads a descrambled package image. Every length, count and string is checked against the
// end of the data: a record that runs past it makes the image malformed.
#include <string>

#include "core/byte_string.h"
#include "package/firmware_package.h"
#include "package/image_cursor.h"
#include "package/package_readers.h"
#include "package/package_records.h"
#include "package/package_section.h"

namespace {

class ImageReader {
  public:
    ImageReader(FirmwarePackage* package, const ByteString* bytes, SectionBudget* budget)
        : package_(package),
          bytes_(bytes),
          budget_(budget),
          in_(bytes, 0),
          nameList_(ByteString_fromText(";")) {}

    int run() {
        if (!readHeader()) return 0;
        while (!in_.atEnd()) {
            uint32_t kind = 0;
            in_.byte(kind);
            bool ok = true;
            switch (kind) {
                case 'B':
                    ok = readBoot();
                    break;
                case 'F':
                    ok = readFirmware();
                    break;
                case 'E':
                    ok = readFiles();
                    break;
                case 'X':
                    ok = readExtraNames();
                    break;
                default:
                    break;  // unknown bytes are skipped one at a time
            }
            if (!ok) return 0;
        }
        FirmwarePackage_setText(&package_->nameList, nameList_.release());
        return 1;
    }

  private:
    bool readHeader() {
        uint32_t formatByte = 0;
        if (!in_.byte(formatByte)) return false;
        version_ = static_cast<int32_t>((formatByte >> 1) & 7) + 1;
        ByteStringPtr fsn = in_.shortString();
        if (fsn == nullptr) return false;
        ByteStringPtr fln = in_.shortString();
        if (fln == nullptr) return false;
        ByteStringPtr des =
            version_ >= 4 ? in_.shortString() : ByteStringPtr(ByteString_copy(fln.get()));
        if (des == nullptr) return false;
        uint32_t fileCount = 0;
        if (!in_.byte(fileCount)) return false;
        FirmwarePackage_setText(&package_->fsn, fsn.release());
        FirmwarePackage_setText(&package_->fln, fln.release());
        FirmwarePackage_setText(&package_->des, des.release());
        package_->fileCount = static_cast<int32_t>(fileCount);
        return true;
    }

    PackageSection* readSection() {
        int32_t cursor = in_.position();
        PackageSection* section = PackageSection_read(bytes_, &cursor, version_, budget_);
        if (section != nullptr) in_ = ImageCursor(bytes_, cursor);
        return section;
    }

    void appendName(const ByteString* name) {
        ByteString_append(nameList_.get(), name);
        ByteString_appendByte(nameList_.get(), ';');
    }

    void appendName(const std::string& name) {
        ByteString_appendBytes(nameList_.get(), name.data(), static_cast<int32_t>(name.size()));
        ByteString_appendByte(nameList_.get(), ';');
    }

    // Digits missing from a short name count as 0 instead of being read past its end.
    static int32_t bootNumber(const ByteString* name) {
        auto digit = [name](int32_t i) { return i < name->length ? name->data[i] - '0' : 0; };
        return digit(0) * 100 + digit(2) * 10 + digit(3);
    }

    bool readBoot() {
        uint32_t slot = 0;
        uint32_t address = 0;
        if (!in_.byte(slot) || slot > 1 || !in_.u32(address)) return false;
        PackageBootPtr boot(PackageRecord_new<PackageBoot>());
        boot->address = address;
        boot->name = in_.shortString().release();
        if (boot->name == nullptr) return false;
        boot->section = readSection();
        if (boot->section == nullptr) return false;

        if (package_->bootVersion == nullptr) {
            package_->bootVersion = ByteString_copy(boot->name);
            package_->bootVersionNumber = bootNumber(boot->name);
        }
        appendName("BOOT" + std::to_string(slot));
        FirmwarePackage_setBoot(package_, static_cast<int32_t>(slot), boot.release());
        return true;
    }

    bool readFirmware() {
        uint32_t reserved = 0;
        if (!in_.byte(reserved)) return false;
        PackageFirmwarePtr firmware(PackageRecord_new<PackageFirmware>());
        firmware->name = in_.shortString().release();
        if (firmware->name == nullptr) return false;
        firmware->build = 1;
        if (version_ >= 3 && !in_.u16(firmware->build)) return false;
        if (version_ >= 5 && !in_.u16(firmware->value2)) return false;
        firmware->section = readSection();
        if (firmware->section == nullptr) return false;

        FirmwarePackage_setText(&package_->firmwareVersion, ByteString_copy(firmware->name));
        package_->firmwareBuild = static_cast<int32_t>(firmware->build);
        appendName("FIRMWARE");
        FirmwarePackage_setFirmware(package_, firmware.release());
        return true;
    }

    bool readFiles() {
        uint32_t count = 0;
        uint32_t kindOrStart = 0;
        uint32_t start = 0;
        uint32_t eraseCount = 0;
        if (!in_.byte(count) || !in_.byte(kindOrStart)) return false;
        if (version_ >= 6) {
            if (!in_.u32(start) || !in_.u32(eraseCount)) return false;
        } else {
            start = kindOrStart;
            if (!in_.byte(eraseCount)) return false;
        }
        auto newFile = [&](int32_t position) {
            PackageFilePtr file(PackageRecord_new<PackageFile>());
            file->start = static_cast<int32_t>(start);
            file->eraseCount = static_cast<int32_t>(eraseCount);
            file->memoryKind = version_ >= 6 ? static_cast<int32_t>(kindOrStart) : position;
            return file;
        };

        if (count == 0) {
            PackageFilePtr file = newFile(1);
            file->name = in_.shortString().release();
            if (file->name == nullptr) return false;
            file->target = ByteString_create(0);
            appendName(file->name);
            FirmwarePackage_addFile(package_, file.release());
            return true;
        }
        for (uint32_t i = 1; i <= count; ++i) {
            PackageFilePtr file = newFile(static_cast<int32_t>(i));
            file->name = in_.shortString().release();
            if (file->name == nullptr) return false;
            file->target = in_.shortString().release();
            if (file->target == nullptr) return false;
            uint32_t version1 = 1;
            uint32_t version2 = 0;
            uint32_t trailer = 0;
            if (version_ >= 3 && !in_.u16(version1)) return false;
            if (version_ >= 5 && !in_.u16(version2)) return false;
            if (version_ >= 6 && !in_.byte(trailer)) return false;
            file->version1 = static_cast<int32_t>(version1);
            file->version2 = static_cast<int32_t>(version2);
            file->checksumTrailer = static_cast<int32_t>(trailer);
            file->section = readSection();
            if (file->section == nullptr) return false;
            appendName(file->name);
            FirmwarePackage_addFile(package_, file.release());
        }
        return true;
    }

    bool readExtraNames() {
        uint32_t count = 0;
        if (!in_.byte(count)) return false;
        for (uint32_t i = 0; i < count; ++i) {
            ByteStringPtr name = in_.shortString();
            if (name == nullptr) return false;
            appendName(name.get());
        }
        return true;
    }

    FirmwarePackage* package_;
    const ByteString* bytes_;
    SectionBudget* budget_;
    ImageCursor in_;
    ByteStringPtr nameList_;
    int32_t version_ = 1;
};

}  // namespace

int PackageImage_read(FirmwarePackage* package, const ByteString* bytes, SectionBudget* budget) {
    return ImageReader(package, bytes, budget).run();
}
