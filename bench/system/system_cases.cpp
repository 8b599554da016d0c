// The installed system's cases in one translation unit, so that they register, and so run, in
// the order the installed system goes through them: install, ModemManager, the window,
// removal. Across files that order is the toolchain's (Debian 13's ran the purge before the
// ModemManager cases). Blank lines keep the formatter from sorting them.
#include "install_cases.cpp"  // NOLINT(bugprone-suspicious-include)

#include "modem_cases.cpp"  // NOLINT(bugprone-suspicious-include)

#include "desktop_cases.cpp"  // NOLINT(bugprone-suspicious-include)
