// Zones come from libical: a VTIMEZONE of the text becomes a zone of its
// own, IANA names are looked up in the system's zoneinfo files. Only the UTC
// offset at a UTC instant is taken from libical; turning a local time into
// UTC is done here, since libical reads a skipped local time with the offset
// after the gap and a repeated one as the second of the two, where RFC 5545
// asks for the offset before the gap and the first of the two.
#include "freebusy/calendar_zones.h"

#include "freebusy/calendar_reader.h"

#include <unicode/ucal.h>
#include <unicode/ustring.h>

#include <array>

#include "base/ascii.h"
#include "freebusy/ical_lines.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Real zones change their rules in a few dozen parts at most; a hostile one
// with thousands of yearly rules would make libical expand each over
// centuries.
constexpr std::size_t kMaxZoneRules = 200;
constexpr std::size_t kMaxZoneText = 256 * 1024;
constexpr std::size_t kMaxQuotedName = 64;

bool IsUtcName(std::string_view name) {
  for (std::string_view utc : {"UTC", "Etc/UTC", "GMT", "Etc/GMT", "Z", "Zulu", "Etc/Zulu"}) {
    if (EqualsIgnoreCase(name, utc)) return true;
  }
  return false;
}

// ICU's answer for a name, as UTF-8; empty when ICU knows none.
template <typename Lookup>
std::string AskIcu(std::string_view name, Lookup lookup) {
  if (name.empty() || name.size() > 128) return {};
  std::array<UChar, 130> in{};
  std::array<UChar, 130> out{};
  for (std::size_t i = 0; i < name.size(); ++i) {
    auto byte = static_cast<unsigned char>(name[i]);
    if (byte >= 0x80) return {};  // zone names are ASCII
    in[i] = byte;
  }
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = lookup(in.data(), static_cast<int32_t>(name.size()), out.data(),
                                static_cast<int32_t>(out.size()), &status);
  if (U_FAILURE(status) || length <= 0 || length >= static_cast<int32_t>(out.size())) return {};
  std::string id;
  for (int32_t i = 0; i < length; ++i) id += static_cast<char>(out[i] & 0x7F);
  return id;
}

// A zone of the system's database under this name, or under the name ICU
// gives for an alias ("US/Eastern", "Asia/Calcutta") that libical's list of
// zones lacks.
icaltimezone* SystemZone(std::string_view name) {
  if (IsUtcName(name)) return icaltimezone_get_utc_timezone();
  if (name.empty() || name.size() > 128 || name.find('\0') != std::string_view::npos)
    return nullptr;
  if (icaltimezone* zone = icaltimezone_get_builtin_timezone(std::string(name).c_str()))
    return zone;
  const std::string canonical =
      AskIcu(name, [](const UChar* in, int32_t length, UChar* out, int32_t capacity,
                      UErrorCode* status) {
        return ucal_getCanonicalTimeZoneID(in, length, out, capacity, nullptr, status);
      });
  if (canonical.empty() || canonical == name) return nullptr;
  if (IsUtcName(canonical)) return icaltimezone_get_utc_timezone();
  return icaltimezone_get_builtin_timezone(canonical.c_str());
}

icaltimezone* WindowsZone(std::string_view name) {
  const std::string iana = AskIcu(name, [](const UChar* in, int32_t length, UChar* out,
                                           int32_t capacity, UErrorCode* status) {
    return ucal_getTimeZoneIDForWindowsID(in, length, nullptr, out, capacity, status);
  });
  return iana.empty() ? nullptr : SystemZone(iana);
}

int OffsetAt(icaltimezone* zone, std::int64_t utc) {
  icaltimetype at = icaltime_from_timet_with_zone(static_cast<time_t>(utc), 0,
                                                  icaltimezone_get_utc_timezone());
  int is_dst = 0;
  return icaltimezone_get_utc_offset_of_utc_time(zone, &at, &is_dst);
}

// The VTIMEZONE's rule parts are all yearly and few.
bool IsSaneZone(icalcomponent* vtimezone) {
  std::size_t rules = 0;
  for (icalcomponent* part = icalcomponent_get_first_component(vtimezone, ICAL_ANY_COMPONENT);
       part != nullptr; part = icalcomponent_get_next_component(vtimezone, ICAL_ANY_COMPONENT)) {
    for (icalproperty* rule = icalcomponent_get_first_property(part, ICAL_RRULE_PROPERTY);
         rule != nullptr; rule = icalcomponent_get_next_property(part, ICAL_RRULE_PROPERTY)) {
      if (++rules > kMaxZoneRules) return false;
      if (icalproperty_get_rrule(rule).freq != ICAL_YEARLY_RECURRENCE) return false;
    }
  }
  return true;
}

}  // namespace

bool IsKnownTimeZone(std::string_view name) { return SystemZone(name) != nullptr; }

std::int64_t DaysFromCivil(int year, int month, int day) {
  const std::int64_t y = month <= 2 ? year - 1 : year;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::int64_t WallSeconds(const icaltimetype& local) {
  return DaysFromCivil(local.year, local.month, local.day) * kSecondsPerDay +
         (local.is_date ? 0 : local.hour * 3600 + local.minute * 60 + local.second);
}

std::int64_t LocalToUtc(const icaltimetype& local, icaltimezone* zone) {
  const std::int64_t wall = WallSeconds(local);
  if (zone == nullptr || zone == icaltimezone_get_utc_timezone()) return wall;
  // The offsets a day before and a day after; a zone changes at most once
  // in between.
  const int before = OffsetAt(zone, wall - kSecondsPerDay);
  const int after = OffsetAt(zone, wall + kSecondsPerDay);
  const std::int64_t by_before = wall - before;
  const std::int64_t by_after = wall - after;
  const bool before_fits = OffsetAt(zone, by_before) == before;
  const bool after_fits = OffsetAt(zone, by_after) == after;
  if (before_fits && after_fits) return std::min(by_before, by_after);
  if (after_fits) return by_after;
  return by_before;  // fits, or the time falls into a gap
}

icaltimetype UtcToLocal(std::int64_t utc, icaltimezone* zone, bool is_date) {
  const int offset = zone == nullptr ? 0 : OffsetAt(zone, utc);
  const std::int64_t wall = utc + offset;
  icaltimetype local = icaltime_null_time();
  const std::int64_t days =
      wall >= 0 ? wall / kSecondsPerDay : (wall - kSecondsPerDay + 1) / kSecondsPerDay;
  CivilFromDays(days, local.year, local.month, local.day);
  const std::int64_t second_of_day = wall - days * kSecondsPerDay;
  local.is_date = is_date ? 1 : 0;
  if (!is_date) {
    local.hour = static_cast<int>(second_of_day / 3600);
    local.minute = static_cast<int>(second_of_day / 60 % 60);
    local.second = static_cast<int>(second_of_day % 60);
  }
  return local;
}

CalendarZones::CalendarZones(const std::vector<std::string>& timezones,
                             std::string_view wr_timezone, std::string_view setting_zone,
                             CalendarLog& log)
    : log_(log), timezones_(timezones) {
  // Each VTIMEZONE under its TZID (the first one wins); read only when a
  // TZID names it.
  for (std::size_t i = 0; i < timezones.size(); ++i) {
    std::string_view lines = timezones[i];
    while (!lines.empty()) {
      std::size_t end = lines.find("\r\n");
      std::string_view line = lines.substr(0, end);
      lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 2);
      ContentLine parts;
      if (EqualsIgnoreCase(ContentLineName(line), "TZID") && SplitContentLine(line, parts)) {
        by_tzid_.emplace(std::string(parts.value), i);
        break;
      }
    }
  }
  calendar_zone_ = SystemZone(setting_zone);
  if (calendar_zone_ == nullptr) calendar_zone_ = icaltimezone_get_utc_timezone();
  if (!wr_timezone.empty()) {
    if (icaltimezone* zone = SystemZone(wr_timezone)) {
      calendar_zone_ = zone;
    } else {
      log_.Warn("The calendar's X-WR-TIMEZONE \"" +
                EscapeUntrusted(wr_timezone.substr(0, kMaxQuotedName)) +
                "\" is no known time zone; floating times are read in " +
                icaltimezone_get_location(calendar_zone_));
    }
  }
}

CalendarZones::~CalendarZones() {
  for (icaltimezone* zone : owned_) icaltimezone_free(zone, 1);
}

icaltimezone* CalendarZones::FromText(std::string_view tzid) {
  auto entry = by_tzid_.find(tzid);
  if (entry == by_tzid_.end()) return nullptr;
  const std::string& text = timezones_[entry->second];
  by_tzid_.erase(entry);  // read once; Find() remembers the outcome
  if (text.size() > kMaxZoneText) return nullptr;
  icalcomponent* vtimezone = icalparser_parse_string(text.c_str());
  if (vtimezone == nullptr) return nullptr;
  if (icalcomponent_isa(vtimezone) != ICAL_VTIMEZONE_COMPONENT || !IsSaneZone(vtimezone)) {
    icalcomponent_free(vtimezone);
    return nullptr;
  }
  icaltimezone* zone = icaltimezone_new();
  if (zone == nullptr || icaltimezone_set_component(zone, vtimezone) == 0) {
    if (zone != nullptr) icaltimezone_free(zone, 1);
    icalcomponent_free(vtimezone);
    return nullptr;
  }
  owned_.push_back(zone);  // the zone owns the component now
  return zone;
}

icaltimezone* CalendarZones::Find(std::string_view tzid) {
  auto known = found_.find(tzid);
  if (known != found_.end()) return known->second != nullptr ? known->second : calendar_zone_;
  icaltimezone* zone = FromText(tzid);
  if (zone == nullptr) zone = SystemZone(tzid);
  // "/mozilla.org/20050126_1/Europe/Berlin" and the like: an IANA name
  // behind a publisher's prefix.
  for (std::size_t slash = tzid.find('/', 1); zone == nullptr && tzid.starts_with('/') &&
                                              slash != std::string_view::npos;
       slash = tzid.find('/', slash + 1)) {
    zone = SystemZone(tzid.substr(slash + 1));
  }
  if (zone == nullptr) zone = WindowsZone(tzid);
  found_.emplace(std::string(tzid), zone);
  if (zone != nullptr) return zone;
  log_.Warn("The time zone \"" + EscapeUntrusted(tzid.substr(0, kMaxQuotedName)) +
            "\" (TZID) is not known; its times are read in " +
            icaltimezone_get_location(calendar_zone_));
  return calendar_zone_;
}
