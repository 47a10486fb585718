// nsfutil: the administrator's tool for the harvest's databases (set-up,
// calendar profiles, inspection of busy-time documents, checks).
#include <cstdio>
#include <exception>
#include <string>

#include "tools/command_line.h"
#include "tools/command_table.h"
#include "tools/tool_error.h"

int main(int argc, char** argv) {
  try {
    return nsfutil::RunCommand(nsfutil::ParseCommandLine(argc, argv));
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "nsfutil: %s\n", error.what());
    return nsfutil::kExitFailure;
  }
}
