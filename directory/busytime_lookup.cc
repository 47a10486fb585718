// Replacing a user's busy-time document by a new, empty note.
//
// The user's documents are found through the view "Main" of the busy-time
// database, sorted by "$Name". Every match is deleted once each has proved to
// be the user's: one is the user's current document; several (left by two
// runs at once or a crash) are folded into the one new document, with a
// warning, so that they do not pile up run after run. A match that cannot be
// verified keeps every match, and the user is skipped. With none (a user seen
// for the first time) nothing is deleted.
//
// A failure of the database itself (read-only, full, damaged, locked past the
// lock timeout), or a view that cannot be found or opened, is no matter of
// this user: it is handed to the run, which stops, rather than skip every
// user in turn and end as if all went well. Nothing is created then, so the
// run never adds a document it could not first look for.
//
// The search and the read of what it found are two steps. Another run saving
// or deleting a document in between shifts the view's entries, so an entry
// read may be another user's document: the matches are only deleted once
// their "$Name" proved to be this user's address.
#include "directory/busytime_lookup.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "base/ascii.h"
#include "notes/report_status.h"
#include "notes/status_codes.h"

namespace {

// The result for a failed operation on the busy-time database: a store
// failure goes to the run unreported; anything else concerns this user only,
// who is skipped after its text.
int Failed(Status status) {
  if (notes::IsStoreFailure(status)) return kOpenBusytimeDocStoreFailed;
  ReportStatus(status);
  return -1;
}

// What the view says about one address.
struct Matches {
  std::uint32_t MatchSize = 0;
  std::vector<NoteId> ids;  // the matches read, in view order
};

// Reads the NoteIds of the matches from the first one on, in as many passes
// as the view hands them out. A block that cannot be read leaves no match
// read at all, so nothing is deleted. Returns 1, or the result the lookup
// must give up with.
int ReadMatches(CollectionHandle coll_handle, CollectionPosition* coll_pos, Matches* matches,
                Status* error) {
  std::uint16_t skip_direction = kNavigateCurrent;  // the first pass starts on the match
  std::uint32_t skip_count = 0;
  while (matches->ids.size() < matches->MatchSize) {
    MemHandle hBuffer = 0;
    std::uint32_t NumberReturned = 0;
    const auto wanted = static_cast<std::uint32_t>(matches->MatchSize - matches->ids.size());
    *error = ReadEntries(coll_handle, coll_pos, skip_direction, skip_count, kNavigateNext, wanted,
                         kReadNoteIds, &hBuffer, nullptr, nullptr, &NumberReturned, nullptr);
    if (*error != 0) {
      if (notes::IsStoreFailure(*error)) return kOpenBusytimeDocStoreFailed;
      // The caller takes 1 for success; an error number of 1 must not pass as one.
      const int number = ErrorNumber(*error);
      return number == 1 ? -1 : number;
    }
    if (hBuffer == 0) break;
    const auto* ids = static_cast<const NoteId*>(LockObject(hBuffer));
    if (ids != nullptr) {
      matches->ids.insert(matches->ids.end(), ids, ids + std::min(NumberReturned, wanted));
      UnlockObject(hBuffer);
    }
    FreeObject(hBuffer);
    if (ids == nullptr) {
      matches->ids.clear();
      break;
    }
    if (NumberReturned == 0) break;
    skip_direction = kNavigateNext;
    skip_count = 1;
  }
  return 1;
}

// Searches the view for the address and reads the NoteIds of the matches.
// Returns 1, or the result the lookup must give up with.
int FindMatches(CollectionHandle coll_handle, const char* strUserName, Matches* matches,
                Status* error) {
  CollectionPosition coll_pos{};
  *error =
      FindByName(coll_handle, strUserName, kFindCaseInsensitive, &coll_pos, &matches->MatchSize);
  if (*error != 0) {
    // The runtime's "no entry matches the key" is the normal answer for a user
    // who has no document yet; anything else is a failed search.
    if (ErrorNumber(*error) == notes::kErrNoMatch) {
      matches->MatchSize = 0;
      return 1;
    }
    return Failed(*error);
  }
  return ReadMatches(coll_handle, &coll_pos, matches, error);
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
  const std::string_view address(name, std::min<std::size_t>(length, kMaxTextBuffer));
  // The view keys the document by the text before a zero byte, so it matches
  // the user while the address as stored is another: no view change, but no
  // proof of ownership either.
  if (address.find('\0') != std::string_view::npos) {
    std::printf("ERR -- The address of the busy-time document found for %s holds a zero byte "
                "and cannot be read as an address. Nothing was deleted.\n",
                strUserName);
    return -1;
  }
  // The view's search folds ASCII letters; the check of the match folds the same.
  if (!EqualsIgnoreCase(address, strUserName)) {
    std::printf("ERR -- The busy-time document found for %s belongs to another address: the "
                "view changed during the lookup. Nothing was deleted.\n",
                strUserName);
    return -1;
  }
  return 1;
}

// Deletes every match read once each has proved to be the user's. Returns 1,
// or the result the lookup must give up with; nothing is deleted unless all
// were verified.
int DeleteMatches(DbHandle db_handle, const Matches& matches, const char* strUserName,
                  Status* error) {
  const std::vector<NoteId>& ids = matches.ids;
  for (const NoteId id : ids) {
    const int checked = CheckOwner(db_handle, id, strUserName, error);
    if (checked != 1) return checked;
  }
  for (const NoteId id : ids) {
    *error = NoteDelete(db_handle, id, 0);
    if (*error != 0) return Failed(*error);
  }
  if (ids.size() > 1) {
    std::printf("WARN -- %s had %u busy-time documents; they are replaced by one new "
                "document.\n",
                strUserName, static_cast<unsigned>(ids.size()));
  }
  return 1;
}

}  // namespace

int OpenBusytimeDoc(const char* strUserName, NoteHandle* hBusytimeDoc, DbHandle db_handle,
                    Status* error) {
  NoteId view_id = 0;
  *error = FindDesignNote(db_handle, kMainView, kNoteClassView, kViewPattern, &view_id, 0);
  if (*error != 0) return kOpenBusytimeDocStoreFailed;
  CollectionHandle coll_handle = 0;
  *error = OpenCollection(db_handle, db_handle, view_id, 0, 0, &coll_handle, nullptr, nullptr,
                          nullptr, nullptr);
  if (*error != 0) return kOpenBusytimeDocStoreFailed;

  Matches matches;
  const int result = FindMatches(coll_handle, strUserName, &matches, error);
  if (result != 1) {
    CloseCollection(coll_handle);
    return result;
  }

  const int deleted = DeleteMatches(db_handle, matches, strUserName, error);
  if (deleted != 1) {
    CloseCollection(coll_handle);
    return deleted;
  }
  NoteHandle new_doc = 0;
  *error = NoteCreate(db_handle, &new_doc);
  const bool created = *error == 0;
  if (!created) ReportStatus(*error);
  CloseCollection(coll_handle);
  if (!created) {
    // Fatal for the run: the runtime is ended here and must not be used again.
    DbClose(db_handle);
    NotesTerm();
    return kOpenBusytimeDocFatal;
  }
  *hBusytimeDoc = new_doc;
  return 1;
}
