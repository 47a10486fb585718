// One database = one SQLite file with this runtime's schema.
//
// Schema (version 1, in PRAGMA user_version; PRAGMA application_id marks the
// file as ours):
//   notes(note_id INTEGER PRIMARY KEY AUTOINCREMENT, note_class INTEGER)
//     AUTOINCREMENT keeps NoteIds from ever being reused, even after the
//     highest note was deleted; ids stay in 1 .. 0x7FFFFFFF.
//   items(note_id, seq, name BLOB, type_code, flags, value BLOB)
//     one row per item; seq keeps the item order; the name and value are kept
//     as exact bytes. Deleting a note deletes its items (foreign key).
//
// Every connection runs in WAL mode with synchronous=NORMAL (the reasons are
// in database_file.cc): a crash of the process keeps every commit, a power
// loss may lose the commits since the last checkpoint but never leaves the
// file inconsistent, and readers in other processes never block the writer. Lock waits are bounded
// by the busy timeout (setting LockTimeout) and end in kErrDatabaseLocked.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "notes/local/sqlite_util.h"

namespace notes::local {

constexpr std::int32_t kApplicationId = 0x42544E53;  // "BTNS"
constexpr std::int32_t kSchemaVersion = 1;

// Opens an existing database for reading and writing; never creates a file.
// kErrDatabaseNotFound when there is no file, kErrNotADatabase when the file
// is not SQLite or not ours, kErrDatabaseVersion when a newer runtime wrote it.
Status OpenDatabaseFile(const std::filesystem::path& file, int lock_timeout_ms,
                        Connection* connection);

// Creates a new, empty database file (and the folders leading to it);
// kErrDatabaseExists when the file is already there.
Status CreateDatabaseFile(const std::filesystem::path& file, int lock_timeout_ms);

// Checks SQLite's integrity and our schema of an existing file, read-only,
// appending one line per problem. The status says whether the check could
// run; a file that is no SQLite database gives a problem line and
// kErrNotADatabase.
Status CheckDatabaseFile(const std::filesystem::path& file, int lock_timeout_ms,
                         std::vector<std::string>* problems);

}  // namespace notes::local
