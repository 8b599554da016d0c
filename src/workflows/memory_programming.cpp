// The memory phase of an update: each file record of the package is erased and written
// unless the same file is already in the tool; the CPAK record marks the extra-file area.
#include "core/byte_string.h"
#include "link/tool_commands.h"
#include "package/package_section.h"
#include "server/server_request.h"
#include "workflows/app_delegate.h"
#include "workflows/message_text.h"
#include "workflows/programming_run.h"

namespace {

ByteStringPtr trimmedName(const PackageFile* file) {
    if (file->name == nullptr) return makeByteString("");
    return ByteStringPtr(ByteString_trim(file->name, 3));
}

bool hasText(const ByteString* text) {
    return text != nullptr && text->length > 0;
}

// The same file, by name, place and versions, already sits in the tool.
bool alreadyProgrammed(const PackageFile* file, const PackageFile* installed) {
    if (!hasText(file->name) || installed == nullptr || !hasText(installed->name)) return false;
    return ByteString_prefixEquals(file->name, installed->name) &&
           file->eraseCount == installed->eraseCount && file->start > 0 &&
           file->start == installed->start && file->version1 == installed->version1 &&
           file->version2 == installed->version2;
}

const PackageFile* installedFile(const FirmwarePackage* tool, int slot) {
    for (int i = 0; i <= slot; ++i) {
        if (tool->files[i] == nullptr) return nullptr;
    }
    return tool->files[slot];
}

// External data of a sector-addressed record: downloaded, descrambled and, when the
// section says so, inflated. False when any of it failed.
bool fetchExternal(ServerSession* session, PackageSection* section) {
    ByteStringPtr bytes(ServerRequest_download(session, ByteString_view(section->externalName)));
    if (bytes == nullptr) return false;
    ByteStringPtr plain(FirmwarePackage_descramble(bytes.get()));
    if (plain == nullptr) return false;
    if (section->compressed == 1) plain.reset(PackageSection_inflate(plain.get()));
    if (plain == nullptr) return false;
    ByteString_free(section->data);
    section->data = plain.release();
    return true;
}

}  // namespace

bool AppDelegate::programMemoryFiles(ProgrammingRun& run) {
    FirmwarePackage* package = run.package.get();
    run.eraseUnit = eraseUnitFor(tool_->bootVersionNumber, link()->serialState);
    int32_t counter = 0;
    int32_t total = package->fileCount;
    run.extraArea.reset();

    for (int slot = 0; slot < kPackageFileSlots && run.ok; ++slot) {
        PackageFile* file = package->files[slot];
        if (file == nullptr) break;
        ByteStringPtr name = trimmedName(file);
        const bool cpak = ByteString_equalsText(name.get(), "CPAK") == 1;
        if (cpak) {
            ui_.showControl(Control::ProgramMemories);
            if (file->memoryKind == 1) ++total;
            run.extraArea = ExtraArea_locate(*file);
            if (!run.extraArea) {
                // Nothing is erased or written in an area the tool cannot address.
                failRun(
                    run,
                    fillText("Memory %d Not Programmed Correctly", {std::to_string(counter + 1)}),
                    "_Failed_Mem_Block_" + std::to_string(file->start), true);
                return false;
            }
        }

        // Only a different firmware, and no forced run, may keep a file the tool has.
        if (tool_->firmwareId != package->firmwareId && !force_ && !cpak &&
            alreadyProgrammed(file, installedFile(tool_.get(), slot))) {
            if (file->section != nullptr) ++counter;
            say(fillText("Memory File %d/%d Already Programmed",
                         {std::to_string(counter), std::to_string(total)}));
            continue;
        }

        bool erased = false;
        if (file->eraseCount <= 0 && file->memoryKind < 2) continue;
        if (file->eraseCount > 0 && file->memoryKind == 1) {
            if (file->section == nullptr && !cpak) continue;
            ++counter;
            say(fillText("Erasing Memory %d", {std::to_string(counter)}));
            setProgress(-1);
            const int done = Tool_eraseBlocks(link(), file->start, file->eraseCount);
            setProgress(0);
            if (!done) {
                failRun(run, fillText("Erase %d Failed", {std::to_string(counter)}),
                        "_Failed_MemErase_Block_" + std::to_string(file->start), true);
                return false;
            }
            erased = true;
        }

        PackageSection* section = file->section;
        if (section == nullptr) continue;
        if (!erased) ++counter;
        const std::string programming =
            fillText("Program Memory File %d/%d", {std::to_string(counter), std::to_string(total)});
        say(programming);
        bool written = false;
        if (file->memoryKind == 1) {
            // Packages never carry an external block-addressed file; one without data fails.
            written = hasText(section->data) &&
                      Tool_writeImage(link(), section->data, run.eraseUnit, 0, file->start, 0, 0,
                                      file->checksumTrailer, 0, linkProgress());
        } else {
            bool fetched = true;
            if (section->external) {
                say("Downloading required file...");
                fetched = fetchExternal(&session_, section);
                if (fetched) say(programming);
            }
            written = fetched && section->data != nullptr &&
                      Tool_writeImage(link(), section->data, run.eraseUnit, 0, file->start, 0, 1,
                                      file->checksumTrailer, 0, linkProgress());
        }
        if (!written) {
            failRun(run, fillText("Memory %d Not Programmed Correctly", {std::to_string(counter)}),
                    "_Failed_Mem_Block_" + std::to_string(file->start), true);
            return false;
        }
    }
    return true;
}
