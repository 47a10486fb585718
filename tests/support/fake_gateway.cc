// The in-memory backend behind tests/support/fake_gateway.h.
//
// A view position is the 1-based index of the current entry in index[0] (0:
// before the first). A read skips forward from there, returns entries starting
// at the current one, and leaves the position on the last entry returned, so
// "skip 1, return n" continues a view and "skip 0" reads from a found match.
//
// Where the local runtime's behaviour is pure logic (the plan of a read pass,
// the time text) the fake calls the same code, so that the two cannot drift;
// tests/notes_gateway_contract_test.cc holds both to the same behaviour.
#include "tests/support/fake_gateway.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "base/ascii.h"
#include "notes/local/time_date.h"
#include "notes/local/view.h"
#include "notes/status_codes.h"

namespace test_support {
namespace {

std::string Hex(NoteId note_id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(note_id));
  return text;
}

// Folds as the local runtime's views do.
bool SameText(const std::string& a, const char* b) { return EqualsIgnoreCase(a, b); }

std::string TextOf(const FakeItem& item) {
  const auto end = std::find(item.bytes.begin(), item.bytes.end(), std::uint8_t{0});
  return std::string(item.bytes.begin(), end);
}

// Only text items are read as texts, as in the local runtime.
const FakeItem* FindItem(const std::vector<FakeItem>& items, const char* name) {
  for (const FakeItem& item : items) {
    if (item.type == kTypeText && SameText(item.name, name)) return &item;
  }
  return nullptr;
}

// The key a view sorts a document by, or nullopt when the view does not show
// it (no text, or an empty one, in its key item).
std::optional<std::string> ViewKey(const FakeView& view, const std::vector<FakeItem>& items) {
  const FakeItem* item = FindItem(items, view.key_item.c_str());
  if (item == nullptr || TextOf(*item).empty()) return std::nullopt;
  return TextOf(*item);
}

// Puts a saved document into every view of its database that shows it, at its
// place in the view's order (key case-insensitively, then NoteId), as the
// local runtime's views show every stored document.
void PlaceInViews(FakeDatabase& db, NoteId note_id) {
  const std::vector<FakeItem>& items = db.documents[note_id];
  for (auto& [name, view] : db.views) {
    std::erase(view.entries, note_id);
    const std::optional<std::string> key = ViewKey(view, items);
    if (!key) continue;
    const auto after = std::find_if(view.entries.begin(), view.entries.end(), [&](NoteId other) {
      const auto doc = db.documents.find(other);
      if ((other & kNoteIdCategory) != 0 || doc == db.documents.end()) return false;
      const std::string other_key = ViewKey(view, doc->second).value_or("");
      const int order = CompareIgnoreCase(other_key, *key);
      return order > 0 || (order == 0 && other > note_id);
    });
    view.entries.insert(after, note_id);
  }
}

bool ValidItemName(const char* name, std::size_t length) { return name != nullptr && length > 0; }

void SetItem(std::vector<FakeItem>& items, FakeItem item) {
  for (FakeItem& existing : items) {
    if (SameText(existing.name, item.name.c_str())) {
      existing = std::move(item);
      return;
    }
  }
  items.push_back(std::move(item));
}

}  // namespace

FakeItem TextItem(const std::string& name, const std::string& value) {
  return FakeItem{name, kTypeText, 0, std::vector<std::uint8_t>(value.begin(), value.end())};
}

std::vector<std::string> FakeGateway::CallsWithout(const std::vector<std::string>& ignored) const {
  std::vector<std::string> kept;
  for (const std::string& call : calls) {
    const std::string operation = call.substr(0, call.find('('));
    if (std::find(ignored.begin(), ignored.end(), operation) == ignored.end())
      kept.push_back(call);
  }
  return kept;
}

std::vector<std::string> FakeGateway::CallsWithoutHandles() const {
  std::vector<std::string> kept;
  for (const std::string& call : calls) {
    const std::string operation = call.substr(0, call.find('('));
    const bool memory =
        operation == "LockObject" || operation == "UnlockObject" || operation == "FreeObject";
    kept.push_back(memory ? operation : call);
  }
  return kept;
}

std::string FakeGateway::ItemText(const std::string& db_path, NoteId note_id,
                                  const std::string& item_name) const {
  const auto db = databases.find(db_path);
  if (db == databases.end()) return "";
  const auto doc = db->second.documents.find(note_id);
  if (doc == db->second.documents.end()) return "";
  const FakeItem* item = FindItem(doc->second, item_name.c_str());
  return item == nullptr ? "" : TextOf(*item);
}

Status FakeGateway::Enter(const std::string& operation, const std::string& arguments) {
  calls.push_back(arguments.empty() ? operation : operation + "(" + arguments + ")");
  if (terminated && operation != "NotesInit") violations.push_back(operation + " after NotesTerm");
  // The operations that need a started runtime, as in the local runtime.
  static const char* const kPure[] = {"NotesInit",  "NotesTerm",       "MakeNetPath",
                                      "CurrentTime", "GetIntlSettings", "TextToTime",
                                      "LoadErrorText"};
  const bool pure = std::find(std::begin(kPure), std::end(kPure), operation) != std::end(kPure);
  return running || pure ? 0 : notes::kErrNotInitialized;
}

std::string FakeGateway::DbName(DbHandle database) const {
  const auto found = open_dbs.find(database);
  return found == open_dbs.end() ? "?" : found->second;
}

std::string FakeGateway::CollectionName(CollectionHandle hCollection) const {
  const auto found = open_collections.find(hCollection);
  return found == open_collections.end() ? "?"
                                         : found->second.db_path + "/" + found->second.view_name;
}

std::string FakeGateway::NoteName(NoteHandle handle) const {
  const auto found = open_notes.find(handle);
  if (found == open_notes.end()) return "?";
  const FakeOpenNote& note = found->second;
  return note.db_path + "," + (note.note_id == 0 ? std::string("new") : Hex(note.note_id));
}

FakeOpenNote* FakeGateway::FindNote(NoteHandle handle) {
  const auto found = open_notes.find(handle);
  return found == open_notes.end() ? nullptr : &found->second;
}

MemHandle FakeGateway::NewBlock(std::vector<std::uint8_t> bytes) {
  const MemHandle handle = next_handle_++;
  blocks[handle].bytes = std::move(bytes);
  return handle;
}

Status FakeGateway::NotesInit(int argc, char** argv) {
  std::string arguments;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) arguments += ',';
    arguments += argv[i];
  }
  if (const Status status = Enter("NotesInit", arguments)) return status;
  running = true;
  terminated = false;
  return 0;
}

void FakeGateway::NotesTerm() {
  Enter("NotesTerm");
  running = false;
  terminated = true;
}

Status FakeGateway::DbOpen(const char* path, DbHandle* database) {
  if (const Status status = Enter("DbOpen", path)) return status;
  if (databases.count(path) == 0) return notes::kErrDatabaseNotFound;
  *database = next_handle_++;
  open_dbs[*database] = path;
  return 0;
}

Status FakeGateway::DbClose(DbHandle database) {
  if (const Status status = Enter("DbClose", DbName(database))) return status;
  return open_dbs.erase(database) == 1 ? 0 : notes::kErrInvalidDbHandle;
}

bool FakeGateway::GetEnvString(const char* name, char* buffer, std::uint16_t limit) {
  const bool started = Enter("GetEnvString", std::string(name) + "," + std::to_string(limit)) == 0;
  // Setting names are case-insensitive.
  const auto found =
      started ? std::find_if(settings.begin(), settings.end(),
                             [&](const auto& setting) { return SameText(setting.first, name); })
              : settings.end();
  const std::string value = found == settings.end() ? "" : found->second;
  // At most limit - 1 bytes are stored, the terminator included; an absent
  // setting leaves an empty text.
  if (limit >= 2) {
    const std::size_t length = std::min<std::size_t>(value.size(), limit - 2u);
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
  }
  return found != settings.end();
}

Status FakeGateway::MakeNetPath(const char* port, const char* server, const char* file,
                                char* path_out) {
  if (const Status status = Enter("MakeNetPath", std::string(port ? port : "null") + "," +
                                                     server + "," + file))
    return status;
  const std::string path =
      server[0] == '\0' ? std::string(file) : server + std::string("::") + file;
  if (path.size() >= static_cast<std::size_t>(kMaxPathBuffer)) return notes::kErrPathTooLong;
  std::memcpy(path_out, path.c_str(), path.size() + 1);
  return 0;
}

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

void* FakeGateway::LockObject(MemHandle handle) {
  Enter("LockObject", std::to_string(handle));
  const auto found = blocks.find(handle);
  if (found == blocks.end()) {
    violations.push_back("LockObject of unknown block " + std::to_string(handle));
    return nullptr;
  }
  ++found->second.locks;
  return found->second.bytes.data();
}

bool FakeGateway::UnlockObject(MemHandle handle) {
  Enter("UnlockObject", std::to_string(handle));
  const auto found = blocks.find(handle);
  if (found == blocks.end() || found->second.locks == 0) {
    violations.push_back("UnlockObject of a block not locked " + std::to_string(handle));
    return false;
  }
  --found->second.locks;
  return true;
}

void FakeGateway::FreeObject(MemHandle handle) {
  Enter("FreeObject", std::to_string(handle));
  const auto found = blocks.find(handle);
  if (found == blocks.end()) {
    violations.push_back("FreeObject of unknown block " + std::to_string(handle));
    return;
  }
  if (found->second.locks != 0) violations.push_back("FreeObject of a locked block");
  blocks.erase(found);
}

Status FakeGateway::AllocObject(std::uint32_t size, MemHandle* handle) {
  if (const Status status = Enter("AllocObject", std::to_string(size))) return status;
  *handle = NewBlock(std::vector<std::uint8_t>(size));
  return 0;
}

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

void FakeGateway::CurrentTime(TimeDate* time) {
  Enter("CurrentTime");
  *time = now;
}

void FakeGateway::GetIntlSettings(IntlSettings* intl, std::uint16_t size) {
  Enter("GetIntlSettings", std::to_string(size));
  std::memset(intl, 0, std::min<std::size_t>(size, sizeof *intl));
}

Status FakeGateway::TextToTime(const IntlSettings* settings, const TimeTextFormat* format,
                               const char** text_ptr, std::uint16_t length, TimeDate* time) {
  if (const Status status = Enter("TextToTime", std::string(*text_ptr, length))) return status;
  static constexpr std::uint8_t kFormat[4] = {4, 0, 0, 2};
  if (settings->flags != 396 || std::memcmp(format->bytes, kFormat, sizeof kFormat) != 0)
    return notes::kErrBadArgument;
  if (!notes::local::ParseGmtTimeText(std::string_view(*text_ptr, length), time))
    return notes::kErrTimeText;
  *text_ptr += length;
  return 0;
}

std::uint16_t FakeGateway::LoadErrorText(const void*, std::uint16_t error_number, char* buffer,
                                         std::uint16_t size) {
  Enter("LoadErrorText", std::to_string(error_number) + "," + std::to_string(size));
  if (size == 0) return 0;
  const int written = std::snprintf(buffer, size, "fake error %u", error_number);
  return static_cast<std::uint16_t>(std::min<int>(written, size - 1));
}

}  // namespace test_support
