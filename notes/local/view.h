// Views: how a view design is stored, which documents it shows in which
// order, and how a reader walks its entries in passes. Pure logic; the
// runtime feeds it the texts it reads from the database at the moment of
// each read, so a view always shows the database as stored.
//
// Entries: the documents (class 1) that pass the selection, sorted by the
// text of the sort item (ASCII case-insensitive, then by NoteId). The
// selection holds when the "Form" text equals the select form (when one is
// given) and the select item has a non-empty text (when one is given). With a
// category item, documents with an empty category come first without a
// heading; then every category (sorted, compared case-insensitively) appears
// as one entry whose NoteId is kNoteIdCategory | its 1-based ordinal,
// followed by its documents.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "notes/local/note.h"

namespace notes::local {

// What a view shows: documents selected by a form name ("Form" item) or by
// the presence of an item, sorted case-insensitively by the text of one item,
// optionally grouped under category headings taken from another item's text.
struct ViewDesign {
  std::string name;           // the view's title, e.g. "Main"
  std::string select_form;    // empty: no form selection
  std::string select_item;    // empty: no item selection
  std::string sort_item;      // the key FindByName matches
  std::string category_item;  // empty: no categories
};

// The items of a view's design note.
constexpr std::string_view kViewTitleItem = "$Title";
constexpr std::string_view kViewSelectFormItem = "$SelectForm";
constexpr std::string_view kViewSelectItemItem = "$SelectItem";
constexpr std::string_view kViewSortItem = "$SortItem";
constexpr std::string_view kViewCategoryItem = "$CategoryItem";
constexpr std::string_view kFormItem = "Form";

Note MakeViewNote(const ViewDesign& design);
ViewDesign ViewDesignFromNote(const Note& note);

// The item texts BuildViewEntries needs from each document, in this order:
// form, select item, sort item, category item.
std::vector<std::string> ViewKeyItems(const ViewDesign& design);

struct ViewEntry {
  NoteId id = 0;
  std::string key;  // the sort text; the category text for a category entry
};

std::vector<ViewEntry> BuildViewEntries(const ViewDesign& design,
                                        const std::vector<NoteTexts>& documents);

// In a view without categories: the entry of one document (texts as
// ViewKeyItems names them), or nullopt when the view does not select it; and
// the order of the entries, so that an entry can be put in its place without
// sorting the view again.
std::optional<ViewEntry> DocumentEntry(const ViewDesign& design, const NoteTexts& texts);
bool EntryBefore(const ViewEntry& a, const ViewEntry& b);

// The documents whose sort text equals `key`: the ordinal (1-based) of the
// first and how many there are (count 0: none).
struct KeyMatch {
  std::uint32_t first = 0;
  std::uint32_t count = 0;
};
// A view without categories is sorted by its key, so the matches are found by
// bisection; with categories every entry is looked at.
KeyMatch FindKey(const std::vector<ViewEntry>& entries, std::string_view key, bool ignore_case,
                 bool categorized);

// One ReadEntries call over `total` entries from the position `index`
// (ordinal of the current entry, 0 = before the first). Skipping 0 starts at
// the current entry (at the first when before it); skipping n starts n
// entries further. At most min(return_count, pass_size) entries are taken.
struct ReadPass {
  std::uint32_t first = 0;     // ordinal of the first entry returned
  std::uint32_t count = 0;     // entries returned
  std::uint32_t skipped = 0;   // entries moved over by the skip
  std::uint32_t position = 0;  // the new current ordinal
  bool more = false;           // entries remain after the last one returned
};
ReadPass PlanReadPass(std::uint32_t total, std::uint32_t index, std::uint32_t skip_count,
                      std::uint32_t return_count, std::uint32_t pass_size);

}  // namespace notes::local
