// Recurrence is libical's: its iterator gives the wall-clock starts of an
// RRULE in the zone of DTSTART, so a weekly 09:00 meeting stays at 09:00
// across daylight-saving changes. Everything around it is done here, since
// libical's own helpers know nothing of overrides, end an all-day instance
// at 23:59:59, and read a skipped or repeated local time differently from
// RFC 5545.
#include "freebusy/calendar_event.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "freebusy/calendar_scan.h"
#include "freebusy/ical_lines.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

std::string FormatUtc(std::int64_t utc) {
  icaltimetype time = UtcToLocal(utc, nullptr, false);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d GMT", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  return text;
}

// The length of every occurrence: whole days on the wall clock (for dates
// and DURATION's days and weeks) and exact seconds.
struct Length {
  std::int64_t days = 0;
  std::int64_t seconds = 0;
};

std::int64_t EndOf(const ZonedTime& start, std::int64_t start_utc, const Length& length) {
  if (length.days == 0) return start_utc + length.seconds;
  icaltimetype end = start.local;
  icaltime_adjust(&end, static_cast<int>(length.days), 0, 0, 0);
  return LocalToUtc(end, start.zone) + length.seconds;
}

class Expansion {
 public:
  Expansion(const EventFields& event, const std::vector<std::int64_t>& replaced,
            const std::vector<FutureChange>& changes, CalendarZones& zones,
            ExpandLimits& limits, CalendarLog& log, std::vector<Occurrence>& out)
      : event_(event),
        replaced_(replaced),
        changes_(changes),
        zones_(zones),
        limits_(limits),
        log_(log),
        out_(out) {
    for (const FutureChange& change : changes) {
      max_shift_ = std::max(max_shift_, change.shift < 0 ? -change.shift : change.shift);
    }
  }

  bool Run(bool single);

 private:
  bool ReadLength(const ZonedTime& start);
  bool Rule(std::string_view text, const ZonedTime& start);
  bool Dates(const EventTime& rdate, const ZonedTime& start);
  // One instance; `end` < 0: from the event's length. False: budget spent.
  bool Add(const ZonedTime& start, std::int64_t end);

  const EventFields& event_;
  const std::vector<std::int64_t>& replaced_;
  const std::vector<FutureChange>& changes_;
  std::int64_t max_shift_ = 0;  // instances this far outside the window may move into it
  CalendarZones& zones_;
  ExpandLimits& limits_;
  CalendarLog& log_;
  std::vector<Occurrence>& out_;
  Length length_;
  Exclusions exclusions_;
  // Whether the instances before every FutureChange are busy: the event's
  // own status. An override (`single`) always gives its occurrence, as its
  // caller decides on its status.
  bool busy_ = true;
  bool warned_end_ = false;
};

bool Expansion::ReadLength(const ZonedTime& start) {
  if (event_.dtend.present) {
    ZonedTime end;
    if (!ReadTime(event_.dtend.value, event_.dtend, zones_, zones_.CalendarZone(), end)) {
      log_.Warn("A VEVENT with a malformed DTEND was skipped");
      return false;
    }
    if (start.local.is_date && end.local.is_date) {
      length_.days = (WallSeconds(end.local) - WallSeconds(start.local)) / kSecondsPerDay;
    } else {
      length_.seconds = LocalToUtc(end.local, end.zone) - LocalToUtc(start.local, start.zone);
    }
  } else if (!event_.duration.empty()) {
    icaldurationtype duration = icaldurationtype_from_string(std::string(event_.duration).c_str());
    if (icaldurationtype_is_bad_duration(duration)) {
      log_.Warn("A VEVENT with a malformed DURATION was skipped");
      return false;
    }
    const int sign = duration.is_neg ? -1 : 1;
    length_.days = sign * (static_cast<std::int64_t>(duration.weeks) * 7 + duration.days);
    length_.seconds = sign * (static_cast<std::int64_t>(duration.hours) * 3600 +
                              duration.minutes * 60 + duration.seconds);
  } else if (start.local.is_date) {
    length_.days = 1;
  } else {
    return false;  // a moment, not a stretch of time: not busy
  }
  if (length_.days * kSecondsPerDay + length_.seconds > 0 && length_.days >= 0) return true;
  log_.Warn("A VEVENT starting " + FormatUtc(LocalToUtc(start.local, start.zone)) +
            " ends before it starts (DTEND or DURATION); skipped");
  return false;
}

bool Expansion::Add(const ZonedTime& start, std::int64_t end) {
  if (!limits_.Spend()) return false;
  const std::int64_t start_utc = LocalToUtc(start.local, start.zone);
  if (std::binary_search(replaced_.begin(), replaced_.end(), start_utc)) return true;
  if (exclusions_.Has(start_utc, start.local)) return true;
  std::int64_t start_at = start_utc;
  if (end < 0) end = EndOf(start, start_utc, length_);
  auto change = std::upper_bound(
      changes_.begin(), changes_.end(), start_utc,
      [](std::int64_t at, const FutureChange& later) { return at < later.original; });
  if (change != changes_.begin()) {
    --change;
    if (!change->busy) return true;
    start_at = start_utc + change->shift;
    end = start_at + change->length;
  } else if (!busy_) {
    return true;
  }
  if (end <= start_at) {
    if (!warned_end_) {
      log_.Warn("An occurrence starting " + FormatUtc(start_utc) +
                " ends before it starts (RDATE period); skipped");
    }
    warned_end_ = true;
    return true;
  }
  if (end > limits_.window_begin && start_at < limits_.window_end) {
    out_.push_back({start_at, end});
  }
  return true;
}

}  // namespace

bool Exclusions::Has(std::int64_t start, const icaltimetype& local) const {
  if (std::binary_search(starts.begin(), starts.end(), start)) return true;
  return !days.empty() &&
         std::binary_search(days.begin(), days.end(), WallSeconds(local) / kSecondsPerDay);
}


Exclusions ReadExclusions(const EventFields& event, icaltimezone* zone, CalendarZones& zones,
                          ExpandLimits& limits) {
  Exclusions exclusions;
  for (const EventTime& exdate : event.exdates) {
    ForEachValue(exdate.value, [&](std::string_view value) {
      ZonedTime time;
      if (!limits.Spend() || !ReadTime(value, exdate, zones, zone, time)) return;
      if (time.local.is_date) {
        exclusions.days.push_back(WallSeconds(time.local) / kSecondsPerDay);
      }
      exclusions.starts.push_back(LocalToUtc(time.local, time.zone));
    });
  }
  std::sort(exclusions.starts.begin(), exclusions.starts.end());
  std::sort(exclusions.days.begin(), exclusions.days.end());
  return exclusions;
}

namespace {

bool Expansion::Run(bool single) {
  ZonedTime start;
  if (!event_.dtstart.present ||
      !ReadTime(event_.dtstart.value, event_.dtstart, zones_, zones_.CalendarZone(), start)) {
    log_.Warn("A VEVENT without a valid DTSTART was skipped");
    return true;
  }
  if (!ReadLength(start)) return true;
  busy_ = single || event_.busy;
  if (!single) exclusions_ = ReadExclusions(event_, start.zone, zones_, limits_);
  // A DATE exclusion matches every instance of its day only when the event
  // has times of day; for an all-day event its start is exact.
  if (start.local.is_date) exclusions_.days.clear();
  if (!Add(start, -1)) return false;
  if (single) return limits_.examined <= limits_.max_examined;
  for (std::string_view rule : event_.rrules) {
    if (!Rule(rule, start)) return false;
  }
  for (const EventTime& rdate : event_.rdates) {
    if (!Dates(rdate, start)) return false;
  }
  return limits_.examined <= limits_.max_examined;
}

bool Expansion::Rule(std::string_view text, const ZonedTime& start) {
  icalrecurrencetype rule = ReadRule(text);
  if (rule.freq == ICAL_NO_RECURRENCE) {
    log_.Warn("A malformed RRULE was skipped");
    return true;
  }
  if (!IsBoundedRule(rule)) {
    log_.Warn("An RRULE that repeats more often than daily but only on some days (BYMONTH, "
              "BYMONTHDAY, BYYEARDAY, BYWEEKNO, BYSETPOS, a numbered BYDAY), or at a second "
              "that never comes, was skipped");
    return true;
  }
  // UNTIL is compared here, in UTC: a DATE-TIME in its own zone (floating in
  // the zone of DTSTART), a DATE as the end of that day in the zone of
  // DTSTART.
  std::int64_t until = INT64_MAX;
  if (!icaltime_is_null_time(rule.until)) {
    icaltimetype until_local = rule.until;
    if (until_local.is_date) {
      icaltime_adjust(&until_local, 1, 0, 0, 0);
      until = LocalToUtc(until_local, start.zone) - 1;
    } else {
      until = icaltime_is_utc(until_local) ? WallSeconds(until_local)
                                           : LocalToUtc(until_local, start.zone);
    }
    rule.until = icaltime_null_time();
  }
  std::unique_ptr<icalrecur_iterator, decltype(&icalrecur_iterator_free)> iterator(
      icalrecur_iterator_new(rule, start.local), icalrecur_iterator_free);
  if (!iterator) {
    log_.Warn("An RRULE that cannot be expanded was skipped");
    return true;
  }
  // Without COUNT the expansion starts shortly before the window; with it,
  // the instances before the window must be counted too.
  const std::int64_t start_utc = LocalToUtc(start.local, start.zone);
  const std::int64_t reach = (length_.days + 2) * kSecondsPerDay +
                            std::max<std::int64_t>(length_.seconds, 0) + max_shift_;
  if (rule.count == 0 && limits_.window_begin - reach > start_utc) {
    icalrecur_iterator_set_start(
        iterator.get(), UtcToLocal(limits_.window_begin - reach, start.zone, start.local.is_date));
  }
  // DTSTART counts as the first of COUNT instances even when the rule would
  // not produce it.
  std::int64_t left = rule.count > 0 ? rule.count : INT64_MAX;
  bool first = true;
  for (icaltimetype next = icalrecur_iterator_next(iterator.get()); !icaltime_is_null_time(next);
       next = icalrecur_iterator_next(iterator.get())) {
    if (first && rule.count > 0 && WallSeconds(next) != WallSeconds(start.local)) --left;
    first = false;
    if (left-- <= 0) break;
    ZonedTime instance{next, start.zone};
    instance.local.zone = nullptr;
    const std::int64_t instance_utc = LocalToUtc(instance.local, start.zone);
    if (instance_utc > until || instance_utc >= limits_.window_end + kSecondsPerDay + max_shift_)
      break;
    if (limits_.timed_out) return false;
    if (!Add(instance, -1)) return false;
  }
  return true;
}

bool Expansion::Dates(const EventTime& rdate, const ZonedTime& start) {
  bool ok = true;
  ForEachValue(rdate.value, [&](std::string_view value) {
    if (!ok) return;
    const std::size_t slash = value.find('/');
    ZonedTime instance;
    if (!ReadTime(value.substr(0, slash), rdate, zones_, start.zone, instance)) {
      log_.Warn("A malformed RDATE value was skipped");
      return;
    }
    std::int64_t end = -1;
    if (slash != std::string_view::npos) {
      const std::string_view second = value.substr(slash + 1);
      const std::int64_t instance_utc = LocalToUtc(instance.local, instance.zone);
      ZonedTime until;
      if (second.starts_with('P') || second.starts_with('+')) {
        icaldurationtype duration = icaldurationtype_from_string(std::string(second).c_str());
        if (icaldurationtype_is_bad_duration(duration)) {
          log_.Warn("A malformed RDATE period was skipped");
          return;
        }
        end = instance_utc + icaldurationtype_as_int(duration);
      } else if (ReadTime(second, rdate, zones_, start.zone, until)) {
        end = LocalToUtc(until.local, until.zone);
      } else {
        log_.Warn("A malformed RDATE period was skipped");
        return;
      }
      if (end <= instance_utc) end = instance_utc;  // reported by Add()
    }
    ok = Add(instance, end);
  });
  return ok;
}

}  // namespace

bool ExpandEvent(const EventFields& event, bool single, const std::vector<std::int64_t>& replaced,
                 const std::vector<FutureChange>& changes, CalendarZones& zones,
                 ExpandLimits& limits, CalendarLog& log, std::vector<Occurrence>& occurrences) {
  Expansion expansion(event, replaced, changes, zones, limits, log, occurrences);
  return expansion.Run(single);
}

bool OccurrenceOf(const EventFields& event, CalendarZones& zones, CalendarLog& log,
                  Occurrence& occurrence) {
  ExpandLimits anywhere;
  anywhere.window_begin = INT64_MIN;
  anywhere.window_end = INT64_MAX;
  anywhere.max_examined = 1;
  anywhere.deadline = std::chrono::steady_clock::time_point::max();
  std::vector<Occurrence> found;
  ExpandEvent(event, true, {}, {}, zones, anywhere, log, found);
  if (found.size() != 1) return false;
  occurrence = found.front();
  return true;
}
