// Component nesting is followed with a counter, never recursion, so deep
// nesting costs nothing but the count; only what sits directly inside the
// VCALENDAR (its VEVENTs and VTIMEZONEs) is kept.
#include "freebusy/calendar_scan.h"

#include <array>

#include "freebusy/ical_lines.h"

namespace {

// The VEVENT properties that decide an occurrence's time and whether it is
// busy. UID ties overrides to their event and is never printed.
constexpr std::array<std::string_view, 12> kKeptProperties = {
    "UID",    "DTSTART", "DTEND",  "DURATION", "RRULE",    "RDATE",
    "EXDATE", "RECURRENCE-ID", "TRANSP", "STATUS", "SEQUENCE", "X-MICROSOFT-CDO-BUSYSTATUS"};

bool IsKept(std::string_view name) {
  for (std::string_view kept : kKeptProperties) {
    if (EqualsIgnoreCase(name, kept)) return true;
  }
  return false;
}

enum class Component { kOther, kEvent, kTimeZone };

// What a BEGIN or END line names, or nothing for any other line.
bool ComponentLine(std::string_view line, std::string_view keyword, std::string_view& component) {
  if (line.size() <= keyword.size() || line[keyword.size()] != ':' ||
      !EqualsIgnoreCase(line.substr(0, keyword.size()), keyword))
    return false;
  component = line.substr(keyword.size() + 1);
  return true;
}

// VTIMEZONE lines go to libical's parser as they are, nested parts included.
void AppendZoneLine(CalendarText& calendar, std::string_view line) {
  calendar.timezones.back() += line;
  calendar.timezones.back() += "\r\n";
}

}  // namespace

bool NextEventLine(std::string_view& lines, std::string_view& line) {
  if (lines.empty()) return false;
  std::size_t end = lines.find('\n');
  line = lines.substr(0, end);
  lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
  return true;
}

CalendarScan ScanCalendarText(std::string_view text, std::size_t max_events,
                              CalendarText& calendar) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  ContentLineReader reader(text);
  std::string_view line;
  std::size_t depth = 0;  // 1 inside the VCALENDAR, 2 inside its VEVENT or VTIMEZONE
  bool opened = false;
  Component current = Component::kOther;
  ScannedEvent event;
  while (reader.Next(line)) {
    std::string_view component;
    // Free/busy data is the free/busy reader's, whole or cut.
    if (EqualsIgnoreCase(ContentLineName(line), "FREEBUSY")) return CalendarScan::kNotCalendar;
    if (ComponentLine(line, "BEGIN", component)) {
      if (EqualsIgnoreCase(component, "VFREEBUSY")) return CalendarScan::kNotCalendar;
      if (depth == 0) {
        // Several calendars in one text are read as one; anything else at
        // the top makes the text no calendar.
        if (!EqualsIgnoreCase(component, "VCALENDAR")) return CalendarScan::kNotCalendar;
        opened = true;
      } else if (depth == 1) {
        current = EqualsIgnoreCase(component, "VEVENT")      ? Component::kEvent
                  : EqualsIgnoreCase(component, "VTIMEZONE") ? Component::kTimeZone
                                                             : Component::kOther;
        if (current == Component::kEvent) {
          if (calendar.events.size() >= max_events) return CalendarScan::kTooManyEvents;
          event.begin = static_cast<std::uint32_t>(calendar.lines.size());
        } else if (current == Component::kTimeZone) {
          calendar.timezones.emplace_back();
        }
      }
      ++depth;
      if (current == Component::kTimeZone) AppendZoneLine(calendar, line);
    } else if (ComponentLine(line, "END", component)) {
      if (depth == 0) continue;  // a stray END outside every component
      // The calendar must be closed by name: a text cut inside its last line
      // ends with "END:VCAL", which closes nothing. Inside it, publishers
      // misspell names ("END:VTOOD"), so the count alone decides.
      if (depth == 1 && !EqualsIgnoreCase(component, "VCALENDAR")) {
        return CalendarScan::kNotCalendar;
      }
      if (current == Component::kTimeZone) AppendZoneLine(calendar, line);
      --depth;
      if (depth == 1 && current == Component::kEvent) {
        event.end = static_cast<std::uint32_t>(calendar.lines.size());
        calendar.events.push_back(event);
      }
      if (depth <= 1) current = Component::kOther;
    } else if (depth == 0) {
      if (!line.empty()) return CalendarScan::kNotCalendar;
    } else if (depth == 1) {
      ContentLine parts;
      if (EqualsIgnoreCase(ContentLineName(line), "X-WR-TIMEZONE") &&
          SplitContentLine(line, parts))
        calendar.wr_timezone = parts.value;
    } else if (current == Component::kTimeZone) {
      AppendZoneLine(calendar, line);
    } else if (current == Component::kEvent && depth == 2 && IsKept(ContentLineName(line))) {
      calendar.lines += line;
      calendar.lines += '\n';
    }
  }
  // The text is at most 16 MiB, so the offsets of its kept lines fit.
  return opened && depth == 0 ? CalendarScan::kCalendar : CalendarScan::kNotCalendar;
}
