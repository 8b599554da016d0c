// The window against the whole bench: a virtual tool, the bench server, and the window's
// own UI port with its boxes answered by the test.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/window_setup.h"
#include "support/bench_rig.h"

class WindowTest : public ::testing::Test {
  protected:
    void TearDown() override;

    // Starts the bench with a tool running 900 (2.18.04 build 1) and a record offering
    // `firmwareList` (901 is 2.20.01, with its package), then opens the window.
    void startBench(const std::string& firmwareList);
    // A new window whose link looks for the tool as `link` says, its boxes answered as before.
    void openWindow(const LinkSettings& link);
    // Keeps the main thread serving the window until no workflow runs.
    bool waitIdle(int seconds = 60);
    // Keeps the main thread serving the window until `done` holds.
    bool waitFor(const std::function<bool()>& done, int seconds = 30);
    // Find Device to its end.
    bool identify();

    MainWindow& window() { return *setup->window; }
    AppDelegate& delegate() { return *setup->delegate; }
    std::string text(Line line);
    bool enabled(Control control);
    bool hidden(Control control);

    BenchRig rig;
    std::unique_ptr<WindowSetup> setup;
    std::vector<QtBox> boxes;
    std::deque<int> answers;  // for the next boxes; none left: the first button
    std::vector<std::string> opened;
    bool boxOffMainThread = false;
};
