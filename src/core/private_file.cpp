#include "core/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int PrivateFile_openAppend(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat st {};
    // Only the owner may narrow it; another's file is written as it is.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0) {
        ::fchmod(fd, st.st_mode & 0700);
    }
    return fd;
}
