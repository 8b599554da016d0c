// Files that hold what only the user may read (the tool's serial numbers, every frame sent
// to it): created for the owner alone, and an existing one that others may read is narrowed
// to its owner before anything more is written to it.
#pragma once

#include <string>

// A descriptor open for appending, creating the file 0600 when it is missing; -1 with errno
// set on failure. A device or a pipe (a trace sent to a terminal) keeps its mode.
int PrivateFile_openAppend(const std::string& path);
