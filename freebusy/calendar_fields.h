// One VEVENT as its kept lines say it (see calendar_scan.h): the values that
// decide its occurrences, its time values read in their zones, its RRULEs.
#pragma once

#include <libical/ical.h>

#include <string_view>
#include <vector>

#include "freebusy/calendar_zones.h"

// A DTSTART, DTEND, RECURRENCE-ID, RDATE or EXDATE line: views into the
// event's lines. RDATE and EXDATE values may list several times.
struct EventTime {
  std::string_view value;
  std::string_view tzid;
  bool present = false;
  bool is_date = false;          // VALUE=DATE
  bool is_period = false;        // VALUE=PERIOD
  bool this_and_future = false;  // RANGE=THISANDFUTURE (on a RECURRENCE-ID)
};

struct EventFields {
  std::string_view uid;
  EventTime dtstart;
  EventTime dtend;
  EventTime recurrence_id;
  std::string_view duration;
  std::vector<std::string_view> rrules;
  std::vector<EventTime> rdates;
  std::vector<EventTime> exdates;
  bool busy = true;  // not TRANSPARENT, CANCELLED or FREE
  long sequence = 0;
};

// Reads the kept lines of one event.
void ReadEventFields(std::string_view lines, EventFields& fields);

// A time value read: its wall-clock time and the zone it is read in.
struct ZonedTime {
  icaltimetype local{};
  icaltimezone* zone = nullptr;
};

// Reads one DATE or DATE-TIME `value`: "...Z" in UTC, a TZID in its zone,
// anything else in `floating_zone`. False when the value is malformed.
bool ReadTime(std::string_view value, const EventTime& how, CalendarZones& zones,
              icaltimezone* floating_zone, ZonedTime& time);

// Calls `each` with every comma-separated piece of a value.
template <typename Each>
void ForEachValue(std::string_view values, Each each) {
  for (;;) {
    const std::size_t comma = values.find(',');
    each(values.substr(0, comma));
    if (comma == std::string_view::npos) return;
    values.remove_prefix(comma + 1);
  }
}

// An RRULE value as libical reads it, without the empty list items
// ("BYMONTH=1,2,") that publishers write and libical misreads. Its freq is
// ICAL_NO_RECURRENCE when the rule is malformed.
icalrecurrencetype ReadRule(std::string_view text);

// libical steps a rule second by second (minute, hour) until its next match,
// bounded only by the year it gives up at: a rule that repeats more often
// than daily but matches only on some days, or never, would keep it busy for
// hours. False for such rules; real calendars do not use them.
bool IsBoundedRule(const icalrecurrencetype& rule);
