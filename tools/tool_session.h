// The local runtime as nsfutil uses it: one runtime started from the settings
// file for the whole command, installed as the gateway's backend so the
// platform calls go through the same code, files and locking as the harvest.
// Databases and notes are held by small owners that close them on every path.
#pragma once

#include <string>

#include "notes/backend.h"
#include "notes/local/local_runtime.h"
#include "notes/notes.h"

namespace nsfutil {

constexpr const char* kConfigDatabase = "ruvconfig.nsf";
constexpr const char* kBusytimeDatabase = "busytime.nsf";
constexpr const char* kViewName = kMainView;

// Starts the runtime with the settings file `ini_path` (NotesInit with the
// arguments "nsfutil" and "=PATH"); ends it on destruction. Throws ToolError
// when the runtime does not start.
class ToolSession {
 public:
  explicit ToolSession(const std::string& ini_path);
  ~ToolSession();
  ToolSession(const ToolSession&) = delete;
  ToolSession& operator=(const ToolSession&) = delete;

  notes::local::LocalRuntime& Runtime() { return runtime_; }

  // The path of the home mail server's busy-time database, as the harvest
  // builds it from the setting "MailServer" (empty or absent: this machine).
  std::string BusytimeDatabasePath();

 private:
  notes::local::LocalRuntime runtime_;
  notes::ScopedBackend backend_;
};

// An open database; closed on destruction. Throws ToolError when DbOpen fails.
class ScopedDb {
 public:
  explicit ScopedDb(const std::string& path);
  ~ScopedDb();
  ScopedDb(const ScopedDb&) = delete;
  ScopedDb& operator=(const ScopedDb&) = delete;

  DbHandle Handle() const { return db_; }
  // Closes the database now; the status of DbClose. A command that deleted
  // notes closes this way before it reports them gone: the deletes are
  // committed as the database closes, and that commit may still fail.
  Status Close();

 private:
  DbHandle db_ = 0;
};

// An open or new note; closed on destruction (unsaved changes are dropped).
class ScopedNote {
 public:
  // Opens a stored note. Throws ToolError when NoteOpen fails.
  ScopedNote(DbHandle db, NoteId note_id);
  // Creates a new note in `db`. Throws ToolError when NoteCreate fails.
  explicit ScopedNote(DbHandle db);
  ~ScopedNote();
  ScopedNote(const ScopedNote&) = delete;
  ScopedNote& operator=(const ScopedNote&) = delete;

  NoteHandle Handle() const { return note_; }
  // The text of an item, or empty when the item is absent.
  std::string Text(const char* item_name) const;

 private:
  NoteHandle note_ = 0;
};

// A NoteId as an administrator sees it: 0x0000002A.
std::string FormatNoteId(NoteId note_id);

}  // namespace nsfutil
