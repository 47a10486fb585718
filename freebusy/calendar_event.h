// The occurrences of one VEVENT: DTSTART, every RRULE expanded by libical,
// RDATE, minus EXDATE and the instances that overrides replace.
#pragma once

#include <libical/ical.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "freebusy/calendar_fields.h"
#include "freebusy/calendar_log.h"
#include "freebusy/calendar_zones.h"

struct Occurrence {
  std::int64_t start = 0;  // seconds since 1970 UTC
  std::int64_t end = 0;
};

// The window and the budget of one text: occurrences looked at, and time,
// since a single step of libical's iterator can take long on a rule that
// rarely matches.
struct ExpandLimits {
  std::int64_t window_begin = 0;  // an occurrence counts when it ends after this
  std::int64_t window_end = 0;    // and starts before this
  std::size_t max_examined = 0;
  std::size_t examined = 0;
  std::chrono::steady_clock::time_point deadline;
  bool timed_out = false;

  bool Spend() {
    if (++examined > max_examined) return false;
    timed_out = timed_out || std::chrono::steady_clock::now() > deadline;
    return !timed_out;
  }
};

// The starts an event's EXDATEs take out. Each value costs one unit of the
// budget.
struct Exclusions {
  std::vector<std::int64_t> starts;  // UTC, sorted
  std::vector<std::int64_t> days;    // DATE values beside a DATE-TIME start: wall-clock days

  // Whether the occurrence starting at `start` (UTC) at the wall-clock time
  // `local` is taken out.
  bool Has(std::int64_t start, const icaltimetype& local) const;
};

// Reads the EXDATEs of `event`; values without zone are read in `zone`, the
// zone of the event's DTSTART.
Exclusions ReadExclusions(const EventFields& event, icaltimezone* zone, CalendarZones& zones,
                          ExpandLimits& limits);

// An override of an instance and every later one (RANGE=THISANDFUTURE):
// the instances from `original` on move by `shift`, last `length` seconds
// and are busy only when the override is.
struct FutureChange {
  std::int64_t original = 0;
  std::int64_t shift = 0;
  std::int64_t length = 0;
  bool busy = true;
};

// The one occurrence of a `single` event (an override), wherever it lies.
// False when it has none (no valid DTSTART, no length).
bool OccurrenceOf(const EventFields& event, CalendarZones& zones, CalendarLog& log,
                  Occurrence& occurrence);

// Appends the event's occurrences that fall into the window. A `single`
// event (an override) is its DTSTART only. Instances whose start is in
// `replaced` (sorted, UTC) are left out: overrides stand for them; those
// from a FutureChange's original on (`changes`, sorted by it) take its shift,
// length and busy status from the latest one; the others count only when the
// event is busy. False when the budget ran out.
bool ExpandEvent(const EventFields& event, bool single, const std::vector<std::int64_t>& replaced,
                 const std::vector<FutureChange>& changes, CalendarZones& zones,
                 ExpandLimits& limits, CalendarLog& log, std::vector<Occurrence>& occurrences);
