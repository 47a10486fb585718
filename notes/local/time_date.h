// The local runtime's TimeDate and the one time text it reads.
//
// TimeDate layout (eight bytes, little-endian fields):
//   bytes 0-3  hundredths of a second since midnight UTC, 0 .. 8639999
//   bytes 4-7  low 24 bits: the Julian Day Number of the UTC date
//              (proleptic Gregorian calendar; 1970-01-01 is day 2440588);
//              upper 8 bits: 0, meaning UTC with no zone or daylight data
// So 2007-01-02 08:00:00 UTC is day 2454103 with 2880000 hundredths.
//
// The admin tool and the tests decode stored times with these helpers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "notes/notes.h"

namespace notes::local {

constexpr std::uint32_t kHundredthsPerDay = 24u * 60 * 60 * 100;
constexpr std::int64_t kJulianDayOfUnixEpoch = 2440588;

// Encodes a day and a time of day. The day is kept in 24 bits and the
// hundredths are reduced modulo one day; pass valid values.
TimeDate MakeTimeDate(std::int64_t julian_day, std::uint32_t hundredths);

// Splits a TimeDate; false when it is not one this runtime writes (upper day
// bits set, or hundredths beyond the day). Either output may be null.
bool DecodeTimeDate(const TimeDate& time, std::int64_t* julian_day, std::uint32_t* hundredths);

// Julian Day Number of a proleptic Gregorian date, and back.
std::int64_t JulianDayFromCivil(std::int64_t year, unsigned month, unsigned day);
void CivilFromJulianDay(std::int64_t julian_day, std::int64_t* year, unsigned* month,
                        unsigned* day);

// ISO 8601 in UTC, "2007-01-02T08:00:00Z" (with ".hh" only when the
// hundredths are not zero); empty when DecodeTimeDate refuses the value.
std::string FormatTimeDateIso(const TimeDate& time);

// The time of a Unix clock reading in milliseconds (the system clock).
TimeDate TimeDateFromUnixMillis(std::int64_t unix_millis);

// Reads exactly "YYYY-MM-DD HH:MM:SS GMT" (23 characters: years 0001-9999,
// a real calendar date, hours 00-23, minutes and seconds 00-59). Any other
// text, including a longer or shorter one, is refused and *time is left
// untouched. The entry point for fuzzing TextToTime's reader.
bool ParseGmtTimeText(std::string_view text, TimeDate* time);
constexpr std::size_t kGmtTimeTextLength = 23;

}  // namespace notes::local
