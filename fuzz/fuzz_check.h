// What every fuzz target shares: a check that stays on in release builds and
// makes libFuzzer keep the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

// Aborts with the failed condition when `condition` is false. abort() is a
// crash to libFuzzer, so the input is saved under the artifact prefix.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)
