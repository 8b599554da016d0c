// The window application put together: server session, window, UI port and controller,
// with the buttons wired to the controller's actions.
#pragma once

#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/qt_ui.h"
#include "link/link_settings.h"
#include "link/link_trace.h"
#include "server/server_config.h"
#include "server/server_session.h"
#include "workflows/app_delegate.h"

struct WindowOptions {
    std::string server;     // [https://]HOST[:PORT]; empty: ZARVIK_SERVER, then the build's
    std::string port;       // serial device; empty: ZARVIK_PORT, then discovery
    std::string tool;       // USB serial of the tool to use; empty: ZARVIK_TOOL, then any
    std::string traceLink;  // file for the frame trace; empty: none
    TransportOptions transport;
};

struct WindowSetup {
    ServerSessionPtr ownedSession;  // null when the caller owns the session
    LinkTracePtr linkTrace;         // outlives the controller, whose link writes to it
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QtUi> ui;
    std::unique_ptr<AppDelegate> delegate;
};

// The window on a session the caller keeps alive (tests point it at the bench).
std::unique_ptr<WindowSetup> makeWindowSetup(ServerSession& session, LinkSettings link);
// The window as the program starts it: its own session, with the request diagnostic on
// standard output. Null with `error` set when the options do not make sense.
std::unique_ptr<WindowSetup> makeWindowSetup(const WindowOptions& options, std::string* error);
