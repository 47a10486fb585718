#include "notes/local/view_cache.h"

#include <algorithm>

#include "notes/local/note_store.h"
#include "base/ascii.h"
#include "notes/status_codes.h"

namespace notes::local {
namespace {

bool SameSelection(const ViewDesign& a, const ViewDesign& b) {
  return a.select_form == b.select_form && a.select_item == b.select_item &&
         a.sort_item == b.sort_item && a.category_item == b.category_item;
}

}  // namespace

Status ViewCache::Refresh(PreparedStatements& db) {
  std::int64_t version = 0;
  {
    auto pragma = db.Get("PRAGMA data_version");
    int result = pragma->Step();
    if (result != SQLITE_ROW) return StatusFromSqlite(result);
    version = pragma->Int(0);
  }
  if (version != data_version_) {
    Forget();
    data_version_ = version;
  }
  return 0;
}

Status ViewCache::ViewId(PreparedStatements& db, std::string_view title, NoteId* id) {
  Status status = Refresh(db);
  if (status != 0) return status;
  if (!titles_) {
    const std::string title_item(kViewTitleItem);
    std::vector<NoteTexts> titles;
    status = ReadNoteTexts(db, kNoteClassView, std::span(&title_item, 1), &titles);
    if (status != 0) return status;
    titles_ = std::move(titles);
  }
  *id = 0;
  for (const NoteTexts& view : *titles_) {
    if (view.texts[0] && EqualsIgnoreCase(*view.texts[0], title)) {
      *id = view.id;
      break;
    }
  }
  return 0;
}

Status ViewCache::Design(PreparedStatements& db, NoteId id, const ViewDesign** design) {
  Status status = Refresh(db);
  if (status != 0) return status;
  auto found = designs_.find(id);
  if (found == designs_.end()) {
    Note view_note;
    status = LoadNote(db, id, &view_note);
    if (status == kErrNoteNotFound || (status == 0 && view_note.note_class != kNoteClassView))
      return kErrViewNotFound;
    if (status != 0) return status;
    found = designs_.emplace(id, ViewDesignFromNote(view_note)).first;
  }
  *design = &found->second;
  return 0;
}

Status ViewCache::Entries(PreparedStatements& db, const ViewDesign& design,
                          const std::vector<ViewEntry>** entries) {
  Status status = Refresh(db);
  if (status != 0) return status;

  auto found = std::find_if(views_.begin(), views_.end(), [&design](const auto& view) {
    return SameSelection(view->design, design);
  });
  if (found == views_.end()) {
    auto view = std::make_unique<CachedView>();
    view->design = design;
    view->key_items = ViewKeyItems(design);
    view->categorized = !design.category_item.empty();
    std::vector<NoteTexts> documents;
    status = ReadNoteTexts(db, kNoteClassDocument, view->key_items, &documents);
    if (status != 0) return status;
    view->entries = BuildViewEntries(design, documents);
    if (!view->categorized) {
      view->key_of.reserve(view->entries.size());
      for (const ViewEntry& entry : view->entries) view->key_of.emplace(entry.id, entry.key);
    }
    views_.push_back(std::move(view));
    found = std::prev(views_.end());
  }
  CloseHole(**found);
  *entries = &(*found)->entries;
  return 0;
}

void ViewCache::CloseHole(CachedView& view) {
  if (!view.hole) return;
  view.entries.erase(view.entries.begin() + static_cast<std::ptrdiff_t>(*view.hole));
  view.hole.reset();
}

// The entry stays in place, with its key and id, so the entries stay in
// order for the searches of Remove and Insert; it becomes the hole.
void ViewCache::Remove(CachedView& view, NoteId id) {
  auto old_key = view.key_of.find(id);
  if (old_key == view.key_of.end()) return;
  const ViewEntry old_entry{id, std::move(old_key->second)};
  view.key_of.erase(old_key);
  CloseHole(view);
  auto place =
      std::lower_bound(view.entries.begin(), view.entries.end(), old_entry, EntryBefore);
  if (place != view.entries.end() && place->id == id)
    view.hole = static_cast<std::size_t>(place - view.entries.begin());
}

void ViewCache::Insert(CachedView& view, ViewEntry entry) {
  view.key_of.emplace(entry.id, entry.key);
  auto place = std::lower_bound(view.entries.begin(), view.entries.end(), entry, EntryBefore);
  const auto index = static_cast<std::size_t>(place - view.entries.begin());
  // Right before or right after the hole's entry, the new one sorts between
  // the hole's neighbours: it may take the hole's place.
  if (view.hole && (index == *view.hole || index == *view.hole + 1)) {
    view.entries[*view.hole] = std::move(entry);
    view.hole.reset();
    return;
  }
  if (view.hole && *view.hole < index) --place;
  const std::size_t at = static_cast<std::size_t>(place - view.entries.begin());
  CloseHole(view);
  view.entries.insert(view.entries.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
}

void ViewCache::NoteSaved(const Note& note) {
  if (note.note_class == kNoteClassView) {
    titles_.reset();
    designs_.erase(note.id);
  }
  if (note.note_class != kNoteClassDocument) return;
  // Views with categories are read again; the others take the note in place.
  std::erase_if(views_, [](const auto& view) { return view->categorized; });
  for (auto& view : views_) {
    Remove(*view, note.id);
    std::optional<ViewEntry> entry =
        DocumentEntry(view->design, TextsOfNote(note, view->key_items));
    if (entry) Insert(*view, std::move(*entry));
  }
}

void ViewCache::Forget() {
  views_.clear();
  titles_.reset();
  designs_.clear();
  data_version_ = -1;
}

void ViewCache::NoteDeleted(NoteId id) {
  if (designs_.erase(id) > 0 ||
      (titles_ && std::any_of(titles_->begin(), titles_->end(),
                              [id](const NoteTexts& view) { return view.id == id; })))
    titles_.reset();
  std::erase_if(views_, [](const auto& view) { return view->categorized; });
  for (auto& view : views_) Remove(*view, id);
}

}  // namespace notes::local
