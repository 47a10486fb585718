// iCalendar PERIOD values (RFC 5545 section 3.3.9): a DATE-TIME start and
// either a DATE-TIME end or a duration, turned into the two time texts
// "YYYY-MM-DD HH:MM:SS GMT" that the schedule entries are built from.
#pragma once

#include <cstdint>
#include <string_view>

// A calendar date and time of day, years 0 to 9999.
struct CivilTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

enum class PeriodRead {
  kUtc,        // both times in UTC
  kNotUtc,     // read, but at least one time lacked the UTC marker "Z"
  kMalformed,  // not a period this reader can take, or one that does not end
               // after it starts (reversed, zero length); nothing written
};

// Reads a DATE-TIME "YYYYMMDDTHHMMSS" with an optional "Z". Sets `utc` when
// the Z is there. False for anything else, including impossible dates and
// times (day 31 of a 30-day month, hour 24, second 60) and trailing bytes.
bool ParseDateTime(std::string_view text, CivilTime& time, bool& utc);

// Reads a duration "[+]P..." of weeks, or of days and/or hours, minutes and
// seconds, into seconds. Negative durations and empty ones ("P", "PT") are
// refused, as are amounts too large to end before the year 10000.
bool ParseDuration(std::string_view text, std::int64_t& seconds);

// `time` moved on by `seconds` (not negative) with real calendar arithmetic.
// False when the result lies past the year 9999.
bool AddSeconds(CivilTime& time, std::int64_t seconds);

// Writes "YYYY-MM-DD HH:MM:SS GMT" and a zero byte: 24 bytes.
void FormatTimeText(const CivilTime& time, char (&out)[24]);

// Reads one period "start/end" or "start/duration" into its two time texts.
// Times without the UTC marker are taken as UTC.
PeriodRead ParsePeriod(std::string_view text, char (&start)[24], char (&end)[24]);

// What ParsePeriod would say of `text`, without writing the time texts.
PeriodRead CheckPeriod(std::string_view text);
