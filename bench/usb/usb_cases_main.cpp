// zarvik-usb-cases: the cases against the real USB stack, run inside the USB guest (see
// boot_guest.sh): the virtual tool is a USB gadget on dummy_hcd, the updater opens the
// /dev/ttyACMn that cdc_acm makes of it. Takes the build and the arguments the host left in
// /tmp/out, prints one row per thing a case shows and leaves the table in /tmp/out/table.
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "usb/usb_guest.h"

namespace {

std::string firstLine(const std::string& path) {
    const std::vector<std::string> lines = Text_lines(File_read(path));
    return lines.empty() ? "" : lines.front();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string out = "/tmp/out";
    UsbGuest& guest = usbGuest();
    guest.build = firstLine(out + "/build");
    guest.selection = CaseSelection_parse(Text_lines(File_read(out + "/args")));
    const CaseSelection& selection = guest.selection;
    guest.cli = selection.cli.empty() ? guest.build + "/src/cli/zarvik-cli" : selection.cli;
    guest.work = out + "/work";
    guest.table = {out + "/table", {46, 64, 40}};
    std::filesystem::create_directories(guest.work);
    std::filesystem::remove(guest.table.path);

    utsname system{};
    ::uname(&system);
    std::printf("== The real USB stack: %s, %ld CPUs\n", system.release,
                ::sysconf(_SC_NPROCESSORS_ONLN));
    std::string why;
    if (!BenchServer_start(guest.server, guest.build + "/bench", guest.work, guest.timing, &why)) {
        std::fprintf(stderr, "usb: %s\n", why.c_str());
        File_write(out + "/failure", why + "\n");
        return 1;
    }
    CaseTable_header(guest.table);
    const int status = CaseProgram_run(argc, argv, selection,
                                       {"UsbCase.PortsAndFind", "UsbCase.WholeUpdate",
                                        "Cuts/CablePull.ThenPowerFindProgram/firmware_341"},
                                       out + "/failure");
    BenchServer_stop(guest.server);
    std::printf("== %d missed\n", guest.table.misses);
    return status;
}
