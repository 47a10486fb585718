// Making stored bytes safe to print as a JSON string. Names and values in a
// database can hold any bytes; the JSON text lets no control character or
// broken UTF-8 sequence through. For a terminal: EscapeUntrusted
// (base/ascii.h).
#pragma once

#include <string>
#include <string_view>

namespace nsfutil {

// `text` as a JSON string with its quotes. Quotes, backslashes and control
// characters are escaped; valid UTF-8 passes unchanged; every byte that is not
// part of a valid UTF-8 sequence becomes \u00XX (the byte read as Latin-1).
std::string JsonQuote(std::string_view text);

}  // namespace nsfutil
