// nsfutil's commands as one table (tools/command_table.cc): it dispatches a
// command line and writes --help.
#pragma once

#include <string>

#include "tools/command_line.h"

namespace nsfutil {

// Prints the usage text for --help, or runs the command the line names after
// checking its options and the number of its operands. Returns the exit
// status; failures are thrown as ToolError.
int RunCommand(const CommandLine& line);

// The usage text printed by --help.
std::string UsageText();

}  // namespace nsfutil
