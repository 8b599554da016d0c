// Holds off suspend, shutdown, idle and the lid switch while a run writes to the tool:
// logind's inhibitor locks, taken over the system bus (DBUS_SYSTEM_BUS_ADDRESS when set).
// Each lock is a descriptor that logind watches; closing it lets the lock go.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

struct SleepInhibitor {
    std::vector<int> descriptors;  // one per lock that logind granted
};

// The locks, as many as logind grants; never null. `note` gets a sentence when logind did
// not answer or refused a lock, else "". `timeout` bounds each call on the bus.
SleepInhibitor* SleepInhibitor_take(std::chrono::milliseconds timeout, std::string* note);
// Closes the descriptors, releasing the locks.
void SleepInhibitor_release(SleepInhibitor* inhibitor);

struct SleepInhibitorDeleter {
    void operator()(SleepInhibitor* inhibitor) const { SleepInhibitor_release(inhibitor); }
};
using SleepInhibitorPtr = std::unique_ptr<SleepInhibitor, SleepInhibitorDeleter>;
