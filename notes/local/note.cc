#include "notes/local/note.h"

#include <algorithm>

#include "base/ascii.h"

namespace notes::local {

void ReplaceItem(Note* note, ItemInfo item) {
  auto& items = note->items;
  auto same_name = [&](const ItemInfo& other) { return EqualsIgnoreCase(other.name, item.name); };
  auto first = std::find_if(items.begin(), items.end(), same_name);
  if (first == items.end()) {
    items.push_back(std::move(item));
    return;
  }
  *first = std::move(item);
  const std::string& name = first->name;
  items.erase(
      std::remove_if(std::next(first), items.end(),
                     [&](const ItemInfo& other) { return EqualsIgnoreCase(other.name, name); }),
      items.end());
}

ItemInfo MakeTextItem(std::string_view name, std::span<const std::uint8_t> text, bool summary) {
  ItemInfo item;
  item.name = std::string(name);
  item.type_code = kTypeText;
  item.flags = summary ? kItemFlagSummary : 0;
  item.value.assign(text.begin(), text.end());
  return item;
}

const ItemInfo* FindTextItem(const Note& note, std::string_view name) {
  for (const ItemInfo& item : note.items) {
    if (item.type_code == kTypeText && EqualsIgnoreCase(item.name, name)) return &item;
  }
  return nullptr;
}

std::string_view TextOf(const ItemInfo& item) {
  auto end = std::find(item.value.begin(), item.value.end(), std::uint8_t{0});
  return {reinterpret_cast<const char*>(item.value.data()),
          static_cast<std::size_t>(end - item.value.begin())};
}

}  // namespace notes::local
