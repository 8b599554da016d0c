// Uploads of one file name take turns across updaters: in one process and across processes,
// however the holder ends, and never through a folder another user could have set up.
#include "server/upload_turn.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/stop_request.h"

namespace {

namespace fs = std::filesystem;
using ms = std::chrono::milliseconds;

class UploadTurnTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zarvik-turn-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        dir = (root / "turns").string();
    }
    void TearDown() override { fs::remove_all(root); }

    // A wait that gives up at once, noting whether it had to wait at all.
    UploadTurnPtr take(const std::string& host, const std::string& name, int* waited = nullptr,
                       std::string* error = nullptr, ms limit = ms(0)) {
        UploadTurnWait wait{limit, ms(10), &stop, [waited] {
                                if (waited != nullptr) ++*waited;
                            }};
        return UploadTurn_take(dir, host, name, wait, error);
    }

    fs::path root;
    std::string dir;
    StopRequest stop;
};

struct Contender {
    const char* name;
    const char* host;
    const char* file;
    bool waits;
};

class Contenders : public UploadTurnTest, public ::testing::WithParamInterface<Contender> {};

TEST_P(Contenders, WaitOnlyForTheSameFileOfTheSameServer) {
    const Contender& c = GetParam();
    UploadTurnPtr held = take("ftp.test:21/", "77.pak");
    ASSERT_TRUE(held);
    int waited = 0;
    std::string error;
    UploadTurnPtr second = take(c.host, c.file, &waited, &error);
    EXPECT_EQ(second == nullptr, c.waits) << error;
    EXPECT_EQ(waited, c.waits ? 1 : 0);
    if (c.waits) {
        EXPECT_NE(error.find("another updater has been uploading a file of that name"),
                  std::string::npos)
            << error;
        held.reset();
        EXPECT_TRUE(take(c.host, c.file));
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Turns, Contenders, ::testing::Values(
    Contender{"SameFile", "ftp.test:21/", "77.pak", true},
    Contender{"OtherFile", "ftp.test:21/", "78.pak", false},
    Contender{"OtherServer", "ftp.test:2121/", "77.pak", false},
    // Not a path: the name stays one file in the folder.
    Contender{"NameWithSlashes", "ftp.test:21/", "../77.pak", false}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

TEST_F(UploadTurnTest, TheTurnPassesWhenItsHolderIsKilled) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        UploadTurnPtr turn = take("ftp.test:21/", "77.pak");
        char c = turn ? 'y' : 'n';
        (void)!write(ready[1], &c, 1);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    int waited = 0;
    std::string error;
    EXPECT_FALSE(take("ftp.test:21/", "77.pak", &waited, &error));
    EXPECT_EQ(waited, 1);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(take("ftp.test:21/", "77.pak", nullptr, &error, ms(5000))) << error;
    close(ready[0]);
    close(ready[1]);
}

TEST_F(UploadTurnTest, AStopEndsTheWait) {
    UploadTurnPtr held = take("ftp.test:21/", "77.pak");
    ASSERT_TRUE(held);
    stop.requested = true;
    std::string error;
    EXPECT_FALSE(take("ftp.test:21/", "77.pak", nullptr, &error, ms(60000)));
    EXPECT_NE(error.find("the run was stopped while it waited"), std::string::npos) << error;
}

// A folder another user could have made, or a link to one, is not used.
enum class Folder { link, open, file };

class UnusableFolder : public UploadTurnTest, public ::testing::WithParamInterface<Folder> {};

TEST_P(UnusableFolder, GivesNoTurnAndSaysWhy) {
    fs::create_directories(root / "elsewhere");
    switch (GetParam()) {
        case Folder::link:
            fs::create_directory_symlink(root / "elsewhere", dir);
            break;
        case Folder::open:
            fs::create_directory(dir);
            chmod(dir.c_str(), 0777);
            break;
        case Folder::file:
            std::ofstream(dir).put('x');
            break;
    }
    std::string error;
    EXPECT_FALSE(take("ftp.test:21/", "77.pak", nullptr, &error));
    EXPECT_NE(error.find("The turn to upload 77.pak could not be had: the folder " + dir),
              std::string::npos)
        << error;
    EXPECT_TRUE(fs::is_empty(root / "elsewhere"));
}

INSTANTIATE_TEST_SUITE_P(Folders, UnusableFolder,
                         ::testing::Values(Folder::link, Folder::open, Folder::file));

TEST(UploadTurnDirectory, IsTheUsersRuntimeFolderOrAPrivateOneInTmp) {
    EXPECT_EQ(UploadTurn_directory("/run/user/1000", 1000), "/run/user/1000/zarvik-updater");
    EXPECT_EQ(UploadTurn_directory(nullptr, 1000), "/tmp/zarvik-updater-1000");
    EXPECT_EQ(UploadTurn_directory("relative", 1000), "/tmp/zarvik-updater-1000");
}

}  // namespace
