// Replacing a user's busy-time document by a new, empty note.
//
// The user's documents are found through the view "Main" of the busy-time
// database, sorted by "$Name". Exactly one match is the user's current
// document and is deleted; with none (a user seen for the first time) or with
// several (which the run cannot tell apart) nothing is deleted.
//
// A failure of the database itself (read-only, full, damaged, locked past the
// lock timeout), or a view that cannot be found or opened, is no matter of
// this user: it is handed to the run, which stops, rather than skip every
// user in turn and end as if all went well. Nothing is created then, so the
// run never adds a document it could not first look for.
//
// The search and the read of what it found are two steps. Another run saving
// or deleting a document in between shifts the view's entries, so the entry
// read may be another user's document: the match is only deleted once its
// "$Name" proved to be this user's address.
#include "directory/busytime_lookup.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>

#include "app/report_status.h"
#include "notes/status_codes.h"

namespace {

constexpr std::uint16_t kViewNoteClass = 8;
constexpr const char* kViewPattern = "-G40n";
constexpr std::uint16_t kFindExactMatch = 2;
constexpr std::uint16_t kNavigateCurrent = 0;
constexpr std::uint16_t kNavigateNext = 1;
constexpr std::uint32_t kReadNoteIds = 1;

// What the view says about one address.
struct Matches {
  std::uint32_t MatchSize = 0;
  MemHandle hBuffer = 0;   // the matched NoteIds, locked; 0 when none was read
  const NoteId* ids = nullptr;
  std::uint32_t NumberReturned = 0;
};

// The result for a failed operation on the busy-time database: a store
// failure goes to the run unreported; anything else concerns this user only,
// who is skipped after its text.
int Failed(Status status) {
  if (notes::IsStoreFailure(status)) return kOpenBusytimeDocStoreFailed;
  ReportStatus(status);
  return -1;
}

// Searches the view for the address and reads the NoteIds of the matches.
// Returns 1, or the result the lookup must give up with.
int FindMatches(CollectionHandle coll_handle, const char* strUserName, Matches* matches,
                Status* error) {
  CollectionPosition coll_pos{};
  *error = FindByName(coll_handle, strUserName, kFindExactMatch, &coll_pos, &matches->MatchSize);
  if (*error != 0) {
    // The runtime's "no entry matches the key" is the normal answer for a user
    // who has no document yet; anything else is a failed search.
    if (ErrorNumber(*error) == notes::kErrNoMatch) {
      matches->MatchSize = 0;
      return 1;
    }
    return Failed(*error);
  }
  if (matches->MatchSize == 0) return 1;

  *error = ReadEntries(coll_handle, &coll_pos, kNavigateCurrent, 0, kNavigateNext,
                       matches->MatchSize, kReadNoteIds, &matches->hBuffer, nullptr, nullptr,
                       &matches->NumberReturned, nullptr);
  if (*error != 0) {
    if (notes::IsStoreFailure(*error)) return kOpenBusytimeDocStoreFailed;
    // The caller takes 1 for success; an error number of 1 must not pass as one.
    const int number = ErrorNumber(*error);
    return number == 1 ? -1 : number;
  }
  if (matches->hBuffer != 0) {
    matches->ids = static_cast<const NoteId*>(LockObject(matches->hBuffer));
    if (matches->ids == nullptr) matches->NumberReturned = 0;
  }
  return 1;
}

// The view's search ignores case; so does the check of the match.
bool SameAddress(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Returns 1 when the document `id` is the user's, -1 (after saying why) when
// it cannot be read or belongs to someone else, kOpenBusytimeDocStoreFailed.
int CheckOwner(DbHandle db_handle, NoteId id, const char* strUserName, Status* error) {
  NoteHandle document = 0;
  *error = NoteOpen(db_handle, id, 0, &document);
  if (*error != 0) return Failed(*error);
  char name[kMaxTextBuffer + 1] = "";
  const std::uint16_t length = ItemGetText(document, "$Name", name, sizeof name);
  // The note was only read: a failed close loses nothing.
  NoteClose(document);
  if (length == 0) {
    std::printf("ERR -- Could not read the address of the busy-time document found for %s. "
                "Nothing was deleted.\n",
                strUserName);
    return -1;
  }
  if (!SameAddress(std::string_view(name, std::min<std::size_t>(length, kMaxTextBuffer)),
                   strUserName)) {
    std::printf("ERR -- The busy-time document found for %s belongs to another address: the "
                "view changed during the lookup. Nothing was deleted.\n",
                strUserName);
    return -1;
  }
  return 1;
}

void ReleaseMatches(const Matches& matches) {
  if (matches.hBuffer == 0) return;
  if (matches.ids != nullptr) UnlockObject(matches.hBuffer);
  FreeObject(matches.hBuffer);
}

}  // namespace

int OpenBusytimeDoc(const char* strUserName, NoteHandle* hBusytimeDoc, DbHandle db_handle,
                    Status* error) {
  NoteId view_id = 0;
  *error = FindDesignNote(db_handle, "Main", kViewNoteClass, kViewPattern, &view_id, 0);
  if (*error != 0) return kOpenBusytimeDocStoreFailed;
  CollectionHandle coll_handle = 0;
  *error = OpenCollection(db_handle, db_handle, view_id, 0, 0, &coll_handle, nullptr, nullptr,
                          nullptr, nullptr);
  if (*error != 0) return kOpenBusytimeDocStoreFailed;

  Matches matches;
  const int result = FindMatches(coll_handle, strUserName, &matches, error);
  if (result != 1) {
    ReleaseMatches(matches);
    CloseCollection(coll_handle);
    return result;
  }

  if (matches.MatchSize == 1 && matches.NumberReturned > 0) {
    const NoteId theone = matches.ids[matches.NumberReturned - 1];
    int checked = CheckOwner(db_handle, theone, strUserName, error);
    if (checked == 1) {
      *error = NoteDelete(db_handle, theone, 0);
      if (*error != 0) checked = Failed(*error);
    }
    if (checked != 1) {
      ReleaseMatches(matches);
      CloseCollection(coll_handle);
      return checked;
    }
  } else if (matches.MatchSize > 1) {
    std::printf("WARN -- %s has %u busy-time documents; none was deleted, a new one is added "
                "beside them.\n",
                strUserName, static_cast<unsigned>(matches.MatchSize));
  }
  NoteHandle hNewDoc = 0;
  *error = NoteCreate(db_handle, &hNewDoc);
  const bool created = *error == 0;
  if (!created) ReportStatus(*error);
  ReleaseMatches(matches);
  CloseCollection(coll_handle);
  if (!created) {
    // Fatal for the run: the runtime is ended here and must not be used again.
    DbClose(db_handle);
    NotesTerm();
    return kOpenBusytimeDocFatal;
  }
  *hBusytimeDoc = hNewDoc;
  return 1;
}
