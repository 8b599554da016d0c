#pragma once

#include <CLI/CLI.hpp>

#include "cli/cli_options.h"

// Each command registers itself on the application; its callback leaves its exit status.
void addInspectCommand(CLI::App& app, const CliOptions& options, int& status);
void addPortsCommand(CLI::App& app, const CliOptions& options, int& status);
void addFindCommand(CLI::App& app, const CliOptions& options, int& status);
void addProgramCommand(CLI::App& app, const CliOptions& options, int& status);
void addManualCommand(CLI::App& app, const CliOptions& options, int& status);
void addCheckVersionCommand(CLI::App& app, const CliOptions& options, int& status);
// program-memories and upload-backups.
void addMemoryCommands(CLI::App& app, const CliOptions& options, int& status);
void addHistoryCommand(CLI::App& app, const CliOptions& options, int& status);
