// The first pass over a calendar text (a VCALENDAR of VEVENTs): decides
// whether the text is a complete calendar and keeps, of each VEVENT, only the
// lines that decide its busy time. Summaries, descriptions, locations and
// attendees are never copied; alarms and other subcomponents are passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One VEVENT: its kept lines, unfolded, one per '\n', in `CalendarText::lines`.
struct ScannedEvent {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
};

struct CalendarText {
  std::string lines;                    // the kept lines of every VEVENT
  std::vector<ScannedEvent> events;     // in the order of the text
  std::vector<std::string> timezones;   // each VTIMEZONE, unfolded, CRLF-ended lines
  std::string wr_timezone;              // X-WR-TIMEZONE of the calendar, empty when none

  std::string_view EventLines(const ScannedEvent& event) const {
    return std::string_view(lines).substr(event.begin, event.end - event.begin);
  }
};

enum class CalendarScan {
  kCalendar,     // a complete VCALENDAR: everything it holds is in `calendar`
  kNotCalendar,  // not opened by BEGIN:VCALENDAR, not closed, or free/busy data
  kTooManyEvents,
};

// Scans `text`. The text must open with BEGIN:VCALENDAR (after blank lines
// and a byte order mark), every component must be closed by the end (the
// calendar by its name), and it must hold no
// free/busy data (VFREEBUSY, FREEBUSY): that is the free/busy reader's.
// Stops with kTooManyEvents once more than `max_events` VEVENTs were seen.
CalendarScan ScanCalendarText(std::string_view text, std::size_t max_events,
                              CalendarText& calendar);

// The next kept line of an event's lines (as ScannedEvent::lines holds them).
bool NextEventLine(std::string_view& lines, std::string_view& line);
