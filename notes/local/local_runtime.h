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

namespace notes::local {

// What a view shows: documents selected by a form name ("Form" item) or by
// the presence of an item, sorted case-insensitively by the text of one item,
// optionally grouped under category headings taken from another item's text.
struct ViewDesign {
  std::string name;           // the view's title, e.g. "Main"
  std::string select_form;    // empty: no form selection
  std::string select_item;    // empty: no item selection
  std::string sort_item;      // the key FindByName matches
  std::string category_item;  // empty: no categories
};

struct ItemInfo {
  std::string name;
  std::uint16_t type_code = 0;
  std::uint16_t flags = 0;
  std::vector<std::uint8_t> value;

  bool operator==(const ItemInfo&) const = default;
};

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
  Status CreateView(DbHandle hDb, const ViewDesign& design);
  // Every stored document (not design notes), in NoteId order.
  Status ListDocuments(DbHandle hDb, std::vector<NoteId>* note_ids);
  // Every item of an open note, in order, with its exact bytes.
  Status ReadItems(NoteHandle hNote, std::vector<ItemInfo>* items);
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
