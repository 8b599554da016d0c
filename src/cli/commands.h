#pragma once

#include <CLI/CLI.hpp>

#include "cli/cli_options.h"

// Each command registers itself on the application; its callback leaves its exit status.
void addInspectCommand(CLI::App& app, const CliOptions& options, int& status);
void addPortsCommand(CLI::App& app, const CliOptions& options, int& status);
