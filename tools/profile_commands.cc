// profile add | remove | list | import: the calendar profiles of the
// configuration database, as the harvest reads them through the view "Main".
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "base/masked_url.h"
#include "tools/commands.h"
#include "tools/main_view.h"
#include "tools/profile_input.h"
#include "tools/tool_error.h"
#include "tools/tool_session.h"

namespace nsfutil {
namespace {

constexpr const char* kFormName = "CalendarProfile";

void SetText(NoteHandle note, const char* item_name, const std::string& text) {
  ThrowIfFailed(
      ItemSetText(note, item_name, text.c_str(), static_cast<std::uint16_t>(text.size()), true),
      std::string("cannot write the item ") + item_name);
}

void WriteProfile(DbHandle db, const ProfileInput& profile) {
  ScopedNote note(db);
  SetText(note.Handle(), "Form", kFormName);
  SetText(note.Handle(), "UserEmailAddress", profile.user_name);
  SetText(note.Handle(), "busytimeurl", profile.busytime_url);
  ThrowIfFailed(NoteUpdate(note.Handle(), 0), "cannot save the profile of " + profile.user_name);
}

void RequireNewAddress(DbHandle db, const ProfileInput& profile) {
  if (!FindViewDocuments(db, profile.user_name).empty()) {
    throw ToolError("a profile for " + profile.user_name + " already exists");
  }
}

}  // namespace

int AddProfile(const CommandLine& line) {
  const ProfileInput profile{line.words[2], line.words[3], 0};
  const std::string problem = ProfileProblem(profile);
  if (!problem.empty()) throw ToolError(problem);
  ToolSession session(line.ini_path);
  ScopedDb database(kConfigDatabase);
  RequireNewAddress(database.Handle(), profile);
  WriteProfile(database.Handle(), profile);
  std::printf("added profile %s\n", profile.user_name.c_str());
  return kExitOk;
}

int RemoveProfile(const CommandLine& line) {
  const std::string& user_name = line.words[2];
  ToolSession session(line.ini_path);
  ScopedDb database(kConfigDatabase);
  const std::vector<NoteId> note_ids = FindViewDocuments(database.Handle(), user_name);
  if (note_ids.empty()) throw ToolError("no profile for " + user_name);
  // Several profiles of one address can only come from outside this tool;
  // the harvest would publish the user several times, so all of them go.
  for (NoteId note_id : note_ids) {
    ThrowIfFailed(NoteDelete(database.Handle(), note_id, 0),
                  "cannot remove the profile " + FormatNoteId(note_id) + " of " + user_name);
  }
  ThrowIfFailed(database.Close(), "cannot remove the profiles of " + user_name);
  std::printf("removed %zu profile%s of %s\n", note_ids.size(), note_ids.size() == 1 ? "" : "s",
              user_name.c_str());
  return kExitOk;
}

int ListProfiles(const CommandLine& line) {
  ToolSession session(line.ini_path);
  ScopedDb database(kConfigDatabase);
  for (NoteId note_id : ReadViewDocuments(database.Handle())) {
    ScopedNote note(database.Handle(), note_id);
    std::printf("%s\t%s\n", EscapeUntrusted(note.Text("UserEmailAddress")).c_str(),
                EscapeUntrusted(MaskUrlPassword(note.Text("busytimeurl"))).c_str());
  }
  return kExitOk;
}

namespace {

std::string ReadWholeFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw ToolError(path + " does not exist");
  if (!std::filesystem::is_regular_file(path, error)) {
    throw ToolError(path + " is not a regular file");
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) throw ToolError("cannot read " + path);
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) throw ToolError("cannot read " + path);
  return text.str();
}

// Every address was checked to be new before the import began, so each
// profile found under one of them now is one this import wrote.
// Returns false when one of them could not be removed.
bool RemoveImported(DbHandle db, std::span<const ProfileInput> profiles) {
  bool all_removed = true;
  for (const ProfileInput& profile : profiles) {
    try {
      for (NoteId note_id : FindViewDocuments(db, profile.user_name)) {
        if (NoteDelete(db, note_id, 0) != 0) all_removed = false;
      }
    } catch (const ToolError&) {
      all_removed = false;
    }
  }
  return all_removed;
}

}  // namespace

int ImportProfiles(const CommandLine& line) {
  const std::string& csv_path = line.words[2];
  const std::vector<ProfileInput> profiles = ParseProfileCsv(ReadWholeFile(csv_path), csv_path);

  ToolSession session(line.ini_path);
  ScopedDb database(kConfigDatabase);
  std::set<std::string> existing;
  for (NoteId note_id : ReadViewDocuments(database.Handle())) {
    existing.insert(AddressKey(ScopedNote(database.Handle(), note_id).Text("UserEmailAddress")));
  }
  for (const ProfileInput& profile : profiles) {
    if (existing.count(AddressKey(profile.user_name)) != 0) {
      throw ToolError(csv_path + ":" + std::to_string(profile.line_number) + ": a profile for " +
                      profile.user_name + " already exists");
    }
  }
  // The runtime saves one note per transaction and offers none spanning
  // several, so the all-or-nothing promise rests on checking every line
  // above before the first write. Should a write still fail (disk full, a
  // lock held too long), the profiles written so far are removed again.
  std::size_t written = 0;
  try {
    for (; written < profiles.size(); ++written) WriteProfile(database.Handle(), profiles[written]);
  } catch (const ToolError& error) {
    const bool undone = RemoveImported(database.Handle(), std::span(profiles).first(written)) &&
                        database.Close() == 0;
    throw ToolError(std::string(error.what()) +
                    (undone ? "; nothing was imported"
                             : "; some of the " + std::to_string(written) +
                                   " profiles written before could not be removed again"));
  }
  std::printf("imported %zu profile%s from %s\n", profiles.size(), profiles.size() == 1 ? "" : "s",
              csv_path.c_str());
  return kExitOk;
}

}  // namespace nsfutil
