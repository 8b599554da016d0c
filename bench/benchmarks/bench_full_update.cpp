// A complete update of a 1 MB firmware (both bootloaders, firmware, memory files, extra
// files) on the paced virtual tool with the real waits, against the time its bytes need
// on the line at 25,600 bytes/s.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "benchmarks/bench_release.h"
#include "core/byte_string.h"
#include "server/server_config.h"
#include "server/server_session.h"
#include "serversim/bench_server.h"
#include "toolsim/virtual_tool.h"
#include "workflows/app_delegate.h"

namespace {

constexpr double kLineBytesPerSecond = 25600.0;

// Only the end result matters here.
class QuietUi : public UpdaterUi {
  public:
    void setText(Line line, const std::string& text) override {
        if (line == Line::Msg) message = text;
    }
    void setColour(Line, Colour) override {}
    std::string messageText() override { return message; }
    void enableButton(Control) override {}
    void disableButton(Control) override {}
    void showControl(Control) override {}
    void hideControl(Control) override {}
    void setProgress(int) override {}
    int messageBox(const std::string&, const std::string&, int) override { return kSecondButton; }
    void messageBoxNew(const AlertMessage&) override {}
    void showOutOfDateSheet(const std::string&, const std::string&) override {}
    void showFirmwareChoices(const FirmwareChoices&) override {}
    void openAddress(const std::string&) override {}
    std::string message;
};

}  // namespace

int main() {
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "zarvik-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) return 1;
    const fs::path dir = folder;
    BenchServer server;
    std::string error;
    if (!BenchRelease_serve(dir, server, &error)) {
        std::fprintf(stderr, "bench_full_update: %s\n", error.c_str());
        return 1;
    }
    auto config = ServerConfig_resolve("127.0.0.1:" + std::to_string(server.httpPort()),
                                       ServerEnvironment{}, &error);
    ServerSessionPtr session(ServerSession_create());
    ServerSession_configure(session.get(), *config);

    const ToolState state = BenchRelease_tool();
    VirtualTool tool;
    ToolSimOptions toolOptions;
    toolOptions.pacing = true;
    LinkSettings link;  // the real timing
    link.port = (dir / "ktx2").string();
    if (!tool.start(state, link.port, toolOptions, &error)) {
        std::fprintf(stderr, "bench_full_update: %s\n", error.c_str());
        return 1;
    }

    QuietUi ui;
    AppDelegate delegate(ui, *session, link);
    delegate.portClicked();
    delegate.waitIdle();
    const auto started = std::chrono::steady_clock::now();
    delegate.programClicked();
    delegate.waitIdle();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    size_t bytes = 0;
    for (const auto& record : tool.records()) bytes += record.data.size() + kRawHeaderSize;
    const size_t frames = tool.frames().size();
    tool.stop();
    server.stop();
    fs::remove_all(dir);

    const double lineTime = static_cast<double>(bytes) / kLineBytesPerSecond;
    std::printf("bench_full_update: %s\n", ui.message.c_str());
    std::printf("  raw image bytes written: %zu (%zu frames in all)\n", bytes, frames);
    std::printf("  total time: %.1f s; the raw bytes alone need %.1f s at 25,600 bytes/s\n",
                elapsed, lineTime);
    std::printf("  overhead: %.1f s (reboot waits, frame pauses, erases, server)\n",
                elapsed - lineTime);
    return ui.message == "KTX2 Firmware Updated Successfully" ? 0 : 1;
}
