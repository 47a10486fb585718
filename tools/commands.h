// The nsfutil commands. Each takes the parsed command line (its words start
// with the command's name), writes its report to standard output and returns
// the exit status; failures are thrown as ToolError.
#pragma once

#include "tools/command_line.h"

namespace nsfutil {

int RunInitCommand(const CommandLine& line);      // init DIR [--mail-server NAME]
int RunProfileCommand(const CommandLine& line);   // profile add|remove|list|import
int RunBusytimeCommand(const CommandLine& line);  // busytime list|show|week
int ShowBusytimeWeek(const CommandLine& line);    // busytime week ADDRESS
int RunCheckCommand(const CommandLine& line);     // check

}  // namespace nsfutil
