// The item helpers the parts of the fake gateway share.
#include "tests/support/fake_gateway_items.h"

#include <algorithm>
#include <cstdio>

#include "base/ascii.h"

namespace test_support::fake_items {

std::string Hex(NoteId note_id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(note_id));
  return text;
}

bool SameText(const std::string& a, const char* b) { return EqualsIgnoreCase(a, b); }

std::string TextOf(const FakeItem& item) {
  const auto end = std::find(item.bytes.begin(), item.bytes.end(), std::uint8_t{0});
  return std::string(item.bytes.begin(), end);
}

const FakeItem* FindItem(const std::vector<FakeItem>& items, const char* name) {
  for (const FakeItem& item : items) {
    if (item.type == kTypeText && SameText(item.name, name)) return &item;
  }
  return nullptr;
}

std::optional<std::string> ViewKey(const FakeView& view, const std::vector<FakeItem>& items) {
  const FakeItem* item = FindItem(items, view.key_item.c_str());
  if (item == nullptr || TextOf(*item).empty()) return std::nullopt;
  return TextOf(*item);
}

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

}  // namespace test_support::fake_items
