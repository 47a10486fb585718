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

// Each function of notes/notes.h hands its arguments to the installed backend.
#define NOTES_FORWARD(result, name, parameters, arguments) \
  result name parameters { return CurrentBackend().name arguments; }
NOTES_BACKEND_OPERATIONS(NOTES_FORWARD)
#undef NOTES_FORWARD
