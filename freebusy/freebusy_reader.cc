// Reads the busy periods of a free/busy text: every FREEBUSY property whose
// type is not FREE, every period in its comma-separated value. A bad period
// costs only itself: it is reported and the rest of the text is still read.
#include "freebusy/freebusy_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "base/ascii.h"
#include "freebusy/calendar_complete.h"
#include "freebusy/ical_lines.h"
#include "freebusy/ical_period.h"

namespace {

// A hostile text can hold millions of bad periods; the console gets the
// first few and a count of the rest.
constexpr std::size_t kMaxWarnings = 20;
// Longest stretch of a quoted text that is shown.
constexpr std::size_t kMaxQuotedBytes = 80;

// Appends the start of `text` between double quotes, escaped, so that a text
// from the network cannot make up console lines of its own.
void AppendQuoted(std::string& out, std::string_view text) {
  bool cut = text.size() > kMaxQuotedBytes;
  if (cut) text = text.substr(0, kMaxQuotedBytes);
  out += '"';
  AppendEscaped(out, text);
  if (cut) out += "...";
  out += '"';
}

// Collects the warning lines of one text into the caller's messages.
class WarningLog {
 public:
  explicit WarningLog(std::string& messages) : messages_(messages) {}

  // Adds "WARN -- <before>"<quoted>"<after>\n".
  void Add(std::string_view before, std::string_view quoted, std::string_view after) {
    if (++count_ > kMaxWarnings) return;
    messages_ += "WARN -- ";
    messages_ += before;
    AppendQuoted(messages_, quoted);
    messages_ += after;
    messages_ += '\n';
  }

  void Finish() {
    if (count_ <= kMaxWarnings) return;
    messages_ += "WARN -- ";
    messages_ += std::to_string(count_ - kMaxWarnings);
    messages_ += " further warnings about busy periods were not shown\n";
  }

 private:
  std::string& messages_;
  std::size_t count_ = 0;
};

// True when the property's FBTYPE says the time is free. Only an FBTYPE
// whose every value is FREE counts: anything doubtful stays busy, since a
// busy period dropped in error lets people double-book.
bool IsFreeTime(std::string_view params) {
  bool free_time = false;
  std::string_view name;
  std::string_view values;
  while (NextParameter(params, name, values)) {
    if (!EqualsIgnoreCase(name, "FBTYPE")) continue;
    std::string_view value;
    bool any_value = false;
    while (NextParameterValue(values, value)) {
      if (!EqualsIgnoreCase(value, "FREE")) return false;
      any_value = true;
    }
    if (!any_value) return false;
    free_time = true;
  }
  return free_time;
}

// The periods read: the first `keep` as time texts, the others only counted.
// Periods that end by `over_by` give way to later ones once `keep` are held.
struct PeriodList {
  std::vector<BusyPeriodText>& kept;
  std::size_t keep;
  std::string_view over_by;
  std::size_t first;  // no period held before this index is over
  std::size_t beyond = 0;

  bool Over(const BusyPeriodText& period) const {
    return !over_by.empty() && std::string_view(period.end) <= over_by;
  }
  bool MayGiveWay() const { return !over_by.empty() && first < kept.size(); }
  // Puts `period` last in place of the first period held that is over,
  // unless `period` is over itself or none held is. The time texts compare
  // as the times they stand for.
  void TakeInPlaceOfOver(const BusyPeriodText& period) {
    if (Over(period)) return;
    while (first < kept.size() && !Over(kept[first])) ++first;
    if (first == kept.size()) return;
    kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(first));
    kept.push_back(period);
  }
};

// Past the periods kept, a period is only checked, for its warning, and
// counted: a big text costs no time texts nobody stores, unless the period
// may take the place of one that is over.
void ReadPeriod(std::string_view text, PeriodList& periods, WarningLog& warnings) {
  BusyPeriodText period;
  const bool keep = periods.kept.size() < periods.keep;
  const bool parse = keep || periods.MayGiveWay();
  switch (parse ? ParsePeriod(text, period.start, period.end) : CheckPeriod(text)) {
    case PeriodRead::kMalformed:
      warnings.Add("Skipped malformed busy period ", text, "");
      return;
    case PeriodRead::kNotUtc:
      warnings.Add("Busy period ", text, " has no UTC marker; read as UTC");
      break;
    case PeriodRead::kUtc:
      break;
  }
  if (keep) {
    periods.kept.push_back(period);
    return;
  }
  // One period is dropped either way: this one, or one over in its place.
  if (parse) periods.TakeInPlaceOfOver(period);
  ++periods.beyond;
}

// Every period of a FREEBUSY value, in order. An empty piece (an empty value,
// or a doubled or trailing comma) is a malformed period like any other.
void ReadPeriods(std::string_view value, PeriodList& periods, WarningLog& warnings) {
  for (;;) {
    std::size_t comma = value.find(',');
    ReadPeriod(value.substr(0, comma), periods, warnings);
    if (comma == std::string_view::npos) return;
    value.remove_prefix(comma + 1);
  }
}

}  // namespace

int ReadFreeBusyText(std::string_view text, std::vector<BusyPeriodText>& periods,
                     std::string& messages, std::size_t keep, std::size_t* beyond,
                     std::string_view over_by) {
  if (!IsCalendarComplete(text)) {
    messages += kCutShortMessage;
    return -1;
  }
  WarningLog warnings(messages);
  PeriodList list{periods, periods.size() + std::min(keep, SIZE_MAX - periods.size()), over_by,
                  periods.size()};
  bool found_free_busy = false;
  ContentLineReader reader(text);
  std::string_view line;
  ContentLine parts;
  while (reader.Next(line)) {
    std::string_view name = ContentLineName(line);
    if (EqualsIgnoreCase(name, "FREEBUSY")) {
      // A line without a value is not taken as evidence of free/busy data:
      // a text holding only such lines must not replace a user's busy time.
      if (!SplitContentLine(line, parts)) {
        warnings.Add("Skipped malformed FREEBUSY line ", line, "");
        continue;
      }
      found_free_busy = true;
      if (!IsFreeTime(parts.params)) ReadPeriods(parts.value, list, warnings);
    } else if (!found_free_busy && EqualsIgnoreCase(name, "BEGIN")) {
      if (SplitContentLine(line, parts) && EqualsIgnoreCase(parts.value, "VFREEBUSY")) {
        found_free_busy = true;
      }
    }
  }
  warnings.Finish();
  if (beyond != nullptr) *beyond = list.beyond;
  if (!found_free_busy) {
    messages += "ERR -- Invalid iCal file format\n";
    return -1;
  }
  return 1;
}
