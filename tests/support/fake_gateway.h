// The scriptable fake gateway: an in-memory backend whose whole state is a set
// of public tables that a test fills before the run and inspects afterwards.
//
// - settings: name -> value, for GetEnvString.
// - databases: path -> views (name -> entry NoteIds in view order, category
//   entries with the top bit set, and the item whose text FindByName matches)
//   and documents (NoteId -> items in order).
// - read_pass_size: at most this many entries per ReadEntries pass (0: all),
//   so a view can be forced to be read in several passes.
// - calls: one line per operation, e.g. "NoteOpen(ruvconfig.nsf,0x00000010)".
// - blocks, open_dbs, open_collections, open_notes: what is allocated or open.
// - violations: misuse the fake noticed (a call after NotesTerm, an unknown or
//   still locked block freed, ...). A correct program leaves it empty.
//
// Handles are never reused. Unknown handles, missing things and calls outside
// NotesInit..NotesTerm return the local runtime's status codes
// (notes/status_codes.h) and leave outputs untouched. NotesTerm leaves the
// open tables as they were, so a test can see what the program left open.
// TextToTime reads exactly "YYYY-MM-DD HH:MM:SS GMT" with the local runtime's
// own reader (notes/local/time_date.h); LoadErrorText gives "fake error N", N
// the error number in decimal. Install it with notes::ScopedBackend; to make
// calls fail, install a test_support::FaultyBackend over it
// (tests/support/faulty_backend.h).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "notes/backend.h"

namespace test_support {

struct FakeItem {
  std::string name;
  std::uint16_t type = kTypeText;
  std::uint16_t flags = 0;
  std::vector<std::uint8_t> bytes;
};

// A text item as the program reads it with ItemGetText.
FakeItem TextItem(const std::string& name, const std::string& value);

// A saved document is put into every view whose key item it holds as a
// non-empty text, at its place by key (case-insensitive) and NoteId.
struct FakeView {
  std::vector<NoteId> entries;   // view order; top bit set: category entry
  std::string key_item;          // the text item FindByName compares
};

struct FakeDatabase {
  std::map<std::string, FakeView> views;
  std::map<NoteId, std::vector<FakeItem>> documents;
  NoteId next_note_id = 0x1000;  // given to notes created here when saved
};

struct FakeBlock {
  std::vector<std::uint8_t> bytes;
  int locks = 0;
};

struct FakeOpenNote {
  std::string db_path;
  NoteId note_id = 0;            // 0 until a created note is saved
  std::vector<FakeItem> items;
  DbHandle db = 0;               // the handle it was opened or created through
};

struct FakeCollection {
  std::string db_path;
  std::string view_name;
};

class FakeGateway : public notes::Backend {
 public:
  // --- tables a test fills ---
  std::map<std::string, std::string> settings;
  std::map<std::string, FakeDatabase> databases;
  std::uint32_t read_pass_size = 0;
  TimeDate now{{0x00, 0xEB, 0x41, 0x00, 0x97, 0x8A, 0x25, 0x00}};  // 2024-01-01 12:00:00 GMT

  // --- what the program did ---
  std::vector<std::string> calls;
  std::vector<std::string> violations;
  std::map<MemHandle, FakeBlock> blocks;
  std::map<DbHandle, std::string> open_dbs;
  std::map<CollectionHandle, FakeCollection> open_collections;
  std::map<NoteHandle, FakeOpenNote> open_notes;
  bool running = false;
  bool terminated = false;

  // The calls whose operation name is not in `ignored` (e.g. the item writes
  // and time conversions of a document fill).
  std::vector<std::string> CallsWithout(const std::vector<std::string>& ignored) const;
  // The calls with the memory calls' arguments left out: their handle
  // numbers are the fake's, not the test's.
  std::vector<std::string> CallsWithoutHandles() const;
  // The text of a document item, or "" when there is no such item.
  std::string ItemText(const std::string& db_path, NoteId note_id,
                       const std::string& item_name) const;

  NOTES_BACKEND_OPERATIONS(NOTES_BACKEND_OVERRIDE)

 private:
  // Logs the call and notes a call after NotesTerm; a status when the
  // runtime is not started.
  Status Enter(const std::string& operation, const std::string& arguments = "");
  std::string DbName(DbHandle database) const;
  std::string CollectionName(CollectionHandle hCollection) const;
  std::string NoteName(NoteHandle handle) const;
  FakeOpenNote* FindNote(NoteHandle handle);
  MemHandle NewBlock(std::vector<std::uint8_t> bytes);

  std::vector<std::pair<std::string, std::string>> view_notes_;  // (db path, view name)
  std::uint32_t next_handle_ = 1;
};

}  // namespace test_support
