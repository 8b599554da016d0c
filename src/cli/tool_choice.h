// Which tool a command works on when several are attached and the user named none: a
// command that writes never takes one at random.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "link/link_settings.h"
#include "link/port_discovery.h"

enum class ToolUse {
    none,   // the command does not reach for a tool
    read,   // find, manual: the first tool, with a word about the others
    write,  // program, program-memories, upload-backups: asked for, or a usage error
};

enum class ToolChoiceResult { go, usageError, noChoice };

// One numbered line a tool, with the option that names it.
std::string ToolChoice_list(const std::vector<SerialPortInfo>& tools);
// Settles `link` on one tool when several are attached and neither a port nor a tool was
// named: for a write, the user's pick on `terminal` (null, or `yes`: a usage error that
// lists the tools). `message` gets what the user must read: the note on the others, the
// usage error or why nothing was chosen.
ToolChoiceResult ToolChoice_settle(LinkSettings& link, ToolUse use, FILE* terminal, bool yes,
                                   std::string* message);
