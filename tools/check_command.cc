// check: every database of the data directory (the local ones and those of
// servers/*/), read-only: SQLite's integrity, the runtime's schema, and the
// entry lists of every document that holds them. Also that the two databases
// the harvest opens exist and have their view "Main".
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "notes/local/db_path.h"
#include "tools/busytime_document.h"
#include "tools/commands.h"
#include "tools/tool_error.h"
#include "tools/tool_session.h"

namespace nsfutil {
namespace {

namespace fs = std::filesystem;

bool IsDatabaseFile(const fs::directory_entry& entry) {
  std::error_code error;
  return EqualsIgnoreCase(entry.path().extension().string(), ".nsf") &&
         entry.is_regular_file(error);
}

// Database names as DbOpen takes them: relative to the data directory, with
// '/' between folders (the servers' folders are ordinary folders there).
std::vector<std::string> FindDatabases(const fs::path& data_directory,
                                       std::vector<std::string>* problems) {
  std::vector<std::string> names;
  std::error_code error;
  fs::recursive_directory_iterator it(data_directory, fs::directory_options::skip_permission_denied,
                                      error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (IsDatabaseFile(*it)) {
      names.push_back(it->path().lexically_relative(data_directory).generic_string());
    }
  }
  if (error) problems->push_back(data_directory.string() + ": cannot list: " + error.message());
  std::sort(names.begin(), names.end());
  return names;
}

// The entry lists of every document; one line per problem.
void CheckDocuments(ToolSession& session, const std::string& name,
                    std::vector<std::string>* problems) {
  ScopedDb database(name);
  for (NoteId note_id : ListDocumentIds(session.Runtime(), database.Handle())) {
    const BusytimeDocument document =
        ReadBusytimeDocument(session.Runtime(), database.Handle(), note_id);
    if (!document.HasLists()) continue;
    const std::string where = name + ": note " + FormatNoteId(note_id) + " (" +
                              (document.name.empty() ? "no $Name" : document.name) + "): ";
    for (const std::string& problem : document.Problems()) problems->push_back(where + problem);
  }
}

// One database; returns its problem lines.
std::vector<std::string> CheckOneDatabase(ToolSession& session, const std::string& name) {
  std::vector<std::string> problems;
  std::vector<std::string> found;
  const Status status = session.Runtime().CheckDatabase(name.c_str(), &found);
  for (const std::string& problem : found) problems.push_back(name + ": " + problem);
  if (status != 0 && found.empty()) {
    problems.push_back(name + ": cannot check: " + StatusMessage(status));
  }
  if (!problems.empty()) return problems;
  try {
    CheckDocuments(session, name, &problems);
  } catch (const ToolError& error) {
    problems.push_back(name + ": " + error.what());
  }
  return problems;
}

// The databases the harvest opens must be there, with the view it reads.
void CheckHarvestDatabase(ToolSession& session, const std::string& name, const char* role,
                          std::vector<std::string>* problems) {
  fs::path file;
  if (notes::local::ResolveDatabasePath(session.Runtime().DataDirectory(), name, &file) != 0 ||
      !fs::exists(file)) {
    problems->push_back(name + ": missing (" + role + ")");
    return;
  }
  DbHandle db = 0;
  const Status opened = DbOpen(name.c_str(), &db);
  if (opened != 0) {
    problems->push_back(name + ": cannot open (" + role + "): " + StatusMessage(opened));
    return;
  }
  NoteId view_id = 0;
  if (FindDesignNote(db, kViewName, kNoteClassView, kViewPattern, &view_id, 0) != 0) {
    problems->push_back(name + ": has no view \"Main\" (" + role + ")");
  }
  DbClose(db);
}

}  // namespace

int CheckDataDirectory(const CommandLine& line) {
  ToolSession session(line.ini_path);
  const fs::path& data_directory = session.Runtime().DataDirectory();

  std::vector<std::string> problems;
  CheckHarvestDatabase(session, kConfigDatabase, "the harvest reads the calendar profiles from it",
                       &problems);
  CheckHarvestDatabase(session, session.BusytimeDatabasePath(),
                       "the harvest writes the busy time into it", &problems);
  const std::vector<std::string> databases = FindDatabases(data_directory, &problems);
  for (const std::string& problem : problems) std::printf("%s\n", EscapeUntrusted(problem).c_str());

  bool problems_found = !problems.empty();
  for (const std::string& name : databases) {
    const std::vector<std::string> found = CheckOneDatabase(session, name);
    if (found.empty()) std::printf("%s: ok\n", EscapeUntrusted(name).c_str());
    for (const std::string& problem : found) std::printf("%s\n", EscapeUntrusted(problem).c_str());
    problems_found = problems_found || !found.empty();
  }
  return problems_found ? kExitProblemsFound : kExitOk;
}

}  // namespace nsfutil
