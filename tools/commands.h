// The nsfutil commands, one function each, run from the table in
// tools/command_table.cc once it has checked the command's options and the
// number of its operands. Each takes the parsed command line (its words start
// with the command's name), writes its report to standard output and returns
// the exit status; failures are thrown as ToolError.
#pragma once

#include "tools/command_line.h"

namespace nsfutil {

int InitDataDirectory(const CommandLine& line);   // init DIR
int AddProfile(const CommandLine& line);          // profile add ADDRESS URL
int RemoveProfile(const CommandLine& line);       // profile remove ADDRESS
int ListProfiles(const CommandLine& line);        // profile list
int ImportProfiles(const CommandLine& line);      // profile import FILE.csv
int ListBusytime(const CommandLine& line);        // busytime list
int ShowBusytime(const CommandLine& line);        // busytime show [ADDRESS]
int ShowBusytimeWeek(const CommandLine& line);    // busytime week ADDRESS
int CheckDataDirectory(const CommandLine& line);  // check

}  // namespace nsfutil
