// The entries of the views of one open database, kept between reads so that
// a lookup does not read and sort every document again.
//
// The cache always answers with what the database holds now. Changes made
// through this connection are applied to it in place (NoteSaved,
// NoteDeleted), right after they were committed. Changes committed by any
// other connection, in this process or another, show in SQLite's
// data_version, which is checked at every read; the cached views are then
// read again from the database. A view with categories, whose headings
// renumber when one category comes or goes, is read again after every
// change.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "notes/local/note.h"
#include "notes/local/note_store.h"
#include "notes/local/sqlite_util.h"
#include "notes/local/view.h"

namespace notes::local {

class ViewCache {
 public:
  // The NoteId of the view titled `title` (case-insensitive), 0 when there
  // is none. The titles are read once and kept like the entries.
  Status ViewId(PreparedStatements& db, std::string_view title, NoteId* id);

  // The design of the view note `id`, read once and kept like the entries;
  // kErrViewNotFound when there is no such view. The pointer stays valid
  // until the next call on this cache.
  Status Design(PreparedStatements& db, NoteId id, const ViewDesign** design);

  // The entries of the view `design` shows over the documents of `db`. The
  // reference stays valid until the next call on this cache.
  Status Entries(PreparedStatements& db, const ViewDesign& design,
                 const std::vector<ViewEntry>** entries);

  // After this connection committed `note` / deleted the note `id`.
  void NoteSaved(const Note& note);
  void NoteDeleted(NoteId id);
  // After this connection rolled back changes it had applied here: every
  // view is read again at the next use.
  void Forget();

 private:
  struct CachedView {
    ViewDesign design;
    std::vector<std::string> key_items;  // ViewKeyItems(design)
    bool categorized = false;
    std::vector<ViewEntry> entries;
    std::unordered_map<NoteId, std::string> key_of;  // without categories: each live entry's key
    // The place of an entry whose document is gone, kept where it was until
    // the next change or read. A run deletes a user's document and then
    // saves the user's new one, whose entry belongs in the same place: it
    // takes the place over, instead of the entries behind it moving down
    // and up again, which made every replacement cost the view's size.
    std::optional<std::size_t> hole;
  };

  // Drops everything when another connection has committed since the last
  // read.
  Status Refresh(PreparedStatements& db);
  static void Remove(CachedView& view, NoteId id);
  static void Insert(CachedView& view, ViewEntry entry);
  static void CloseHole(CachedView& view);

  std::vector<std::unique_ptr<CachedView>> views_;
  std::optional<std::vector<NoteTexts>> titles_;  // every view note's title
  std::unordered_map<NoteId, ViewDesign> designs_;
  std::int64_t data_version_ = -1;
};

}  // namespace notes::local
