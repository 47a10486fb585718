// The error numbers the local runtime returns, each with one English text.
//
// A status is 16 bits; its error number is the low 14 bits (ErrorNumber in
// notes/notes.h). Every number here is below 0x3FFF and has no flag bits set,
// so a status equals its error number. LoadErrorText and the admin tool take
// their texts from StatusText; other parts of the program may compare a
// status against these constants (for example kErrNoMatch, which is a normal
// "nobody found" rather than a failure).
#pragma once

#include <cstdint>
#include <string_view>

#include "notes/notes.h"

namespace notes {

// Runtime start and settings.
constexpr Status kErrNotInitialized = 0x0101;
constexpr Status kErrAlreadyInitialized = 0x0102;
constexpr Status kErrSettingsFileMissing = 0x0103;
constexpr Status kErrSettingsFileUnreadable = 0x0104;
constexpr Status kErrDataDirectoryMissing = 0x0105;

// Database files.
constexpr Status kErrInvalidPath = 0x0110;
constexpr Status kErrPathTooLong = 0x0111;
constexpr Status kErrDatabaseNotFound = 0x0112;
constexpr Status kErrNotADatabase = 0x0113;
constexpr Status kErrDatabaseVersion = 0x0114;
constexpr Status kErrDatabaseExists = 0x0115;
constexpr Status kErrDatabaseLocked = 0x0116;
constexpr Status kErrDatabaseIo = 0x0117;
constexpr Status kErrDiskFull = 0x0118;
constexpr Status kErrReadOnly = 0x0119;
constexpr Status kErrDatabaseCorrupt = 0x011A;
constexpr Status kErrDatabaseFailed = 0x011B;

// Handles.
constexpr Status kErrInvalidDbHandle = 0x0120;
constexpr Status kErrInvalidNoteHandle = 0x0121;
constexpr Status kErrInvalidCollectionHandle = 0x0122;
constexpr Status kErrInvalidMemHandle = 0x0123;
constexpr Status kErrTooManyHandles = 0x0124;

// Notes, items and views.
constexpr Status kErrNoteNotFound = 0x0130;
constexpr Status kErrNoteDeleted = 0x0131;
constexpr Status kErrItemNotFound = 0x0132;
constexpr Status kErrViewNotFound = 0x0133;
constexpr Status kErrViewExists = 0x0134;
constexpr Status kErrNoMatch = 0x0135;
constexpr Status kErrNoteIdsExhausted = 0x0136;
constexpr Status kErrValueTooLarge = 0x0137;

// Arguments, time and memory.
constexpr Status kErrBadArgument = 0x0140;
constexpr Status kErrTimeText = 0x0141;
constexpr Status kErrOutOfMemory = 0x0142;

// Whether a status says that the database itself cannot be used now: it is
// read-only, full, damaged, locked by another process past LockTimeout,
// failing to read or write, or gone. Such a failure hits every later write as
// well, so a run stops at the first one. The statuses about one note or one
// search (no match, a note deleted meanwhile) are not among them.
bool IsStoreFailure(Status status);

// The text of an error number, or an empty view for a number this runtime
// never returns.
std::string_view StatusText(std::uint16_t error_number);

}  // namespace notes
