// Making stored bytes safe to print: as a JSON string, or as text for a
// terminal. Names and values in a database can hold any bytes; neither form
// lets a control character or a broken UTF-8 sequence through.
#pragma once

#include <string>
#include <string_view>

namespace nsfutil {

// `text` as a JSON string with its quotes. Quotes, backslashes and control
// characters are escaped; valid UTF-8 passes unchanged; every byte that is not
// part of a valid UTF-8 sequence becomes \u00XX (the byte read as Latin-1).
std::string JsonQuote(std::string_view text);

// `text` for a terminal: valid UTF-8 and printable ASCII as they are, every
// other byte (control characters, DEL, broken sequences) as \xNN.
std::string Printable(std::string_view text);

}  // namespace nsfutil
