// The package installed by apt with the tool already plugged in, the user's whole update in
// his own session, and logind's locks held while it runs: given, refused, and let go.
#include <sys/stat.h>

#include <pwd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>

#include "system/system_cases.h"

namespace {

// The whats and the mode of the lock lines seen, each once.
std::string lockWords(const std::string& seen) {
    static const std::regex word(R"([a-z:-]*idle|handle-lid-switch|delay|block)");
    std::vector<std::string> words;
    for (auto m = std::sregex_iterator(seen.begin(), seen.end(), word); m != std::sregex_iterator();
         ++m) {
        if (std::ranges::find(words, m->str()) == words.end()) words.push_back(m->str());
    }
    std::ranges::sort(words);
    std::string text;
    for (const std::string& w : words) text += w + " ";
    return text;
}

}  // namespace

void DesktopUserOnSeat0::TestBody() {
    if (planted("dialout")) Shell_run("usermod -aG dialout " + guest().user);
    const std::string session = File_read(guest().check + "/done/session");
    const std::string groups = Shell_line("id -nG " + guest().user);
    row("desktop user logged in on seat0",
        Shell_line("sed -n 's/^\\(Seat\\|Active\\|Class\\)=//p' " + guest().check +
                   "/done/session | tr '\\n' ' '") +
            "groups: " + groups,
        "seat0 yes user, no dialout",
        Text_holds(session, "Seat=seat0") && Text_holds(session, "Active=yes") &&
            !Text_holds(groups, "dialout"));
}

void InstallWithTheToolPlugged::TestBody() {
    // The virtual tool needs no more than the C++ runtime: it is plugged in before the package
    // is installed, and stays for the update. What ModemManager sends it meanwhile is counted.
    const ModemLog mark = ModemLog_mark();
    PluggedTool tool = SystemGuest_plug(
        guest(), planted("refuse-update") ? std::vector<std::string>{"--refuse-at", "firmware:3"}
                                          : std::vector<std::string>{});
    if (planted("open-node")) Shell_run("chmod 0666 " + tool.node);
    struct stat s {};
    ::stat(tool.node.c_str(), &s);
    const passwd* owner = ::getpwuid(s.st_uid);
    const CommandRun before =
        UserSession_run(guest(), "exec 3<>" + tool.node + " && echo opened", 20);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%o", s.st_mode & 0777);
    row("before install: the plugged tool's node",
        tool.node + " " + (owner ? owner->pw_name : "?") + " " + mode + ", the user's open: exit " +
            std::to_string(before.status),
        "root's, user refused", !tool.node.empty() && s.st_uid == 0 && before.status != 0,
        before.seconds);

    const std::string deb = Shell_line("ls " + guest().debs + "/zarvik-updater_*.deb");
    const std::string copy = guest().work + "/" + std::filesystem::path(deb).filename().string();
    std::filesystem::copy_file(deb, copy, std::filesystem::copy_options::overwrite_existing);
    const CommandRun apt =
        Command_run({"apt-get", "install", "-y", copy}, std::chrono::seconds(600),
                    {"DEBIAN_FRONTEND=noninteractive"});
    File_write(guest().out + "/apt-install.log", apt.out);
    Shell_run("udevadm settle -t 30");
    const std::string sqlite = "/usr/lib/x86_64-linux-gnu/libsqlite3.so.0";
    if (planted("lib-missing")) Shell_run("mv " + sqlite + " " + sqlite + ".away");
    const std::string missing =
        Shell_line("ldd /usr/bin/zarvik-cli /usr/bin/zarvik-updater 2>&1 | grep -c 'not found'");
    if (planted("lib-missing")) Shell_run("mv " + sqlite + ".away " + sqlite);
    if (planted("mm-part-gone")) {
        Shell_run("grep -v '^#' " + guest().rule +
                  " | sed 's/, ENV{ID_MM_DEVICE_IGNORE}=\"1\"//' "
                  ">/etc/udev/rules.d/70-zarvik-ktx2.rules; udevadm control --reload; "
                  "udevadm trigger --subsystem-match=tty --action=change; udevadm settle -t 30");
    }
    if (planted("no-acl")) Shell_run("setfacl -b " + tool.node);
    guest().installed = apt.status == 0;
    row("1 apt install ./" + std::filesystem::path(deb).filename().string(),
        "exit " + std::to_string(apt.status) + ", " + missing + " libs missing",
        "exit 0, 0 missing", apt.status == 0 && missing == "0", apt.seconds);
    if (!guest().installed) {
        SystemGuest_unplug(guest(), tool);
        GTEST_FAIL() << "apt install failed: " << Text_lastLine(apt.out);
    }

    const std::string acl = SystemGuest_userAcl(guest(), tool.node);
    row("  post-install: the plugged tool's ACL", tool.node + ": " + (acl.empty() ? "none" : acl),
        "user:" + guest().user + ":rw-", acl == "user:" + guest().user + ":rw-");
    const std::string ignore = SystemGuest_mmIgnore(tool.node);
    row("  udevadm info", ignore.empty() ? "no ID_MM_DEVICE_IGNORE" : ignore,
        "ID_MM_DEVICE_IGNORE=1", ignore == "ID_MM_DEVICE_IGNORE=1");
    const CommandRun open =
        UserSession_run(guest(), "exec 3<>" + tool.node + " && echo opened; id -nG", 20);
    row("  the user opens it, outside dialout", CommandRun_summary(open), "opened",
        open.status == 0 && Text_holds(open.out, "opened") && !Text_holds(open.out, "dialout"),
        open.seconds);
    // Planted: the user's access taken away, and given back once looked at.
    if (planted("no-acl")) Shell_run("setfacl -m u:" + guest().user + ":rw- " + tool.node);

    // The user's whole update on the tool plugged in before the install.
    InhibitorWatch locks;
    const std::string noBus =
        planted("no-bus") ? "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent " : "";
    const CommandRun update = UserSession_run(
        guest(), noBus + "zarvik-cli --yes --trace-link ~/update.trace program --firmware 900",
        900);
    // A lock left behind, as an updater that never let go would leave it.
    if (planted("lock-kept")) {
        Shell_run(
            "systemd-inhibit --what=sleep --who=zarvik-kept --why=planted --mode=block "
            "sleep 100000 >/dev/null 2>&1 & sleep 1");
    }
    const std::string seen = locks.seen();
    const ToolReport report = SystemGuest_unplug(guest(), tool);
    static const std::regex filtered(R"(ttyACM[0-9]*\) port filtered: [a-z -]*)");
    std::smatch why;
    const std::string log = ModemLog_read(mark);
    shown("  MM, the tool plugged in before install",
          std::to_string(report.strayBytes) + " stray bytes; MM: " +
              (std::regex_search(log, why, filtered) ? why.str() : "nothing logged"));
    row("2 zarvik-cli --yes program --firmware 900", CommandRun_summary(update),
        "exit 0, Updated Successfully",
        update.status == 0 && Text_holds(update.out, "Updated Successfully"), update.seconds);

    // Each file on its own: one file of the wrong mode among several is a miss.
    const std::string folder = guest().home + "/.local/state/zarvik-updater";
    if (planted("history-mode")) {
        Shell_run("install -o " + guest().user + " -m 0644 /dev/null " + folder + "/planted.jsonl");
    }
    std::string history;
    bool private_ = true;
    int files = 0;
    std::error_code ec;
    const passwd* desk = ::getpwnam(guest().user.c_str());
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec)) {
        if (!entry.is_regular_file()) continue;
        struct stat f {};
        ::stat(entry.path().c_str(), &f);
        char m[8];
        std::snprintf(m, sizeof m, "%o", f.st_mode & 0777);
        history += entry.path().filename().string() + " " + m + " ";
        private_ =
            private_ && (f.st_mode & 0777) == 0600 && desk != nullptr && f.st_uid == desk->pw_uid;
        ++files;
    }
    row("  history in ~/.local/state/zarvik-updater", history.empty() ? "none" : history,
        "each file 600, " + guest().user + "'s", files > 0 && private_);

    const std::string words = lockWords(seen), after = Inhibitors_now();
    row("3 logind's locks during the update", words.empty() ? "none seen" : words,
        "both whats, mode block",
        Text_holds(words, "shutdown") && Text_holds(words, "sleep") && Text_holds(words, "idle") &&
            Text_holds(words, "handle-lid-switch") && Text_holds(words, "block") &&
            !Text_holds(words, "delay"));
    row("  after success", after.empty() ? "none" : after, "none", after.empty());
}

void CablePulledMidFirmware::TestBody() {
    PluggedTool tool = SystemGuest_plug(guest(), {"--cut", "firmware:341"});
    int held = 0;
    CommandRun cut;
    {
        InhibitorWatch locks;
        cut = UserSession_run(guest(), "zarvik-cli --yes program --firmware 900", 600);
        held = locks.looksHeld();
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string after = Inhibitors_now();
    SystemGuest_unplug(guest(), tool);
    row("  cable pulled mid-firmware",
        "exit " + std::to_string(cut.status) + ", locks seen " + std::to_string(held) +
            " times, after: " + (after.empty() ? "none" : after),
        "exit 1, held, then none", cut.status != 0 && held > 0 && after.empty(), cut.seconds);
}

// The same user outside any login session (a cron job, a remote shell without a seat), where
// polkit grants an ordinary user no more than an idle lock and delay locks.
void OutsideASession::TestBody() {
    PluggedTool tool = SystemGuest_plug(guest(), {"--cut", "boot0:5"});
    std::string seen;
    CommandRun run;
    {
        InhibitorWatch locks;
        const std::string bus = planted("no-bus-outside")
                                    ? "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent"
                                    : "ZARVIK_PLANT=none";
        run = Command_run({"runuser", "-u", guest().user, "--", "env", "-i", "HOME=" + guest().home,
                           "PATH=/usr/bin:/bin", bus, "bash", "-c",
                           "set -a; . " + guest().work +
                               "/server.env; set +a; zarvik-cli --yes "
                               "--trace-link " +
                               guest().home + "/refused.trace program --firmware 900"},
                          std::chrono::seconds(600));
        seen = locks.seen();
    }
    SystemGuest_unplug(guest(), tool);
    static const std::regex granted(
        R"([a-z:-]*idle|sleep:shutdown|shutdown:sleep|handle-lid-switch|delay|block)");
    std::string words;
    for (auto m = std::sregex_iterator(seen.begin(), seen.end(), granted);
         m != std::sregex_iterator(); ++m) {
        if (!Text_holds(words, m->str() + " ")) words += m->str() + " ";
    }
    row("  outside a session: what is granted", words.empty() ? "nothing" : words,
        "idle block, sleep delay", Text_holds(words, "idle") && Text_holds(words, "delay"),
        run.seconds);
    const std::string note = Shell_line("grep -i 'login manager' " + guest().home +
                                        "/refused.trace | head -1 | sed 's/^[^A-Z]*//'");
    row("  outside a session: the trace", note.empty() ? "no note" : note, "the refusal named",
        Text_holds(note, "refused"));
}
