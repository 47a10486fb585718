// LocalRuntime: notes and items. A note handle holds the whole note in
// memory; nothing reaches the database until NoteUpdate, which stores the
// note and all its items in one transaction. NoteClose forgets unsaved
// changes.
#include <algorithm>
#include <cstring>

#include "notes/local/local_runtime.h"
#include "notes/local/local_runtime_impl.h"
#include "notes/local/note_store.h"
#include "notes/status_codes.h"

namespace notes::local {
namespace {

// Only documents and views are stored; a NoteId with the top bit set is a
// view's category entry, never a note.
bool IsNoteId(NoteId note_id) { return note_id != 0 && (note_id & kNoteIdCategory) == 0; }

Status CheckItemName(const char* name, std::size_t length) {
  return name == nullptr || length == 0 ? kErrBadArgument : 0;
}

std::span<const std::uint8_t> Bytes(const void* data, std::size_t length) {
  if (length == 0) return {};
  return {static_cast<const std::uint8_t*>(data), length};
}

}  // namespace

Status LocalRuntime::NoteOpen(DbHandle database, NoteId note_id, std::uint16_t /*flags*/,
                              NoteHandle* handle) {
  if (handle == nullptr) return kErrBadArgument;
  *handle = 0;
  OpenDatabase* db = nullptr;
  Status status = impl_->Database(database, &db);
  if (status != 0) return status;
  if (!IsNoteId(note_id)) return kErrNoteNotFound;
  auto open = std::make_unique<OpenNote>();
  open->db = database;
  status = LoadNote(*db->statements, note_id, &open->note, true);
  if (status != 0) return status;
  open->items_loaded = false;
  NoteHandle added = impl_->notes.Add(std::move(open));
  if (added == 0) return kErrTooManyHandles;
  *handle = added;
  return 0;
}

Status LocalRuntime::NoteDelete(DbHandle database, NoteId note_id, std::uint16_t /*flags*/) {
  OpenDatabase* db = nullptr;
  Status status = impl_->DatabaseForReplacement(database, &db);
  if (status != 0) return status;
  if (!IsNoteId(note_id)) return kErrNoteNotFound;
  // The delete waits in an open transaction for the save that completes the
  // replacement (local_runtime_impl.h).
  const bool began = db->pending == nullptr;
  if (began) {
    auto transaction = std::make_unique<WriteTransaction>(db->connection.get());
    status = transaction->Begin();
    if (status != 0) return status;
    db->pending = std::move(transaction);
  }
  status = DeleteNote(*db->statements, note_id);
  if (status == 0) {
    db->views.NoteDeleted(note_id);
    impl_->pending_db = database;
  } else if (began) {
    db->pending.reset();  // nothing was deleted: the lock goes at once
  }
  return status;
}

Status LocalRuntime::NoteCreate(DbHandle database, NoteHandle* handle) {
  if (handle == nullptr) return kErrBadArgument;
  *handle = 0;
  OpenDatabase* db = nullptr;
  Status status = impl_->DatabaseForReplacement(database, &db);
  if (status != 0) return status;
  auto open = std::make_unique<OpenNote>();
  open->db = database;
  NoteHandle added = impl_->notes.Add(std::move(open));
  if (added == 0) {
    db->RollBackPending();  // the replacement cannot even begin
    return kErrTooManyHandles;
  }
  if (db->pending && db->replacement == 0) db->replacement = added;
  *handle = added;
  return 0;
}

Status LocalRuntime::NoteUpdate(NoteHandle handle, std::uint16_t /*flags*/) {
  OpenNote* open = nullptr;
  Status status = impl_->FindNoteWithItems(handle, &open);
  if (status != 0) return status;
  OpenDatabase* db = nullptr;
  status = impl_->DatabaseForReplacement(open->db, &db);
  if (status != 0) return status;
  // With deletes pending, the save joins their transaction and commits it;
  // when the replacement's save fails, the deletes go back with it.
  status = SaveNote(*db->statements, &open->note);
  if (status != 0) {
    if (db->replacement == handle) db->RollBackPending();
    return status;
  }
  status = db->CommitPending();
  if (status == 0) db->views.NoteSaved(open->note);
  return status;
}

Status LocalRuntime::NoteClose(NoteHandle handle) {
  OpenNote* open = nullptr;
  Status status = impl_->FindNote(handle, &open);
  if (status != 0) return status;
  OpenDatabase* db = impl_->databases.Find(open->db);
  if (db != nullptr && db->replacement == handle) db->RollBackPending();  // closed unsaved
  impl_->notes.Remove(handle);
  return 0;
}

std::uint16_t LocalRuntime::ItemGetText(NoteHandle handle, const char* item_name, char* buffer,
                                        std::uint16_t buffer_size) {
  if (buffer == nullptr || buffer_size == 0) return 0;
  buffer[0] = '\0';
  OpenNote* open = nullptr;
  if (item_name == nullptr || impl_->FindNote(handle, &open) != 0) return 0;
  const ItemInfo* item = FindTextItem(open->note, item_name);
  if (item == nullptr) return 0;
  const std::vector<std::uint8_t>* value = &item->value;
  // The whole value, zero bytes included: a caller that compares the length
  // with strlen sees a text that holds one, rather than a shorter text that
  // looks clean.
  const std::size_t length = std::min<std::size_t>(value->size(), buffer_size - 1u);
  if (length > 0) std::memcpy(buffer, value->data(), length);
  buffer[length] = '\0';
  return static_cast<std::uint16_t>(length);
}

Status LocalRuntime::ItemSetTime(NoteHandle handle, const char* item_name, const TimeDate* time) {
  OpenNote* open = nullptr;
  Status status = impl_->FindNoteWithItems(handle, &open);
  if (status != 0) return status;
  if (item_name == nullptr || time == nullptr) return kErrBadArgument;
  status = CheckItemName(item_name, std::strlen(item_name));
  if (status != 0) return status;
  ItemInfo item;
  item.name = item_name;
  item.type_code = kTypeTime;
  item.flags = kItemFlagSummary;
  item.value.assign(time->bytes, time->bytes + sizeof time->bytes);
  ReplaceItem(&open->note, std::move(item));
  return 0;
}

Status LocalRuntime::ItemSetText(NoteHandle handle, const char* item_name, const char* text,
                                 std::uint16_t length, bool summary) {
  OpenNote* open = nullptr;
  Status status = impl_->FindNoteWithItems(handle, &open);
  if (status != 0) return status;
  if (item_name == nullptr || (text == nullptr && length > 0)) return kErrBadArgument;
  status = CheckItemName(item_name, std::strlen(item_name));
  if (status != 0) return status;
  ReplaceItem(&open->note, MakeTextItem(item_name, Bytes(text, length), summary));
  return 0;
}

Status LocalRuntime::ItemAppend(NoteHandle handle, std::uint16_t item_flags, const char* item_name,
                                std::uint16_t name_length, std::uint16_t type_code,
                                const void* value, std::uint32_t value_length) {
  OpenNote* open = nullptr;
  Status status = impl_->FindNoteWithItems(handle, &open);
  if (status != 0) return status;
  status = CheckItemName(item_name, name_length);
  if (status != 0) return status;
  if (value == nullptr && value_length > 0) return kErrBadArgument;
  if (value_length > kMaxItemValue) return kErrValueTooLarge;
  ItemInfo item;
  item.name.assign(item_name, name_length);
  item.type_code = type_code;
  item.flags = item_flags;
  auto bytes = Bytes(value, value_length);
  item.value.assign(bytes.begin(), bytes.end());
  open->note.items.push_back(std::move(item));
  return 0;
}

Status LocalRuntime::ListDocuments(DbHandle database, std::vector<NoteId>* note_ids) {
  if (note_ids == nullptr) return kErrBadArgument;
  OpenDatabase* db = nullptr;
  Status status = impl_->Database(database, &db);
  if (status != 0) return status;
  return ListNoteIds(*db->statements, kNoteClassDocument, note_ids);
}

Status LocalRuntime::ReadItems(NoteHandle handle, std::vector<ItemInfo>* items) {
  if (items == nullptr) return kErrBadArgument;
  OpenNote* open = nullptr;
  Status status = impl_->FindNoteWithItems(handle, &open);
  if (status != 0) return status;
  *items = open->note.items;
  return 0;
}

}  // namespace notes::local
