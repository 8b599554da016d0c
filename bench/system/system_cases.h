// The installed system's cases, each a test of its own. main registers them in the order the
// system goes through them (install, ModemManager, the window, removal): the order in which a
// toolchain runs the files' static initialisers is not that order everywhere (Debian 13's ran
// the removal straight after the install).
#pragma once

#include "system/system_guest.h"

#define ZARVIK_SYSTEM_CASE(Fixture, Name) \
    struct Name : Fixture {               \
        void TestBody() override;         \
    }

ZARVIK_SYSTEM_CASE(SystemCase, DesktopUserOnSeat0);
ZARVIK_SYSTEM_CASE(SystemCase, InstallWithTheToolPlugged);
ZARVIK_SYSTEM_CASE(InstalledCase, CablePulledMidFirmware);
ZARVIK_SYSTEM_CASE(InstalledCase, OutsideASession);
ZARVIK_SYSTEM_CASE(InstalledCase, ModemManagerWithTheRule);
ZARVIK_SYSTEM_CASE(InstalledCase, ModemManagerStrictWithoutTheRulesPart);
ZARVIK_SYSTEM_CASE(InstalledCase, ModemManagerToldToProbe);
ZARVIK_SYSTEM_CASE(InstalledCase, WindowFindDevice);
ZARVIK_SYSTEM_CASE(InstalledCase, PurgeTakesItAllBack);

// Registers every case above, in that order, under its fixture's name.
void SystemCases_register();
