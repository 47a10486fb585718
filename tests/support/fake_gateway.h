// The scriptable fake gateway: an in-memory backend whose whole state is a set
// of public tables that a test fills before the run and inspects afterwards.
//
// - settings: name -> value, for GetEnvString.
// - databases: path -> views (name -> entry NoteIds in view order, category
//   entries with the top bit set, and the item whose text FindByName matches)
//   and documents (NoteId -> items in order).
// - fail: the Nth call of a named operation returns a chosen status.
// - read_pass_size: at most this many entries per ReadEntries pass (0: all),
//   so a view can be forced to be read in several passes.
// - calls: one line per operation, e.g. "NoteOpen(ruvconfig.nsf,0x00000010)".
// - blocks, open_dbs, open_collections, open_notes: what is allocated or open.
// - violations: misuse the fake noticed (a call after NotesTerm, an unknown or
//   still locked block freed, ...). A correct program leaves it empty.
//
// Handles are never reused. Faults, unknown handles, missing things and calls
// outside NotesInit..NotesTerm return the local runtime's status codes
// (notes/status_codes.h) and leave outputs untouched. NotesTerm leaves the open tables as they were, so a test can see
// what the program left open. Install it with notes::ScopedBackend.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "notes/backend.h"
#include "tests/support/faulty_backend.h"

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
  FaultPlan fail;
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
  // The text of a document item, or "" when there is no such item.
  std::string ItemText(const std::string& db_path, NoteId note_id,
                       const std::string& item_name) const;

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
  // Reads exactly "YYYY-MM-DD HH:MM:SS GMT" into the local runtime's layout
  // (notes/local/time_date.h), with the local runtime's own reader.
  Status TextToTime(const IntlSettings* settings, const TimeTextFormat* format,
                    const char** text_ptr, std::uint16_t length, TimeDate* time) override;
  // "fake error N", N the error number in decimal.
  std::uint16_t LoadErrorText(const void* module, std::uint16_t error_number, char* buffer,
                              std::uint16_t size) override;

 private:
  // Logs the call, notes a call after NotesTerm, and asks the fault plan.
  Status Enter(const std::string& operation, const std::string& arguments = "");
  std::string DbName(DbHandle hDb) const;
  std::string CollectionName(CollectionHandle hCollection) const;
  std::string NoteName(NoteHandle hNote) const;
  FakeOpenNote* FindNote(NoteHandle hNote);
  MemHandle NewBlock(std::vector<std::uint8_t> bytes);

  std::vector<std::pair<std::string, std::string>> view_notes_;  // (db path, view name)
  std::uint32_t next_handle_ = 1;
};

}  // namespace test_support
