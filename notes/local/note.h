// A note held in memory between NoteCreate/NoteOpen and NoteClose: its class
// and its items in order, with their exact bytes. Nothing here touches a
// database; note_store.h loads and saves notes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "notes/notes.h"

namespace notes::local {

// One item of a note: its name, type, flags and exact value bytes.
struct ItemInfo {
  std::string name;
  std::uint16_t type_code = 0;
  std::uint16_t flags = 0;
  std::vector<std::uint8_t> value;

  bool operator==(const ItemInfo&) const = default;
};

// The texts of chosen items of one note, one per name asked for: nullopt
// when the note has no text item of that name.
struct NoteTexts {
  NoteId id = 0;
  std::vector<std::optional<std::string>> texts;  // one per name
};

constexpr std::uint16_t kNoteClassDocument = 1;

// Largest single item value; the busy-time entry lists are far below it.
constexpr std::uint32_t kMaxItemValue = 64u * 1024 * 1024;

struct Note {
  NoteId id = 0;  // 0 until NoteUpdate has stored it
  std::uint16_t note_class = kNoteClassDocument;
  std::vector<ItemInfo> items;
};

// Replaces every item whose name matches item.name (case-insensitively) by
// `item`, which takes the place of the first one replaced, or is added at the
// end when there was none.
void ReplaceItem(Note* note, ItemInfo item);

// A text item: exactly the given bytes, type kTypeText.
ItemInfo MakeTextItem(std::string_view name, std::span<const std::uint8_t> text, bool summary);

// The first item named `name` (case-insensitively) whose type is text, or null.
const ItemInfo* FindTextItem(const Note& note, std::string_view name);

// The text of a value: its bytes up to the first zero byte or the end.
std::string_view TextOf(const ItemInfo& item);

}  // namespace notes::local
