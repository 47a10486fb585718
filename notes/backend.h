// The seam behind the gateway: one virtual method per platform operation, the
// same names and arguments as notes/notes.h. The gateway forwards every call to
// the installed backend.
//
// The default backend is the local runtime on SQLite (notes/local/). Tests
// install the fake of tests/support/fake_gateway.h, or wrap a backend in
// tests/support/faulty_backend.h to make chosen calls fail.
// A backend is used from one thread at a time.
//
// The operations are listed once, in NOTES_BACKEND_OPERATIONS; the interface,
// the gateway's forwarding functions and every backend's declarations are
// made from that list, so a new or changed operation is written in one place.
#pragma once

#include <memory>

#include "notes/notes.h"

// X(result, name, (parameters), (arguments)) for every platform operation, in
// the order of notes/notes.h.
#define NOTES_BACKEND_OPERATIONS(X)                                                               \
  X(Status, NotesInit, (int argc, char** argv), (argc, argv))                                     \
  X(void, NotesTerm, (), ())                                                                      \
  X(Status, DbOpen, (const char* path, DbHandle* db), (path, db))                                 \
  X(Status, DbClose, (DbHandle db), (db))                                                         \
  X(bool, GetEnvString, (const char* name, char* buffer, std::uint16_t limit),                    \
    (name, buffer, limit))                                                                        \
  X(Status, MakeNetPath, (const char* port, const char* server, const char* file,                 \
    char* path_out),                                                                              \
    (port, server, file, path_out))                                                               \
  X(Status, FindDesignNote, (DbHandle db, const char* name, std::uint16_t note_class,             \
    const char* pattern, NoteId* view_id, std::uint32_t options),                                 \
    (db, name, note_class, pattern, view_id, options))                                            \
  X(Status, OpenCollection, (DbHandle view_db, DbHandle data_db, NoteId view_id,                  \
    std::uint16_t flags, MemHandle unread_list, CollectionHandle* hCollection,                    \
    void* unused_out1, void* unused_out2, void* unused_out3, void* unused_out4),                  \
    (view_db, data_db, view_id, flags, unread_list, hCollection, unused_out1, unused_out2,        \
     unused_out3, unused_out4))                                                                   \
  X(Status, CloseCollection, (CollectionHandle hCollection), (hCollection))                       \
  X(Status, FindByName, (CollectionHandle hCollection, const char* key, std::uint16_t flags,      \
    CollectionPosition* position, std::uint32_t* match_count),                                    \
    (hCollection, key, flags, position, match_count))                                             \
  X(Status, ReadEntries, (CollectionHandle hCollection, CollectionPosition* position,             \
    std::uint16_t skip_direction, std::uint32_t skip_count, std::uint16_t return_direction,       \
    std::uint32_t return_count, std::uint32_t read_mask, MemHandle* hBuffer,                      \
    std::uint32_t* buffer_length, std::uint32_t* skipped, std::uint32_t* entries_returned,        \
    std::uint16_t* signal_flags),                                                                 \
    (hCollection, position, skip_direction, skip_count, return_direction, return_count,           \
     read_mask, hBuffer, buffer_length, skipped, entries_returned, signal_flags))                 \
  X(void*, LockObject, (MemHandle block), (block))                                                \
  X(bool, UnlockObject, (MemHandle block), (block))                                               \
  X(void, FreeObject, (MemHandle block), (block))                                                 \
  X(Status, AllocObject, (std::uint32_t size, MemHandle* block), (size, block))                   \
  X(Status, NoteOpen, (DbHandle db, NoteId note_id, std::uint16_t flags, NoteHandle* note),       \
    (db, note_id, flags, note))                                                                   \
  X(Status, NoteDelete, (DbHandle db, NoteId note_id, std::uint16_t flags),                       \
    (db, note_id, flags))                                                                         \
  X(Status, NoteCreate, (DbHandle db, NoteHandle* note), (db, note))                              \
  X(Status, NoteUpdate, (NoteHandle note, std::uint16_t flags), (note, flags))                    \
  X(Status, NoteClose, (NoteHandle note), (note))                                                 \
  X(std::uint16_t, ItemGetText, (NoteHandle note, const char* item_name, char* buffer,            \
    std::uint16_t buffer_size),                                                                   \
    (note, item_name, buffer, buffer_size))                                                       \
  X(Status, ItemSetTime, (NoteHandle note, const char* item_name, const TimeDate* time),          \
    (note, item_name, time))                                                                      \
  X(Status, ItemSetText, (NoteHandle note, const char* item_name, const char* text,               \
    std::uint16_t length, bool summary),                                                          \
    (note, item_name, text, length, summary))                                                     \
  X(Status, ItemAppend, (NoteHandle note, std::uint16_t item_flags, const char* item_name,        \
    std::uint16_t name_length, std::uint16_t type_code, const void* value,                        \
    std::uint32_t value_length),                                                                  \
    (note, item_flags, item_name, name_length, type_code, value, value_length))                   \
  X(void, CurrentTime, (TimeDate* now), (now))                                                    \
  X(void, GetIntlSettings, (IntlSettings* settings, std::uint16_t size), (settings, size))        \
  X(Status, TextToTime, (const IntlSettings* settings, const TimeTextFormat* format,              \
    const char** text_ptr, std::uint16_t length, TimeDate* time),                                 \
    (settings, format, text_ptr, length, time))                                                   \
  X(std::uint16_t, LoadErrorText, (const void* module, std::uint16_t error_number, char* buffer,  \
    std::uint16_t size),                                                                          \
    (module, error_number, buffer, size))

// Declares one operation as an override; a backend's class body holds
// NOTES_BACKEND_OPERATIONS(NOTES_BACKEND_OVERRIDE).
#define NOTES_BACKEND_OVERRIDE(result, name, parameters, arguments) \
  result name parameters override;

namespace notes {

#define NOTES_BACKEND_PURE_VIRTUAL(result, name, parameters, arguments) \
  virtual result name parameters = 0;

class Backend {
 public:
  virtual ~Backend() = default;
  NOTES_BACKEND_OPERATIONS(NOTES_BACKEND_PURE_VIRTUAL)
};

#undef NOTES_BACKEND_PURE_VIRTUAL

// The backend the gateway forwards to; the local runtime until one is
// installed.
Backend& CurrentBackend();

// Installs `backend` for the lifetime of the guard and restores the previous
// one afterwards. The backend must outlive the guard.
class ScopedBackend {
 public:
  explicit ScopedBackend(Backend& backend);
  ~ScopedBackend();
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;

 private:
  Backend* previous_;
};

// Makes the local runtime on SQLite; defined in notes/local/.
std::unique_ptr<Backend> MakeLocalRuntime();

}  // namespace notes
