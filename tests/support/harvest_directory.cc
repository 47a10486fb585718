#include "tests/support/harvest_directory.h"

#include <stdlib.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "notes/backend.h"
#include "notes/local/local_runtime.h"
#include "notes/notes.h"
#include "tests/support/settings_argument.h"

namespace test_support {
namespace {

namespace fs = std::filesystem;

constexpr std::chrono::milliseconds kToolLimit = std::chrono::minutes(1);

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// The bytes a name printed by nsfutil stands for: \\, \" and \xNN undone.
std::string Unescaped(const std::string& printed) {
  std::string bytes;
  for (std::size_t i = 0; i < printed.size(); ++i) {
    if (printed[i] == '\\' && i + 1 < printed.size() && printed[i + 1] == 'x') {
      bytes += static_cast<char>(std::stoi(printed.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      if (printed[i] == '\\') ++i;
      if (i < printed.size()) bytes += printed[i];
    }
  }
  return bytes;
}

int EntryCount(const std::string& field) { return field == "-" ? -1 : std::stoi(field); }

std::size_t CountOf(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

}  // namespace

namespace {

// Saves one new note, filled by `fill`, into `database` of the data directory
// that `ini` configures, straight through the local runtime.
bool SaveNote(const fs::path& ini, const char* database,
              const std::function<void(NoteHandle)>& fill) {
  notes::local::LocalRuntime runtime;
  notes::ScopedBackend installed(runtime);
  std::string program = "harvest-test";
  std::string settings = test_support::SettingsArgument(ini);
  char* argv[] = {program.data(), settings.data(), nullptr};
  if (NotesInit(2, argv) != 0) return false;
  bool saved = false;
  DbHandle db = 0;
  NoteHandle note = 0;
  if (DbOpen(database, &db) == 0) {
    if (NoteCreate(db, &note) == 0) {
      fill(note);
      saved = NoteUpdate(note, 0) == 0;
      NoteClose(note);
    }
    DbClose(db);
  }
  NotesTerm();
  return saved;
}

void SetText(NoteHandle note, const std::string& name, const std::string& text) {
  ItemSetText(note, name.c_str(), text.data(), static_cast<std::uint16_t>(text.size()), true);
}

}  // namespace

bool AddEmptyBusytimeDocument(const fs::path& ini, const char* database,
                              const std::string& address) {
  return SaveNote(ini, database, [&](NoteHandle note) {
    SetText(note, "$Name", address);
    // Empty lists: the header's count 0; the extended list names its entry size.
    const std::vector<std::uint8_t> list(8, 0);
    std::vector<std::uint8_t> list_ext(8, 0);
    list_ext[6] = 72;
    ItemAppend(note, 0, "EventList", 9, kTypeScheduleList, list.data(), 8);
    ItemAppend(note, 0, "EventListExt", 12, kTypeScheduleList, list_ext.data(), 8);
  });
}

bool AddRawProfile(const fs::path& ini, const std::string& address, const std::string& url) {
  return SaveNote(ini, "ruvconfig.nsf", [&](NoteHandle note) {
    SetText(note, "Form", "CalendarProfile");
    SetText(note, "UserEmailAddress", address);
    SetText(note, "busytimeurl", url);
  });
}

HarvestDirectory::HarvestDirectory(std::string binary_dir, const std::string& prefix)
    : binary_dir_(std::move(binary_dir)) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "_XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) return;
  root_ = pattern;
  data_ = root_ / "data";
  fs::create_directory(data_);
}

HarvestDirectory::~HarvestDirectory() {
  if (root_.empty()) return;
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

ChildOutcome HarvestDirectory::Init(const std::vector<std::string>& options) const {
  std::vector<std::string> args = {"init", data_.string()};
  args.insert(args.end(), options.begin(), options.end());
  return RunTimedChild(binary_dir_ + "/nsfutil", args, root_, kToolLimit);
}

ChildOutcome HarvestDirectory::Nsfutil(std::vector<std::string> args) const {
  args.insert(args.begin(), {"--ini", Ini().string()});
  return RunTimedChild(binary_dir_ + "/nsfutil", args, root_, kToolLimit);
}

ChildOutcome HarvestDirectory::ImportProfiles(
    const std::vector<std::pair<std::string, std::string>>& profiles) const {
  const fs::path csv = root_ / "profiles.csv";
  {
    std::ofstream out(csv, std::ios::binary);
    for (const auto& [address, url] : profiles) out << address << ',' << url << '\n';
  }
  return Nsfutil({"profile", "import", csv.string()});
}

ChildOutcome HarvestDirectory::Harvest(std::chrono::milliseconds limit) const {
  return RunTimedChild(HarvestProgram(), HarvestArguments(), root_, limit);
}

std::vector<BusytimeRow> HarvestDirectory::ListBusytime(std::string* error) const {
  const ChildOutcome listed = Nsfutil({"busytime", "list"});
  if (!listed.Exited(0)) {
    *error = "nsfutil busytime list: " + Describe(listed);
    return {};
  }
  std::vector<BusytimeRow> rows;
  std::istringstream lines(listed.out);
  std::string line;
  while (std::getline(lines, line)) {
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() != 5 || fields[0].rfind("0x", 0) != 0) {
      *error = "nsfutil busytime list printed an unexpected line: " + line;
      return {};
    }
    BusytimeRow row;
    row.note_id = static_cast<std::uint32_t>(std::stoul(fields[0].substr(2), nullptr, 16));
    row.name = Unescaped(fields[1]);
    row.entries = EntryCount(fields[2]);
    row.entries_ext = EntryCount(fields[3]);
    row.last_modified = fields[4];
    rows.push_back(std::move(row));
  }
  return rows;
}

std::map<std::string, std::vector<BusytimeRow>> HarvestDirectory::BusytimeByUser(
    std::string* error) const {
  std::map<std::string, std::vector<BusytimeRow>> by_user;
  for (BusytimeRow& row : ListBusytime(error)) by_user[row.name].push_back(std::move(row));
  return by_user;
}

std::pair<int, int> HarvestDirectory::CountConsistent() const {
  const ChildOutcome shown = Nsfutil({"busytime", "show", "--json"});
  if (!shown.Exited(0)) return {-1, -1};
  return {static_cast<int>(CountOf(shown.out, "\"consistent\": true")),
          static_cast<int>(CountOf(shown.out, "\"consistent\": false"))};
}

}  // namespace test_support
