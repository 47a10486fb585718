// Reading the kept lines of a VEVENT: its time values, with their zones,
// and its RRULEs, cleaned and checked before libical's iterator sees them.
#include "freebusy/calendar_fields.h"

#include <cstdlib>
#include <string>

#include "freebusy/calendar_scan.h"
#include "freebusy/ical_lines.h"

namespace {

EventTime ReadEventTime(const ContentLine& parts) {
  EventTime time;
  time.present = true;
  time.value = parts.value;
  std::string_view params = parts.params;
  std::string_view name;
  std::string_view values;
  while (NextParameter(params, name, values)) {
    std::string_view value;
    if (!NextParameterValue(values, value)) continue;
    if (EqualsIgnoreCase(name, "TZID")) time.tzid = value;
    if (EqualsIgnoreCase(name, "RANGE"))
      time.this_and_future = EqualsIgnoreCase(value, "THISANDFUTURE");
    if (EqualsIgnoreCase(name, "VALUE")) {
      time.is_date = EqualsIgnoreCase(value, "DATE");
      time.is_period = EqualsIgnoreCase(value, "PERIOD");
    }
  }
  return time;
}

// A value as libical reads it, refused when it is not a real date and time.
bool ParseIcalTime(std::string_view value, icaltimetype& time) {
  if (value.size() != 8 && value.size() != 15 && value.size() != 16) return false;
  time = icaltime_from_string(std::string(value).c_str());
  if (icaltime_is_null_time(time) || time.year < 1 || time.month < 1 || time.month > 12 ||
      time.day < 1 || time.day > icaltime_days_in_month(time.month, time.year))
    return false;
  return time.is_date || (time.hour < 24 && time.minute < 60 && time.second < 60);
}

std::string WithoutEmptyItems(std::string_view rule) {
  std::string cleaned;
  for (std::size_t i = 0; i < rule.size(); ++i) {
    const bool empty_item =
        rule[i] == ',' && (i + 1 == rule.size() || rule[i + 1] == ',' || rule[i + 1] == ';' ||
                           (!cleaned.empty() && cleaned.back() == '='));
    if (!empty_item) cleaned += rule[i];
  }
  return cleaned;
}

bool AnySet(const short* values, std::size_t size) {
  return size > 0 && values[0] != ICAL_RECURRENCE_ARRAY_MAX;
}

// Whether every value of a BY list lies at or past `limit`.
bool OnlyAtOrPast(const short* values, std::size_t size, short limit) {
  bool any = false;
  for (std::size_t i = 0; i < size && values[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
    if (values[i] < limit) return false;
    any = true;
  }
  return any;
}

}  // namespace

void ReadEventFields(std::string_view lines, EventFields& fields) {
  fields = EventFields();
  std::string_view line;
  ContentLine parts;
  while (NextEventLine(lines, line)) {
    if (!SplitContentLine(line, parts)) continue;
    const std::string_view name = parts.name;
    if (EqualsIgnoreCase(name, "UID")) {
      fields.uid = parts.value;
    } else if (EqualsIgnoreCase(name, "DTSTART")) {
      fields.dtstart = ReadEventTime(parts);
    } else if (EqualsIgnoreCase(name, "DTEND")) {
      fields.dtend = ReadEventTime(parts);
    } else if (EqualsIgnoreCase(name, "RECURRENCE-ID")) {
      fields.recurrence_id = ReadEventTime(parts);
    } else if (EqualsIgnoreCase(name, "DURATION")) {
      fields.duration = parts.value;
    } else if (EqualsIgnoreCase(name, "RRULE")) {
      fields.rrules.push_back(parts.value);
    } else if (EqualsIgnoreCase(name, "RDATE")) {
      fields.rdates.push_back(ReadEventTime(parts));
    } else if (EqualsIgnoreCase(name, "EXDATE")) {
      fields.exdates.push_back(ReadEventTime(parts));
    } else if (EqualsIgnoreCase(name, "SEQUENCE")) {
      fields.sequence = std::strtol(std::string(parts.value.substr(0, 12)).c_str(), nullptr, 10);
    } else if ((EqualsIgnoreCase(name, "TRANSP") && EqualsIgnoreCase(parts.value, "TRANSPARENT")) ||
               (EqualsIgnoreCase(name, "STATUS") && EqualsIgnoreCase(parts.value, "CANCELLED")) ||
               (EqualsIgnoreCase(name, "X-MICROSOFT-CDO-BUSYSTATUS") &&
                EqualsIgnoreCase(parts.value, "FREE"))) {
      fields.busy = false;
    }
  }
}

bool ReadTime(std::string_view value, const EventTime& how, CalendarZones& zones,
              icaltimezone* floating_zone, ZonedTime& time) {
  if (!ParseIcalTime(value, time.local)) return false;
  if (value.back() == 'Z' || value.back() == 'z') {
    time.zone = icaltimezone_get_utc_timezone();
  } else if (!how.tzid.empty() && !time.local.is_date) {
    time.zone = zones.Find(how.tzid);
  } else {
    time.zone = floating_zone;
  }
  time.local.zone = nullptr;
  return true;
}

bool IsBoundedRule(const icalrecurrencetype& rule) {
  if (OnlyAtOrPast(rule.by_second, ICAL_BY_SECOND_SIZE, 60) ||
      OnlyAtOrPast(rule.by_minute, ICAL_BY_MINUTE_SIZE, 60) ||
      OnlyAtOrPast(rule.by_hour, ICAL_BY_HOUR_SIZE, 24))
    return false;
  if (rule.freq != ICAL_SECONDLY_RECURRENCE && rule.freq != ICAL_MINUTELY_RECURRENCE &&
      rule.freq != ICAL_HOURLY_RECURRENCE)
    return true;
  for (std::size_t i = 0; i < ICAL_BY_DAY_SIZE && rule.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX;
       ++i) {
    if (icalrecurrencetype_day_position(rule.by_day[i]) != 0) return false;
  }
  return !AnySet(rule.by_month, ICAL_BY_MONTH_SIZE) &&
         !AnySet(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE) &&
         !AnySet(rule.by_year_day, ICAL_BY_YEARDAY_SIZE) &&
         !AnySet(rule.by_week_no, ICAL_BY_WEEKNO_SIZE) &&
         !AnySet(rule.by_set_pos, ICAL_BY_SETPOS_SIZE);
}

icalrecurrencetype ReadRule(std::string_view text) {
  return icalrecurrencetype_from_string(WithoutEmptyItems(text).c_str());
}
