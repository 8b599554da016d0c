#include "server/upload_turn.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/stop_request.h"

struct UploadTurn {
    int fd = -1;
};

void UploadTurnDeleter::operator()(UploadTurn* turn) const {
    if (turn->fd >= 0) ::close(turn->fd);
    delete turn;
}

std::string UploadTurn_directory(const char* runtimeDirectory, unsigned uid) {
    if (runtimeDirectory != nullptr && runtimeDirectory[0] == '/') {
        return std::string(runtimeDirectory) + "/zarvik-updater";
    }
    return "/tmp/zarvik-updater-" + std::to_string(uid);
}

namespace {

bool fail(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
    return false;
}

// The folder is this user's alone: in /tmp another user could otherwise plant a link or
// hold the turns.
bool usableDirectory(const std::string& directory, std::string* error) {
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        return fail(error, "the folder " + directory + " cannot be made: " + std::strerror(errno));
    }
    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0) {
        return fail(error, "the folder " + directory + " cannot be read: " + std::strerror(errno));
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        return fail(error, "the folder " + directory + " is not a private folder of this user's");
    }
    return true;
}

// One file per server and file name; anything but letters, digits, '.' and '-' would be
// read as a path.
std::string turnFile(const std::string& host, const std::string& fileName) {
    std::string name = "upload-" + host + "-" + fileName;
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (!plain) c = '_';
    }
    return name + ".lock";
}

}  // namespace

UploadTurnPtr UploadTurn_take(const std::string& directory, const std::string& host,
                              const std::string& fileName, const UploadTurnWait& wait,
                              std::string* error) {
    if (directory.empty()) return UploadTurnPtr(new UploadTurn);
    const std::string reason = "The turn to upload " + fileName + " could not be had: ";
    std::string why;
    if (!usableDirectory(directory, &why)) {
        fail(error, reason + why);
        return nullptr;
    }
    const std::string path = directory + "/" + turnFile(host, fileName);
    UploadTurnPtr turn(new UploadTurn);
    turn->fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (turn->fd < 0) {
        fail(error, reason + path + ": " + std::strerror(errno));
        return nullptr;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait.limit;
    bool told = false;
    while (::flock(turn->fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            fail(error, reason + path + ": " + std::strerror(errno));
            return nullptr;
        }
        if (!told && wait.waiting) wait.waiting();
        told = true;
        if (std::chrono::steady_clock::now() >= deadline) {
            fail(error, reason +
                            "another updater has been uploading a file of that name "
                            "for too long");
            return nullptr;
        }
        if (StopRequest_sleep(wait.stop, wait.poll, wait.poll) == 0) {
            fail(error, reason + "the run was stopped while it waited");
            return nullptr;
        }
    }
    return turn;
}
