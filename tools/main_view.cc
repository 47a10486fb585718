#include "tools/main_view.h"

#include <cstring>

#include "notes/status_codes.h"
#include "tools/tool_error.h"
#include "tools/tool_session.h"

namespace nsfutil {
namespace {

// The collection of the view "Main"; closed on destruction.
class MainCollection {
 public:
  explicit MainCollection(DbHandle db) {
    NoteId view_id = 0;
    ThrowIfFailed(FindDesignNote(db, kViewName, kNoteClassView, kViewPattern, &view_id, 0),
                  "cannot find the view \"Main\"");
    ThrowIfFailed(
        OpenCollection(db, db, view_id, 0, 0, &collection_, nullptr, nullptr, nullptr, nullptr),
        "cannot open the view \"Main\"");
  }
  ~MainCollection() { CloseCollection(collection_); }
  MainCollection(const MainCollection&) = delete;
  MainCollection& operator=(const MainCollection&) = delete;

  CollectionHandle Handle() const { return collection_; }

 private:
  CollectionHandle collection_ = 0;
};

// Appends the NoteIds of one ReadEntries block that are documents.
void TakeBlock(MemHandle hBuffer, std::uint32_t entries, std::vector<NoteId>* note_ids) {
  if (hBuffer == 0) return;
  const void* block = LockObject(hBuffer);
  if (block != nullptr) {
    for (std::uint32_t i = 0; i < entries; ++i) {
      NoteId note_id = 0;
      std::memcpy(&note_id, static_cast<const char*>(block) + i * sizeof(NoteId), sizeof note_id);
      if ((note_id & kNoteIdCategory) == 0) note_ids->push_back(note_id);
    }
    UnlockObject(hBuffer);
  }
  FreeObject(hBuffer);
  if (block == nullptr) throw ToolError("the view \"Main\" returned an unreadable block");
}

}  // namespace

std::vector<NoteId> ReadViewDocuments(DbHandle db) {
  MainCollection collection(db);
  CollectionPosition position{};
  std::vector<NoteId> note_ids;
  std::uint16_t signal_flags = kSignalMoreToDo;
  while ((signal_flags & kSignalMoreToDo) != 0) {
    MemHandle hBuffer = 0;
    std::uint32_t entries = 0;
    signal_flags = 0;
    ThrowIfFailed(ReadEntries(collection.Handle(), &position, kNavigateNext, 1, kNavigateNext, kReadAsManyAsPossible, kReadNoteIds,
                              &hBuffer, nullptr, nullptr, &entries, &signal_flags),
                  "cannot read the view \"Main\"");
    TakeBlock(hBuffer, entries, &note_ids);
  }
  return note_ids;
}

std::vector<NoteId> FindViewDocuments(DbHandle db, const std::string& key) {
  MainCollection collection(db);
  CollectionPosition position{};
  std::uint32_t match_count = 0;
  const Status found =
      FindByName(collection.Handle(), key.c_str(), kFindCaseInsensitive, &position, &match_count);
  if (ErrorNumber(found) == notes::kErrNoMatch || (found == 0 && match_count == 0)) return {};
  ThrowIfFailed(found, "cannot search the view \"Main\"");

  // The first pass starts at the first match; later passes (when the runtime
  // returns fewer entries than asked for) step on from the last one read.
  std::vector<NoteId> note_ids;
  std::uint32_t read = 0;
  std::uint16_t signal_flags = kSignalMoreToDo;
  while (read < match_count && (signal_flags & kSignalMoreToDo) != 0) {
    MemHandle hBuffer = 0;
    std::uint32_t entries = 0;
    signal_flags = 0;
    // Direction 0 ("current") with no skip reads from the found entry itself.
    const std::uint32_t skip_count = read == 0 ? 0 : 1;
    const std::uint16_t skip_direction = read == 0 ? kNavigateCurrent : kNavigateNext;
    ThrowIfFailed(ReadEntries(collection.Handle(), &position, skip_direction, skip_count, kNavigateNext,
                              match_count - read, kReadNoteIds, &hBuffer, nullptr, nullptr,
                              &entries, &signal_flags),
                  "cannot read the view \"Main\"");
    TakeBlock(hBuffer, entries, &note_ids);
    if (entries == 0) break;
    read += entries;
  }
  return note_ids;
}

}  // namespace nsfutil
