#include "fault_case.h"

#include "link/tool_protocol.h"

namespace {

constexpr int kExchange = 5;     // a short exchange: 500 units of 10 ms
constexpr int kErase = 50;       // an erase: 5000 units
constexpr int kRebootWaits = 6;  // 3 s, then 3 s more, for a tool that does not return
constexpr int kLowSpeed = 30;    // a transfer without a byte this long is dead

const char* const kFirmwareFailed = "Writing Firmware V3.01.02 Failed";
const char* const kDownloadFailed = "box:Download Failed";
const char* const kUpdated = "KTX2 Firmware Updated Successfully";
const char* const kUploadFailed = "File upload failed";

std::function<void(VirtualTool&)> cut(const char* point) {
    return [point](VirtualTool& tool) { tool.cutAt(*CutPoint_parse(point)); };
}

std::function<void(VirtualTool&)> refuse(const char* point) {
    return [point](VirtualTool& tool) { tool.refuseAt(*CutPoint_parse(point)); };
}

// The firmware id reads as two spaces: the server is asked by the firmware's version.
void unreadFirmwareId(VirtualTool& tool) {
    const uint8_t spaces[] = {0x20, 0x20};
    tool.writeDataMemory(tool::kFirmwareIdAddress, spaces);
}

FaultCase toolCase(std::string name, std::function<void(VirtualTool&)> fault, int limit,
                   std::string limitName, std::string message, std::string tag, int status = 1,
                   CliRun run = CliRun::Program) {
    FaultCase c;
    c.name = std::move(name);
    c.run = run;
    c.toolFault = std::move(fault);
    c.limitSeconds = limit;
    c.limitName = std::move(limitName);
    c.message = std::move(message);
    c.tag = std::move(tag);
    c.status = status;
    return c;
}

FaultCase serverCase(std::string name, CliRun run, Misbehaviour m, int limit, std::string limitName,
                     std::string message, std::string tag, int status = 1) {
    FaultCase c = toolCase(std::move(name), nullptr, limit, std::move(limitName),
                           std::move(message), std::move(tag), status, run);
    c.server = std::move(m);
    return c;
}

Misbehaviour refusing(const std::string& word) {
    Misbehaviour m;
    m.refusedWords = {word};
    return m;
}

std::vector<FaultCase> build() {
    std::vector<FaultCase> cases;
    auto add = [&](FaultCase c, bool inShort = false) {
        c.inShortForm = inShort;
        cases.push_back(std::move(c));
    };
    const std::string bl0 = "Writing Bootloader 0 Failed";
    const std::string exchange = "exchange 5 s";
    const std::string rebootAndExchange = "exchange 5 s + reboot waits 6 s";

    // The tool leaves the bus for good, at each phase of an update.
    add(toolCase("vanish: boot write (slot 0, middle)", cut("boot0:5"), kExchange + kRebootWaits,
                 rebootAndExchange, bl0, "_Failed_BL0"));
    add(toolCase("vanish: boot write (slot 1, last)", cut("boot1:last"), kExchange + kRebootWaits,
                 rebootAndExchange, "Writing Bootloader 1 Failed", "_Failed_BL1"));
    add(toolCase("vanish: reboot", cut("reboot:start"), kExchange + kRebootWaits, rebootAndExchange,
                 bl0, "_Failed_BL0"));
    add(toolCase("vanish: firmware (start)", cut("firmware:start"), kExchange, exchange,
                 kFirmwareFailed, "_Failed_FIRM"));
    add(toolCase("vanish: firmware (middle)", cut("firmware:341"), kExchange, exchange,
                 kFirmwareFailed, "_Failed_FIRM"),
        true);
    add(toolCase("vanish: firmware (last block)", cut("firmware:last"), kExchange, exchange,
                 kFirmwareFailed, "_Failed_FIRM"),
        true);
    // Memory 1 is the one the tool already holds (same place and version): not written again.
    // The first erase is that of the extra-file area (memory 4).
    add(toolCase("vanish: erase", cut("erase:start"), kErase, "erase 50 s", "Erase 4 Failed",
                 "_Failed_MemErase_Block_40"));
    add(toolCase("vanish: memory write", cut("memory:start"), kExchange, exchange,
                 "Memory 2 Not Programmed Correctly", "_Failed_Mem_Block_9000"));
    add(toolCase("vanish: extra file", cut("extra:start"), kExchange, exchange,
                 "Extra File 1 Not Programmed Correctly", "_Failed_Custom_Mem_1"));
    add(toolCase("vanish: directory", cut("directory:start"), kExchange, exchange,
                 "Extra File 0 Not Programmed Correctly", "_Failed_Custom_Mem_0"));
    add(toolCase("vanish: Bluetooth module", cut("bluetooth:start"), kExchange, exchange,
                 "Bluetooth Smart Module Update Failed", "_Failed_BLE_Update_2"));
    // Everything is written by then; the bootloader entry is not checked.
    add(toolCase("vanish: completion", cut("completion:start"), kExchange, exchange, kUpdated, "",
                 0));
    add(toolCase("vanish: backup read", cut("backup-read:1"), kExchange, exchange, kUploadFailed,
                 "-", 1, CliRun::UploadBackups));

    // The tool answers "E" once, at each kind of write.
    add(toolCase("\"E\": boot write (tried again)", refuse("boot0:start"), kRebootWaits,
                 "reboot waits 6 s", kUpdated, "", 0));
    add(toolCase("\"E\": firmware block", refuse("firmware:341"), 0, "-", kFirmwareFailed,
                 "_Failed_FIRM"),
        true);
    add(toolCase("\"E\": erase", refuse("erase:start"), 0, "-", "Erase 4 Failed",
                 "_Failed_MemErase_Block_40"));
    add(toolCase("\"E\": memory write", refuse("memory:start"), 0, "-",
                 "Memory 2 Not Programmed Correctly", "_Failed_Mem_Block_9000"));
    add(toolCase("\"E\": extra file", refuse("extra:3"), 0, "-",
                 "Extra File 2 Not Programmed Correctly", "_Failed_Custom_Mem_2"));
    add(toolCase("\"E\": directory", refuse("directory:start"), 0, "-",
                 "Extra File 0 Not Programmed Correctly", "_Failed_Custom_Mem_0"));
    add(toolCase("\"E\": Bluetooth module", refuse("bluetooth:start"), 0, "-",
                 "Bluetooth Smart Module Update Failed", "_Failed_BLE_Update_2"));

    // The line misbehaves.
    add(toolCase(
        "silent mid-reply: identity",
        [](VirtualTool& t) { t.answerHalf(commandCode(ToolCommand::ReadMemory)); }, 2 * kExchange,
        "exchange 5 s x 2", "KTX2 firmware can't be identified", "-", 1, CliRun::Find));
    add(toolCase(
        "replies split byte by byte", [](VirtualTool& t) { t.splitReplies(1); }, 5, "3 ms per byte",
        kUpdated, "", 0));

    // The server lets the updater down.
    {
        FaultCase c = serverCase("server unreachable", CliRun::Find, {}, 0, "refused at once",
                                 "KTX2 firmware can't be identified", "-");
        c.environment = {{"ZARVIK_SERVER", "127.0.0.1:1"}};
        add(c);
    }
    {
        Misbehaviour m;
        m.stalledWords = {"download|"};
        // The package info of identification stalls first, then the package.
        add(serverCase("server stalls the download", CliRun::Program, m, 2 * kLowSpeed,
                       "low speed 30 s, twice", kDownloadFailed, "-"));
    }
    {
        Misbehaviour m;
        m.stalledWords = {"valid|"};
        add(serverCase("server stalls a request (valid|)", CliRun::Find, m, kLowSpeed,
                       "low speed 30 s", "", "-"));
    }
    {
        Misbehaviour m;
        m.closeMidDownload = true;
        add(serverCase("server closes mid-download", CliRun::Program, m, 0, "-", kDownloadFailed,
                       "-"));
    }
    {
        Misbehaviour m;
        m.corruptCrc = true;
        add(serverCase("download with a corrupt CRC", CliRun::Program, m, 0, "-", kDownloadFailed,
                       "-"),
            true);
    }
    {
        Misbehaviour m;
        m.truncatedDownloads = true;
        add(serverCase("truncated download", CliRun::Program, m, 0, "-", kDownloadFailed, "-"));
    }
    add(serverCase("refused: download|", CliRun::Program, refusing("download|"), 0, "-",
                   kDownloadFailed, "-"));
    // A tool whose firmware id is not set. The emergency query stands in: "Current Firmware:
    // Unknown"; when it fails too, the tool is not identified.
    {
        FaultCase c = serverCase("refused: firmware|", CliRun::Find, refusing("firmware|"), 0, "-",
                                 "", "-", 0);
        c.toolFault = unreadFirmwareId;
        add(c);
    }
    {
        Misbehaviour m;
        m.refusedWords = {"firmware|", "firmEmergency|"};
        FaultCase c = serverCase("refused: firmware|, firmEmergency|", CliRun::Find, m, 0, "-",
                                 "KTX2 firmware can't be identified", "-");
        c.toolFault = unreadFirmwareId;
        add(c);
    }
    // The stored backup's state unknown: its upload is not offered, the identification stands.
    add(serverCase("refused: userReadFileVersion|", CliRun::Find, refusing("userReadFileVersion|"),
                   0, "-", "", "-", 0));
    // Only "NO" with a later version tells of a newer updater; a refusal does not.
    add(serverCase("refused: versionUpd|", CliRun::CheckVersion, refusing("versionUpd|"), 0, "-",
                   "", "-", 0));
    add(serverCase("refused: valid|", CliRun::Program, refusing("valid|"), 0, "-", "", "-"));
    // No count known: every stored file is offered again; the server keeps one copy.
    add(serverCase("refused: userReadFileCount|", CliRun::UploadBackups,
                   refusing("userReadFileCount|"), 0, "-", "File uploaded to server successfully",
                   "-", 0));
    add(serverCase("refused: fileList|", CliRun::ProgramMemories, refusing("fileList|"), 0, "-",
                   "box:Programming succeed", "_FFO", 0));
    add(serverCase("refused: uploadUserFile|", CliRun::UploadBackups, refusing("uploadUserFile|"),
                   0, "-", kUploadFailed, "-"));
    {
        Misbehaviour m;
        m.errorWords = {"download|"};
        add(serverCase("HTTP 500 to download|", CliRun::Program, m, 0, "-", kDownloadFailed, "-"));
    }
    {
        Misbehaviour m;
        m.enormousWords = {"download|"};
        add(serverCase("enormous download reply", CliRun::Program, m, 5, "300 MiB on loopback",
                       kDownloadFailed, "-"));
    }
    {
        FaultCase c = serverCase("FTP refused", CliRun::UploadBackups, {}, 0, "refused at once",
                                 kUploadFailed, "-");
        c.environment = {{"ZARVIK_FTP_PORT", "1"}};
        add(c);
    }
    {
        Misbehaviour m;
        m.ftpStall = true;
        add(serverCase("FTP stalls", CliRun::UploadBackups, m, kLowSpeed, "low speed 30 s",
                       kUploadFailed, "-"));
    }
    {
        FaultCase c = serverCase("FTP wrong password", CliRun::UploadBackups, {}, 6,
                                 "server's 3 s login delay x 2", kUploadFailed, "-");
        c.environment = {{"ZARVIK_FTP_PASSWORD", "not-the-password"}};
        add(c);
    }

    // Table replies.
    {
        // The count rules the table: the rows beyond the real ones have no name to download.
        FaultCase c = serverCase("table: absurd row count", CliRun::ProgramMemories, {}, 0, "-",
                                 "Extra File 3 Not Programmed Correctly", "_Failed_Custom_Mem_3");
        c.records = "records-absurd.json";
        c.ownLayout = true;
        c.reference = "records-plain.json";
        add(c);
    }
    {
        FaultCase c = serverCase("table: negative row count", CliRun::ProgramMemories, {}, 0, "-",
                                 "box:Programming succeed", "_FFO", 0);
        c.records = "records-negative.json";
        c.reference = "records-plain.json";
        add(c);
    }
    {
        FaultCase c = serverCase("table: quotes and SQL in names", CliRun::ProgramMemories, {}, 0,
                                 "-", "box:Programming succeed", "_FFO", 0);
        c.records = "records-sql.json";
        add(c);
    }
    for (FaultCase& c : cases) {
        c.secondRun = c.run == CliRun::Program && c.name.rfind("vanish:", 0) == 0;
    }
    return cases;
}

}  // namespace

const std::vector<FaultCase>& faultCases() {
    static const std::vector<FaultCase> cases = build();
    return cases;
}
