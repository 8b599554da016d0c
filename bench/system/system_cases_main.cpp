// zarvik-system-cases PROJECT: the cases on the installed system, run as root by
// zarvik-check.service in the guest (see boot_guest.sh). Hands the desktop user his agent,
// starts the bench server on the guest's loopback, prints one row per thing a case shows and
// leaves the table in /run/zarvik-out/table.
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <thread>
#include <type_traits>

#include "system/system_cases.h"

namespace {

using namespace std::chrono_literals;

// The user's agent started by his login shell, once it says it is ready; false after 120 s.
bool startAgent(const SystemGuest& guest) {
    std::filesystem::create_directories(guest.check + "/requests");
    std::filesystem::create_directories(guest.check + "/done");
    Shell_run("chown " + guest.user + ": " + guest.check + "/requests " + guest.check + "/done");
    Shell_run("install -m 0644 " + guest.project + "/bench/system/user_agent.sh " + guest.check +
              "/agent");
    for (int i = 0; i < 600; ++i) {
        if (std::filesystem::exists(guest.check + "/done/ready")) return true;
        std::this_thread::sleep_for(200ms);
    }
    return false;
}

int finish(const SystemGuest& guest, int status) {
    Shell_run("journalctl -b --no-pager -o short-monotonic >" + guest.out +
              "/journal-monotonic.log 2>&1");
    Shell_run("cp -r " + guest.home + "/update.trace " + guest.home + "/refused.trace " +
              guest.home + "/window.log " + guest.out + "/ 2>/dev/null");
    return status;
}

// A case registered under its fixture's name, as TEST_F would.
template <typename Fixture, typename Case>
void registerCase(const char* name) {
    const char* suite = std::is_same_v<Fixture, SystemCase> ? "SystemCase" : "InstalledCase";
    ::testing::RegisterTest(suite, name, nullptr, nullptr, __FILE__, __LINE__,
                            []() -> Fixture* { return new Case; });
}

}  // namespace

void SystemCases_register() {
    registerCase<SystemCase, DesktopUserOnSeat0>("DesktopUserOnSeat0");
    registerCase<SystemCase, InstallWithTheToolPlugged>("InstallWithTheToolPlugged");
    registerCase<InstalledCase, CablePulledMidFirmware>("CablePulledMidFirmware");
    registerCase<InstalledCase, OutsideASession>("OutsideASession");
    registerCase<InstalledCase, ModemManagerWithTheRule>("ModemManagerWithTheRule");
    registerCase<InstalledCase, ModemManagerStrictWithoutTheRulesPart>(
        "ModemManagerStrictWithoutTheRulesPart");
    registerCase<InstalledCase, ModemManagerToldToProbe>("ModemManagerToldToProbe");
    registerCase<InstalledCase, WindowFindDevice>("WindowFindDevice");
    registerCase<InstalledCase, PurgeTakesItAllBack>("PurgeTakesItAllBack");
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: zarvik-system-cases PROJECT [PACKAGE_FOLDER]\n");
        return 2;
    }
    SystemCases_register();
    SystemGuest& guest = systemGuest();
    guest.project = argv[1];
    guest.bin = guest.project + "/build/package/bench";
    guest.debs = argc > 2 ? argv[2] : guest.project + "/build/package";
    guest.table = {guest.out + "/table", {42, 64, 30}};
    std::filesystem::create_directories(guest.work);
    std::filesystem::permissions(guest.work, std::filesystem::perms(0755));
    const bool agent = startAgent(guest);
    File_write(guest.out + "/figures", "boot " + Shell_line("cut -d' ' -f1 /proc/uptime") + "\n");
    utsname system{};
    ::uname(&system);
    std::printf("== The installed system: Debian %s, %s, %ld CPUs\n",
                Shell_line("cat /etc/debian_version").c_str(), system.release,
                ::sysconf(_SC_NPROCESSORS_ONLN));
    CaseTable_header(guest.table);
    if (!agent) {
        CaseTable_row(guest.table, "desktop user logged in on seat0", "no session after 120 s",
                      "active session", false, -1);
        std::printf("%s",
                    Shell_run("loginctl list-sessions; ps -eo pid,user,tty,stat,args").out.c_str());
        return finish(guest, 1);
    }
    Shell_run("mmcli -G DEBUG");  // ModemManager's reasons in the journal
    Shell_run(
        "modprobe dummy_hcd; modprobe libcomposite; modprobe usb_f_acm; "
        "mountpoint -q /sys/kernel/config || mount -t configfs configfs /sys/kernel/config");
    std::string why;
    if (!BenchServer_start(guest.server, guest.bin, guest.work, guest.timing, &why)) {
        std::fprintf(stderr, "system-check: %s\n", why.c_str());
        File_write(guest.out + "/failure", why + "\n");
        return finish(guest, 1);
    }
    std::filesystem::copy_file(guest.work + "/demo-tool.json", guest.work + "/window-tool.json",
                               std::filesystem::copy_options::overwrite_existing);
    Shell_run("chmod -R a+rX " + guest.work);
    // Faults to plant, from the host (ZARVIK_SYSTEM_PLANTS), to see rows fail.
    guest.selection = CaseSelection_parse({});
    for (const std::string& plant : Text_lines(File_read(guest.out + "/plants"))) {
        if (!plant.empty()) guest.selection.plants.push_back(plant);
    }
    const int status =
        CaseProgram_run(argc - 1, argv + 1, guest.selection, {}, guest.out + "/failure");
    BenchServer_stop(guest.server);
    std::printf("== %d missed\n", guest.table.misses);
    return finish(guest, status);
}
