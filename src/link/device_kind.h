// What kind of character device a node is, by its device number.
#pragma once

#include <sys/sysmacros.h>
#include <sys/types.h>

// Unix98 pseudo-terminal slaves have majors 136 to 143: the bench's lines, never a USB tool,
// and nothing a modem prober opens.
inline bool DeviceKind_isPseudoTerminal(dev_t device) {
    const unsigned int kind = major(device);
    return kind >= 136 && kind <= 143;
}
