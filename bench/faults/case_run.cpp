#include "case_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include <nlohmann/json.hpp>

#include "catalogue/catalogue_builder.h"
#include "serversim/bench_server.h"
#include "serversim/request_log.h"
#include "workflows/updater_ui.h"

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kSlackSeconds = 5;  // start-up and a loaded machine
constexpr double kHangSeconds = 15;  // past the bound: the run is stopped as hung
constexpr uint64_t kExtraArea = 40;  // 64 KB page of the demo's extra-file area
constexpr uint64_t kExtraAreaPages = 4;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

const char* commandOf(CliRun run) {
    switch (run) {
        case CliRun::Find:
            return "find";
        case CliRun::Program:
            return "program";
        case CliRun::ProgramMemories:
            return "program-memories";
        case CliRun::UploadBackups:
            return "upload-backups";
        case CliRun::CheckVersion:
            return "check-version";
    }
    return "";
}

// Runs whose exit 0 says that something was written or uploaded.
bool writes(CliRun run) {
    return run != CliRun::Find && run != CliRun::CheckVersion;
}

// A record file whose tool is told `rows` files of these names.
void writeRecordsVariant(const fs::path& stateDir, const std::string& name,
                         const std::vector<std::string>& files, std::optional<int64_t> rowCount) {
    json records = json::parse(readFile(stateDir / "records.json"));
    json table = {{"columns", {"filename"}}, {"rows", json::array()}};
    for (const auto& f : files) table["rows"].push_back({f});
    if (rowCount) table["rowCount"] = *rowCount;
    records["tools"][0]["userFiles"] = table;
    writeFile(stateDir / name, records.dump(2));
}

// Starts the program with its output in files and waits for it at most `limit`.
int runCli(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
           const fs::path& out, const fs::path& err, double limit, bool* hung) {
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    const auto deadline = Clock::now() + std::chrono::duration<double>(limit);
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid) break;
        if (Clock::now() > deadline) {
            *hung = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Bytes of a run that are none of: what was there, erased, or what a clean run leaves.
bool staleBytes(const std::map<uint64_t, std::vector<uint8_t>>& before,
                const std::map<uint64_t, std::vector<uint8_t>>& after,
                const std::map<uint64_t, std::vector<uint8_t>>& clean) {
    auto at = [](const std::map<uint64_t, std::vector<uint8_t>>& pages, uint64_t page, size_t i) {
        auto it = pages.find(page);
        return it == pages.end() ? SparseMemory::kErased : it->second[i];
    };
    for (const auto& [page, bytes] : after) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            const uint8_t b = bytes[i];
            if (b != SparseMemory::kErased && b != at(before, page, i) && b != at(clean, page, i)) {
                return true;
            }
        }
    }
    return false;
}

std::string lastReportTag(const fs::path& log) {
    std::string tag = "-";
    for (const json& entry : RequestLog_read(log)) {
        if (entry.is_object() && entry.value("mode", 0) == 2) tag = entry.value("tag", "");
    }
    return tag;
}

std::vector<std::vector<uint8_t>> programsOf(const VirtualTool& tool) {
    std::vector<std::vector<uint8_t>> programs;
    for (int t = 0; t < kRawTargetCount; ++t) programs.push_back(tool.program(RawTarget(t)));
    return programs;
}

// What an identification showed of the firmware, or the failure it ended with.
std::string identificationShown(const fs::path& events) {
    std::string firm, msg, status;
    std::ifstream in(events);
    std::string line;
    while (std::getline(in, line)) {
        json e = json::parse(line, nullptr, false);
        if (!e.is_object() || e.value("event", "") != "text") continue;
        const std::string which = e.value("line", "");
        const std::string text = e.value("text", "");
        if (which == lineName(Line::Firm)) firm = text;
        if (which == lineName(Line::Msg) && !text.empty()) msg = text;
        if (which == lineName(Line::Status) && !text.empty()) status = text;
    }
    std::string shown = firm.empty() ? "failed: " + msg : firm;
    if (status.rfind("The last update of this tool did not finish", 0) == 0) shown += " +note";
    return shown;
}

}  // namespace

void CaseRunner::secondRun(VirtualTool& tool, const std::string& link,
                           const std::vector<std::string>& environment, const fs::path& work,
                           Outcome& o) {
    CaseResult& r = o.result;
    if (!tool.powerCycle()) {
        r.secondFind = "failed: the tool stays dark";
        return;
    }
    bool hung = false;
    runCli({cli_, "--port", link, "--json", "find"}, environment, work / "find2.jsonl",
           work / "find2.txt", 60, &hung);
    r.secondFind = hung ? "failed: hung" : identificationShown(work / "find2.jsonl");
    o.secondStatus =
        runCli({cli_, "--port", link, "--json", "--yes", "program", "--firmware", "900"},
               environment, work / "program2.jsonl", work / "program2.txt", 300, &hung);
    o.secondAfter = tool.dataMemoryPages();
    o.secondPrograms = programsOf(tool);
}

bool CaseRunner::prepare(const fs::path& dir, const std::string& cli, std::string* error) {
    dir_ = dir;
    cli_ = cli;
    if (!catalogue::writeDemoCatalogue(dir / "catalogue", dir / "state", error)) return false;
    // The user's files with names a careless query would trip over.
    const std::vector<std::string> tricky = {"it's.bin", "say \"hi\".bin",
                                             "x'); DROP TABLE files;--.bin", "100%_%s.bin"};
    for (size_t i = 0; i < tricky.size(); ++i) {
        const auto bytes = catalogue::checksummedBlocks(
            catalogue::patternBytes(1000 + 700 * i, static_cast<uint32_t>(60 + i)));
        writeFile(dir / "catalogue" / "ktxUserFiles" / tricky[i],
                  std::string(bytes.begin(), bytes.end()));
    }
    const std::vector<std::string> plain = {"user77_1.bin", "user77_2.bin"};
    writeRecordsVariant(dir / "state", "records-sql.json", tricky, std::nullopt);
    writeRecordsVariant(dir / "state", "records-absurd.json", plain, int64_t{2147483647});
    writeRecordsVariant(dir / "state", "records-negative.json", plain, int64_t{-5});
    writeRecordsVariant(dir / "state", "records-plain.json", plain, std::nullopt);
    return true;
}

CaseRunner::Outcome CaseRunner::execute(const FaultCase& fault, double killAfterSeconds) {
    Outcome o;
    CaseResult& r = o.result;
    const fs::path work = dir_ / ("case" + std::to_string(++serial_));
    fs::create_directories(work / "uploads");
    fs::create_directories(work / "home");

    BenchServerOptions serverOptions;
    serverOptions.catalogueDir = dir_ / "catalogue";
    serverOptions.toolRecordsPath =
        dir_ / "state" / (fault.records.empty() ? "records.json" : fault.records);
    serverOptions.logPath = work / "requests.log";
    serverOptions.uploadDir = work / "uploads";
    serverOptions.ftp = fault.ftp;
    serverOptions.misbehaviour = fault.server;
    BenchServer server;
    std::string error;
    if (!server.start(serverOptions, &error)) {
        r.note = "bench server: " + error;
        return o;
    }
    ToolSimOptions toolOptions;
    toolOptions.extraArea = {kExtraArea * SparseMemory::kPageSize,
                             kExtraAreaPages * SparseMemory::kPageSize};
    VirtualTool tool;
    const std::string link = (work / "ktx2").string();
    if (!tool.start((dir_ / "state" / "demo-tool.json").string(), link, toolOptions, &error)) {
        r.note = "virtual tool: " + error;
        return o;
    }
    if (fault.toolFault) fault.toolFault(tool);
    o.before = tool.dataMemoryPages();

    std::map<std::string, std::string> env = {
        {"ZARVIK_SERVER", "127.0.0.1:" + std::to_string(server.httpPort())},
        {"ZARVIK_FTP_PORT", std::to_string(server.ftpPort())},
        {"ZARVIK_FTP_USER", "ktxupload"},
        {"ZARVIK_FTP_PASSWORD", "ktxupload"},
        {"HOME", (work / "home").string()},
        {"XDG_STATE_HOME", (work / "home" / "state").string()},
        {"PATH", "/usr/bin:/bin"},
    };
    for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* v = std::getenv(keep)) env[keep] = v;
    }
    for (const auto& [k, v] : fault.environment) env[k] = v;
    std::vector<std::string> environment;
    for (const auto& [k, v] : env) environment.push_back(k + "=" + v);
    std::vector<std::string> arguments = {cli_,
                                          "--port",
                                          link,
                                          "--json",
                                          "--yes",
                                          "--trace-link",
                                          (work / "link.trace").string(),
                                          commandOf(fault.run)};
    if (fault.run == CliRun::Program) {
        arguments.push_back("--firmware");
        arguments.push_back("900");
    }
    const auto started = Clock::now();
    r.status = runCli(arguments, environment, work / "out.jsonl", work / "err.txt",
                      killAfterSeconds, &r.hung);
    r.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    o.after = tool.dataMemoryPages();
    o.programs = programsOf(tool);
    // The first run's last report, before the second run adds its own.
    r.tag = lastReportTag(work / "requests.log");
    if (fault.secondRun && !r.hung) secondRun(tool, link, environment, work, o);
    tool.stop();
    server.stop();

    // What the user was shown.
    std::string msg, previous, box;
    std::ifstream events(work / "out.jsonl");
    std::string line;
    while (std::getline(events, line)) {
        json e = json::parse(line, nullptr, false);
        if (!e.is_object()) continue;
        const std::string kind = e.value("event", "");
        if (kind == "text" && e.value("line", "") == lineName(Line::Msg)) {
            if (!msg.empty()) previous = msg;
            msg = e.value("text", "");
        } else if (kind == "messageBox") {
            box = e.value("title", "");
            if (box == "Operation Completed" || box == "Programming succeed") {
                r.claimedUpdated = true;
            }
        }
    }
    if (msg == "KTX2 Firmware Updated Successfully" ||
        msg == "File uploaded to server successfully") {
        r.claimedUpdated = true;
    }
    if (r.status == 0 && writes(fault.run)) r.claimedUpdated = true;
    r.message = msg;
    r.step = previous;
    // Boxes that end a run without a last word on the message line.
    if (box == "Download Failed" || box == "Error" || box == "Programming succeed") {
        r.message = "box:" + box;
    }

    // What reached the server by FTP.
    for (const auto& entry : fs::directory_iterator(work / "uploads")) {
        if (entry.is_regular_file()) {
            o.uploads[entry.path().filename().string()] = readFile(entry.path());
        }
    }
    const std::string err = readFile(work / "err.txt");
    r.sanitizer = err.find("Sanitizer") != std::string::npos ||
                  err.find("runtime error:") != std::string::npos;
    if (r.sanitizer) r.note = "sanitizer report in " + (work / "err.txt").string();
    return o;
}

const CleanRun* CaseRunner::cleanRun(const FaultCase& fault) {
    const std::string records = fault.reference.empty() ? fault.records : fault.reference;
    const std::string key = std::string(commandOf(fault.run)) + "|" + records;
    auto known = clean_.find(key);
    if (known != clean_.end()) return &known->second;
    FaultCase clean;
    clean.run = fault.run;
    clean.records = records;
    Outcome o = execute(clean, 300);
    if (o.result.status != 0 && writes(fault.run)) return nullptr;
    CleanRun& c = clean_[key];
    c.seconds = o.result.seconds;
    c.programs = std::move(o.programs);
    c.toolData = std::move(o.after);
    c.uploads = std::move(o.uploads);
    return &c;
}

CaseResult CaseRunner::run(const FaultCase& fault) {
    const CleanRun* clean = cleanRun(fault);
    if (clean == nullptr) {
        CaseResult r;
        r.note = "the clean run failed";
        return r;
    }
    const double bound = clean->seconds + fault.limitSeconds + kSlackSeconds;
    Outcome o = execute(fault, bound + kHangSeconds);
    CaseResult& r = o.result;
    r.boundSeconds = bound;
    if (fault.secondRun) {
        r.recovered = o.secondStatus == 0 && o.secondAfter == clean->toolData &&
                      o.secondPrograms == clean->programs;
    }
    r.staleData = !fault.ownLayout && staleBytes(o.before, o.after, clean->toolData);
    for (const auto& [name, bytes] : o.uploads) {
        // A transfer cut short may leave the beginning of the right file, nothing else.
        auto ref = clean->uploads.find(name);
        if (ref == clean->uploads.end() || ref->second.compare(0, bytes.size(), bytes) != 0 ||
            (r.status == 0 && ref->second.size() != bytes.size())) {
            r.staleData = true;
        }
    }
    return r;
}
