// The local runtime: a real, durable implementation of the platform on SQLite,
// one SQLite file per database, configured by a notes.ini settings file.
//
// Besides the platform operations (notes/backend.h) it offers the
// administration calls the admin tool and the tests need: creating databases
// and views, listing documents and reading every item of a note.
//
// Handles are small integers that are never reused while the runtime runs; a
// stale or unknown handle gives an error status. NotesTerm closes everything
// still open and forgets unsaved notes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "notes/backend.h"
#include "notes/local/note.h"
#include "notes/local/view.h"

namespace notes::local {

class LocalRuntime final : public Backend {
 public:
  LocalRuntime();
  ~LocalRuntime() override;

  // --- platform operations (see notes/notes.h) ---
  NOTES_BACKEND_OPERATIONS(NOTES_BACKEND_OVERRIDE)

  // --- administration (admin tool and tests); the runtime must be started ---

  // Creates a new, empty database at `path` (as DbOpen takes it), making the
  // server folder when needed. Refuses an existing file.
  Status CreateDatabase(const char* path);
  // Adds a view design note (class 8) to an open database.
  Status CreateView(DbHandle database, const ViewDesign& design);
  // Every stored document (not design notes), in NoteId order.
  Status ListDocuments(DbHandle database, std::vector<NoteId>* note_ids);
  // Every item of an open note, in order, with its exact bytes.
  Status ReadItems(NoteHandle handle, std::vector<ItemInfo>* items);
  // Checks the SQLite integrity and our schema of the database at `path`;
  // appends one line per problem found.
  Status CheckDatabase(const char* path, std::vector<std::string>* problems);
  // The data directory of the running runtime.
  const std::filesystem::path& DataDirectory() const;

 private:
  struct Impl;  // notes/local/local_runtime_impl.h
  std::unique_ptr<Impl> impl_;
};

}  // namespace notes::local
