// The window in the user's session on a virtual display, then the package's removal: nothing
// of it left, and the user's access to a plugged tool gone with it.
#include <filesystem>

#include "system/system_cases.h"

// At start the window asks the server whether the updater is current; Find Device (clicked
// where it is drawn, the window at the screen's corner without a window manager) then finds
// the tool and asks the server about it.
void WindowFindDevice::TestBody() {
    const auto start = std::chrono::steady_clock::now();
    // The demo tool on a state file of its own, under another USB serial, which no cut run
    // has marked unfinished.
    PluggedTool tool =
        SystemGuest_plug(guest(), {}, guest().work + "/window-tool.json", "KTX2-0002");
    const int before = BenchServer_requestCount(guest().server);
    const std::string requests = guest().server.requests, b = std::to_string(before);
    const CommandRun window =
        UserSession_run(guest(),
                        "xvfb-run -a -s '-screen 0 1024x768x24' bash -c '\n"
                        "  zarvik-updater >~/window.log 2>&1 &\n"
                        "  for i in $(seq 120); do [ $(wc -l <" +
                            requests + ") -gt " + b +
                            " ] && break; sleep 1; done\n"
                            "  sleep 5\n"
                            "  seen=$(wc -l <" +
                            requests +
                            ")\n"
                            "  xdotool mousemove " +
                            std::string(planted("miss-click") ? "600 700" : "91 335") +
                            " click 1\n"
                            "  for i in $(seq 120); do [ $(wc -l <" +
                            requests +
                            ") -gt $seen ] && break; sleep 1; done\n"
                            "  sleep 10\n"
                            "  window=$(xdotool search --onlyvisible --name Zarvik | head -1)\n"
                            "  xwd -silent ${window:+-id} ${window:--root} >~/window.xwd\n"
                            "  kill %1'",
                        300);
    const int asked = BenchServer_requestCount(guest().server) - before;
    const ToolReport report = SystemGuest_unplug(guest(), tool);
    std::error_code ec;
    std::filesystem::copy_file(guest().home + "/window.xwd", guest().out + "/window.xwd",
                               std::filesystem::copy_options::overwrite_existing, ec);
    const bool shot = std::filesystem::file_size(guest().out + "/window.xwd", ec) > 0 && !ec;
    row("5 zarvik-updater under Xvfb: Find Device",
        "exit " + std::to_string(window.status) + ", " + std::to_string(report.frames) +
            " frames, " + std::to_string(asked) + " server requests" + (shot ? "" : ", no shot"),
        "frames, requests", shot && report.frames > 0 && asked > 1, Seconds_since(start));
}

void PurgeTakesItAllBack::TestBody() {
    const auto start = std::chrono::steady_clock::now();
    PluggedTool tool = SystemGuest_plug(guest());
    const std::vector<std::string> files =
        Text_lines(Command_run({"dpkg", "-L", "zarvik-updater"}, std::chrono::seconds(60)).out);
    const CommandRun purge =
        Command_run({"apt-get", "purge", "-y", "zarvik-updater"}, std::chrono::seconds(600),
                    {"DEBIAN_FRONTEND=noninteractive"});
    File_write(guest().out + "/apt-purge.log", purge.out);
    guest().installed = false;
    std::string left;
    for (const std::string& f : files) {
        std::error_code ec;
        if (std::filesystem::exists(f, ec) && !std::filesystem::is_directory(f, ec))
            left += f + " ";
    }
    if (planted("purge-leftover"))
        std::filesystem::create_directories("/usr/share/doc/zarvik-updater");
    if (std::filesystem::exists("/usr/share/doc/zarvik-updater"))
        left += "/usr/share/doc/zarvik-updater";
    row("6 apt purge zarvik-updater",
        "exit " + std::to_string(purge.status) + ", left: " + (left.empty() ? "none" : left),
        "exit 0, nothing left", purge.status == 0 && left.empty(), Seconds_since(start));
    if (planted("acl-kept")) Shell_run("setfacl -m u:" + guest().user + ":rw " + tool.node);
    const std::string purgedAcl = SystemGuest_userAcl(guest(), tool.node);
    row("  the user's access at purge",
        purgedAcl.empty() ? "no ACL for " + guest().user : purgedAcl, "none", purgedAcl.empty());

    // Planted: the package's rule left behind in /etc.
    if (planted("rule-left")) {
        Shell_run(
            "echo 'SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"04d8\", ATTRS{idProduct}==\"f32b\", "
            "TAG+=\"uaccess\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' "
            ">/etc/udev/rules.d/70-zarvik-ktx2.rules;"
            " udevadm control --reload");
    }
    Shell_run("udevadm trigger --subsystem-match=tty --action=change; udevadm settle -t 30");
    std::string ignore = SystemGuest_mmIgnore(tool.node);
    std::string acl = SystemGuest_userAcl(guest(), tool.node);
    // udev keeps a plugged device's tags (uaccess among them) until it is unplugged, and logind
    // gives the seat's user every device so tagged again at each of its events: the access the
    // removed rule gave ends with the device, not with the trigger. Shown, not judged.
    row("  after the next trigger",
        (ignore.empty() ? "no ID_MM_DEVICE_IGNORE" : ignore) + "; ACL now " +
            (acl.empty() ? "none" : acl),
        "no ID_MM_DEVICE_IGNORE", ignore.empty());
    SystemGuest_unplug(guest(), tool);
    tool = SystemGuest_plug(guest());
    ignore = SystemGuest_mmIgnore(tool.node);
    acl = SystemGuest_userAcl(guest(), tool.node);
    SystemGuest_unplug(guest(), tool);
    row("  plugged in again",
        (ignore.empty() ? "no ID_MM_DEVICE_IGNORE" : ignore) + ", " +
            (acl.empty() ? "no ACL for " + guest().user : acl),
        "neither", !tool.node.empty() && ignore.empty() && acl.empty());
}
