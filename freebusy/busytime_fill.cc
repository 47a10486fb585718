// Reading a user's free/busy text and writing the busy-time document.
#include "freebusy/busytime_fill.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "freebusy/ical_period.h"
#include "freebusy/sched_entry.h"

namespace {

// The list header counts entries in a single byte, so a list holds at most
// this many entries with a header that matches its length.
constexpr std::size_t kMaxListEntries = 255;

// Both lists begin with an 8-byte header: byte 0 holds the entry count and,
// in the extended list, byte 6 the size of one entry.
void WriteListHeaders(std::vector<unsigned char>& bSched_entry,
                      std::vector<unsigned char>& bSched_entry_ext, std::size_t count) {
  bSched_entry[0] = static_cast<unsigned char>(count);
  bSched_entry_ext[0] = static_cast<unsigned char>(count);
  bSched_entry_ext[6] = static_cast<unsigned char>(kSchedEntryExtSize);
}

// The time text of a day before the run's start: a period that ended by
// then is over, as the calendar reader's window says. "" when the run's
// start is not known.
std::string OverBy(std::int64_t run_start) {
  constexpr std::int64_t kSecondsPerDay = 86400;
  CivilTime time{1970, 1, 1, 0, 0, 0};
  char text[24];
  if (run_start <= kSecondsPerDay || !AddSeconds(time, run_start - kSecondsPerDay)) return "";
  FormatTimeText(time, text);
  return text;
}

}  // namespace

int ReadUserBusyTime(TextSource& source, const char* strBusyTimeURL,
                     std::vector<BusyPeriodText>& periods, const CalendarSettings& calendar,
                     std::string* why, std::size_t* total) {
  periods.clear();
  std::string freetimedata;
  if (source.FetchUrl(freetimedata, strBusyTimeURL) == -1) {
    if (why != nullptr) *why = source.LastFetch().why;
    return -1;
  }

  std::string messages;
  std::size_t beyond = 0;
  int result = ReadFreeBusyText(freetimedata, periods, messages,
                                total != nullptr ? kMaxListEntries : SIZE_MAX, &beyond,
                                OverBy(calendar.run_start));
  if (result != 1) {
    std::string calendar_messages;
    const int read = ReadCalendarText(freetimedata, calendar, periods, calendar_messages);
    if (read != 0) {
      result = read;
      messages = std::move(calendar_messages);
    }
  }
  if (total != nullptr) *total = periods.size() + beyond;
  std::fputs(messages.c_str(), stdout);
  if (result == 1) return 1;
  if (why != nullptr) *why = ExplainingLine(messages);
  return -1;
}

void WarnAboutDroppedPeriods(const char* strUserName, std::size_t period_count) {
  if (period_count <= kMaxListEntries) return;
  std::printf(
      "WARN -- %s has %zu busy periods; a busy-time document holds %zu, so %zu were "
      "dropped: those over first, then the last.\n",
      strUserName, period_count, kMaxListEntries, period_count - kMaxListEntries);
}

int PopulateBusyTime(NoteHandle document, const char* strUserName,
                     const std::vector<BusyPeriodText>& periods, Status* error) {
  // The first failed write ends the fill: a document without its address or
  // its lists would show the user as free, so the caller must not save it.
  *error = 0;
  auto written = [error](Status status) {
    *error = status;
    return status == 0;
  };
  TimeDate tdNow{};
  CurrentTime(&tdNow);
  for (const char* name :
       {"LastModTime", "LastModTimeExt", "MailFileReplicaID", "DetailModTime", "ProfileModTime"}) {
    if (!written(ItemSetTime(document, name, &tdNow))) return -1;
  }
  // "1" with its terminator: two bytes.
  for (const char* name : {"BTVersion", "BusyTimeHarvestOptOut", "OptinOutChange"}) {
    if (!written(ItemSetText(document, name, "1", 2, true))) return -1;
  }
  if (!written(ItemSetText(document, "$Name", strUserName,
                           static_cast<std::uint16_t>(std::strlen(strUserName)), true)))
    return -1;

  IntlSettings intl_format{};
  GetIntlSettings(&intl_format, sizeof intl_format);
  intl_format.flags = 396;
  const TimeTextFormat td_format{{4, 0, 0, 2}};

  const std::size_t NumEventsFound = std::min(periods.size(), kMaxListEntries);

  std::vector<unsigned char> bSched_entry(kSchedListHeaderSize + kSchedEntrySize * NumEventsFound);
  std::vector<unsigned char> bSched_entry_ext(kSchedListHeaderSize +
                                              kSchedEntryExtSize * NumEventsFound);
  unsigned char strTimeDate[kMaxTextBuffer] = {};
  for (std::size_t i = 0; i < NumEventsFound; ++i) {
    const auto n = static_cast<std::int32_t>(i);
    BuildSchedEntry(periods[i].start, periods[i].end, strTimeDate, &intl_format, &td_format);
    CopyBytes(bSched_entry.data() + 8 + 36 * i, strTimeDate, 8 + 36 * n, 44 + 36 * n);
    BuildSchedEntryExt(periods[i].start, periods[i].end, strTimeDate, &intl_format, &td_format);
    CopyBytes(bSched_entry_ext.data() + 8 + 72 * i, strTimeDate, 8 + 72 * n, 80 + 72 * n);
  }
  WriteListHeaders(bSched_entry, bSched_entry_ext, NumEventsFound);

  const char allow_list[1] = {0};
  if (!written(ItemAppend(document, 0, "EventList", 9, kTypeScheduleList, bSched_entry.data(),
                          static_cast<std::uint32_t>(bSched_entry.size()))))
    return -1;
  if (!written(ItemAppend(document, 0, "EventListExt", 12, kTypeScheduleList,
                          bSched_entry_ext.data(),
                          static_cast<std::uint32_t>(bSched_entry_ext.size()))))
    return -1;
  if (!written(ItemAppend(document, kItemFlagSummary, "AllowList", 9, kTypeText, allow_list, 1)))
    return -1;
  return 1;
}
