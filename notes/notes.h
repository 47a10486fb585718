// The platform gateway: every database, note, item, memory and time operation
// the program uses, with the platform's names and argument orders, so the run
// logic reads like a description of the job. Nothing else of the platform is
// reachable from app/, directory/ or freebusy/.
//
// Each call is forwarded to the installed backend (notes/backend.h): the local
// runtime on SQLite by default, a scriptable fake in tests. All handles and
// memory blocks belong to the backend; a stale or unknown handle gives an error
// status (or a null pointer), never a crash. Texts are zero-terminated 8-bit.
#pragma once

#include <cstddef>
#include <cstdint>

using Status = std::uint16_t;        // 0 = success
using DbHandle = std::uint32_t;
using NoteHandle = std::uint32_t;
using MemHandle = std::uint32_t;
using CollectionHandle = std::uint16_t;
using NoteId = std::uint32_t;

// The error number of a status; the two high bits are flags.
constexpr std::uint16_t ErrorNumber(Status status) { return status & 0x3FFF; }

// A NoteId with the top bit set is a view entry that is no document (a
// category heading).
constexpr NoteId kNoteIdCategory = 0x80000000u;

// Fixed text buffer sizes shared by the whole program.
constexpr int kMaxTextBuffer = 260;   // address, URL, server name, time text
constexpr int kMaxPathBuffer = 2000;  // database path built by MakeNetPath

// A position inside a view. `level` and `index[0]` are the caller-visible
// parts: zero them before the first read of a view. The backend owns the rest.
struct CollectionPosition {
  std::uint16_t level;
  std::uint16_t reserved;
  std::uint32_t index[32];
};
static_assert(sizeof(CollectionPosition) == 132);

// International settings. The program only sets the first field (396 selects
// the time-text conventions the free/busy import uses); the rest is the
// backend's.
struct IntlSettings {
  std::uint16_t flags;
  std::uint8_t rest[138];
};
static_assert(sizeof(IntlSettings) == 140);

// How a time text is read; the import passes the bytes 4, 0, 0, 2.
struct TimeTextFormat {
  std::uint8_t bytes[4];
};
static_assert(sizeof(TimeTextFormat) == 4);

// An instant. The program never looks inside; it stores the eight bytes as the
// backend delivers them. The local runtime's layout is in notes/local/time_date.h.
struct TimeDate {
  std::uint8_t bytes[8];
};
static_assert(sizeof(TimeDate) == 8);

// Runtime start and stop. NotesInit takes the process's command line: a first
// argument "=PATH" names the settings file, otherwise ./notes.ini is used.
Status NotesInit(int argc, char** argv);
void NotesTerm();

// Databases. A path is a file name relative to the data directory, or what
// MakeNetPath built for a server. DbOpen never creates a database.
Status DbOpen(const char* path, DbHandle* db);
Status DbClose(DbHandle db);

// Settings. Copies the value of `name` into `buffer`, storing at most
// limit - 1 bytes including the terminator (callers pass the buffer size + 1,
// so at most the buffer size is written). Returns true when the setting exists.
bool GetEnvString(const char* name, char* buffer, std::uint16_t limit);

// Builds the path of `file` on `server` into `path_out`, which must hold
// kMaxPathBuffer bytes. `port` must be null. An empty server means this
// machine.
Status MakeNetPath(const char* port, const char* server, const char* file, char* path_out);

// Views and collections. Every database the run reads has one view "Main",
// found among the design notes of class 8 (views) with the pattern that
// selects views.
constexpr const char* kMainView = "Main";
constexpr std::uint16_t kNoteClassView = 8;
constexpr const char* kViewPattern = "-G40n";
Status FindDesignNote(DbHandle db, const char* name, std::uint16_t note_class,
                      const char* pattern, NoteId* view_id, std::uint32_t options);
// The four trailing outputs are not produced by this platform; pass null.
Status OpenCollection(DbHandle view_db, DbHandle data_db, NoteId view_id, std::uint16_t flags,
                      MemHandle unread_list, CollectionHandle* hCollection, void* unused_out1,
                      void* unused_out2, void* unused_out3, void* unused_out4);
Status CloseCollection(CollectionHandle hCollection);
// flags kFindCaseInsensitive: exact match of the view's sort key, ASCII
// letter case ignored. Gives the position of the first match and the number
// of matches; kErrNoMatch (notes/status_codes.h) when nothing matches.
constexpr std::uint16_t kFindCaseInsensitive = 2;
Status FindByName(CollectionHandle hCollection, const char* key, std::uint16_t flags,
                  CollectionPosition* position, std::uint32_t* match_count);
// Reads at most one pass of entries from `position`; with read mask
// kReadNoteIds the block holds one 32-bit NoteId per entry. The directions:
// kNavigateCurrent stays on the entry at `position`, kNavigateNext moves on. `signal_flags` gets
// 0x20 when more entries remain. Every output pointer except `position` and `hBuffer` may be null.
// When no entry is returned, `hBuffer` is 0.
Status ReadEntries(CollectionHandle hCollection, CollectionPosition* position,
                   std::uint16_t skip_direction, std::uint32_t skip_count,
                   std::uint16_t return_direction, std::uint32_t return_count,
                   std::uint32_t read_mask, MemHandle* hBuffer, std::uint32_t* buffer_length,
                   std::uint32_t* skipped, std::uint32_t* entries_returned,
                   std::uint16_t* signal_flags);
constexpr std::uint16_t kNavigateCurrent = 0;
constexpr std::uint16_t kNavigateNext = 1;
constexpr std::uint32_t kReadNoteIds = 1;
constexpr std::uint32_t kReadAsManyAsPossible = 0xFFFFFFFF;
constexpr std::uint16_t kSignalMoreToDo = 0x20;

// Memory blocks handed out by ReadEntries (and AllocObject).
void* LockObject(MemHandle block);  // null for an unknown handle
bool UnlockObject(MemHandle block);
void FreeObject(MemHandle block);
// Allocates a zero-filled block of `size` bytes. Not used by the design's
// calls; the profile list uses it to gather several read passes into one
// block.
Status AllocObject(std::uint32_t size, MemHandle* block);

// Notes.
Status NoteOpen(DbHandle db, NoteId note_id, std::uint16_t flags, NoteHandle* note);
Status NoteDelete(DbHandle db, NoteId note_id, std::uint16_t flags);
Status NoteCreate(DbHandle db, NoteHandle* note);  // exists once NoteUpdate saved it
Status NoteUpdate(NoteHandle note, std::uint16_t flags);
Status NoteClose(NoteHandle note);                 // unsaved changes are discarded

// Items. ItemGetText copies the bytes of a text item as stored, zero bytes
// included, cut to the buffer and always terminated, and returns the number
// of bytes copied (0 when there is no text item of that name or the handle is
// unknown). A returned length above strlen(buffer) means the value holds a
// zero byte.
std::uint16_t ItemGetText(NoteHandle note, const char* item_name, char* buffer,
                          std::uint16_t buffer_size);
Status ItemSetTime(NoteHandle note, const char* item_name, const TimeDate* time);
Status ItemSetText(NoteHandle note, const char* item_name, const char* text,
                   std::uint16_t length, bool summary);
Status ItemAppend(NoteHandle note, std::uint16_t item_flags, const char* item_name,
                  std::uint16_t name_length, std::uint16_t type_code, const void* value,
                  std::uint32_t value_length);

// Item type codes and flags the program writes.
constexpr std::uint16_t kTypeText = 1280;        // 0x0500
constexpr std::uint16_t kTypeTime = 1024;        // 0x0400
constexpr std::uint16_t kTypeScheduleList = 22;  // 0x0016
constexpr std::uint16_t kItemFlagSummary = 4;

// A schedule list value ("EventList", "EventListExt"): an 8-byte header
// (byte 0: the entry count; byte 6: the size of one entry, in the extended
// list) followed by the entries, 36 bytes each, 72 in the extended list.
constexpr std::size_t kSchedListHeaderSize = 8;
constexpr std::size_t kSchedEntrySize = 36;
constexpr std::size_t kSchedEntryExtSize = 72;

// Time.
void CurrentTime(TimeDate* now);
void GetIntlSettings(IntlSettings* settings, std::uint16_t size);
// Reads the text at *text_ptr (length bytes, no terminator needed) and, on
// success, stores the instant into *time and advances *text_ptr past what was
// read. On failure *time is left untouched.
Status TextToTime(const IntlSettings* settings, const TimeTextFormat* format,
                  const char** text_ptr, std::uint16_t length, TimeDate* time);

// The English text of an error number; always terminated, never longer than
// `size` - 1 characters. Returns its length. `module` must be null.
std::uint16_t LoadErrorText(const void* module, std::uint16_t error_number, char* buffer,
                            std::uint16_t size);
