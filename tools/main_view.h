// Reading the view "Main" of a database the way the harvest does: every
// document in view order, or the documents whose sort key equals a text.
#pragma once

#include <string>
#include <vector>

#include "notes/notes.h"

namespace nsfutil {

// The NoteIds of every document of the view, in view order; category
// entries are left out. Throws ToolError on a failed view operation.
std::vector<NoteId> ReadViewDocuments(DbHandle db);

// The NoteIds of the documents whose sort key equals `key` (letter case
// ignored), in view order; empty when there is none.
std::vector<NoteId> FindViewDocuments(DbHandle db, const std::string& key);

}  // namespace nsfutil
