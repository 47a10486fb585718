// The events of one calendar are grouped by UID: an event and the overrides
// (RECURRENCE-ID) of its instances must be seen together, since an override
// takes the place of the instance it names wherever the override moves it.
#include "freebusy/calendar_reader.h"

#include <algorithm>
#include <span>
#include <tuple>

#include "freebusy/calendar_event.h"
#include "freebusy/calendar_scan.h"
#include "freebusy/calendar_zones.h"
#include "freebusy/ical_period.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

struct EventKey {
  std::string_view uid;
  bool is_override = false;
  std::uint32_t index = 0;
};

struct OverrideRead {
  EventFields fields;
  std::int64_t original = 0;  // the start of the instance it replaces, UTC
  icaltimetype original_local{};
};

class Reader {
 public:
  Reader(const CalendarText& calendar, const CalendarSettings& settings, CalendarLog& log)
      : calendar_(calendar),
        zones_(calendar.timezones, calendar.wr_timezone, settings.time_zone, log),
        log_(log) {
    limits_.window_begin = settings.run_start - kSecondsPerDay;
    limits_.window_end = settings.run_start + settings.window_days * kSecondsPerDay;
    limits_.max_examined = settings.max_examined;
    limits_.examined = calendar.events.size();
    limits_.deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(settings.max_seconds);
  }

  // False when the budget ran out.
  bool Run();
  std::vector<Occurrence>& Occurrences() { return occurrences_; }
  bool TimedOut() const { return limits_.timed_out; }

 private:
  bool Group(std::span<const EventKey> group);
  void Fields(const EventKey& key, EventFields& fields) const {
    ReadEventFields(calendar_.EventLines(calendar_.events[key.index]), fields);
  }

  const CalendarText& calendar_;
  CalendarZones zones_;
  CalendarLog& log_;
  ExpandLimits limits_;
  std::vector<Occurrence> occurrences_;
  const std::vector<std::int64_t> none_;
};

bool Reader::Run() {
  std::vector<EventKey> keys;
  keys.reserve(calendar_.events.size());
  EventFields fields;
  for (std::uint32_t i = 0; i < calendar_.events.size(); ++i) {
    ReadEventFields(calendar_.EventLines(calendar_.events[i]), fields);
    keys.push_back({fields.uid, fields.recurrence_id.present, i});
  }
  std::sort(keys.begin(), keys.end(), [](const EventKey& a, const EventKey& b) {
    return std::tie(a.uid, a.is_override, a.index) < std::tie(b.uid, b.is_override, b.index);
  });
  for (std::size_t begin = 0; begin < keys.size();) {
    std::size_t end = begin + 1;
    // Events without a UID stand alone.
    while (!keys[begin].uid.empty() && end < keys.size() && keys[end].uid == keys[begin].uid) ++end;
    if (!Group(std::span<const EventKey>(keys).subspan(begin, end - begin))) return false;
    begin = end;
  }
  return true;
}

// One UID: its events without RECURRENCE-ID (several only when a publisher
// repeats them) and its overrides.
bool Reader::Group(std::span<const EventKey> group) {
  // Of several versions of an event the highest SEQUENCE is the current one;
  // versions of equal SEQUENCE all count, as the publisher may have given
  // different events one UID.
  std::vector<EventFields> masters;
  std::vector<OverrideRead> overrides;
  for (const EventKey& key : group) {
    EventFields fields;
    Fields(key, fields);
    if (key.is_override) {
      overrides.push_back({std::move(fields)});
    } else if (masters.empty() || fields.sequence > masters.front().sequence) {
      masters.assign(1, std::move(fields));
    } else if (fields.sequence == masters.front().sequence) {
      masters.push_back(std::move(fields));
    }
  }
  // A RECURRENCE-ID without zone is read in the zone of the event's DTSTART.
  icaltimezone* master_zone = zones_.CalendarZone();
  ZonedTime master_start;
  if (!masters.empty() && ReadTime(masters.front().dtstart.value, masters.front().dtstart, zones_,
                                   zones_.CalendarZone(), master_start))
    master_zone = master_start.zone;
  Exclusions excluded;
  if (!masters.empty()) excluded = ReadExclusions(masters.front(), master_zone, zones_, limits_);

  std::vector<std::int64_t> replaced;
  std::vector<FutureChange> changes;  // RANGE=THISANDFUTURE
  std::erase_if(overrides, [&](OverrideRead& read) {
    ZonedTime original;
    if (!ReadTime(read.fields.recurrence_id.value, read.fields.recurrence_id, zones_, master_zone,
                  original)) {
      log_.Warn("An override with a malformed RECURRENCE-ID was skipped");
      return true;
    }
    read.original = LocalToUtc(original.local, original.zone);
    read.original_local = original.local;
    return false;
  });
  // Of several overrides of one instance the highest SEQUENCE wins (all of
  // them on a tie). An override older than its event whose instance the
  // event now excludes was deleted: it is dropped.
  std::sort(overrides.begin(), overrides.end(), [](const OverrideRead& a, const OverrideRead& b) {
    return a.original != b.original ? a.original < b.original
                                    : a.fields.sequence > b.fields.sequence;
  });
  for (std::size_t i = 0, first = 0; i < overrides.size(); ++i) {
    const OverrideRead& read = overrides[i];
    if (read.original != overrides[first].original) first = i;
    const bool superseded = read.fields.sequence < overrides[first].fields.sequence;
    const bool deleted = !masters.empty() && read.fields.sequence < masters.front().sequence &&
                         excluded.Has(read.original, read.original_local);
    if (superseded || deleted) continue;
    replaced.push_back(read.original);
    Occurrence own;
    if (read.fields.recurrence_id.this_and_future && OccurrenceOf(read.fields, zones_, log_, own)) {
      changes.push_back(
          {read.original, own.start - read.original, own.end - own.start, read.fields.busy});
    }
    if (read.fields.busy &&
        !ExpandEvent(read.fields, true, none_, {}, zones_, limits_, log_, occurrences_))
      return false;
  }
  std::sort(replaced.begin(), replaced.end());
  // Overrides come sorted by the instance they replace. An event that is not
  // busy still has busy instances after a busy THISANDFUTURE override.
  const bool busy_later = std::any_of(changes.begin(), changes.end(),
                                      [](const FutureChange& change) { return change.busy; });
  for (const EventFields& master : masters) {
    if ((master.busy || busy_later) &&
        !ExpandEvent(master, false, replaced, changes, zones_, limits_, log_, occurrences_))
      return false;
  }
  return true;
}

// UTC seconds as "YYYY-MM-DD HH:MM:SS GMT"; false past the year 9999.
bool FormatUtc(std::int64_t utc, char (&text)[24]) {
  const icaltimetype time = UtcToLocal(utc, nullptr, false);
  if (time.year < 1 || time.year > 9999) return false;
  FormatTimeText({time.year, time.month, time.day, time.hour, time.minute, time.second}, text);
  return true;
}

}  // namespace

int ReadCalendarText(std::string_view text, const CalendarSettings& settings,
                     std::vector<BusyPeriodText>& periods, std::string& messages) {
  CalendarText calendar;
  const CalendarScan scan = ScanCalendarText(text, settings.max_examined, calendar);
  if (scan == CalendarScan::kNotCalendar) return 0;
  const std::string refusal = "ERR -- The calendar needs more than " +
                              std::to_string(settings.max_examined) +
                              " events and occurrences examined; it is not read.\n";
  if (scan == CalendarScan::kTooManyEvents) {
    messages += refusal;
    return -1;
  }
  CalendarLog log(messages);
  Reader reader(calendar, settings, log);
  if (!reader.Run()) {
    log.Finish();
    messages += reader.TimedOut() ? "ERR -- Reading the calendar took longer than " +
                                        std::to_string(settings.max_seconds) +
                                        " seconds; it is not read.\n"
                                  : refusal;
    return -1;
  }
  std::vector<Occurrence>& occurrences = reader.Occurrences();
  std::sort(occurrences.begin(), occurrences.end(),
            [](const Occurrence& a, const Occurrence& b) { return a.start < b.start; });
  std::vector<Occurrence> merged;
  for (const Occurrence& occurrence : occurrences) {
    if (!merged.empty() && occurrence.start <= merged.back().end) {
      merged.back().end = std::max(merged.back().end, occurrence.end);
    } else {
      merged.push_back(occurrence);
    }
  }
  for (const Occurrence& period : merged) {
    BusyPeriodText written;
    if (!FormatUtc(period.start, written.start) || !FormatUtc(period.end, written.end)) {
      log.Warn("A busy period ending after the year 9999 was skipped");
      continue;
    }
    periods.push_back(written);
  }
  log.Finish();
  return 1;
}
