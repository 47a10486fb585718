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
  Status NotesInit(int argc, char** argv) override;
  void NotesTerm() override;
  Status DbOpen(const char* path, DbHandle* hDb) override;
  Status DbClose(DbHandle hDb) override;
  bool GetEnvString(const char* name, char* buffer, std::uint16_t limit) override;
  Status MakeNetPath(const char* port, const char* server, const char* file,
                     char* path_out) override;
  Status FindDesignNote(DbHandle hDb, const char* name, std::uint16_t note_class,
                        const char* pattern, NoteId* view_id, std::uint32_t options) override;
  Status OpenCollection(DbHandle view_db, DbHandle data_db, NoteId view_id, std::uint16_t flags,
                        MemHandle unread_list, CollectionHandle* hCollection, void* unused_out1,
                        void* unused_out2, void* unused_out3, void* unused_out4) override;
  Status CloseCollection(CollectionHandle hCollection) override;
  Status FindByName(CollectionHandle hCollection, const char* key, std::uint16_t flags,
                    CollectionPosition* position, std::uint32_t* match_count) override;
  Status ReadEntries(CollectionHandle hCollection, CollectionPosition* position,
                     std::uint16_t skip_direction, std::uint32_t skip_count,
                     std::uint16_t return_direction, std::uint32_t return_count,
                     std::uint32_t read_mask, MemHandle* hBuffer, std::uint32_t* buffer_length,
                     std::uint32_t* skipped, std::uint32_t* entries_returned,
                     std::uint16_t* signal_flags) override;
  void* LockObject(MemHandle hMem) override;
  bool UnlockObject(MemHandle hMem) override;
  void FreeObject(MemHandle hMem) override;
  Status AllocObject(std::uint32_t size, MemHandle* hMem) override;
  Status NoteOpen(DbHandle hDb, NoteId note_id, std::uint16_t flags, NoteHandle* hNote) override;
  Status NoteDelete(DbHandle hDb, NoteId note_id, std::uint16_t flags) override;
  Status NoteCreate(DbHandle hDb, NoteHandle* hNote) override;
  Status NoteUpdate(NoteHandle hNote, std::uint16_t flags) override;
  Status NoteClose(NoteHandle hNote) override;
  std::uint16_t ItemGetText(NoteHandle hNote, const char* item_name, char* buffer,
                            std::uint16_t buffer_size) override;
  Status ItemSetTime(NoteHandle hNote, const char* item_name, const TimeDate* time) override;
  Status ItemSetText(NoteHandle hNote, const char* item_name, const char* text,
                     std::uint16_t length, bool summary) override;
  Status ItemAppend(NoteHandle hNote, std::uint16_t item_flags, const char* item_name,
                    std::uint16_t name_length, std::uint16_t type_code, const void* value,
                    std::uint32_t value_length) override;
  void CurrentTime(TimeDate* now) override;
  void GetIntlSettings(IntlSettings* settings, std::uint16_t size) override;
  Status TextToTime(const IntlSettings* settings, const TimeTextFormat* format,
                    const char** text_ptr, std::uint16_t length, TimeDate* time) override;
  std::uint16_t LoadErrorText(const void* module, std::uint16_t error_number, char* buffer,
                              std::uint16_t size) override;

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
  // The data directory and settings file of the running runtime.
  const std::filesystem::path& DataDirectory() const;
  const std::filesystem::path& SettingsFile() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace notes::local
