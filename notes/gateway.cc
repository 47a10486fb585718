// Forwards each platform operation to the installed backend.
#include "notes/backend.h"

namespace notes {
namespace {

Backend* installed = nullptr;

Backend& DefaultBackend() {
  static const std::unique_ptr<Backend> local = MakeLocalRuntime();
  return *local;
}

}  // namespace

Backend& CurrentBackend() { return installed != nullptr ? *installed : DefaultBackend(); }

ScopedBackend::ScopedBackend(Backend& backend) : previous_(installed) { installed = &backend; }
ScopedBackend::~ScopedBackend() { installed = previous_; }

}  // namespace notes

using notes::CurrentBackend;

Status NotesInit(int argc, char** argv) { return CurrentBackend().NotesInit(argc, argv); }
void NotesTerm() { CurrentBackend().NotesTerm(); }
Status DbOpen(const char* path, DbHandle* hDb) { return CurrentBackend().DbOpen(path, hDb); }
Status DbClose(DbHandle hDb) { return CurrentBackend().DbClose(hDb); }

bool GetEnvString(const char* name, char* buffer, std::uint16_t limit) {
  return CurrentBackend().GetEnvString(name, buffer, limit);
}

Status MakeNetPath(const char* port, const char* server, const char* file, char* path_out) {
  return CurrentBackend().MakeNetPath(port, server, file, path_out);
}

Status FindDesignNote(DbHandle hDb, const char* name, std::uint16_t note_class,
                      const char* pattern, NoteId* view_id, std::uint32_t options) {
  return CurrentBackend().FindDesignNote(hDb, name, note_class, pattern, view_id, options);
}

Status OpenCollection(DbHandle view_db, DbHandle data_db, NoteId view_id, std::uint16_t flags,
                      MemHandle unread_list, CollectionHandle* hCollection, void* unused_out1,
                      void* unused_out2, void* unused_out3, void* unused_out4) {
  return CurrentBackend().OpenCollection(view_db, data_db, view_id, flags, unread_list,
                                         hCollection, unused_out1, unused_out2, unused_out3,
                                         unused_out4);
}

Status CloseCollection(CollectionHandle hCollection) {
  return CurrentBackend().CloseCollection(hCollection);
}

Status FindByName(CollectionHandle hCollection, const char* key, std::uint16_t flags,
                  CollectionPosition* position, std::uint32_t* match_count) {
  return CurrentBackend().FindByName(hCollection, key, flags, position, match_count);
}

Status ReadEntries(CollectionHandle hCollection, CollectionPosition* position,
                   std::uint16_t skip_direction, std::uint32_t skip_count,
                   std::uint16_t return_direction, std::uint32_t return_count,
                   std::uint32_t read_mask, MemHandle* hBuffer, std::uint32_t* buffer_length,
                   std::uint32_t* skipped, std::uint32_t* entries_returned,
                   std::uint16_t* signal_flags) {
  return CurrentBackend().ReadEntries(hCollection, position, skip_direction, skip_count,
                                      return_direction, return_count, read_mask, hBuffer,
                                      buffer_length, skipped, entries_returned, signal_flags);
}

void* LockObject(MemHandle hMem) { return CurrentBackend().LockObject(hMem); }
bool UnlockObject(MemHandle hMem) { return CurrentBackend().UnlockObject(hMem); }
void FreeObject(MemHandle hMem) { CurrentBackend().FreeObject(hMem); }
Status AllocObject(std::uint32_t size, MemHandle* hMem) {
  return CurrentBackend().AllocObject(size, hMem);
}

Status NoteOpen(DbHandle hDb, NoteId note_id, std::uint16_t flags, NoteHandle* hNote) {
  return CurrentBackend().NoteOpen(hDb, note_id, flags, hNote);
}
Status NoteDelete(DbHandle hDb, NoteId note_id, std::uint16_t flags) {
  return CurrentBackend().NoteDelete(hDb, note_id, flags);
}
Status NoteCreate(DbHandle hDb, NoteHandle* hNote) {
  return CurrentBackend().NoteCreate(hDb, hNote);
}
Status NoteUpdate(NoteHandle hNote, std::uint16_t flags) {
  return CurrentBackend().NoteUpdate(hNote, flags);
}
Status NoteClose(NoteHandle hNote) { return CurrentBackend().NoteClose(hNote); }

std::uint16_t ItemGetText(NoteHandle hNote, const char* item_name, char* buffer,
                          std::uint16_t buffer_size) {
  return CurrentBackend().ItemGetText(hNote, item_name, buffer, buffer_size);
}
Status ItemSetTime(NoteHandle hNote, const char* item_name, const TimeDate* time) {
  return CurrentBackend().ItemSetTime(hNote, item_name, time);
}
Status ItemSetText(NoteHandle hNote, const char* item_name, const char* text,
                   std::uint16_t length, bool summary) {
  return CurrentBackend().ItemSetText(hNote, item_name, text, length, summary);
}
Status ItemAppend(NoteHandle hNote, std::uint16_t item_flags, const char* item_name,
                  std::uint16_t name_length, std::uint16_t type_code, const void* value,
                  std::uint32_t value_length) {
  return CurrentBackend().ItemAppend(hNote, item_flags, item_name, name_length, type_code, value,
                                     value_length);
}

void CurrentTime(TimeDate* now) { CurrentBackend().CurrentTime(now); }
void GetIntlSettings(IntlSettings* settings, std::uint16_t size) {
  CurrentBackend().GetIntlSettings(settings, size);
}
Status TextToTime(const IntlSettings* settings, const TimeTextFormat* format,
                  const char** text_ptr, std::uint16_t length, TimeDate* time) {
  return CurrentBackend().TextToTime(settings, format, text_ptr, length, time);
}
std::uint16_t LoadErrorText(const void* module, std::uint16_t error_number, char* buffer,
                            std::uint16_t size) {
  return CurrentBackend().LoadErrorText(module, error_number, buffer, size);
}
