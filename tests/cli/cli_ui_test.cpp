// The command line's progress bar as a terminal shows it.
#include "cli/cli_ui.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// The last line a terminal shows for `bytes`: CR goes back to the start, ESC [ K clears the
// rest of the line, other bytes overwrite.
std::string shownLine(const std::string& bytes) {
    std::string line;
    size_t cursor = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            cursor = 0;
        } else if (bytes.compare(i, 3, "\033[K") == 0) {
            line.resize(cursor);
            i += 2;
        } else {
            line.resize(std::max(line.size(), cursor + 1));
            line[cursor++] = bytes[i];
        }
    }
    return line;
}

TEST(CliUiProgress, AShorterBarLeavesNothingOfTheLineBefore) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    FILE* terminal = std::fopen(ptsname(master), "w");
    ASSERT_NE(terminal, nullptr);
    CliUi::Settings settings;
    settings.err = terminal;
    CliUi ui(settings);
    ui.setProgress(-1);
    ui.setTimeRemaining(125);
    ui.setProgress(50);
    ui.setTimeRemaining(-1);
    ui.setProgress(0);
    std::string bytes;
    char buffer[512];
    pollfd ready{master, POLLIN, 0};
    while (poll(&ready, 1, 200) > 0) {
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(shownLine(bytes), "[" + std::string(40, '.') + "]   0%");
    ui.finishProgress();
    std::fclose(terminal);
    close(master);
}

TEST(CliUiProgress, JsonProgressCarriesTheTimeRemainingWhileThereIsOne) {
    char* bytes = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&bytes, &size);
    CliUi::Settings settings;
    settings.json = true;
    settings.out = out;
    {
        CliUi ui(settings);
        ui.setProgress(10);
        ui.setTimeRemaining(125);
        ui.setProgress(20);
        ui.setTimeRemaining(-1);
        ui.setProgress(-1);
    }
    std::fclose(out);
    EXPECT_EQ(std::string(bytes, size),
              "{\"event\":\"progress\",\"value\":10}\n"
              "{\"event\":\"progress\",\"remainingSeconds\":125,\"value\":20}\n"
              "{\"event\":\"progress\",\"value\":-1}\n");
    free(bytes);
}

}  // namespace
