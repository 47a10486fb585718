// The fake gateway's views: finding a view, its collection, the search by
// name and the read passes.
//
// A view position is the 1-based index of the current entry in index[0] (0:
// before the first). A read skips forward from there, returns entries starting
// at the current one, and leaves the position on the last entry returned, so
// "skip 1, return n" continues a view and "skip 0" reads from a found match.
#include "tests/support/fake_gateway.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "notes/local/view.h"
#include "notes/status_codes.h"
#include "tests/support/fake_gateway_items.h"

namespace test_support {

using namespace fake_items;  // the item helpers every part of the fake uses

Status FakeGateway::FindDesignNote(DbHandle database, const char* name, std::uint16_t note_class,
                                   const char* pattern, NoteId* view_id, std::uint32_t options) {
  if (const Status status =
          Enter("FindDesignNote", DbName(database) + "," + name + "," + std::to_string(note_class) +
                                      "," + pattern + "," + std::to_string(options)))
    return status;
  const auto db = databases.find(DbName(database));
  if (db == databases.end()) return notes::kErrInvalidDbHandle;
  if (db->second.views.count(name) == 0) return notes::kErrViewNotFound;
  view_notes_.emplace_back(db->first, name);
  *view_id = static_cast<NoteId>(0xF000 + view_notes_.size() - 1);
  return 0;
}

Status FakeGateway::OpenCollection(DbHandle view_db, DbHandle data_db, NoteId view_id,
                                   std::uint16_t flags, MemHandle unread_list,
                                   CollectionHandle* hCollection, void*, void*, void*, void*) {
  const std::size_t index = view_id - 0xF000;
  const std::string view_name = index < view_notes_.size() ? view_notes_[index].second : "?";
  if (const Status status =
          Enter("OpenCollection", DbName(view_db) + "," + DbName(data_db) + "," + view_name +
                                      "," + std::to_string(flags) + "," +
                                      std::to_string(unread_list)))
    return status;
  if (index >= view_notes_.size() || view_notes_[index].first != DbName(view_db))
    return notes::kErrViewNotFound;
  *hCollection = static_cast<CollectionHandle>(next_handle_++);
  open_collections[*hCollection] = FakeCollection{view_notes_[index].first, view_name};
  return 0;
}

Status FakeGateway::CloseCollection(CollectionHandle hCollection) {
  if (const Status status = Enter("CloseCollection", CollectionName(hCollection))) return status;
  return open_collections.erase(hCollection) == 1 ? 0 : notes::kErrInvalidCollectionHandle;
}

Status FakeGateway::FindByName(CollectionHandle hCollection, const char* key,
                               std::uint16_t flags, CollectionPosition* position,
                               std::uint32_t* match_count) {
  if (const Status status = Enter("FindByName", CollectionName(hCollection) + "," + key + "," +
                                                    std::to_string(flags)))
    return status;
  const auto collection = open_collections.find(hCollection);
  if (collection == open_collections.end()) return notes::kErrInvalidCollectionHandle;
  constexpr std::uint16_t kCaseInsensitive = 2;
  if ((flags & ~kCaseInsensitive) != 0) return notes::kErrBadArgument;
  const FakeDatabase& db = databases[collection->second.db_path];
  const FakeView& view = db.views.at(collection->second.view_name);
  std::uint32_t first = 0;
  std::uint32_t count = 0;
  for (std::size_t i = 0; i < view.entries.size(); ++i) {
    const auto doc = db.documents.find(view.entries[i]);
    if ((view.entries[i] & kNoteIdCategory) != 0 || doc == db.documents.end()) continue;
    const FakeItem* item = FindItem(doc->second, view.key_item.c_str());
    if (item == nullptr) continue;
    const std::string text = TextOf(*item);
    if (flags & kCaseInsensitive ? !SameText(text, key) : text != key) continue;
    if (count++ == 0) first = static_cast<std::uint32_t>(i + 1);
  }
  if (count == 0) return notes::kErrNoMatch;
  *position = CollectionPosition{};
  position->index[0] = first;
  *match_count = count;
  return 0;
}

Status FakeGateway::ReadEntries(CollectionHandle hCollection, CollectionPosition* position,
                                std::uint16_t skip_direction, std::uint32_t skip_count,
                                std::uint16_t return_direction, std::uint32_t return_count,
                                std::uint32_t read_mask, MemHandle* hBuffer,
                                std::uint32_t* buffer_length, std::uint32_t* skipped,
                                std::uint32_t* entries_returned, std::uint16_t* signal_flags) {
  if (const Status status =
          Enter("ReadEntries", CollectionName(hCollection) + "," + std::to_string(skip_direction) +
                                   "," + std::to_string(skip_count) + "," +
                                   std::to_string(return_direction) + "," +
                                   std::to_string(return_count) + "," + std::to_string(read_mask)))
    return status;
  const auto collection = open_collections.find(hCollection);
  if (collection == open_collections.end()) return notes::kErrInvalidCollectionHandle;
  // The directions and the mask the local runtime knows: forward, or "stay"
  // to read from a found entry; NoteIds only.
  const bool stays = skip_direction == 0 && skip_count == 0;
  if ((skip_direction != 1 && !stays) || return_direction != 1 || read_mask != 1)
    return notes::kErrBadArgument;
  const std::vector<NoteId>& entries =
      databases[collection->second.db_path].views.at(collection->second.view_name).entries;
  const notes::local::ReadPass pass = notes::local::PlanReadPass(
      static_cast<std::uint32_t>(entries.size()), position->index[0], skip_count, return_count,
      read_pass_size != 0 ? read_pass_size : std::numeric_limits<std::uint32_t>::max());

  std::vector<std::uint8_t> bytes(pass.count * sizeof(NoteId));
  if (pass.count > 0) std::memcpy(bytes.data(), &entries[pass.first - 1], bytes.size());
  *hBuffer = pass.count > 0 ? NewBlock(std::move(bytes)) : 0;
  *position = CollectionPosition{};
  position->index[0] = pass.position;
  if (buffer_length) *buffer_length = static_cast<std::uint32_t>(pass.count * sizeof(NoteId));
  if (skipped) *skipped = pass.skipped;
  if (entries_returned) *entries_returned = pass.count;
  if (signal_flags) *signal_flags = pass.more ? kSignalMoreToDo : 0;
  return 0;
}

}  // namespace test_support
