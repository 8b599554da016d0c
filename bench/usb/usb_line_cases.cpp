// The line's own troubles on the real USB stack: a tool that comes back or leaves late, a node
// the user gets late, another device on the tool's freed number, a tool that stops reading, a
// reply that comes after the updater gave up on it, a port held by another program, a tool no
// driver took, and the line's figures at the tool's real speed.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>

#include "guest/usb_nodes.h"
#include "toolsim/usb_gadget.h"
#include "usb/usb_guest.h"

namespace {

using namespace std::chrono_literals;

// The bytes per second of a trace's raw record exchanges (392 bytes out, "O" back), from the
// trace's times; -1 when it holds none.
double rawRate(const std::string& trace) {
    static const std::regex stamp(R"(^\s*([0-9.]+) )");
    double sentAt = -1, total = 0;
    int exchanges = 0;
    for (const std::string& line : Text_lines(File_read(trace))) {
        std::smatch m;
        if (!std::regex_search(line, m, stamp)) continue;
        const double at = std::stod(m[1]);
        if (Text_holds(line, " > ") && Text_holds(line, "raw")) {
            sentAt = at;
        } else if (Text_holds(line, " < ") && sentAt >= 0) {
            total += at - sentAt;
            ++exchanges;
            sentAt = -1;
        }
    }
    return exchanges > 0 && total > 0 ? exchanges * 392 / total : -1;
}

}  // namespace

struct LateCase {
    const char* id;
    const char* name;
    int expected;
    std::vector<std::string> toolOptions;
};

class LateTool : public UsbCase, public ::testing::WithParamInterface<LateCase> {};

TEST_P(LateTool, Update) {
    const LateCase& c = GetParam();
    // Planted: each tool back past the wait (or on the bus long after the reboot) where it
    // should make it, and back in time where it should not.
    std::vector<std::string> options = c.toolOptions;
    if (planted("later")) {
        options.back() = c.expected != 0 ? "3000"
                         : options.front() == "--leave-late"
                             ? "30000"
                             : std::to_string(std::stoi(options.back()) + 4000);
    }
    PluggedTool tool = UsbGuest_plug(guest(), options);
    const CommandRun run = UsbGuest_cli(guest(), {"--yes", "program", "--firmware", "900"});
    PluggedTool_unplug(tool, guest().timing);
    const bool succeeded = Text_holds(run.out, "Updated Successfully");
    row(c.name, CommandRun_summary(run), "exit " + std::to_string(c.expected),
        run.status == c.expected && succeeded == (c.expected == 0), run.seconds);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Returns, LateTool, ::testing::Values(
    LateCase{"back_3_5_s", "back after 3.5 s", 0, {"--reboot-delay", "3500"}},
    LateCase{"back_5_5_s", "back after 5.5 s", 0, {"--reboot-delay", "5500"}},
    LateCase{"back_7_s", "back after 7 s (past the wait)", 1, {"--reboot-delay", "7000"}},
    LateCase{"leaves_3_5_s_late", "on the bus until 3.5 s after the reboot", 0, {"--leave-late", "3500"}}),
    [](const ::testing::TestParamInfo<LateCase>& param) { return std::string(param.param.id); });
// clang-format on

// udev's part, done by hand: devtmpfs makes each new node root's alone (0600), and the user
// is given it this long later.
class LateGrant {
  public:
    explicit LateGrant(std::chrono::milliseconds delay)
        : thread_([this, delay] { grant(delay); }) {}
    ~LateGrant() {
        stop_ = true;
        thread_.join();
    }

  private:
    void grant(std::chrono::milliseconds delay) {
        std::map<ino_t, std::chrono::steady_clock::time_point> due;
        while (!stop_) {
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
                struct stat s {};
                const std::string node = entry.path().string();
                if (!node.starts_with("/dev/ttyACM") || ::stat(node.c_str(), &s) != 0) continue;
                if ((s.st_mode & 0777) == 0600 && !due.contains(s.st_ino)) {
                    due[s.st_ino] = std::chrono::steady_clock::now() + delay;
                }
                const auto when = due.find(s.st_ino);
                if (when != due.end() && std::chrono::steady_clock::now() >= when->second) {
                    ::chmod(node.c_str(), 0666);
                }
            }
            std::this_thread::sleep_for(50ms);
        }
    }
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(UsbCase, NodeGivenToTheUserLate) {
    // The user's own copy: a project in a folder of root's alone is out of the user's reach.
    const std::string home = "/tmp/user-home";
    std::filesystem::create_directories(home);
    std::filesystem::copy_file(guest().cli, home + "/zarvik-cli",
                               std::filesystem::copy_options::overwrite_existing);
    Shell_run("chown -R 65534:65534 " + home);
    const std::string rootCli = guest().cli;
    // Planted: the node never given to the user.
    LateGrant granter(planted("never-granted") ? 3600s : 800ms);
    PluggedTool tool = UsbGuest_plug(guest(), {"--reboot-delay", "2500"});
    // Started as a user would: once the plugged-in tool is theirs.
    struct stat s {};
    for (int i = 0; i < 50 && (::stat(tool.node.c_str(), &s) != 0 || (s.st_mode & 0777) != 0666);
         ++i) {
        std::this_thread::sleep_for(100ms);
    }
    guest().cli = home + "/zarvik-cli";
    const CommandRun run = UsbGuest_cli(
        guest(), {"--yes", "program", "--firmware", "900"}, 300,
        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "env", "HOME=" + home});
    guest().cli = rootCli;
    const ToolReport report = PluggedTool_unplug(tool, guest().timing);
    row("node given to the user 0.8 s late (not root)", CommandRun_summary(run), "exit 0, success",
        run.status == 0 && Text_holds(run.out, "Updated Successfully") && report.status == 0,
        run.seconds);
}

// What another USB serial device heard: whether it came on the bus, under which node, whether
// its terminal was open, and the bytes that reached it.
struct OtherDevice {
    bool bound = false;
    std::string node;
    bool listening = false;
    std::chrono::steady_clock::time_point listeningFrom;
    long bytes = 0;
    std::string why;
};

// Another USB serial device enumerates while the tool is away for longer than the updater
// waits: plugged in 3.5 s after the tool left for its first reboot, between the updater's first
// look and its last, it listens while the updater looks. The updater must not talk to it, and
// gives up. The tool's number stays reserved while the updater holds its old connection, so
// the other device gets it only from an updater that let that connection go to open the old
// path (the fault this case exists for).
TEST_F(UsbCase, OtherDeviceWhileTheToolIsAway) {
    UsbGadget other;
    OtherDevice heard;
    std::string why;
    UsbGadgetIdentity identity{"other",       "dummy_udc.2",        0x1A86, 0x7523, "OTHER-1",
                               "Other maker", "USB serial adapter", 1};
    ASSERT_TRUE(other.create(identity, &why)) << why;
    PluggedTool tool = UsbGuest_plug(guest(), {"--reboot-delay", "9000"});
    const std::string freed = tool.node;
    std::atomic<bool> done{false};
    std::thread listener([&] {
        if (!UsbNodes_waitGone(kToolSerial, 60s)) return;
        std::this_thread::sleep_for(3500ms);
        heard.bound = other.bind(&heard.why);
        heard.node = UsbNodes_wait("OTHER-1", guest().timing.enumeration);
        // Planted: a device whose terminal nobody reads.
        if (planted("deaf")) return;
        const int fd = ::open(other.terminals().front().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios line{};
        if (fd < 0 || ::tcgetattr(fd, &line) != 0) return;
        ::cfmakeraw(&line);
        ::tcsetattr(fd, TCSANOW, &line);
        heard.listening = true;
        heard.listeningFrom = std::chrono::steady_clock::now();
        while (!done) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) heard.bytes += n;
        }
        ::close(fd);
    });
    const std::string trace = guest().work + "/other.trace";
    const CommandRun run =
        UsbGuest_cli(guest(), {"--yes", "--trace-link", trace, "program", "--firmware", "900"});
    const auto ended = std::chrono::steady_clock::now();
    done = true;
    listener.join();
    const double overlap =
        heard.listening ? std::chrono::duration<double>(ended - heard.listeningFrom).count() : 0;
    PluggedTool_unplug(tool, guest().timing);
    other.remove();
    row("other device while the tool is away",
        "exit " + std::to_string(run.status) + "; other on " +
            (heard.node.empty() ? "no node" : heard.node) + " (tool's " + freed + "), " +
            (heard.listening ? "listened " + std::to_string(static_cast<int>(overlap)) + " s"
                             : "deaf") +
            ", heard " + std::to_string(heard.bytes) + " bytes",
        "exit 1; listened while it looked, 0 bytes",
        run.status == 1 && heard.bound && !heard.node.empty() && heard.listening && overlap > 0.5 &&
            heard.bytes == 0,
        run.seconds);
}

TEST_F(UsbCase, StopsReadingMidImage) {
    // Planted: a tool that keeps reading.
    PluggedTool tool =
        UsbGuest_plug(guest(), planted("keeps-reading")
                                   ? std::vector<std::string>{}
                                   : std::vector<std::string>{"--stop-reading-at", "firmware:200"});
    const CommandRun run = UsbGuest_cli(guest(), {"--yes", "program", "--firmware", "900"});
    PluggedTool_unplug(tool, guest().timing);
    row("tool stops reading mid-image", CommandRun_summary(run), "exit 1, no 30 s close",
        run.status == 1 && run.seconds < 40, run.seconds);
}

// A late reply to a given-up exchange, sent while the updater has the port closed, then Find
// Device again: the stale bytes are not taken for the next reply.
TEST_F(UsbCase, LateReplyThenFindAgain) {
    if (guest().cleanFind.empty()) {
        PluggedTool clean = UsbGuest_plug(guest());
        guest().cleanFind = UsbGuest_cli(guest(), {"find"}, 60).out;
        PluggedTool_unplug(clean, guest().timing);
    }
    // Planted: identity reads answered with other bytes, as a stale reply taken for the
    // answer would be.
    PluggedTool tool = UsbGuest_plug(
        guest(), planted("stale") ? std::vector<std::string>{"--hi", "3"}
                                  : std::vector<std::string>{"--late", "13", "--late-ms", "6000"});
    const CommandRun first = UsbGuest_cli(guest(), {"find"}, 60);
    std::this_thread::sleep_for(2s);
    const CommandRun again = UsbGuest_cli(guest(), {"find"}, 60);
    PluggedTool_unplug(tool, guest().timing);
    // The same identity as a clean find (notes of earlier runs in this guest aside).
    auto identity = [](const std::string& out) {
        static const std::regex line(R"(^(Name|Vehicle|Current Firmware) :|^  [0-9]+\. id )");
        std::string kept;
        for (const std::string& l : Text_lines(out)) {
            if (std::regex_search(l, line)) kept += l + "\n";
        }
        return kept;
    };
    const std::string seen = identity(again.out);
    row("late reply, then find again",
        "first exit " + std::to_string(first.status) + ", then exit " +
            std::to_string(again.status),
        "then exit 0, same identity",
        again.status == 0 && !seen.empty() && seen == identity(guest().cleanFind), again.seconds);
}

TEST_F(UsbCase, AnotherProgramHoldsTheNode) {
    PluggedTool tool = UsbGuest_plug(guest());
    // Planted: nobody holds it.
    const int held =
        planted("not-held") ? -2 : ::open(tool.node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const CommandRun run = UsbGuest_cli(guest(), {"find"}, 60);
    if (held >= 0) ::close(held);
    const ToolReport report = PluggedTool_unplug(tool, guest().timing);
    const std::regex busy("in use|busy|another program", std::regex::icase);
    row("another program holds the node", CommandRun_summary(run), "busy message, tool untouched",
        held != -1 && run.status != 0 && std::regex_search(run.out, busy) && report.frames == 0,
        run.seconds);
}

TEST_F(UsbCase, CdcAcmDidNotBind) {
    PluggedTool tool = UsbGuest_plug(guest());
    const std::string tty = std::filesystem::path(tool.node).filename();
    std::error_code ec;
    const std::string interface =
        std::filesystem::canonical("/sys/class/tty/" + tty + "/device", ec).filename();
    // Planted: the driver left bound.
    const bool unbound =
        (planted("bound") || File_write("/sys/bus/usb/drivers/cdc_acm/unbind", interface)) &&
        UsbNodes_waitGone(kToolSerial, 5s);
    const CommandRun run = UsbGuest_cli(guest(), {"find"}, 60);
    PluggedTool_unplug(tool, guest().timing);
    row("cdc_acm did not bind: guidance",
        std::string(unbound ? "" : "still bound; ") + Text_lastLine(run.out),
        "attached, driver did not take it",
        unbound && run.status != 0 && Text_holds(run.out, "driver") &&
            !Text_holds(run.out, "no USB device 04d8:f32b"),
        run.seconds);
}

// The same whole update with the line paced at 256000 bit/s, through cdc_acm and through a
// pseudo-terminal, in this guest and run.
TEST_F(UsbCase, FiguresPacedUpdate) {
    // Planted: the gadget's line not paced.
    PluggedTool tool =
        UsbGuest_plug(guest(), planted("unpaced") ? std::vector<std::string>{}
                                                  : std::vector<std::string>{"--pace"});
    const std::string usbTrace = guest().work + "/usb-paced.trace";
    const CommandRun usb = UsbGuest_cli(
        guest(), {"--yes", "--trace-link", usbTrace, "program", "--firmware", "900"}, 600);
    PluggedTool_unplug(tool, guest().timing);
    const std::string link = guest().work + "/ktx2-pty";
    const pid_t pty =
        Process_start({guest().build + "/bench/zarvik-toolsim", "--state",
                       guest().work + "/demo-tool.json", "--link", link, "--pace", "--extra-area",
                       std::to_string(40 * 65536), std::to_string(4 * 65536)},
                      guest().work + "/tool-pty.log");
    for (int i = 0; i < 100 && !std::filesystem::exists(link); ++i)
        std::this_thread::sleep_for(100ms);
    const std::string ptyTrace = guest().work + "/pty-paced.trace";
    // Planted: the pseudo-terminal's run pointed at a port where no tool is.
    const std::string port = planted("no-pty") ? link + "-none" : link;
    const CommandRun onPty = UsbGuest_cli(
        guest(),
        {"--yes", "--port", port, "--trace-link", ptyTrace, "program", "--firmware", "900"}, 600);
    Process_stop(pty);
    row("figures: paced update, USB | pty",
        "USB " + std::to_string(static_cast<int>(usb.seconds)) + " s, pty " +
            std::to_string(static_cast<int>(onPty.seconds)) + " s",
        "both exit 0", usb.status == 0 && onPty.status == 0, usb.seconds);
    // Paced, no exchange can beat the wire: a faster rate is a line the tool did not pace.
    const double usbRate = rawRate(usbTrace), ptyRate = rawRate(ptyTrace);
    auto paced = [](double rate) { return rate > 0 && rate <= 25600 * 1.02; };
    row("figures: raw record rate, USB | pty (B/s)",
        "USB " + std::to_string(static_cast<int>(usbRate)) + ", pty " +
            std::to_string(static_cast<int>(ptyRate)),
        "at most 25600, the wire's", paced(usbRate) && paced(ptyRate), -1);
}
