// Date-time, duration and period values of RFC 5545 section 3.3.
#include "freebusy/ical_period.h"

#include <tuple>

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Larger than any span between the years 0 and 9999, small enough that no
// sum of parts can overflow: an amount above it can only end past 9999.
constexpr std::int64_t kMaxAmount = std::int64_t{1} << 40;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ABNF literals are case-insensitive, so "t", "z" and "pt1h" are accepted.
bool IsLetter(char c, char upper) { return c == upper || c == upper - 'A' + 'a'; }

// Reads exactly `count` digits at `text[pos]`.
bool ReadDigits(std::string_view text, std::size_t pos, std::size_t count, int& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (!IsDigit(text[i])) return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (month == 2 && IsLeapYear(year)) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method:
// years counted from March so that the leap day ends the year).
std::int64_t DaysFromCivil(int year, int month, int day) {
  std::int64_t y = year - (month <= 2 ? 1 : 0);
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  std::int64_t yoe = y - era * 400;
  std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t days, CivilTime& time) {
  days += 719468;
  std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  std::int64_t doe = days - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  time.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  time.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  time.year = static_cast<int>(yoe + era * 400 + (time.month <= 2 ? 1 : 0));
}

// Reads "<digits><unit>" at `pos` when the unit letter there is `unit`.
// Leaves `pos` alone and returns false when the next unit is another one.
// Sets `bad` for digits without a unit, or an amount out of range.
bool ReadDurationPart(std::string_view text, std::size_t& pos, char unit, std::int64_t& amount,
                      bool& bad) {
  std::size_t i = pos;
  std::int64_t value = 0;
  while (i < text.size() && IsDigit(text[i])) {
    value = value * 10 + (text[i] - '0');
    if (value > kMaxAmount) {
      bad = true;
      return false;
    }
    ++i;
  }
  if (i == pos) return false;
  if (i == text.size()) {
    bad = true;
    return false;
  }
  if (!IsLetter(text[i], unit)) return false;
  amount = value;
  pos = i + 1;
  return true;
}

void WriteDigits(char* out, int value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

bool Earlier(const CivilTime& a, const CivilTime& b) {
  return std::tie(a.year, a.month, a.day, a.hour, a.minute, a.second) <
         std::tie(b.year, b.month, b.day, b.hour, b.minute, b.second);
}

}  // namespace

bool ParseDateTime(std::string_view text, CivilTime& time, bool& utc) {
  if (text.size() != 15 && text.size() != 16) return false;
  if (!IsLetter(text[8], 'T')) return false;
  utc = text.size() == 16;
  if (utc && !IsLetter(text[15], 'Z')) return false;
  if (!ReadDigits(text, 0, 4, time.year) || !ReadDigits(text, 4, 2, time.month) ||
      !ReadDigits(text, 6, 2, time.day) || !ReadDigits(text, 9, 2, time.hour) ||
      !ReadDigits(text, 11, 2, time.minute) || !ReadDigits(text, 13, 2, time.second)) {
    return false;
  }
  // There is no year 0, and the runtime's time conversion refuses it: a period
  // there would be stored as an entry with no time at all.
  return time.year >= 1 && time.month >= 1 && time.month <= 12 && time.day >= 1 &&
         time.day <= DaysInMonth(time.year, time.month) && time.hour <= 23 && time.minute <= 59 &&
         time.second <= 59;
}

bool ParseDuration(std::string_view text, std::int64_t& seconds) {
  std::size_t pos = 0;
  if (pos < text.size() && text[pos] == '+') ++pos;
  if (pos >= text.size() || !IsLetter(text[pos], 'P')) return false;
  ++pos;
  bool bad = false;
  std::int64_t amount = 0;
  if (ReadDurationPart(text, pos, 'W', amount, bad)) {
    seconds = amount * 7 * kSecondsPerDay;
    return pos == text.size();
  }
  seconds = 0;
  bool any = false;
  if (ReadDurationPart(text, pos, 'D', amount, bad)) {
    seconds = amount * kSecondsPerDay;
    any = true;
  }
  if (!bad && pos < text.size() && IsLetter(text[pos], 'T')) {
    ++pos;
    bool any_time = false;
    static constexpr struct {
      char unit;
      std::int64_t scale;
    } kTimeUnits[] = {{'H', 3600}, {'M', 60}, {'S', 1}};
    for (const auto& unit : kTimeUnits) {
      if (ReadDurationPart(text, pos, unit.unit, amount, bad)) {
        seconds += amount * unit.scale;
        any_time = true;
      }
    }
    if (!any_time) return false;
    any = true;
  }
  return !bad && any && pos == text.size();
}

bool AddSeconds(CivilTime& time, std::int64_t seconds) {
  std::int64_t total = DaysFromCivil(time.year, time.month, time.day) * kSecondsPerDay +
                       time.hour * 3600 + time.minute * 60 + time.second + seconds;
  std::int64_t days = total / kSecondsPerDay;
  std::int64_t rest = total % kSecondsPerDay;
  if (rest < 0) {  // times before 1970 count down from the epoch
    rest += kSecondsPerDay;
    --days;
  }
  // Tested on the day count, before a huge count could wrap the year.
  if (days >= DaysFromCivil(10000, 1, 1)) return false;
  CivilTime result;
  CivilFromDays(days, result);
  result.hour = static_cast<int>(rest / 3600);
  result.minute = static_cast<int>(rest / 60 % 60);
  result.second = static_cast<int>(rest % 60);
  time = result;
  return true;
}

void FormatTimeText(const CivilTime& time, char (&out)[24]) {
  WriteDigits(out, time.year, 4);
  out[4] = '-';
  WriteDigits(out + 5, time.month, 2);
  out[7] = '-';
  WriteDigits(out + 8, time.day, 2);
  out[10] = ' ';
  WriteDigits(out + 11, time.hour, 2);
  out[13] = ':';
  WriteDigits(out + 14, time.minute, 2);
  out[16] = ':';
  WriteDigits(out + 17, time.second, 2);
  out[19] = ' ';
  out[20] = 'G';
  out[21] = 'M';
  out[22] = 'T';
  out[23] = '\0';
}

namespace {

PeriodRead ReadPeriodTimes(std::string_view text, CivilTime& start_time, CivilTime& end_time) {
  std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return PeriodRead::kMalformed;
  bool start_utc = false;
  bool end_utc = true;
  if (!ParseDateTime(text.substr(0, slash), start_time, start_utc)) return PeriodRead::kMalformed;
  std::string_view second = text.substr(slash + 1);
  std::int64_t seconds = 0;
  if (ParseDuration(second, seconds)) {
    end_time = start_time;
    if (!AddSeconds(end_time, seconds)) return PeriodRead::kMalformed;
  } else if (!ParseDateTime(second, end_time, end_utc)) {
    return PeriodRead::kMalformed;
  }
  // A period that ends before it starts, or when it starts, holds no busy
  // time; stored, it would give the document an entry no scheduler can use.
  if (!Earlier(start_time, end_time)) return PeriodRead::kMalformed;
  return (start_utc && end_utc) ? PeriodRead::kUtc : PeriodRead::kNotUtc;
}

}  // namespace

PeriodRead ParsePeriod(std::string_view text, char (&start)[24], char (&end)[24]) {
  CivilTime start_time;
  CivilTime end_time;
  const PeriodRead read = ReadPeriodTimes(text, start_time, end_time);
  if (read == PeriodRead::kMalformed) return read;
  FormatTimeText(start_time, start);
  FormatTimeText(end_time, end);
  return read;
}

PeriodRead CheckPeriod(std::string_view text) {
  CivilTime start_time;
  CivilTime end_time;
  return ReadPeriodTimes(text, start_time, end_time);
}
