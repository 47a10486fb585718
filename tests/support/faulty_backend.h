// Fault injection for tests: a countdown per named operation ("fail the Nth
// call, once or from then on"), and a backend wrapper that forwards every call
// to a target backend except the calls picked to fail.
//
// The wrapper works over the fake gateway and over the local runtime alike. A
// failed call returns the chosen status without reaching the target, so its
// outputs are left as they were. Only operations that return a Status can be
// made to fail; every call of every operation is counted.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "notes/backend.h"

namespace test_support {

// Which call of one operation fails, and how.
struct Fault {
  Status status = 0;
  int call_number = 1;         // the first failing call, counted from 1
  bool from_then_on = false;   // false: only that call fails
};

// Counts the calls per operation and says which ones fail.
class FaultPlan {
 public:
  void Fail(const std::string& operation, Status status, int call_number = 1,
            bool from_then_on = false) {
    faults_[operation] = Fault{status, call_number, from_then_on};
  }
  void Clear() { faults_.clear(); }

  // Counts one call of `operation`; returns the status it must fail with, or 0.
  Status Next(const std::string& operation);

  int Calls(const std::string& operation) const;

 private:
  std::map<std::string, Fault> faults_;
  std::map<std::string, int> counts_;
};

class FaultyBackend final : public notes::Backend {
 public:
  explicit FaultyBackend(notes::Backend& target) : target_(target) {}

  // Makes the `call_number`th call of `operation` (and every later one when
  // `from_then_on`) return `status`.
  void FailCall(const std::string& operation, Status status, int call_number = 1,
                bool from_then_on = false) {
    plan_.Fail(operation, status, call_number, from_then_on);
  }
  void ClearFaults() { plan_.Clear(); }
  int Calls(const std::string& operation) const { return plan_.Calls(operation); }

  Status NotesInit(int argc, char** argv) override;
  void NotesTerm() override;
  Status DbOpen(const char* path, DbHandle* hDb) override;
  Status DbClose(DbHandle hDb) override;
  bool GetEnvString(const char* name, char* buffer, std::uint16_t limit) override;
  Status MakeNetPath(const char* port, const char* server, const char* file,
                     char* path_out) override;
  Status FindDesignNote(DbHandle hDb, const char* name, std::uint16_t note_class,
                        const char* pattern, NoteId* view_id, std::uint32_t options) override;
  Status OpenCollection(DbHandle view_db, DbHandle data_db, NoteId view_id, std::uint16_t flags,
                        MemHandle unread_list, CollectionHandle* hCollection, void* unused_out1,
                        void* unused_out2, void* unused_out3, void* unused_out4) override;
  Status CloseCollection(CollectionHandle hCollection) override;
  Status FindByName(CollectionHandle hCollection, const char* key, std::uint16_t flags,
                    CollectionPosition* position, std::uint32_t* match_count) override;
  Status ReadEntries(CollectionHandle hCollection, CollectionPosition* position,
                     std::uint16_t skip_direction, std::uint32_t skip_count,
                     std::uint16_t return_direction, std::uint32_t return_count,
                     std::uint32_t read_mask, MemHandle* hBuffer, std::uint32_t* buffer_length,
                     std::uint32_t* skipped, std::uint32_t* entries_returned,
                     std::uint16_t* signal_flags) override;
  void* LockObject(MemHandle hMem) override;
  bool UnlockObject(MemHandle hMem) override;
  void FreeObject(MemHandle hMem) override;
  Status AllocObject(std::uint32_t size, MemHandle* hMem) override;
  Status NoteOpen(DbHandle hDb, NoteId note_id, std::uint16_t flags, NoteHandle* hNote) override;
  Status NoteDelete(DbHandle hDb, NoteId note_id, std::uint16_t flags) override;
  Status NoteCreate(DbHandle hDb, NoteHandle* hNote) override;
  Status NoteUpdate(NoteHandle hNote, std::uint16_t flags) override;
  Status NoteClose(NoteHandle hNote) override;
  std::uint16_t ItemGetText(NoteHandle hNote, const char* item_name, char* buffer,
                            std::uint16_t buffer_size) override;
  Status ItemSetTime(NoteHandle hNote, const char* item_name, const TimeDate* time) override;
  Status ItemSetText(NoteHandle hNote, const char* item_name, const char* text,
                     std::uint16_t length, bool summary) override;
  Status ItemAppend(NoteHandle hNote, std::uint16_t item_flags, const char* item_name,
                    std::uint16_t name_length, std::uint16_t type_code, const void* value,
                    std::uint32_t value_length) override;
  void CurrentTime(TimeDate* now) override;
  void GetIntlSettings(IntlSettings* settings, std::uint16_t size) override;
  Status TextToTime(const IntlSettings* settings, const TimeTextFormat* format,
                    const char** text_ptr, std::uint16_t length, TimeDate* time) override;
  std::uint16_t LoadErrorText(const void* module, std::uint16_t error_number, char* buffer,
                              std::uint16_t size) override;

 private:
  notes::Backend& target_;
  FaultPlan plan_;
};

}  // namespace test_support
