#include "tools/tool_error.h"

#include <array>
#include <string>

namespace nsfutil {

std::string StatusMessage(Status status) {
  std::array<char, 256> error_text{};
  LoadErrorText(nullptr, ErrorNumber(status), error_text.data(),
                static_cast<std::uint16_t>(error_text.size()));
  return std::string(error_text.data());
}

void ThrowIfFailed(Status status, std::string_view what) {
  if (status != 0) throw ToolError(std::string(what) + ": " + StatusMessage(status));
}

}  // namespace nsfutil
