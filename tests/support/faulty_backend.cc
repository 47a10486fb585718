// The countdown and the forwarding wrapper behind tests/support/faulty_backend.h.
#include "tests/support/faulty_backend.h"

namespace test_support {

Status FaultPlan::Next(const std::string& operation) {
  const int call = ++counts_[operation];
  const auto found = faults_.find(operation);
  if (found == faults_.end()) return 0;
  const Fault& fault = found->second;
  const bool fails = fault.from_then_on ? call >= fault.call_number : call == fault.call_number;
  return fails ? fault.status : 0;
}

int FaultPlan::Calls(const std::string& operation) const {
  const auto found = counts_.find(operation);
  return found == counts_.end() ? 0 : found->second;
}

// Every status operation first asks the plan; a planned failure never reaches
// the target.
#define FAIL_OR_FORWARD(operation, call)              \
  do {                                                \
    if (const Status planned = plan_.Next(operation)) \
      return planned;                                 \
    return call;                                      \
  } while (false)

Status FaultyBackend::NotesInit(int argc, char** argv) {
  FAIL_OR_FORWARD("NotesInit", target_.NotesInit(argc, argv));
}

void FaultyBackend::NotesTerm() {
  plan_.Next("NotesTerm");
  target_.NotesTerm();
}

Status FaultyBackend::DbOpen(const char* path, DbHandle* hDb) {
  FAIL_OR_FORWARD("DbOpen", target_.DbOpen(path, hDb));
}

Status FaultyBackend::DbClose(DbHandle hDb) { FAIL_OR_FORWARD("DbClose", target_.DbClose(hDb)); }

bool FaultyBackend::GetEnvString(const char* name, char* buffer, std::uint16_t limit) {
  plan_.Next("GetEnvString");
  return target_.GetEnvString(name, buffer, limit);
}

Status FaultyBackend::MakeNetPath(const char* port, const char* server, const char* file,
                                  char* path_out) {
  FAIL_OR_FORWARD("MakeNetPath", target_.MakeNetPath(port, server, file, path_out));
}

Status FaultyBackend::FindDesignNote(DbHandle hDb, const char* name, std::uint16_t note_class,
                                     const char* pattern, NoteId* view_id,
                                     std::uint32_t options) {
  FAIL_OR_FORWARD("FindDesignNote",
                  target_.FindDesignNote(hDb, name, note_class, pattern, view_id, options));
}

Status FaultyBackend::OpenCollection(DbHandle view_db, DbHandle data_db, NoteId view_id,
                                     std::uint16_t flags, MemHandle unread_list,
                                     CollectionHandle* hCollection, void* unused_out1,
                                     void* unused_out2, void* unused_out3, void* unused_out4) {
  FAIL_OR_FORWARD("OpenCollection",
                  target_.OpenCollection(view_db, data_db, view_id, flags, unread_list,
                                         hCollection, unused_out1, unused_out2, unused_out3,
                                         unused_out4));
}

Status FaultyBackend::CloseCollection(CollectionHandle hCollection) {
  FAIL_OR_FORWARD("CloseCollection", target_.CloseCollection(hCollection));
}

Status FaultyBackend::FindByName(CollectionHandle hCollection, const char* key,
                                 std::uint16_t flags, CollectionPosition* position,
                                 std::uint32_t* match_count) {
  FAIL_OR_FORWARD("FindByName",
                  target_.FindByName(hCollection, key, flags, position, match_count));
}

Status FaultyBackend::ReadEntries(CollectionHandle hCollection, CollectionPosition* position,
                                  std::uint16_t skip_direction, std::uint32_t skip_count,
                                  std::uint16_t return_direction, std::uint32_t return_count,
                                  std::uint32_t read_mask, MemHandle* hBuffer,
                                  std::uint32_t* buffer_length, std::uint32_t* skipped,
                                  std::uint32_t* entries_returned,
                                  std::uint16_t* signal_flags) {
  FAIL_OR_FORWARD("ReadEntries",
                  target_.ReadEntries(hCollection, position, skip_direction, skip_count,
                                      return_direction, return_count, read_mask, hBuffer,
                                      buffer_length, skipped, entries_returned, signal_flags));
}

void* FaultyBackend::LockObject(MemHandle hMem) {
  plan_.Next("LockObject");
  return target_.LockObject(hMem);
}

bool FaultyBackend::UnlockObject(MemHandle hMem) {
  plan_.Next("UnlockObject");
  return target_.UnlockObject(hMem);
}

void FaultyBackend::FreeObject(MemHandle hMem) {
  plan_.Next("FreeObject");
  target_.FreeObject(hMem);
}

Status FaultyBackend::AllocObject(std::uint32_t size, MemHandle* hMem) {
  FAIL_OR_FORWARD("AllocObject", target_.AllocObject(size, hMem));
}

Status FaultyBackend::NoteOpen(DbHandle hDb, NoteId note_id, std::uint16_t flags,
                               NoteHandle* hNote) {
  FAIL_OR_FORWARD("NoteOpen", target_.NoteOpen(hDb, note_id, flags, hNote));
}

Status FaultyBackend::NoteDelete(DbHandle hDb, NoteId note_id, std::uint16_t flags) {
  FAIL_OR_FORWARD("NoteDelete", target_.NoteDelete(hDb, note_id, flags));
}

Status FaultyBackend::NoteCreate(DbHandle hDb, NoteHandle* hNote) {
  FAIL_OR_FORWARD("NoteCreate", target_.NoteCreate(hDb, hNote));
}

Status FaultyBackend::NoteUpdate(NoteHandle hNote, std::uint16_t flags) {
  FAIL_OR_FORWARD("NoteUpdate", target_.NoteUpdate(hNote, flags));
}

Status FaultyBackend::NoteClose(NoteHandle hNote) {
  FAIL_OR_FORWARD("NoteClose", target_.NoteClose(hNote));
}

std::uint16_t FaultyBackend::ItemGetText(NoteHandle hNote, const char* item_name, char* buffer,
                                         std::uint16_t buffer_size) {
  plan_.Next("ItemGetText");
  return target_.ItemGetText(hNote, item_name, buffer, buffer_size);
}

Status FaultyBackend::ItemSetTime(NoteHandle hNote, const char* item_name,
                                  const TimeDate* time) {
  FAIL_OR_FORWARD("ItemSetTime", target_.ItemSetTime(hNote, item_name, time));
}

Status FaultyBackend::ItemSetText(NoteHandle hNote, const char* item_name, const char* text,
                                  std::uint16_t length, bool summary) {
  FAIL_OR_FORWARD("ItemSetText", target_.ItemSetText(hNote, item_name, text, length, summary));
}

Status FaultyBackend::ItemAppend(NoteHandle hNote, std::uint16_t item_flags,
                                 const char* item_name, std::uint16_t name_length,
                                 std::uint16_t type_code, const void* value,
                                 std::uint32_t value_length) {
  FAIL_OR_FORWARD("ItemAppend", target_.ItemAppend(hNote, item_flags, item_name, name_length,
                                                   type_code, value, value_length));
}

void FaultyBackend::CurrentTime(TimeDate* now) {
  plan_.Next("CurrentTime");
  target_.CurrentTime(now);
}

void FaultyBackend::GetIntlSettings(IntlSettings* settings, std::uint16_t size) {
  plan_.Next("GetIntlSettings");
  target_.GetIntlSettings(settings, size);
}

Status FaultyBackend::TextToTime(const IntlSettings* settings, const TimeTextFormat* format,
                                 const char** text_ptr, std::uint16_t length, TimeDate* time) {
  FAIL_OR_FORWARD("TextToTime", target_.TextToTime(settings, format, text_ptr, length, time));
}

std::uint16_t FaultyBackend::LoadErrorText(const void* module, std::uint16_t error_number,
                                           char* buffer, std::uint16_t size) {
  plan_.Next("LoadErrorText");
  return target_.LoadErrorText(module, error_number, buffer, size);
}

#undef FAIL_OR_FORWARD

}  // namespace test_support
