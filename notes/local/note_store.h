// Reading and writing notes in an open database file (schema in
// database_file.h). Each write is one transaction: a note and all its items
// are stored together or not at all. The statements are the connection's
// prepared ones.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "notes/local/note.h"
#include "notes/local/sqlite_util.h"

namespace notes::local {

// Loads the note `id` with all its items; kErrNoteNotFound when absent. With
// `text_values_only` every value but those of text items is left empty.
Status LoadNote(PreparedStatements& db, NoteId id, Note* note, bool text_values_only = false);

// Loads the items of `note` (its id set) again, whole, in their order.
Status LoadItems(PreparedStatements& db, Note* note);

// Stores the note with all its items. A new note (id 0) gets the next NoteId,
// written into note->id; kErrNoteIdsExhausted when none below 0x80000000 is
// left. A stored note that someone deleted meanwhile is not brought back:
// kErrNoteDeleted.
Status SaveNote(PreparedStatements& db, Note* note);

// Deletes the note and its items; kErrNoteNotFound when absent.
Status DeleteNote(PreparedStatements& db, NoteId id);

// The ids of every note of a class, ascending.
Status ListNoteIds(PreparedStatements& db, std::uint16_t note_class, std::vector<NoteId>* ids);

// For every note of a class, in NoteId order: the text of the first text item
// of each of `names` (case-insensitive), or nullopt when it has none (see
// NoteTexts, notes/local/note.h). Only these items' values are read, so large
// items cost nothing.
Status ReadNoteTexts(PreparedStatements& db, std::uint16_t note_class,
                     std::span<const std::string> names, std::vector<NoteTexts>* notes);

// The same texts of one note held in memory, as ReadNoteTexts would read them
// once the note is stored.
NoteTexts TextsOfNote(const Note& note, std::span<const std::string> names);

}  // namespace notes::local
