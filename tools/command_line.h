// nsfutil's command line: the options every command shares and the words that
// name the command and its operands. Parsing only splits and checks the
// shape; each command checks its own operands.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace nsfutil {

struct CommandLine {
  std::string ini_path = "notes.ini";      // --ini PATH
  bool ini_given = false;
  bool help = false;                       // --help / -h
  bool json = false;                       // --json
  std::optional<std::string> mail_server;  // --mail-server NAME
  std::optional<std::string> from;         // --from YYYY-MM-DD
  std::optional<std::string> time_zone;    // --tz ZONE
  std::vector<std::string> words;          // command, subcommand, operands
};

// Options may stand anywhere; "--" ends them so an operand may begin with
// "-". Throws ToolError for an unknown option or an option without its value.
CommandLine ParseCommandLine(int argc, char** argv);

// Throws ToolError unless `words` (after the command words) holds between
// `min_operands` and `max_operands` operands.
void ExpectOperands(const CommandLine& line, std::size_t command_words, std::size_t min_operands,
                    std::size_t max_operands);

// The options a command takes, as a mask for RejectOptions.
constexpr unsigned kTakesIni = 1;
constexpr unsigned kTakesJson = 2;
constexpr unsigned kTakesMailServer = 4;
constexpr unsigned kTakesWeek = 8;  // --from and --tz

// Throws ToolError when an option was given that the command (named by its
// first `command_words` words) does not take.
void RejectOptions(const CommandLine& line, std::size_t command_words, unsigned options_taken);

}  // namespace nsfutil
