// The state of one LocalRuntime: settings, and the tables of open databases,
// notes, collections and memory blocks. Shared by local_runtime*.cc only.
#pragma once

#include <cstdint>
#include <filesystem>

#include "notes/local/handle_table.h"
#include "notes/local/local_runtime.h"
#include "notes/local/memory_blocks.h"
#include "notes/local/note.h"
#include "notes/local/settings.h"
#include "notes/local/sqlite_util.h"
#include "notes/local/view.h"

namespace notes::local {

constexpr std::uint32_t kDefaultViewReadPassSize = 16384;
constexpr std::uint32_t kMaxViewReadPassSize = 1u << 24;
constexpr std::uint32_t kDefaultLockTimeoutMs = 10000;
constexpr std::uint32_t kMaxLockTimeoutMs = 3600000;

struct OpenDatabase {
  Connection connection;
  std::filesystem::path file;
};

struct OpenNote {
  DbHandle db = 0;  // the database it came from or will be stored in
  Note note;
};

struct Collection {
  DbHandle data_db = 0;
  ViewDesign design;
};

struct LocalRuntime::Impl {
  bool initialized = false;
  std::filesystem::path settings_file;
  std::filesystem::path data_directory;
  Settings settings;
  std::uint32_t view_read_pass_size = kDefaultViewReadPassSize;
  int lock_timeout_ms = static_cast<int>(kDefaultLockTimeoutMs);

  HandleTable<DbHandle, OpenDatabase> databases;
  HandleTable<NoteHandle, OpenNote> notes;
  HandleTable<CollectionHandle, Collection> collections;
  MemoryBlocks memory;

  // The connection of an open database: kErrNotInitialized before NotesInit,
  // kErrInvalidDbHandle for an unknown or closed handle.
  Status Database(DbHandle hDb, sqlite3** db) const;
  // The note of a note handle (same statuses, kErrInvalidNoteHandle).
  Status FindNote(NoteHandle hNote, OpenNote** note) const;
  // The file a database path names inside the data directory.
  Status ResolvePath(const char* path, std::filesystem::path* file) const;
  // The entries of a collection as the database holds them now.
  Status ReadView(const Collection& collection, std::vector<ViewEntry>* entries) const;
  // Everything NotesTerm releases.
  void CloseAll();
};

}  // namespace notes::local
