// The one way tests make platform calls fail: a backend that forwards every
// call to a target backend (the fake gateway or the local runtime) and counts
// the calls per operation, except the calls a test picked to fail ("fail the
// Nth call of NoteUpdate, once or from then on").
//
// A failed call never reaches the target, so the target neither logs it nor
// changes its outputs. It returns the status the test chose; an operation
// without a status gives back what it gives when there is nothing to give: a
// null block (LockObject), false (GetEnvString, UnlockObject), or an empty,
// terminated text of length 0 (ItemGetText, LoadErrorText). Operations with no
// result (NotesTerm, FreeObject, CurrentTime, GetIntlSettings) are counted and
// always forwarded.
#pragma once

#include <map>
#include <string>

#include "notes/backend.h"

namespace test_support {

class FaultyBackend final : public notes::Backend {
 public:
  explicit FaultyBackend(notes::Backend& target) : target_(target) {}

  // Makes the `call_number`th call of `operation` (and every later one when
  // `from_then_on`) fail with `status`. A later Fail of the same operation
  // replaces the earlier one.
  void Fail(const std::string& operation, Status status, int call_number = 1,
            bool from_then_on = false) {
    faults_[operation] = Fault{status, call_number, from_then_on};
  }
  void ClearFaults() { faults_.clear(); }

  // Calls of `operation` so far, failed ones included.
  int Calls(const std::string& operation) const;
  // Calls made to fail so far.
  int Failed() const { return failed_; }

  NOTES_BACKEND_OPERATIONS(NOTES_BACKEND_OVERRIDE)

 private:
  struct Fault {
    Status status = 0;
    int call_number = 1;        // the first failing call, counted from 1
    bool from_then_on = false;  // false: only that call fails
  };

  // Counts one call of `operation`; the status it must fail with, or 0 (always
  // 0 unless it `can_fail`).
  Status Next(const std::string& operation, bool can_fail);

  notes::Backend& target_;
  std::map<std::string, Fault> faults_;
  std::map<std::string, int> calls_;
  int failed_ = 0;
};

}  // namespace test_support
