#include "notes/local/view.h"

#include <algorithm>

#include "base/ascii.h"

namespace notes::local {
namespace {

enum KeyIndex { kForm = 0, kSelect = 1, kSort = 2, kCategory = 3 };

struct SelectedDocument {
  NoteId id;
  std::string sort_key;
  std::string category;
};

void AddText(Note* note, std::string_view name, std::string_view text) {
  auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  note->items.push_back(MakeTextItem(name, bytes, true));
}

std::string TextOrEmpty(const Note& note, std::string_view name) {
  const ItemInfo* item = FindTextItem(note, name);
  return item == nullptr ? std::string() : std::string(TextOf(*item));
}

bool IsSelected(const ViewDesign& design, const NoteTexts& texts) {
  if (!design.select_form.empty() &&
      !(texts.texts[kForm] && EqualsIgnoreCase(*texts.texts[kForm], design.select_form))) {
    return false;
  }
  if (!design.select_item.empty() && !(texts.texts[kSelect] && !texts.texts[kSelect]->empty())) {
    return false;
  }
  return true;
}

// Orders entries against a key, case-insensitively, for bisection.
struct KeyOrder {
  bool operator()(const ViewEntry& entry, std::string_view key) const {
    return CompareIgnoreCase(entry.key, key) < 0;
  }
  bool operator()(std::string_view key, const ViewEntry& entry) const {
    return CompareIgnoreCase(key, entry.key) < 0;
  }
};

}  // namespace

Note MakeViewNote(const ViewDesign& design) {
  Note note;
  note.note_class = kNoteClassView;
  AddText(&note, kViewTitleItem, design.name);
  AddText(&note, kViewSelectFormItem, design.select_form);
  AddText(&note, kViewSelectItemItem, design.select_item);
  AddText(&note, kViewSortItem, design.sort_item);
  AddText(&note, kViewCategoryItem, design.category_item);
  return note;
}

ViewDesign ViewDesignFromNote(const Note& note) {
  ViewDesign design;
  design.name = TextOrEmpty(note, kViewTitleItem);
  design.select_form = TextOrEmpty(note, kViewSelectFormItem);
  design.select_item = TextOrEmpty(note, kViewSelectItemItem);
  design.sort_item = TextOrEmpty(note, kViewSortItem);
  design.category_item = TextOrEmpty(note, kViewCategoryItem);
  return design;
}

std::vector<std::string> ViewKeyItems(const ViewDesign& design) {
  return {std::string(kFormItem), design.select_item, design.sort_item, design.category_item};
}

std::vector<ViewEntry> BuildViewEntries(const ViewDesign& design,
                                        const std::vector<NoteTexts>& documents) {
  const bool categorized = !design.category_item.empty();
  std::vector<SelectedDocument> selected;
  for (const NoteTexts& texts : documents) {
    if (texts.texts.size() <= kCategory || !IsSelected(design, texts)) continue;
    selected.push_back({texts.id, texts.texts[kSort].value_or(""),
                        categorized ? texts.texts[kCategory].value_or("") : ""});
  }
  std::sort(selected.begin(), selected.end(),
            [](const SelectedDocument& a, const SelectedDocument& b) {
              if (int order = CompareIgnoreCase(a.category, b.category); order != 0)
                return order < 0;
              if (int order = CompareIgnoreCase(a.sort_key, b.sort_key); order != 0)
                return order < 0;
              return a.id < b.id;
            });

  std::vector<ViewEntry> entries;
  entries.reserve(selected.size());
  std::uint32_t category_ordinal = 0;
  const std::string* category = nullptr;
  for (SelectedDocument& document : selected) {
    // The empty category sorts first and gets no heading.
    if (!document.category.empty() &&
        (category == nullptr || !EqualsIgnoreCase(*category, document.category))) {
      entries.push_back({kNoteIdCategory | ++category_ordinal, document.category});
      category = &document.category;
    }
    entries.push_back({document.id, std::move(document.sort_key)});
  }
  return entries;
}

std::optional<ViewEntry> DocumentEntry(const ViewDesign& design, const NoteTexts& texts) {
  if (texts.texts.size() <= kCategory || !IsSelected(design, texts)) return std::nullopt;
  return ViewEntry{texts.id, texts.texts[kSort].value_or("")};
}

bool EntryBefore(const ViewEntry& a, const ViewEntry& b) {
  if (int order = CompareIgnoreCase(a.key, b.key); order != 0) return order < 0;
  return a.id < b.id;
}

KeyMatch FindKey(const std::vector<ViewEntry>& entries, std::string_view key, bool ignore_case,
                 bool categorized) {
  KeyMatch match;
  std::size_t begin = 0;
  std::size_t end = entries.size();
  if (!categorized) {
    auto range = std::equal_range(entries.begin(), entries.end(), key, KeyOrder());
    begin = static_cast<std::size_t>(range.first - entries.begin());
    end = static_cast<std::size_t>(range.second - entries.begin());
  }
  for (std::size_t i = begin; i < end; ++i) {
    if ((entries[i].id & kNoteIdCategory) != 0) continue;
    bool equal = ignore_case ? EqualsIgnoreCase(entries[i].key, key) : entries[i].key == key;
    if (!equal) continue;
    if (match.count++ == 0) match.first = static_cast<std::uint32_t>(i + 1);
  }
  return match;
}

ReadPass PlanReadPass(std::uint32_t total, std::uint32_t index, std::uint32_t skip_count,
                      std::uint32_t return_count, std::uint32_t pass_size) {
  ReadPass pass;
  const std::uint64_t current = std::min(index, total);
  std::uint64_t first =
      skip_count == 0 ? std::max<std::uint64_t>(current, 1) : current + skip_count;
  pass.skipped = static_cast<std::uint32_t>(std::min<std::uint64_t>(skip_count, total - current));
  if (first > total) {
    pass.position = skip_count == 0 ? index : total;
    return pass;
  }
  pass.first = static_cast<std::uint32_t>(first);
  pass.count = static_cast<std::uint32_t>(
      std::min<std::uint64_t>({total - first + 1, return_count, pass_size}));
  const std::uint64_t last = pass.count == 0 ? first : first + pass.count - 1;
  // Asked for nothing: only a skip moves the position.
  pass.position = pass.count == 0 && skip_count == 0 ? index : static_cast<std::uint32_t>(last);
  pass.more = pass.count == 0 || last < total;
  return pass;
}

}  // namespace notes::local
