// The table of nsfutil's commands: one row per command with its words, its
// operands and options, its help text and the function that runs it. The
// same rows dispatch a command line and write --help, so the two cannot
// disagree.
#include "tools/command_table.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include "tools/commands.h"
#include "tools/tool_error.h"

namespace nsfutil {
namespace {

struct Command {
  std::string_view words;     // the command's name, one word or two
  std::string_view synopsis;  // its operands and options as --help shows them
  std::size_t min_operands;
  std::size_t max_operands;
  unsigned options;           // the kTakes... options it takes
  std::string_view help;      // what it does; --help indents each line
  int (*run)(const CommandLine& line);
};

constexpr Command kCommands[] = {
    {"init", "DIR [--mail-server NAME]", 1, 1, kTakesMailServer,
     "Create DIR with a notes.ini, \"ruvconfig.nsf\" (calendar profiles) and\n"
     "the mail server's \"busytime.nsf\", each with its \"Main\" view. Without\n"
     "--mail-server the busy-time database is local. Existing databases are\n"
     "never overwritten.",
     InitDataDirectory},
    {"profile add", "ADDRESS URL", 2, 2, kTakesIni,
     "Add a calendar profile: the user's address and free/busy URL.", AddProfile},
    {"profile remove", "ADDRESS", 1, 1, kTakesIni,
     "Remove the calendar profile of ADDRESS (any letter case).", RemoveProfile},
    {"profile list", "", 0, 0, kTakesIni,
     "One line per profile, in view order: ADDRESS<TAB>URL.", ListProfiles},
    {"profile import", "FILE.csv", 1, 1, kTakesIni,
     "Add many profiles: one \"address,url\" per line; blank lines, lines\n"
     "starting with '#' and a header line \"address,url\" are skipped. All or\n"
     "nothing: a bad line is reported with its number and nothing is added.",
     ImportProfiles},
    {"busytime list", "", 0, 0, kTakesIni,
     "One line per busy-time document: NOTEID<TAB>$Name<TAB>EventList\n"
     "entries<TAB>EventListExt entries<TAB>LastModTime (ISO 8601 UTC).",
     ListBusytime},
    {"busytime show", "[ADDRESS] [--json]", 0, 1, kTakesIni | kTakesJson,
     "Every item of the busy-time documents (of ADDRESS, or all), the two\n"
     "entry lists decoded, and whether they agree with each other and with\n"
     "their headers. --json writes an array with one object per document.",
     ShowBusytime},
    {"busytime week", "ADDRESS [--from YYYY-MM-DD] [--tz ZONE]", 1, 1, kTakesIni | kTakesWeek,
     "Seven rows, one per day from the Monday of this week (or --from): the\n"
     "date and 24 characters, one per hour, '#' where a busy period of the\n"
     "user's documents overlaps that hour and '.' where none does. Hours\n"
     "are UTC unless --tz names an IANA zone (e.g. Europe/Berlin).",
     ShowBusytimeWeek},
    {"check", "", 0, 0, kTakesIni,
     "Verify every database of the data directory (SQLite integrity, schema,\n"
     "entry-list headers against their lengths).",
     CheckDataDirectory},
};

constexpr std::string_view kUsageHead =
    "Usage: nsfutil [--ini PATH] COMMAND [ARGUMENTS]\n"
    "\n"
    "Administers the databases of busytime-harvest through the same local runtime,\n"
    "files and locking as the harvest itself.\n"
    "\n"
    "Commands:\n";

constexpr std::string_view kUsageTail =
    "\n"
    "Options:\n"
    "  --ini PATH   the settings file (default ./notes.ini); not used by init\n"
    "  --help       show this text\n"
    "\n"
    "Exit status: 0 success; 1 'check' found problems; 2 usage error, missing file,\n"
    "damaged database or failed operation (with a one-line message on stderr).\n";

// The words of a command's name.
std::vector<std::string_view> WordsOf(std::string_view name) {
  std::vector<std::string_view> words;
  for (std::size_t space = name.find(' '); space != std::string_view::npos;
       space = name.find(' ')) {
    words.push_back(name.substr(0, space));
    name.remove_prefix(space + 1);
  }
  words.push_back(name);
  return words;
}

// The row whose words begin the command line, or null.
const Command* FindCommand(const std::vector<std::string>& words) {
  for (const Command& command : kCommands) {
    const std::vector<std::string_view> name = WordsOf(command.words);
    if (words.size() < name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size(); ++i) same = same && words[i] == name[i];
    if (same) return &command;
  }
  return nullptr;
}

// Why no row matched: a first word that names no command, or a group
// ("profile") without one of its subcommands.
[[noreturn]] void ThrowNoCommand(const std::vector<std::string>& words) {
  std::vector<std::string_view> subcommands;
  for (const Command& command : kCommands) {
    const std::vector<std::string_view> name = WordsOf(command.words);
    if (name.size() == 2 && name[0] == words[0]) subcommands.push_back(name[1]);
  }
  if (subcommands.empty() || words.size() > 1) {
    const std::string given = subcommands.empty() ? words[0] : words[0] + " " + words[1];
    throw ToolError("unknown command '" + given + "' (see nsfutil --help)");
  }
  std::string choices;
  for (std::size_t i = 0; i < subcommands.size(); ++i) {
    if (i > 0) choices += i + 1 == subcommands.size() ? " or " : ", ";
    choices += subcommands[i];
  }
  throw ToolError("'" + words[0] + "' needs " + choices);
}

}  // namespace

int RunCommand(const CommandLine& line) {
  if (line.help) {
    std::fputs(UsageText().c_str(), stdout);
    return kExitOk;
  }
  if (line.words.empty()) throw ToolError("no command given (see nsfutil --help)");
  const Command* command = FindCommand(line.words);
  if (command == nullptr) ThrowNoCommand(line.words);
  const std::size_t command_words = WordsOf(command->words).size();
  RejectOptions(line, command_words, command->options);
  ExpectOperands(line, command_words, command->min_operands, command->max_operands);
  return command->run(line);
}

std::string UsageText() {
  std::string text(kUsageHead);
  for (const Command& command : kCommands) {
    text += "  ";
    text += command.words;
    if (!command.synopsis.empty()) (text += ' ') += command.synopsis;
    text += '\n';
    for (std::string_view help = command.help; !help.empty();) {
      const std::size_t end = help.find('\n');
      (text += "        ") += help.substr(0, end);
      text += '\n';
      help.remove_prefix(end == std::string_view::npos ? help.size() : end + 1);
    }
  }
  text += kUsageTail;
  return text;
}

}  // namespace nsfutil
