// nsfutil: the administrator's tool for the harvest's databases (set-up,
// calendar profiles, inspection of busy-time documents, checks).
#include <cstdio>
#include <exception>
#include <string>

#include "tools/command_line.h"
#include "tools/commands.h"
#include "tools/tool_error.h"

namespace {

int RunCommand(const nsfutil::CommandLine& line) {
  if (line.help) {
    std::fputs(nsfutil::UsageText(), stdout);
    return nsfutil::kExitOk;
  }
  if (line.words.empty()) throw nsfutil::ToolError("no command given (see nsfutil --help)");
  const std::string& command = line.words[0];
  if (command == "init") return nsfutil::RunInitCommand(line);
  if (command == "profile") return nsfutil::RunProfileCommand(line);
  if (command == "busytime") return nsfutil::RunBusytimeCommand(line);
  if (command == "check") return nsfutil::RunCheckCommand(line);
  throw nsfutil::ToolError("unknown command '" + command + "' (see nsfutil --help)");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return RunCommand(nsfutil::ParseCommandLine(argc, argv));
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "nsfutil: %s\n", error.what());
    return nsfutil::kExitFailure;
  }
}
