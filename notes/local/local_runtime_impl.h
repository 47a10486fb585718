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
#include "notes/local/view_cache.h"

namespace notes::local {

constexpr std::uint32_t kDefaultViewReadPassSize = 16384;
constexpr std::uint32_t kMaxViewReadPassSize = 1u << 24;
constexpr std::uint32_t kDefaultLockTimeoutMs = 10000;
constexpr std::uint32_t kMaxLockTimeoutMs = 3600000;

// The statements and the view cache belong to the connection and go before it.
struct OpenDatabase {
  Connection connection;
  std::filesystem::path file;
  std::unique_ptr<PreparedStatements> statements;
  ViewCache views;

  // A database is brought to disk as it closes: the checkpoint flushes the
  // commits that synchronous=NORMAL left to the operating system. It is
  // passive: a reader in another process never makes closing wait.
  ~OpenDatabase() {
    if (connection) {
      sqlite3_wal_checkpoint_v2(connection.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                nullptr);
    }
  }
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

  // An open database: kErrNotInitialized before NotesInit,
  // kErrInvalidDbHandle for an unknown or closed handle.
  Status Database(DbHandle hDb, OpenDatabase** db) const;
  // The note of a note handle (same statuses, kErrInvalidNoteHandle).
  Status FindNote(NoteHandle hNote, OpenNote** note) const;
  // The file a database path names inside the data directory.
  Status ResolvePath(const char* path, std::filesystem::path* file) const;
  // The entries of a collection as the database holds them now; valid until
  // the next change or read of the database.
  Status ReadView(const Collection& collection, const std::vector<ViewEntry>** entries) const;
  // Everything NotesTerm releases.
  void CloseAll();
};

}  // namespace notes::local
