// Writes a 1 MB raw image through the real link to the virtual tool running at wire speed,
// and reports how close the transfer comes to the line's 25,600 bytes/s and what the writing
// side costs in CPU time, once without and once with the link trace.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "core/byte_string.h"
#include "link/link_trace.h"
#include "link/tool_commands.h"
#include "link/tool_link.h"
#include "toolsim/raw_record.h"
#include "toolsim/virtual_tool.h"

namespace {

constexpr size_t kImageData = 1024 * 1024;
constexpr double kLineBytesPerSecond = 25600.0;

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Run {
    bool intact = false;
    double elapsed = 0;
    double cpu = 0;
};

// One image write on a fresh link and a fresh tool, with `trace` null or on.
Run writeOnce(const std::string& linkPath, const ByteString* image,
              const std::vector<uint8_t>& program, LinkTrace* trace) {
    VirtualTool tool;
    ToolSimOptions options;
    options.pacing = true;
    std::string error;
    if (!tool.start(ToolState_default(), linkPath, options, &error)) {
        std::fprintf(stderr, "bench_link_write: %s\n", error.c_str());
        return {};
    }
    LinkSettings settings;  // the real timing
    settings.port = linkPath;
    settings.trace = trace;
    ToolLinkPtr link = makeToolLink(settings);
    if (!ToolLink_findPort(link.get()) || !ToolLink_open(link.get())) {
        std::fprintf(stderr, "bench_link_write: %s\n",
                     ToolLink_openFailureText(link.get()).c_str());
        return {};
    }
    Run run;
    const auto started = std::chrono::steady_clock::now();
    const double cpuStarted = threadCpuSeconds();
    const int ok = Tool_writeImage(link.get(), image, kBootRecordData, 1, 0, 0, 0, 0, 0);
    run.cpu = threadCpuSeconds() - cpuStarted;
    run.elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::vector<uint8_t> stored = tool.program(RawTarget::Firmware);
    run.intact = ok == 1 && stored.size() >= program.size() &&
                 std::equal(program.begin(), program.end(), stored.begin());
    ToolLink_close(link.get());
    tool.stop();
    return run;
}

void report(const char* what, const Run& run) {
    if (run.elapsed <= 0) {
        std::printf("  %s: no run\n", what);
        return;
    }
    const double rate = static_cast<double>(kImageData) / run.elapsed;
    std::printf("  %s: elapsed %.2f s, effective rate %.0f bytes/s = %.3f of 25,600 bytes/s\n",
                what, run.elapsed, rate, rate / kLineBytesPerSecond);
    std::printf("    writing side CPU time %.3f s (%.2f%% of the elapsed time)\n", run.cpu,
                100.0 * run.cpu / run.elapsed);
}

}  // namespace

int main() {
    std::string folder = (std::filesystem::temp_directory_path() / "zarvik-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("bench_link_write: mkdtemp");
        return 1;
    }
    const std::string linkPath = folder + "/ktx2";

    std::vector<uint8_t> program(kImageData);
    for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 131 + 7);
    const std::vector<uint8_t> image =
        RawImage_build(RawTarget::Firmware, program, kBootRecordData);
    ByteStringPtr bytes(ByteString_create(static_cast<int32_t>(image.size())));
    ByteString_appendBytes(bytes.get(), image.data(), static_cast<int32_t>(image.size()));

    const std::string tracePath = folder + "/link.trace";
    std::string error;
    LinkTracePtr trace(LinkTrace_open(tracePath, &error));
    if (!trace) {
        std::fprintf(stderr, "bench_link_write: %s\n", error.c_str());
        return 1;
    }
    const Run plain = writeOnce(linkPath, bytes.get(), program, nullptr);
    const Run traced = writeOnce(linkPath, bytes.get(), program, trace.get());
    trace.reset();
    const auto traceSize = std::filesystem::file_size(tracePath);
    std::filesystem::remove_all(folder);

    std::printf("bench_link_write: 1 MB raw image, %zu records of %d bytes, paced virtual tool\n",
                image.size() / (kBootRecordData + kRawHeaderSize), kBootRecordData);
    report("trace off", plain);
    report("trace on ", traced);
    if (!plain.intact || !traced.intact) {
        std::fprintf(stderr, "bench_link_write: the tool does not hold the image written\n");
        return 1;
    }
    std::printf("    trace file %.1f KB; the trace costs %+.2f%% of the elapsed time\n",
                static_cast<double>(traceSize) / 1024.0,
                100.0 * (traced.elapsed - plain.elapsed) / plain.elapsed);
    return 0;
}
