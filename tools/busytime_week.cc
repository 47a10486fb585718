// busytime week ADDRESS [--from YYYY-MM-DD] [--tz ZONE]: one user's busy time
// over seven days as a grid, one row per day and one character per hour, so
// an administrator sees at a glance when the schedulers take the user to be
// busy.
//
// Hours are those of the zone named (UTC without --tz). The zone is applied
// through TZ and the C library's zone files, so a day with a daylight-saving
// change still shows 24 characters: a skipped hour covers no time and shows
// '.', a repeated hour shows both of its stretches as one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "notes/local/time_date.h"
#include "tools/busytime_document.h"
#include "tools/commands.h"
#include "tools/profile_input.h"
#include "tools/tool_error.h"
#include "tools/tool_session.h"

namespace nsfutil {
namespace {

struct Interval {
  std::int64_t start;  // seconds since the epoch
  std::int64_t end;
};

std::int64_t UnixSeconds(const TimeDate& time, bool* valid) {
  std::int64_t julian_day = 0;
  std::uint32_t hundredths = 0;
  *valid = notes::local::DecodeTimeDate(time, &julian_day, &hundredths);
  return (julian_day - notes::local::kJulianDayOfUnixEpoch) * 86400 + hundredths / 100;
}

// Every busy interval of the user's documents (a user may have several).
std::vector<Interval> BusyIntervals(const std::string& ini_path, const std::string& address) {
  ToolSession session(ini_path);
  ScopedDb database(session.BusytimeDatabasePath());
  std::vector<Interval> intervals;
  bool found = false;
  for (NoteId note_id : ListDocumentIds(session.Runtime(), database.Handle())) {
    const BusytimeDocument document =
        ReadBusytimeDocument(session.Runtime(), database.Handle(), note_id);
    if (!SameAddress(document.name, address)) continue;
    found = true;
    const ScheduleList& list = document.list.present ? document.list : document.list_ext;
    for (const ScheduleInterval& entry : list.entries) {
      bool start_valid = false, end_valid = false;
      const Interval interval{UnixSeconds(entry.start, &start_valid),
                              UnixSeconds(entry.end, &end_valid)};
      if (start_valid && end_valid) intervals.push_back(interval);
    }
  }
  if (!found) throw ToolError("no busy-time document for " + EscapeUntrusted(address));
  return intervals;
}

// An IANA zone name that names a compiled zone file; anything else is
// refused rather than silently read as UTC, which is what the C library does
// with a name it cannot find.
void UseTimeZone(const std::string& zone) {
  const bool plain = !zone.empty() && zone.front() != '/' && zone.find("..") == std::string::npos &&
                     zone.find_first_not_of(
                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                         "0123456789/_+-") == std::string::npos;
  char magic[4] = {};
  if (plain) std::ifstream("/usr/share/zoneinfo/" + zone, std::ios::binary).read(magic, 4);
  if (std::string(magic, 4) != "TZif")
    throw ToolError("unknown time zone '" + EscapeUntrusted(zone) +
                    "' (an IANA name such as Europe/Berlin)");
  setenv("TZ", zone.c_str(), 1);
  tzset();
}

// The local midnight that starts the week: --from, or this week's Monday.
std::tm FirstDay(const std::optional<std::string>& from) {
  std::tm day{};
  if (from) {
    unsigned year = 0, month = 0, mday = 0;
    char rest = 0;
    const bool shaped =
        from->size() == 10 && (*from)[4] == '-' && (*from)[7] == '-' &&
        std::sscanf(from->c_str(), "%4u-%2u-%2u%c", &year, &month, &mday, &rest) == 3;
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    if (shaped && month >= 1 && month <= 12 && mday >= 1)
      notes::local::CivilFromJulianDay(notes::local::JulianDayFromCivil(year, month, mday), &y, &m,
                                       &d);
    if (!shaped || m != month || d != mday)
      throw ToolError("--from needs a date YYYY-MM-DD, not '" + EscapeUntrusted(*from) + "'");
    day.tm_year = static_cast<int>(year) - 1900;
    day.tm_mon = static_cast<int>(month) - 1;
    day.tm_mday = static_cast<int>(mday);
  } else {
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &day);
    day.tm_mday -= (day.tm_wday + 6) % 7;  // back to Monday
    day.tm_hour = day.tm_min = day.tm_sec = 0;
  }
  return day;
}

// The start of hour `hour` (0 .. 24) of the day `offset` days after `first`.
std::int64_t HourStart(const std::tm& first, int offset, int hour, std::tm* normalised) {
  std::tm when = first;
  when.tm_mday += offset;
  when.tm_hour = hour;
  when.tm_min = when.tm_sec = 0;
  when.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&when);
  if (normalised != nullptr) *normalised = when;
  return seconds;
}

}  // namespace

int ShowBusytimeWeek(const CommandLine& line) {
  const std::vector<Interval> intervals = BusyIntervals(line.ini_path, line.words[2]);
  UseTimeZone(line.time_zone.value_or("UTC"));
  const std::tm first = FirstDay(line.from);
  for (int offset = 0; offset < 7; ++offset) {
    std::tm date{};
    std::int64_t start = HourStart(first, offset, 0, &date);
    char day[64];
    std::strftime(day, sizeof day, "%Y-%m-%d ", &date);
    std::string row = day;
    for (int hour = 0; hour < 24; ++hour) {
      const std::int64_t end = HourStart(first, offset, hour + 1, nullptr);
      bool busy = false;
      for (const Interval& interval : intervals)
        busy = busy || (interval.start < end && interval.end > start);
      row += busy ? '#' : '.';
      start = end;
    }
    std::printf("%s\n", row.c_str());
  }
  return kExitOk;
}

}  // namespace nsfutil
