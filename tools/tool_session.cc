#include "tools/tool_session.h"

#include <array>
#include <cstdio>
#include <vector>

#include "tools/tool_error.h"

namespace nsfutil {

ToolSession::ToolSession(const std::string& ini_path) : backend_(runtime_) {
  std::string program = "nsfutil";
  std::string settings_arg = "=";  // appended: "=" + string draws a false -Wrestrict from g++ 12
  settings_arg += ini_path;
  std::array<char*, 3> argv = {program.data(), settings_arg.data(), nullptr};
  const Status error = NotesInit(2, argv.data());
  if (error != 0) {
    throw ToolError("cannot start the runtime with settings file " + ini_path + ": " +
                    StatusMessage(error));
  }
}

ToolSession::~ToolSession() { NotesTerm(); }

std::string ToolSession::BusytimeDatabasePath() {
  // One byte more than the setting may hold, so an over-long server name is
  // noticed instead of being cut into another server's name.
  std::array<char, kMaxTextBuffer + 2> home_server{};
  if (!GetEnvString("MailServer", home_server.data(),
                    static_cast<std::uint16_t>(home_server.size()))) {
    home_server[0] = '\0';
  }
  if (std::string_view(home_server.data()).size() >= kMaxTextBuffer) {
    throw ToolError("the setting MailServer is longer than a server name may be");
  }
  std::vector<char> path_name(kMaxPathBuffer, '\0');
  ThrowIfFailed(MakeNetPath(nullptr, home_server.data(), kBusytimeDatabase, path_name.data()),
                std::string("cannot build the path of ") + kBusytimeDatabase + " on server '" +
                    home_server.data() + "'");
  return std::string(path_name.data());
}

ScopedDb::ScopedDb(const std::string& path) {
  ThrowIfFailed(DbOpen(path.c_str(), &db_), "cannot open " + path);
}

ScopedDb::~ScopedDb() {
  if (db_ != 0) DbClose(db_);
}

Status ScopedDb::Close() {
  const Status status = DbClose(db_);
  db_ = 0;
  return status;
}

ScopedNote::ScopedNote(DbHandle db, NoteId note_id) {
  ThrowIfFailed(NoteOpen(db, note_id, 0, &note_), "cannot open note " + FormatNoteId(note_id));
}

ScopedNote::ScopedNote(DbHandle db) {
  ThrowIfFailed(NoteCreate(db, &note_), "cannot create a note");
}

ScopedNote::~ScopedNote() { NoteClose(note_); }

std::string ScopedNote::Text(const char* item_name) const {
  // Addresses and URLs are refused at 260 bytes, so this always holds them.
  std::array<char, 4096> buffer{};
  const std::uint16_t length =
      ItemGetText(note_, item_name, buffer.data(), static_cast<std::uint16_t>(buffer.size()));
  return std::string(buffer.data(), length);
}

std::string FormatNoteId(NoteId note_id) {
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "0x%08X", static_cast<unsigned>(note_id));
  return text.data();
}

}  // namespace nsfutil
