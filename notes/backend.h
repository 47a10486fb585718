// The seam behind the gateway: one virtual method per platform operation, the
// same names and arguments as notes/notes.h. The gateway forwards every call to
// the installed backend.
//
// The default backend is the local runtime on SQLite (notes/local/). Tests
// install a fake (tests/fake_gateway.h) or wrap a backend to inject faults.
// A backend is used from one thread at a time.
#pragma once

#include <memory>

#include "notes/notes.h"

namespace notes {

class Backend {
 public:
  virtual ~Backend() = default;

  virtual Status NotesInit(int argc, char** argv) = 0;
  virtual void NotesTerm() = 0;
  virtual Status DbOpen(const char* path, DbHandle* hDb) = 0;
  virtual Status DbClose(DbHandle hDb) = 0;
  virtual bool GetEnvString(const char* name, char* buffer, std::uint16_t limit) = 0;
  virtual Status MakeNetPath(const char* port, const char* server, const char* file,
                             char* path_out) = 0;
  virtual Status FindDesignNote(DbHandle hDb, const char* name, std::uint16_t note_class,
                                const char* pattern, NoteId* view_id, std::uint32_t options) = 0;
  virtual Status OpenCollection(DbHandle view_db, DbHandle data_db, NoteId view_id,
                                std::uint16_t flags, MemHandle unread_list,
                                CollectionHandle* hCollection, void* unused_out1,
                                void* unused_out2, void* unused_out3, void* unused_out4) = 0;
  virtual Status CloseCollection(CollectionHandle hCollection) = 0;
  virtual Status FindByName(CollectionHandle hCollection, const char* key, std::uint16_t flags,
                            CollectionPosition* position, std::uint32_t* match_count) = 0;
  virtual Status ReadEntries(CollectionHandle hCollection, CollectionPosition* position,
                             std::uint16_t skip_direction, std::uint32_t skip_count,
                             std::uint16_t return_direction, std::uint32_t return_count,
                             std::uint32_t read_mask, MemHandle* hBuffer,
                             std::uint32_t* buffer_length, std::uint32_t* skipped,
                             std::uint32_t* entries_returned, std::uint16_t* signal_flags) = 0;
  virtual void* LockObject(MemHandle hMem) = 0;
  virtual bool UnlockObject(MemHandle hMem) = 0;
  virtual void FreeObject(MemHandle hMem) = 0;
  virtual Status AllocObject(std::uint32_t size, MemHandle* hMem) = 0;
  virtual Status NoteOpen(DbHandle hDb, NoteId note_id, std::uint16_t flags,
                          NoteHandle* hNote) = 0;
  virtual Status NoteDelete(DbHandle hDb, NoteId note_id, std::uint16_t flags) = 0;
  virtual Status NoteCreate(DbHandle hDb, NoteHandle* hNote) = 0;
  virtual Status NoteUpdate(NoteHandle hNote, std::uint16_t flags) = 0;
  virtual Status NoteClose(NoteHandle hNote) = 0;
  virtual std::uint16_t ItemGetText(NoteHandle hNote, const char* item_name, char* buffer,
                                    std::uint16_t buffer_size) = 0;
  virtual Status ItemSetTime(NoteHandle hNote, const char* item_name, const TimeDate* time) = 0;
  virtual Status ItemSetText(NoteHandle hNote, const char* item_name, const char* text,
                             std::uint16_t length, bool summary) = 0;
  virtual Status ItemAppend(NoteHandle hNote, std::uint16_t item_flags, const char* item_name,
                            std::uint16_t name_length, std::uint16_t type_code,
                            const void* value, std::uint32_t value_length) = 0;
  virtual void CurrentTime(TimeDate* now) = 0;
  virtual void GetIntlSettings(IntlSettings* settings, std::uint16_t size) = 0;
  virtual Status TextToTime(const IntlSettings* settings, const TimeTextFormat* format,
                            const char** text_ptr, std::uint16_t length, TimeDate* time) = 0;
  virtual std::uint16_t LoadErrorText(const void* module, std::uint16_t error_number,
                                      char* buffer, std::uint16_t size) = 0;
};

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
