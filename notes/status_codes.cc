// The one table of error texts behind notes/status_codes.h.
#include "notes/status_codes.h"

namespace notes {
namespace {

struct StatusEntry {
  Status status;
  std::string_view text;
};

constexpr StatusEntry kTexts[] = {
    {kErrNotInitialized, "The runtime has not been started (NotesInit was not called or failed)"},
    {kErrAlreadyInitialized, "The runtime has already been started"},
    {kErrSettingsFileMissing, "The settings file does not exist"},
    {kErrSettingsFileUnreadable, "The settings file cannot be read"},
    {kErrDataDirectoryMissing, "The data directory does not exist or is not a folder"},
    {kErrInvalidPath,
     "Invalid database path (names must be relative, without \"..\", \"\\\" or control "
     "characters, and stay inside the data directory)"},
    {kErrPathTooLong, "The database path is too long"},
    {kErrDatabaseNotFound, "The database file does not exist"},
    {kErrNotADatabase, "The file is not a database of this runtime"},
    {kErrDatabaseVersion, "The database was written by a newer version of this runtime"},
    {kErrDatabaseExists, "The database file already exists"},
    {kErrDatabaseLocked, "The database is locked by another process; gave up waiting"},
    {kErrDatabaseIo, "Input/output error while accessing the database file"},
    {kErrDiskFull, "The disk is full; the database could not be written"},
    {kErrReadOnly, "The database file is read-only"},
    {kErrDatabaseCorrupt, "The database file is damaged"},
    {kErrDatabaseFailed, "The database operation failed"},
    {kErrInvalidDbHandle, "Invalid or closed database handle"},
    {kErrInvalidNoteHandle, "Invalid or closed note handle"},
    {kErrInvalidCollectionHandle, "Invalid or closed collection handle"},
    {kErrInvalidMemHandle, "Invalid or freed memory handle"},
    {kErrTooManyHandles, "Too many open handles"},
    {kErrNoteNotFound, "The note does not exist in the database"},
    {kErrNoteDeleted, "The note has been deleted"},
    {kErrItemNotFound, "The item does not exist in the note"},
    {kErrViewNotFound, "The view does not exist in the database"},
    {kErrViewExists, "A view of that name already exists in the database"},
    {kErrNoMatch, "Not found in the view: no entry matches the key"},
    {kErrNoteIdsExhausted, "The database has no note identifiers left"},
    {kErrValueTooLarge, "The note or item is too large"},
    {kErrBadArgument, "Invalid argument"},
    {kErrTimeText, "The time text cannot be read as \"YYYY-MM-DD HH:MM:SS GMT\""},
    {kErrOutOfMemory, "Insufficient memory"},
};

}  // namespace

bool IsStoreFailure(Status status) {
  switch (ErrorNumber(status)) {
    case kErrNotInitialized:
    case kErrNotADatabase:
    case kErrDatabaseVersion:
    case kErrDatabaseLocked:
    case kErrDatabaseIo:
    case kErrDiskFull:
    case kErrReadOnly:
    case kErrDatabaseCorrupt:
    case kErrDatabaseFailed:
    case kErrInvalidDbHandle:
    case kErrTooManyHandles:
    case kErrNoteIdsExhausted:
    case kErrOutOfMemory:
      return true;
    default:
      return false;
  }
}

std::string_view StatusText(std::uint16_t error_number) {
  for (const StatusEntry& entry : kTexts) {
    if (entry.status == error_number) return entry.text;
  }
  return {};
}

}  // namespace notes
