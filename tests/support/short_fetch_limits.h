// Fetch limits small enough that every stalling or oversized case of the
// fetch tests ends within seconds: what the tests show is that each limit
// holds, not how long it is.
#pragma once

#include "freebusy/download.h"

namespace test_support {

inline FetchLimits ShortFetchLimits() {
  FetchLimits limits;
  limits.connect_timeout_ms = 2'000;
  limits.idle_timeout_s = 1;
  limits.total_timeout_ms = 1'500;
  limits.max_body_bytes = 1'000;
  return limits;
}

}  // namespace test_support
