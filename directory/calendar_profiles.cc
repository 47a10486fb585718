// Reading the list of calendar profiles from the view "Main" of the
// configuration database.
//
// The runtime hands out a view in passes of limited size, each pass in a block
// of its own; the caller wants one block. A single pass is handed over as it
// is. Several passes are copied, in the order read, into one block from
// AllocObject (which the caller can lock, unlock and free like any other), and
// the pass blocks are freed.
#include "directory/calendar_profiles.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "notes/report_status.h"
#include "notes/status_codes.h"

namespace {

struct Pass {
  MemHandle block = 0;
  std::uint32_t EntriesFound = 0;
};

void FreePasses(const std::vector<Pass>& passes) {
  for (const Pass& pass : passes) {
    if (pass.block != 0) FreeObject(pass.block);
  }
}

// Copies the NoteIds of the passes, in order, into the block `gathered`.
Status CopyPasses(const std::vector<Pass>& passes, MemHandle gathered) {
  auto* all = static_cast<unsigned char*>(LockObject(gathered));
  if (all == nullptr) return notes::kErrInvalidMemHandle;
  Status error = 0;
  std::size_t offset = 0;
  for (const Pass& pass : passes) {
    if (pass.EntriesFound == 0) continue;
    const void* ids = LockObject(pass.block);
    if (ids == nullptr) {
      error = notes::kErrInvalidMemHandle;
      break;
    }
    const std::size_t bytes = pass.EntriesFound * sizeof(NoteId);
    std::memcpy(all + offset, ids, bytes);
    offset += bytes;
    UnlockObject(pass.block);
  }
  UnlockObject(gathered);
  return error;
}

// Hands the caller one block with the NoteIds of all passes. The pass blocks
// are freed whatever happens, so none is left behind.
Status GatherPasses(const std::vector<Pass>& passes, MemHandle* result_buffer,
                    std::uint32_t* count) {
  std::uint32_t total = 0;
  for (const Pass& pass : passes) total += pass.EntriesFound;
  MemHandle gathered = 0;
  Status error = 0;
  if (total > 0) {
    error = AllocObject(total * static_cast<std::uint32_t>(sizeof(NoteId)), &gathered);
    if (error == 0) error = CopyPasses(passes, gathered);
  }
  FreePasses(passes);
  if (error != 0) {
    if (gathered != 0) FreeObject(gathered);
    return error;
  }
  *result_buffer = gathered;
  *count = total;
  return 0;
}

}  // namespace

int GetCalendarProfiles(DbHandle db_ftsearch, MemHandle* result_buffer, std::uint32_t* count) {
  NoteId ViewID = 0;
  Status error = FindDesignNote(db_ftsearch, kMainView, kNoteClassView, kViewPattern, &ViewID, 0);
  if (error != 0) {
    ReportStatus(error);
    NotesTerm();
    return 1;
  }

  CollectionHandle hCollection = 0;
  error = OpenCollection(db_ftsearch, db_ftsearch, ViewID, 0, 0, &hCollection, nullptr, nullptr,
                         nullptr, nullptr);
  if (error != 0) {
    ReportStatus(error);
    NotesTerm();
    return error;
  }

  CollectionPosition CollPosition{};
  std::vector<Pass> passes;
  std::uint16_t SignalFlag = 0;
  do {
    Pass pass;
    SignalFlag = 0;
    error = ReadEntries(hCollection, &CollPosition, kNavigateNext, 1, kNavigateNext,
                        kReadAsManyAsPossible, kReadNoteIds, &pass.block, nullptr, nullptr,
                        &pass.EntriesFound, &SignalFlag);
    if (error != 0) {
      FreePasses(passes);
      CloseCollection(hCollection);
      DbClose(db_ftsearch);
      char error_text[255] = "";
      LoadErrorText(nullptr, ErrorNumber(error), error_text, sizeof error_text);
      std::printf("error: %s\n", error_text);
      NotesTerm();
      return error;
    }
    passes.push_back(pass);
    // A pass that returns nothing yet claims more would never end the loop.
  } while ((SignalFlag & kSignalMoreToDo) != 0 && passes.back().EntriesFound > 0);

  CloseCollection(hCollection);

  if (passes.size() == 1) {
    *result_buffer = passes.front().block;
    *count = passes.front().EntriesFound;
    return 0;
  }
  error = GatherPasses(passes, result_buffer, count);
  if (error != 0) {
    ReportStatus(error);
    NotesTerm();
    return error;
  }
  return 0;
}
