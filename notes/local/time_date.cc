#include "notes/local/time_date.h"

#include <cstdio>

namespace notes::local {
namespace {

void PutLittleEndian(std::uint32_t value, std::uint8_t* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLittleEndian(const std::uint8_t* in) {
  return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
         static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil), exact for every year a 64-bit count can hold here.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

void CivilFromDays(std::int64_t days, std::int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned month_index = (5 * day_of_year + 2) / 153;
  *day = day_of_year - (153 * month_index + 2) / 5 + 1;
  *month = month_index < 10 ? month_index + 3 : month_index - 9;
  *year = static_cast<std::int64_t>(year_of_era) + era * 400 + (*month <= 2 ? 1 : 0);
}

bool IsLeapYear(std::int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

unsigned DaysInMonth(std::int64_t year, unsigned month) {
  constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Reads `count` ASCII digits at text[at]; false on anything else.
bool ReadDigits(std::string_view text, std::size_t at, std::size_t count, unsigned* value) {
  *value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

}  // namespace

TimeDate MakeTimeDate(std::int64_t julian_day, std::uint32_t hundredths) {
  TimeDate time{};
  PutLittleEndian(hundredths % kHundredthsPerDay, time.bytes);
  PutLittleEndian(static_cast<std::uint32_t>(julian_day) & 0xFFFFFFu, time.bytes + 4);
  return time;
}

bool DecodeTimeDate(const TimeDate& time, std::int64_t* julian_day, std::uint32_t* hundredths) {
  const std::uint32_t time_of_day = GetLittleEndian(time.bytes);
  const std::uint32_t day_word = GetLittleEndian(time.bytes + 4);
  if (time_of_day >= kHundredthsPerDay || (day_word & 0xFF000000u) != 0) return false;
  if (julian_day != nullptr) *julian_day = day_word;
  if (hundredths != nullptr) *hundredths = time_of_day;
  return true;
}

std::int64_t JulianDayFromCivil(std::int64_t year, unsigned month, unsigned day) {
  return DaysFromCivil(year, month, day) + kJulianDayOfUnixEpoch;
}

void CivilFromJulianDay(std::int64_t julian_day, std::int64_t* year, unsigned* month,
                        unsigned* day) {
  CivilFromDays(julian_day - kJulianDayOfUnixEpoch, year, month, day);
}

std::string FormatTimeDateIso(const TimeDate& time) {
  std::int64_t julian_day = 0;
  std::uint32_t hundredths = 0;
  if (!DecodeTimeDate(time, &julian_day, &hundredths)) return {};
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromJulianDay(julian_day, &year, &month, &day);
  const std::uint32_t seconds = hundredths / 100;
  char text[48];
  int length = std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u",
                             static_cast<long long>(year), month, day, seconds / 3600,
                             seconds / 60 % 60, seconds % 60);
  std::string result(text, static_cast<std::size_t>(length));
  if (hundredths % 100 != 0) {
    std::snprintf(text, sizeof text, ".%02u", hundredths % 100);
    result += text;
  }
  return result + "Z";
}

TimeDate TimeDateFromUnixMillis(std::int64_t unix_millis) {
  constexpr std::int64_t kMillisPerDay = 86400000;
  std::int64_t days = unix_millis / kMillisPerDay;
  std::int64_t millis = unix_millis % kMillisPerDay;
  if (millis < 0) {
    millis += kMillisPerDay;
    --days;
  }
  return MakeTimeDate(days + kJulianDayOfUnixEpoch, static_cast<std::uint32_t>(millis / 10));
}

bool ParseGmtTimeText(std::string_view text, TimeDate* time) {
  if (text.size() != kGmtTimeTextLength) return false;
  if (text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' || text[16] != ':' ||
      text.substr(19) != " GMT") {
    return false;
  }
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!ReadDigits(text, 0, 4, &year) || !ReadDigits(text, 5, 2, &month) ||
      !ReadDigits(text, 8, 2, &day) || !ReadDigits(text, 11, 2, &hour) ||
      !ReadDigits(text, 14, 2, &minute) || !ReadDigits(text, 17, 2, &second)) {
    return false;
  }
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  *time = MakeTimeDate(JulianDayFromCivil(year, month, day),
                       ((hour * 60 + minute) * 60 + second) * 100);
  return true;
}

}  // namespace notes::local
