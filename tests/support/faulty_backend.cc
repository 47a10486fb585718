// The forwarding wrapper behind tests/support/faulty_backend.h.
#include "tests/support/faulty_backend.h"

#include <cstddef>
#include <tuple>
#include <type_traits>

namespace test_support {
namespace {

// Whether the last two parameters are a text buffer and its size.
template <typename... Args>
constexpr bool EndsWithTextBuffer() {
  constexpr std::size_t kCount = sizeof...(Args);
  if constexpr (kCount < 2) {
    return false;
  } else {
    using Types = std::tuple<Args...>;
    return std::is_same_v<std::tuple_element_t<kCount - 2, Types>, char*> &&
           std::is_same_v<std::tuple_element_t<kCount - 1, Types>, std::uint16_t>;
  }
}

// What a failed call returns instead of reaching its target. Only status
// operations and text reads share a result type (a 16-bit number), so a text
// read is told by its last two parameters.
template <typename Result, typename... Args>
Result Failure(Status status, std::tuple<Args&...> arguments) {
  if constexpr (std::is_void_v<Result>) {
    return;
  } else if constexpr (std::is_pointer_v<Result>) {
    return nullptr;
  } else if constexpr (EndsWithTextBuffer<Args...>()) {
    constexpr std::size_t kCount = sizeof...(Args);
    char* buffer = std::get<kCount - 2>(arguments);
    const std::uint16_t size = std::get<kCount - 1>(arguments);
    // GetEnvString stores at most size - 1 bytes, the others at most size.
    if (size > (std::is_same_v<Result, bool> ? 1 : 0)) buffer[0] = '\0';
    return Result{};
  } else if constexpr (std::is_same_v<Result, bool>) {
    return false;
  } else {
    return status;
  }
}

}  // namespace

int FaultyBackend::Calls(const std::string& operation) const {
  const auto found = calls_.find(operation);
  return found == calls_.end() ? 0 : found->second;
}

Status FaultyBackend::Next(const std::string& operation, bool can_fail) {
  const int call = ++calls_[operation];
  const auto found = faults_.find(operation);
  if (!can_fail || found == faults_.end()) return 0;
  const Fault& fault = found->second;
  const bool fails = fault.from_then_on ? call >= fault.call_number : call == fault.call_number;
  if (!fails) return 0;
  ++failed_;
  return fault.status;
}

// Operations without a result are counted and always reach the target.
#define FAIL_OR_FORWARD(result, name, parameters, arguments)                       \
  result FaultyBackend::name parameters {                                          \
    if (const Status status = Next(#name, !std::is_void_v<result>))                 \
      return Failure<result>(status, std::forward_as_tuple arguments);             \
    return target_.name arguments;                                                 \
  }
NOTES_BACKEND_OPERATIONS(FAIL_OR_FORWARD)
#undef FAIL_OR_FORWARD

}  // namespace test_support
