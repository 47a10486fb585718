// What the parts of the fake gateway share: how it reads and places items,
// folding and ordering as the local runtime does.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_gateway.h"

namespace test_support::fake_items {

std::string Hex(NoteId note_id);
// Folds as the local runtime's views do.
bool SameText(const std::string& a, const char* b);
std::string TextOf(const FakeItem& item);
// Only text items are read as texts, as in the local runtime.
const FakeItem* FindItem(const std::vector<FakeItem>& items, const char* name);
// The key a view sorts a document by, or nullopt when the view does not show
// it (no text, or an empty one, in its key item).
std::optional<std::string> ViewKey(const FakeView& view, const std::vector<FakeItem>& items);
// Puts a saved document into every view of its database that shows it, at its
// place in the view's order (key case-insensitively, then NoteId), as the
// local runtime's views show every stored document.
void PlaceInViews(FakeDatabase& db, NoteId note_id);
bool ValidItemName(const char* name, std::size_t length);
// Replaces the item of the same name (case-insensitively), or adds it.
void SetItem(std::vector<FakeItem>& items, FakeItem item);

}  // namespace test_support::fake_items
