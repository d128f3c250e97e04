// The program part of a command line, read the same way on every system.
#pragma once

#include "platform/Process.h"

#include <string>

namespace platform {

// The file a program part names (absolute), or empty when it names none; each system has its own.
using ProgramResolver = std::string (*)(const std::string &program);

// Fills program, executable and arguments of the parts, not folder: a leading quoted part is the
// program; otherwise the shortest prefix ending before a space that resolves to a file, so that a
// path with spaces needs no quotes; when none does, the first word (with no arguments).
CommandLineParts SplitProgramPart(const std::string &commandLine, ProgramResolver resolve);

} // namespace platform
