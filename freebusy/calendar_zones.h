// The time zones of one calendar text and the conversion of local times to
// UTC. A TZID names, in this order: a VTIMEZONE of the text, a zone of the
// system's time zone database (IANA names), or a Windows zone name, mapped to
// its IANA zone by ICU's copy of the CLDR table. Floating times and dates are
// read in the calendar's zone.
#pragma once

#include <libical/ical.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "freebusy/calendar_log.h"

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(std::int64_t days, int& year, int& month, int& day);

// Seconds since 1970 of the wall-clock time `local` (its date and time
// fields; its zone field is ignored) read as UTC.
std::int64_t WallSeconds(const icaltimetype& local);

// `local` in `zone` as seconds since 1970 UTC. A local time that the zone
// skips (spring forward) is read with the offset before the gap; one it
// passes twice (fall back) is the first of the two (RFC 5545 section 3.3.5).
std::int64_t LocalToUtc(const icaltimetype& local, icaltimezone* zone);

// The wall-clock time in `zone` of `utc` seconds since 1970.
icaltimetype UtcToLocal(std::int64_t utc, icaltimezone* zone, bool is_date);

class CalendarZones {
 public:
  // `timezones`: the VTIMEZONEs of the text; `wr_timezone`: X-WR-TIMEZONE;
  // `setting_zone`: HarvestTimeZone, known to be valid. The VTIMEZONEs are
  // read when a TZID first names them.
  CalendarZones(const std::vector<std::string>& timezones, std::string_view wr_timezone,
                std::string_view setting_zone, CalendarLog& log);
  ~CalendarZones();
  CalendarZones(const CalendarZones&) = delete;
  CalendarZones& operator=(const CalendarZones&) = delete;

  // The zone a TZID names; the calendar's zone, with a warning the first
  // time, when it names none.
  icaltimezone* Find(std::string_view tzid);
  icaltimezone* CalendarZone() const { return calendar_zone_; }

 private:
  icaltimezone* FromText(std::string_view tzid);

  CalendarLog& log_;
  const std::vector<std::string>& timezones_;
  std::map<std::string, std::size_t, std::less<>> by_tzid_;  // VTIMEZONEs not read yet
  std::map<std::string, icaltimezone*, std::less<>> found_;  // TZID -> zone, nullptr: none
  std::vector<icaltimezone*> owned_;  // zones made from the text's VTIMEZONEs
  icaltimezone* calendar_zone_ = nullptr;
};
