// Reads a published calendar (a VCALENDAR of VEVENTs) into busy periods:
// every busy occurrence that touches the run's window, after recurrence,
// exceptions, overrides and time zones, merged into a sorted union. The
// periods are handed on as the free/busy reader hands on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "freebusy/freebusy_reader.h"

constexpr int kDefaultWindowDays = 60;
constexpr int kMaxWindowDays = 3660;
constexpr std::size_t kMaxExaminedOccurrences = 1000000;

// What the run tells the reader: when it started and its two settings.
struct CalendarSettings {
  std::int64_t run_start = 0;        // seconds since 1970 UTC
  int window_days = kDefaultWindowDays;  // HarvestWindowDays
  std::string time_zone = "UTC";     // HarvestTimeZone: floating times and dates
  // Occurrences (and EXDATE values and events) one text may make the reader
  // look at; a text that needs more is refused.
  std::size_t max_examined = kMaxExaminedOccurrences;
  // Wall-clock seconds one text may take to read; a text that takes longer
  // is refused.
  int max_seconds = 10;
};

// True when `name` is a zone of the system's time zone database (IANA
// names, "UTC").
bool IsKnownTimeZone(std::string_view name);

// Reads `text` as a calendar. An occurrence counts when it ends after
// run_start minus 24 hours and starts before run_start plus window_days;
// it is kept whole. Overlapping or touching occurrences make one period.
// Returns 1 when the text is a complete VCALENDAR (its periods appended to
// `periods`, sorted by start, possibly none), 0 when it is none (nothing
// appended or printed), -1 when it needs more than max_examined occurrences
// or max_seconds (an "ERR -- " line says so; nothing appended). Warning lines go to
// `messages`; they name properties and times only.
int ReadCalendarText(std::string_view text, const CalendarSettings& settings,
                     std::vector<BusyPeriodText>& periods, std::string& messages);
