// The fake gateway's notes and their items: open, create, update, delete,
// close, and the reads and writes of items.
#include "tests/support/fake_gateway.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "notes/status_codes.h"
#include "tests/support/fake_gateway_items.h"

namespace test_support {

using namespace fake_items;  // the item helpers every part of the fake uses

Status FakeGateway::NoteOpen(DbHandle database, NoteId note_id, std::uint16_t,
                             NoteHandle* handle) {
  if (const Status status = Enter("NoteOpen", DbName(database) + "," + Hex(note_id))) return status;
  const auto db = databases.find(DbName(database));
  if (db == databases.end()) return notes::kErrInvalidDbHandle;
  const auto doc = db->second.documents.find(note_id);
  if (doc == db->second.documents.end()) return notes::kErrNoteNotFound;
  *handle = next_handle_++;
  open_notes[*handle] = FakeOpenNote{db->first, note_id, doc->second, database};
  return 0;
}

Status FakeGateway::NoteDelete(DbHandle database, NoteId note_id, std::uint16_t flags) {
  if (const Status status = Enter("NoteDelete", DbName(database) + "," + Hex(note_id) + "," +
                                                    std::to_string(flags)))
    return status;
  const auto db = databases.find(DbName(database));
  if (db == databases.end()) return notes::kErrInvalidDbHandle;
  if (db->second.documents.erase(note_id) == 0) return notes::kErrNoteNotFound;
  for (auto& [name, view] : db->second.views) std::erase(view.entries, note_id);
  return 0;
}

Status FakeGateway::NoteCreate(DbHandle database, NoteHandle* handle) {
  if (const Status status = Enter("NoteCreate", DbName(database))) return status;
  if (open_dbs.count(database) == 0) return notes::kErrInvalidDbHandle;
  *handle = next_handle_++;
  open_notes[*handle] = FakeOpenNote{open_dbs[database], 0, {}, database};
  return 0;
}

Status FakeGateway::NoteUpdate(NoteHandle handle, std::uint16_t flags) {
  if (const Status status = Enter("NoteUpdate", NoteName(handle) + "," + std::to_string(flags)))
    return status;
  FakeOpenNote* note = FindNote(handle);
  if (note == nullptr) return notes::kErrInvalidNoteHandle;
  if (open_dbs.count(note->db) == 0) return notes::kErrInvalidDbHandle;  // its database closed
  FakeDatabase& db = databases[note->db_path];
  // A stored note that someone deleted meanwhile is not brought back.
  if (note->note_id != 0 && db.documents.count(note->note_id) == 0) return notes::kErrNoteDeleted;
  if (note->note_id == 0) note->note_id = db.next_note_id++;
  db.documents[note->note_id] = note->items;
  PlaceInViews(db, note->note_id);
  return 0;
}

Status FakeGateway::NoteClose(NoteHandle handle) {
  if (const Status status = Enter("NoteClose", NoteName(handle))) return status;
  return open_notes.erase(handle) == 1 ? 0 : notes::kErrInvalidNoteHandle;
}

std::uint16_t FakeGateway::ItemGetText(NoteHandle handle, const char* item_name, char* buffer,
                                       std::uint16_t buffer_size) {
  const Status status =
      Enter("ItemGetText", NoteName(handle) + "," + item_name + "," + std::to_string(buffer_size));
  if (buffer_size == 0) return 0;
  buffer[0] = '\0';
  if (status != 0) return 0;
  const FakeOpenNote* note = FindNote(handle);
  const FakeItem* item = note ? FindItem(note->items, item_name) : nullptr;
  if (item == nullptr) return 0;
  const std::size_t length = std::min<std::size_t>(item->bytes.size(), buffer_size - 1u);
  if (length > 0) std::memcpy(buffer, item->bytes.data(), length);
  buffer[length] = '\0';
  return static_cast<std::uint16_t>(length);
}

Status FakeGateway::ItemSetTime(NoteHandle handle, const char* item_name, const TimeDate* time) {
  if (const Status status = Enter("ItemSetTime", NoteName(handle) + "," + item_name)) return status;
  FakeOpenNote* note = FindNote(handle);
  if (note == nullptr) return notes::kErrInvalidNoteHandle;
  SetItem(note->items, FakeItem{item_name, kTypeTime, 0, {time->bytes, time->bytes + 8}});
  return 0;
}

Status FakeGateway::ItemSetText(NoteHandle handle, const char* item_name, const char* text,
                                std::uint16_t length, bool summary) {
  if (const Status status = Enter("ItemSetText", NoteName(handle) + "," + item_name)) return status;
  FakeOpenNote* note = FindNote(handle);
  if (note == nullptr) return notes::kErrInvalidNoteHandle;
  if (!ValidItemName(item_name, std::strlen(item_name))) return notes::kErrBadArgument;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
  SetItem(note->items, FakeItem{item_name, kTypeText,
                                static_cast<std::uint16_t>(summary ? kItemFlagSummary : 0),
                                {bytes, bytes + length}});
  return 0;
}

Status FakeGateway::ItemAppend(NoteHandle handle, std::uint16_t item_flags, const char* item_name,
                               std::uint16_t name_length, std::uint16_t type_code,
                               const void* value, std::uint32_t value_length) {
  const std::string name(item_name, name_length);
  if (const Status status = Enter("ItemAppend", NoteName(handle) + "," + name)) return status;
  FakeOpenNote* note = FindNote(handle);
  if (note == nullptr) return notes::kErrInvalidNoteHandle;
  if (!ValidItemName(item_name, name_length)) return notes::kErrBadArgument;
  const auto* bytes = static_cast<const std::uint8_t*>(value);
  note->items.push_back(FakeItem{name, type_code, item_flags, {bytes, bytes + value_length}});
  return 0;
}

}  // namespace test_support
