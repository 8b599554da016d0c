// Everything a command needs to drive the controller: the server session, the link settings,
// the command line's UI port and the controller itself.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "cli/cli_options.h"
#include "cli/cli_ui.h"
#include "cli/interrupt_guard.h"
#include "cli/tool_choice.h"
#include "core/stop_request.h"
#include "link/link_trace.h"
#include "server/server_session.h"
#include "workflows/app_delegate.h"

struct UpdaterSetup {
    std::unique_ptr<FILE, int (*)(FILE*)> terminal{nullptr, std::fclose};
    LinkTracePtr linkTrace;  // outlives the controller, whose link writes to it
    ServerSessionPtr session;
    std::unique_ptr<CliUi> ui;
    StopRequest stop;  // set by the second Ctrl-C of a writing run
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<InterruptGuard> interrupts;  // first to go: it asks the controller
};

// The exit status of a run that ended `ok`: 0, 1, or the interrupted status after a stop,
// which it tells.
int runStatus(UpdaterSetup& setup, bool ok);

// Null with `error` set and `errorStatus` 2 when the options do not make sense (a usage
// error), or 1 when the user chose no tool among several.
std::unique_ptr<UpdaterSetup> makeUpdaterSetup(const CliOptions& options, ToolUse use,
                                               std::string* error, int* errorStatus);

// The setup of a command that uses the tool as `use` says, or null after telling why (status
// 2 for a usage error).
std::unique_ptr<UpdaterSetup> commandSetup(const CliOptions& options, int& status,
                                           ToolUse use = ToolUse::none);

// Where the run history lives: under XDG_STATE_HOME, else under HOME.
std::string historyPath();

// Runs Find Device to its end; true for a complete identification.
bool runFindDevice(UpdaterSetup& setup);
