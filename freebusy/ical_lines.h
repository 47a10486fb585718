// iCalendar content lines (RFC 5545 section 3.1): line ends, unfolding, and
// the split of a line into name, parameters and value. Everything here works
// on views into the caller's text; nothing owns the text it looks at.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// iCalendar names compare without regard to ASCII case: EqualsIgnoreCase.
#include "base/ascii.h"

// Hands out the logical lines of a text one by one, after a leading UTF-8
// byte-order mark, which some writers put first. A line ends at LF, and a
// CR right before that LF belongs to the line end. A line end followed by a
// space or a tab is a fold: the line end and that one blank are removed.
// Unfolded lines are assembled in a buffer the reader owns, so a view it
// hands out stays valid only until the next call of Next().
class ContentLineReader {
 public:
  explicit ContentLineReader(std::string_view text);

  // Sets `line` to the next logical line, without its line end. Returns false
  // when the text is used up.
  bool Next(std::string_view& line);

 private:
  // Finds the physical line that starts at `begin`: sets `end` to where its
  // content ends and returns where the following line starts.
  std::size_t PhysicalLine(std::size_t begin, std::size_t& end) const;

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string unfolded_;
};

// A content line cut into its parts: `params` runs from the first ';' up to
// the ':' that starts the value (empty when there are no parameters).
struct ContentLine {
  std::string_view name;
  std::string_view params;
  std::string_view value;
};

// Splits `line` at its name and at the first ':' outside a quoted parameter
// value. Returns false when the line has no such ':' (including a quote that
// is never closed).
bool SplitContentLine(std::string_view line, ContentLine& parts);

// The name of a content line: everything before the first ';' or ':'. Cheap,
// for deciding whether a line is worth splitting at all.
std::string_view ContentLineName(std::string_view line);

// Takes the next parameter off the front of `params` (as SplitContentLine
// left it). `values` is the text after '=' up to the next parameter: one or
// more values separated by ',', each possibly quoted. Returns false when no
// parameter is left.
bool NextParameter(std::string_view& params, std::string_view& name, std::string_view& values);

// Takes the next value off the front of a parameter's `values`, without its
// quotes. Returns false when none is left.
bool NextParameterValue(std::string_view& values, std::string_view& value);
