// A data directory for tests that run the built programs as processes, made
// and read the way an administrator does: `nsfutil init`, `profile import`,
// `busytime list`, `check`. Unless Init() names a mail server, the busy-time
// database lies in the data directory itself. The folder is removed when the
// object goes.
//
// Layout: ROOT/ holds the outputs of the children and any scratch files;
// ROOT/data/ is the data directory with its notes.ini.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/settings_argument.h"
#include "tests/support/timed_child.h"

namespace test_support {

// The address of generated user `user`: "user07@example.com".
inline std::string UserAddress(int user) {
  return (user < 10 ? "user0" : "user") + std::to_string(user) + "@example.com";
}

// Saves one more busy-time document for `address` with empty entry lists,
// straight through the local runtime, into `database` ("busytime.nsf" or
// "SERVER::busytime.nsf") of the data directory that `ini` configures: a
// second document of a user, as an earlier fault could have left one.
bool AddEmptyBusytimeDocument(const std::filesystem::path& ini, const char* database,
                              const std::string& address);

// Saves a calendar profile with exactly these bytes, straight through the
// local runtime, into "ruvconfig.nsf" of the data directory that `ini`
// configures: values the admin tool refuses (a zero byte), as a hand-edited
// database could hold them.
bool AddRawProfile(const std::filesystem::path& ini, const std::string& address,
                   const std::string& url);

// One busy-time document as `nsfutil busytime list` shows it, with the
// name's escapes undone.
struct BusytimeRow {
  std::uint32_t note_id = 0;
  std::string name;
  int entries = -1;      // the EventList header count, -1 when the list is absent
  int entries_ext = -1;  // the same for EventListExt
  std::string last_modified;
};

class HarvestDirectory {
 public:
  // `binary_dir` holds busytime-harvest and nsfutil; `prefix` names the
  // temporary folder.
  HarvestDirectory(std::string binary_dir, const std::string& prefix);
  ~HarvestDirectory();
  HarvestDirectory(const HarvestDirectory&) = delete;
  HarvestDirectory& operator=(const HarvestDirectory&) = delete;

  bool ok() const { return !root_.empty(); }
  const std::filesystem::path& Root() const { return root_; }
  const std::filesystem::path& Data() const { return data_; }
  std::filesystem::path Ini() const { return data_ / "notes.ini"; }
  std::filesystem::path BusytimeFile() const { return data_ / "busytime.nsf"; }
  std::string HarvestProgram() const { return binary_dir_ + "/busytime-harvest"; }
  // The harvest's command line: the settings file, as the runtime takes it.
  std::vector<std::string> HarvestArguments() const {
    return {test_support::SettingsArgument(Ini())};
  }

  // `nsfutil init` on the data directory (which may exist, empty), with
  // `options` after it ("--mail-server", name).
  ChildOutcome Init(const std::vector<std::string>& options = {}) const;
  // nsfutil with "--ini" and the data directory's settings file before `args`.
  ChildOutcome Nsfutil(std::vector<std::string> args) const;
  // Imports (address, URL) pairs through a CSV file. Neither may hold a comma,
  // a double quote or a line break.
  ChildOutcome ImportProfiles(const std::vector<std::pair<std::string, std::string>>& profiles) const;
  ChildOutcome Harvest(std::chrono::milliseconds limit = std::chrono::minutes(2)) const;

  // The busy-time documents in NoteId order. On failure returns nothing and
  // sets `error` to what went wrong.
  std::vector<BusytimeRow> ListBusytime(std::string* error) const;
  // The same, by "$Name".
  std::map<std::string, std::vector<BusytimeRow>> BusytimeByUser(std::string* error) const;

  // The number of documents that `nsfutil busytime show --json` calls
  // consistent and not, or {-1, -1} when the tool failed.
  std::pair<int, int> CountConsistent() const;

 private:
  std::string binary_dir_;
  std::filesystem::path root_;
  std::filesystem::path data_;
};

}  // namespace test_support
