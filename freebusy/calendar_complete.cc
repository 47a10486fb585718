#include "freebusy/calendar_complete.h"

#include <cstddef>
#include <iterator>

#include "base/ascii.h"
#include "freebusy/ical_lines.h"

namespace {

// Components of a free/busy text whose end must arrive.
constexpr std::string_view kWatched[] = {"VCALENDAR", "VFREEBUSY"};

// A BEGIN or END value without trailing blanks, which some writers leave.
std::string_view ComponentName(std::string_view value) {
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  return value;
}

}  // namespace

bool IsCalendarComplete(std::string_view text) {
  std::size_t open[std::size(kWatched)] = {};
  ContentLineReader reader(text);
  std::string_view line;
  ContentLine parts;
  while (reader.Next(line)) {
    const std::string_view name = ContentLineName(line);
    const bool is_begin = EqualsIgnoreCase(name, "BEGIN");
    if ((!is_begin && !EqualsIgnoreCase(name, "END")) || !SplitContentLine(line, parts)) continue;
    for (std::size_t i = 0; i < std::size(kWatched); ++i) {
      if (!EqualsIgnoreCase(ComponentName(parts.value), kWatched[i])) continue;
      if (is_begin) {
        ++open[i];
      } else if (open[i] > 0) {
        --open[i];
      }
    }
  }
  for (std::size_t count : open) {
    if (count > 0) return false;
  }
  return true;
}
