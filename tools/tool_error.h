// How nsfutil reports failures: every command throws ToolError with a one-line
// message; main prints it as "nsfutil: <message>" on standard error and exits
// with kExitFailure. Nothing is written to a database after the error.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "notes/notes.h"

namespace nsfutil {

constexpr int kExitOk = 0;
constexpr int kExitProblemsFound = 1;  // `check` found something wrong
constexpr int kExitFailure = 2;        // usage error, missing file, failed operation

class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The runtime's English text for a status.
std::string StatusMessage(Status status);

// Throws ToolError "<what>: <status text>" when `status` is not 0.
void ThrowIfFailed(Status status, std::string_view what);

}  // namespace nsfutil
