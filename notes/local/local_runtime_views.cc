// LocalRuntime: views, collections and memory blocks. A collection remembers
// its view's design only; its entries come from the database's view cache at
// every FindByName and ReadEntries, which answers with the stored documents,
// so they never include unsaved notes and always reflect the latest
// NoteUpdate and NoteDelete, of this process or another.
#include <cstring>

#include "base/ascii.h"
#include "notes/local/local_runtime.h"
#include "notes/local/local_runtime_impl.h"
#include "notes/local/note_store.h"
#include "notes/status_codes.h"

namespace notes::local {
namespace {


}  // namespace

Status LocalRuntime::Impl::ReadView(const Collection& collection,
                                    const std::vector<ViewEntry>** entries) const {
  OpenDatabase* db = nullptr;
  Status status = Database(collection.data_db, &db);
  if (status != 0) return status;
  return db->views.Entries(*db->statements, collection.design, entries);
}

Status LocalRuntime::FindDesignNote(DbHandle database, const char* name, std::uint16_t note_class,
                                    const char* /*pattern*/, NoteId* view_id,
                                    std::uint32_t /*options*/) {
  if (view_id == nullptr) return kErrBadArgument;
  *view_id = 0;
  OpenDatabase* db = nullptr;
  Status status = impl_->Database(database, &db);
  if (status != 0) return status;
  if (name == nullptr || note_class != kNoteClassView) return kErrBadArgument;
  status = db->views.ViewId(*db->statements, name, view_id);
  if (status != 0) return status;
  return *view_id == 0 ? kErrViewNotFound : 0;
}

Status LocalRuntime::OpenCollection(DbHandle view_db, DbHandle data_db, NoteId view_id,
                                    std::uint16_t /*flags*/, MemHandle /*unread_list*/,
                                    CollectionHandle* hCollection, void* /*unused_out1*/,
                                    void* /*unused_out2*/, void* /*unused_out3*/,
                                    void* /*unused_out4*/) {
  if (hCollection == nullptr) return kErrBadArgument;
  *hCollection = 0;
  OpenDatabase* design_db = nullptr;
  OpenDatabase* documents_db = nullptr;
  Status status = impl_->Database(view_db, &design_db);
  if (status == 0) status = impl_->Database(data_db, &documents_db);
  if (status != 0) return status;

  const ViewDesign* design = nullptr;
  status = design_db->views.Design(*design_db->statements, view_id, &design);
  if (status != 0) return status;
  auto collection = std::make_unique<Collection>();
  collection->data_db = data_db;
  collection->design = *design;
  CollectionHandle handle = impl_->collections.Add(std::move(collection));
  if (handle == 0) return kErrTooManyHandles;
  *hCollection = handle;
  return 0;
}

Status LocalRuntime::CloseCollection(CollectionHandle hCollection) {
  if (!impl_->initialized) return kErrNotInitialized;
  return impl_->collections.Remove(hCollection) ? 0 : kErrInvalidCollectionHandle;
}

Status LocalRuntime::FindByName(CollectionHandle hCollection, const char* key, std::uint16_t flags,
                                CollectionPosition* position, std::uint32_t* match_count) {
  if (match_count != nullptr) *match_count = 0;
  if (!impl_->initialized) return kErrNotInitialized;
  const Collection* collection = impl_->collections.Find(hCollection);
  if (collection == nullptr) return kErrInvalidCollectionHandle;
  if (key == nullptr || position == nullptr || (flags & ~kFindCaseInsensitive) != 0) {
    return kErrBadArgument;
  }
  const std::vector<ViewEntry>* entries = nullptr;
  Status status = impl_->ReadView(*collection, &entries);
  if (status != 0) return status;
  KeyMatch match = FindKey(*entries, key, (flags & kFindCaseInsensitive) != 0,
                           !collection->design.category_item.empty());
  if (match.count == 0) return kErrNoMatch;
  *position = CollectionPosition{};
  position->index[0] = match.first;
  if (match_count != nullptr) *match_count = match.count;
  return 0;
}

Status LocalRuntime::ReadEntries(CollectionHandle hCollection, CollectionPosition* position,
                                 std::uint16_t skip_direction, std::uint32_t skip_count,
                                 std::uint16_t return_direction, std::uint32_t return_count,
                                 std::uint32_t read_mask, MemHandle* hBuffer,
                                 std::uint32_t* buffer_length, std::uint32_t* skipped,
                                 std::uint32_t* entries_returned, std::uint16_t* signal_flags) {
  if (hBuffer != nullptr) *hBuffer = 0;
  if (buffer_length != nullptr) *buffer_length = 0;
  if (skipped != nullptr) *skipped = 0;
  if (entries_returned != nullptr) *entries_returned = 0;
  if (signal_flags != nullptr) *signal_flags = 0;
  if (!impl_->initialized) return kErrNotInitialized;
  const Collection* collection = impl_->collections.Find(hCollection);
  if (collection == nullptr) return kErrInvalidCollectionHandle;
  // Reading from a found entry skips nothing, in the direction "current".
  const bool stays = skip_direction == kNavigateCurrent && skip_count == 0;
  if (position == nullptr || hBuffer == nullptr ||
      (skip_direction != kNavigateNext && !stays) ||
      return_direction != kNavigateNext || read_mask != kReadNoteIds) {
    return kErrBadArgument;
  }
  const std::vector<ViewEntry>* entries = nullptr;
  Status status = impl_->ReadView(*collection, &entries);
  if (status != 0) return status;

  ReadPass pass = PlanReadPass(static_cast<std::uint32_t>(entries->size()), position->index[0],
                               skip_count, return_count, impl_->view_read_pass_size);
  if (pass.count > 0) {
    std::vector<NoteId> ids(pass.count);
    for (std::uint32_t i = 0; i < pass.count; ++i) ids[i] = (*entries)[pass.first - 1 + i].id;
    auto bytes = std::as_bytes(std::span(ids));
    status = impl_->memory.AllocCopy(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), hBuffer);
    if (status != 0) return status;
  }
  *position = CollectionPosition{};
  position->index[0] = pass.position;
  if (buffer_length != nullptr) *buffer_length = pass.count * sizeof(NoteId);
  if (skipped != nullptr) *skipped = pass.skipped;
  if (entries_returned != nullptr) *entries_returned = pass.count;
  if (signal_flags != nullptr && pass.more) *signal_flags = kSignalMoreToDo;
  return 0;
}

Status LocalRuntime::CreateView(DbHandle database, const ViewDesign& design) {
  OpenDatabase* db = nullptr;
  Status status = impl_->Database(database, &db);
  if (status != 0) return status;
  if (design.name.empty()) return kErrBadArgument;
  NoteId existing = 0;
  status = db->views.ViewId(*db->statements, design.name, &existing);
  if (status != 0) return status;
  if (existing != 0) return kErrViewExists;
  Note note = MakeViewNote(design);
  status = SaveNote(*db->statements, &note);
  if (status != 0) return status;
  db->views.NoteSaved(note);
  return 0;
}

// --- memory blocks ---

void* LocalRuntime::LockObject(MemHandle handle) {
  return impl_->initialized ? impl_->memory.Lock(handle) : nullptr;
}

bool LocalRuntime::UnlockObject(MemHandle handle) {
  return impl_->initialized && impl_->memory.Unlock(handle);
}

void LocalRuntime::FreeObject(MemHandle handle) {
  if (impl_->initialized) impl_->memory.Free(handle);
}

Status LocalRuntime::AllocObject(std::uint32_t size, MemHandle* handle) {
  if (handle == nullptr) return kErrBadArgument;
  *handle = 0;
  if (!impl_->initialized) return kErrNotInitialized;
  return impl_->memory.Alloc(size, handle);
}

}  // namespace notes::local
