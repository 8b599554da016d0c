// Every pause and time-out of the system. The defaults are the real values; tests shorten
// them, production never does.
#pragma once

#include <chrono>

struct Timing {
    using ms = std::chrono::milliseconds;
    using us = std::chrono::microseconds;

    // Device link.
    us preWritePause{2000};       // before every frame is written
    us writeRetryPause{1000};     // before a failed write is tried again
    ms exchangeUnit{10};          // an exchange of time-out T waits at least T units
    ms lineQuiet{100};            // after a given-up reply: this much silence clears the line
    ms imageSettle{200};          // after the last block of an image, before the final check
    ms rebootWait{3000};          // after a reboot, before looking for the tool again
    ms reconnectWait{1000};       // between further looks for a rebooted tool
    ms rebootRetryWait{3000};     // a rebooted tool not back yet: the last wait for it
    ms bluetoothStartWait{1000};  // after the module update start, before its image
    ms stopPoll{50};              // how often a wait looks whether the run must stop

    // Several tools at once: between two tools' starts, and between the two interrupts that
    // stop a tool's process (one sent right after the other would arrive as one).
    ms batchStagger{2000};
    ms signalGap{200};

    // The system bus: a call not answered this long finds no login manager.
    ms busCallTimeout{3000};

    // Server client.
    ms connectTimeout{15000};   // to reach the server
    ms lowSpeedTime{30000};     // a transfer slower than lowSpeedLimit this long is dead
    ms uploadTurnWait{600000};  // another updater uploading a file of the same name
    long lowSpeedLimit{1};      // bytes per second
};
