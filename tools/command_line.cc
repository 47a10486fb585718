#include "tools/command_line.h"

#include <string_view>

#include "tools/tool_error.h"

namespace nsfutil {
namespace {

std::string CommandName(const CommandLine& line, std::size_t command_words) {
  std::string name;
  for (std::size_t i = 0; i < command_words && i < line.words.size(); ++i) {
    if (!name.empty()) name += ' ';
    name += line.words[i];
  }
  return name;
}

// Takes the value of an option written as "--name VALUE" or "--name=VALUE".
std::string OptionValue(std::string_view arg, std::string_view name, int argc, char** argv,
                        int* index) {
  if (arg.size() > name.size() && arg[name.size()] == '=') {
    return std::string(arg.substr(name.size() + 1));
  }
  if (*index + 1 >= argc) throw ToolError("option " + std::string(name) + " needs a value");
  ++*index;
  return argv[*index];
}

bool IsOption(std::string_view arg, std::string_view name) {
  return arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
                         arg[name.size()] == '=');
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine line;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options_ended || arg.empty() || arg[0] != '-' || arg == "-") {
      line.words.emplace_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else if (arg == "--json") {
      line.json = true;
    } else if (IsOption(arg, "--ini")) {
      line.ini_path = OptionValue(arg, "--ini", argc, argv, &i);
      line.ini_given = true;
      if (line.ini_path.empty()) throw ToolError("option --ini needs a non-empty path");
    } else if (IsOption(arg, "--mail-server")) {
      line.mail_server = OptionValue(arg, "--mail-server", argc, argv, &i);
    } else if (IsOption(arg, "--from")) {
      line.from = OptionValue(arg, "--from", argc, argv, &i);
    } else if (IsOption(arg, "--tz")) {
      line.time_zone = OptionValue(arg, "--tz", argc, argv, &i);
    } else {
      throw ToolError("unknown option '" + std::string(arg) + "' (see nsfutil --help)");
    }
  }
  return line;
}

void ExpectOperands(const CommandLine& line, std::size_t command_words, std::size_t min_operands,
                    std::size_t max_operands) {
  const std::size_t operands = line.words.size() - command_words;
  if (operands < min_operands) {
    throw ToolError("'" + CommandName(line, command_words) +
                    "' is missing an operand (see nsfutil --help)");
  }
  if (operands > max_operands) {
    throw ToolError("'" + CommandName(line, command_words) + "' does not take '" +
                    line.words[command_words + max_operands] + "' (see nsfutil --help)");
  }
}

void RejectOptions(const CommandLine& line, std::size_t command_words, unsigned options_taken) {
  const std::string name = CommandName(line, command_words);
  if (line.json && (options_taken & kTakesJson) == 0) {
    throw ToolError("'" + name + "' does not take --json");
  }
  if (line.mail_server && (options_taken & kTakesMailServer) == 0) {
    throw ToolError("'" + name + "' does not take --mail-server");
  }
  if ((line.from || line.time_zone) && (options_taken & kTakesWeek) == 0) {
    throw ToolError("'" + name + "' does not take --" + (line.from ? "from" : "tz"));
  }
  if (line.ini_given && (options_taken & kTakesIni) == 0) {
    throw ToolError("'" + name + "' does not take --ini");
  }
}

}  // namespace nsfutil
