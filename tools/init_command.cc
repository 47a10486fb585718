// init DIR [--mail-server NAME]: a new data directory with its settings file,
// the configuration database and the mail server's busy-time database, each
// with the view "Main" the harvest reads. All or nothing: on a failure every
// file this command created is removed again, and existing files are never
// touched.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "notes/local/db_path.h"
#include "tools/commands.h"
#include "tools/profile_input.h"
#include "tools/tool_error.h"
#include "tools/tool_session.h"

namespace nsfutil {
namespace {

namespace fs = std::filesystem;

// The views the harvest reads: profiles by address, busy-time documents by
// the user's name.
notes::local::ViewDesign ProfileView() {
  return {kViewName, "", "UserEmailAddress", "UserEmailAddress", ""};
}
notes::local::ViewDesign BusytimeView() { return {kViewName, "", "$Name", "$Name", ""}; }

// The settings file keeps blanks around a value off, so a server name must
// be written exactly as the harvest will read it back.
void CheckMailServer(const std::string& mail_server) {
  if (mail_server.empty()) return;
  const std::string problem = ProfileValueProblem(mail_server, "mail server name");
  if (!problem.empty()) throw ToolError(problem);
  if (mail_server.front() == ' ' || mail_server.back() == ' ' || mail_server.front() == '\t' ||
      mail_server.back() == '\t') {
    throw ToolError("the mail server name begins or ends with a blank");
  }
  if (mail_server.find("::") != std::string::npos) {
    throw ToolError("the mail server name contains \"::\"");
  }
}

void WriteSettingsFile(const fs::path& file, const std::string& mail_server) {
  // "x": never replace a settings file another process created meanwhile.
  std::FILE* out = std::fopen(file.c_str(), "wx");
  if (out == nullptr) throw ToolError("cannot create " + file.string());
  const int written = std::fprintf(out, "Directory=.\nMailServer=%s\n", mail_server.c_str());
  if (std::fclose(out) != 0 || written < 0) throw ToolError("cannot write " + file.string());
}

// Records the file in `created` as soon as it exists, so a failure while
// adding the view still removes it.
void CreateDatabaseWithView(notes::local::LocalRuntime& runtime, const std::string& db_path,
                            const fs::path& file, const notes::local::ViewDesign& view,
                            std::vector<fs::path>* created) {
  ThrowIfFailed(runtime.CreateDatabase(db_path.c_str()), "cannot create " + db_path);
  created->push_back(file);
  ScopedDb database(db_path);
  ThrowIfFailed(runtime.CreateView(database.Handle(), view),
                "cannot create the view \"Main\" in " + db_path);
}

void RemoveDatabaseFiles(const fs::path& file) {
  std::error_code error;
  fs::remove(file, error);
  for (const char* suffix : {"-wal", "-shm", "-journal"}) fs::remove(file.string() + suffix, error);
}

}  // namespace

int InitDataDirectory(const CommandLine& line) {
  const std::string mail_server = line.mail_server.value_or("");
  CheckMailServer(mail_server);
  if (line.words[1].empty()) throw ToolError("the directory name is empty");

  std::error_code error;
  const fs::path directory = fs::absolute(line.words[1], error);
  if (error) throw ToolError("cannot use the directory " + line.words[1]);
  fs::create_directories(directory, error);
  if (error || !fs::is_directory(directory)) {
    throw ToolError("cannot create the directory " + directory.string());
  }
  const fs::path settings_file = directory / "notes.ini";
  for (const fs::path& existing : {settings_file, directory / kConfigDatabase}) {
    if (fs::exists(fs::symlink_status(existing, error))) {
      throw ToolError(existing.string() + " already exists; nothing was changed");
    }
  }

  WriteSettingsFile(settings_file, mail_server);
  std::vector<fs::path> created = {settings_file};
  try {
    ToolSession session(settings_file.string());
    notes::local::LocalRuntime& runtime = session.Runtime();
    const std::string busytime_path = session.BusytimeDatabasePath();
    fs::path busytime_file;
    ThrowIfFailed(
        notes::local::ResolveDatabasePath(runtime.DataDirectory(), busytime_path, &busytime_file),
        "cannot place " + busytime_path);
    if (fs::exists(fs::symlink_status(busytime_file, error))) {
      throw ToolError(busytime_file.string() + " already exists; nothing was changed");
    }

    const fs::path config_file = runtime.DataDirectory() / kConfigDatabase;
    CreateDatabaseWithView(runtime, kConfigDatabase, config_file, ProfileView(), &created);
    CreateDatabaseWithView(runtime, busytime_path, busytime_file, BusytimeView(), &created);

    std::printf("created %s\n", settings_file.c_str());
    std::printf("created %s with the view \"Main\" (calendar profiles)\n", config_file.c_str());
    std::printf("created %s with the view \"Main\" (busy time of %s)\n", busytime_file.c_str(),
                mail_server.empty() ? "this machine" : ("mail server " + mail_server).c_str());
  } catch (...) {
    // The session has ended here, so no file is still held open.
    for (const fs::path& file : created) RemoveDatabaseFiles(file);
    throw;
  }
  return kExitOk;
}

}  // namespace nsfutil
