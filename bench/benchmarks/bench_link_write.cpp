// Writes a 1 MB raw image through the real link to the virtual tool running at wire speed,
// and reports how close the transfer comes to the line's 25,600 bytes/s and what the writing
// side costs in CPU time.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "core/byte_string.h"
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

}  // namespace

int main() {
    std::string folder = (std::filesystem::temp_directory_path() / "zarvik-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("bench_link_write: mkdtemp");
        return 1;
    }
    const std::string linkPath = folder + "/ktx2";

    VirtualTool tool;
    ToolSimOptions options;
    options.pacing = true;
    std::string error;
    if (!tool.start(ToolState_default(), linkPath, options, &error)) {
        std::fprintf(stderr, "bench_link_write: %s\n", error.c_str());
        return 1;
    }

    LinkSettings settings;  // the real timing
    settings.port = linkPath;
    ToolLinkPtr link = makeToolLink(settings);
    if (!ToolLink_findPort(link.get()) || !ToolLink_open(link.get())) {
        std::fprintf(stderr, "bench_link_write: %s\n",
                     ToolLink_openFailureText(link.get()).c_str());
        return 1;
    }

    std::vector<uint8_t> program(kImageData);
    for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 131 + 7);
    const std::vector<uint8_t> image =
        RawImage_build(RawTarget::Firmware, program, kBootRecordData);
    ByteStringPtr bytes(ByteString_create(static_cast<int32_t>(image.size())));
    ByteString_appendBytes(bytes.get(), image.data(), static_cast<int32_t>(image.size()));

    const auto started = std::chrono::steady_clock::now();
    const double cpuStarted = threadCpuSeconds();
    const int ok = Tool_writeImage(link.get(), bytes.get(), kBootRecordData, 1, 0, 0, 0, 0, 0);
    const double cpu = threadCpuSeconds() - cpuStarted;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::vector<uint8_t> stored = tool.program(RawTarget::Firmware);
    const bool intact = ok == 1 && stored.size() >= program.size() &&
                        std::equal(program.begin(), program.end(), stored.begin());
    ToolLink_close(link.get());
    tool.stop();
    std::filesystem::remove_all(folder);

    const double rate = static_cast<double>(kImageData) / elapsed;
    std::printf("bench_link_write: 1 MB raw image, %zu records of %d bytes, paced virtual tool\n",
                image.size() / (kBootRecordData + kRawHeaderSize), kBootRecordData);
    std::printf("  elapsed %.2f s, effective rate %.0f bytes/s = %.3f of 25,600 bytes/s\n", elapsed,
                rate, rate / kLineBytesPerSecond);
    std::printf("  writing side CPU time %.3f s (%.2f%% of the elapsed time)\n", cpu,
                100.0 * cpu / elapsed);
    if (!intact) {
        std::fprintf(stderr, "bench_link_write: the tool does not hold the image written\n");
        return 1;
    }
    return 0;
}
