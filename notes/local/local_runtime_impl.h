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
//
// A deleted note stays deleted only within a write transaction left open
// (`pending`): the next NoteUpdate on the database stores its note in that
// same transaction and commits both, so replacing a document (delete, create,
// fill, save) is one commit, and a process that dies in between has deleted
// nothing. The write lock is held meanwhile, so the replacement must follow
// at once: any other call that reads or opens something, or touches another
// database, commits the pending delete first (Impl::Settle); only creating
// the replacement, setting its items, memory blocks and closing notes and
// collections leave it open. Closing the database commits it too (an admin
// tool's delete is durable once it closed the database), unless a note
// created after the delete is still unsaved: that replacement was abandoned,
// and the delete is rolled back with it, as it is when that note is closed
// unsaved or its save fails. Ending the runtime without closing the database
// (a run that stops on an error) rolls a pending delete back, as a process
// that dies does.
struct OpenDatabase {
  Connection connection;
  std::filesystem::path file;
  std::unique_ptr<PreparedStatements> statements;
  ViewCache views;
  std::unique_ptr<WriteTransaction> pending;  // holds deletes not yet committed
  NoteHandle replacement = 0;                 // the note created after them, until saved

  // Commits the pending deletes, if any.
  Status CommitPending();
  // Rolls the pending deletes back; the views are read again.
  void RollBackPending();

  // A database is brought to disk as it closes: the checkpoint flushes the
  // commits that synchronous=NORMAL left to the operating system. It is
  // passive: a reader in another process never makes closing wait.
  ~OpenDatabase() {
    RollBackPending();
    if (connection) {
      sqlite3_wal_checkpoint_v2(connection.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                nullptr);
    }
  }
};

struct OpenNote {
  DbHandle db = 0;  // the database it came from or will be stored in
  Note note;
  // NoteOpen reads the values of text items only, so a lookup that checks a
  // document's name does not read its entry lists; the rest is read once
  // anything needs the items whole.
  bool items_loaded = true;
};

struct Collection {
  DbHandle data_db = 0;
  ViewDesign design;
};

struct LocalRuntime::Impl {
  bool initialized = false;
  std::filesystem::path data_directory;
  Settings settings;
  std::uint32_t view_read_pass_size = kDefaultViewReadPassSize;
  int lock_timeout_ms = static_cast<int>(kDefaultLockTimeoutMs);
  mutable DbHandle pending_db = 0;  // the database with a pending delete, if any

  HandleTable<DbHandle, OpenDatabase> databases;
  HandleTable<NoteHandle, OpenNote> notes;
  HandleTable<CollectionHandle, Collection> collections;
  MemoryBlocks memory;

  // An open database: kErrNotInitialized before NotesInit,
  // kErrInvalidDbHandle for an unknown or closed handle. Commits a pending
  // delete first, of whichever database.
  Status Database(DbHandle database, OpenDatabase** db) const;
  // The same for the steps of a replacement (delete, create, save): a
  // pending delete of that database stays open.
  Status DatabaseForReplacement(DbHandle database, OpenDatabase** db) const;
  // Commits the pending delete, if any; its status.
  Status Settle() const;
  // The note of a note handle (same statuses, kErrInvalidNoteHandle).
  Status FindNote(NoteHandle handle, OpenNote** note) const;
  // The same, with all the note's items loaded.
  Status FindNoteWithItems(NoteHandle handle, OpenNote** note) const;
  // The file a database path names inside the data directory.
  Status ResolvePath(const char* path, std::filesystem::path* file) const;
  // The entries of a collection as the database holds them now; valid until
  // the next change or read of the database.
  Status ReadView(const Collection& collection, const std::vector<ViewEntry>** entries) const;
  // Rolls back `db`'s pending deletes when the note created after them is
  // still open unsaved: the replacement was given up.
  void AbandonReplacement(OpenDatabase& db) const;
  // Everything NotesTerm releases.
  void CloseAll();
};

}  // namespace notes::local
