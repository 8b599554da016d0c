#include "link/serial_line.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

int SerialLine_configure(int descriptor, uint32_t bitsPerSecond) {
    struct termios2 line {};
    if (ioctl(descriptor, TCGETS2, &line) != 0) return -1;

    line.c_iflag = IGNBRK;  // no CR/LF translation, no flow control, no parity marks
    line.c_oflag = 0;
    line.c_lflag = 0;  // no echo, no canonical input, no signals
    // The input speed has bits of its own: left as they were, the line would receive at the
    // rate a previous program set. BOTHER there makes the driver take c_ispeed.
    line.c_cflag &= ~(CBAUD | CBAUDEX | CIBAUD | CSIZE | PARENB | CSTOPB | CRTSCTS);
    line.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | CS8 | CREAD | CLOCAL;
    line.c_ispeed = bitsPerSecond;
    line.c_ospeed = bitsPerSecond;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    if (ioctl(descriptor, TCSETS2, &line) != 0) return -1;

    // A driver may round an arbitrary rate to one it can make; the tool needs the exact one.
    struct termios2 check {};
    if (ioctl(descriptor, TCGETS2, &check) != 0) return -1;
    if (check.c_ospeed != bitsPerSecond) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}
