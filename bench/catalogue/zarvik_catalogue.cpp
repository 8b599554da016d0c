// zarvik-catalogue OUTDIR: writes the bench's demonstration catalogue (releases, user
// files, Bluetooth module files, records.json) and the demo tool's state file.
#include <cstdio>
#include <filesystem>

#include "catalogue/catalogue_builder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zarvik-catalogue OUTDIR\n");
        return 2;
    }
    std::filesystem::path out = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(out / "catalogue", ec);
    std::string error;
    if (!catalogue::writeDemoCatalogue(out / "catalogue", out, &error)) {
        std::fprintf(stderr, "zarvik-catalogue: %s\n", error.c_str());
        return 1;
    }
    std::printf("catalogue in %s, records and tool state in %s\n", (out / "catalogue").c_str(),
                out.c_str());
    return 0;
}
