// The calendar reader against times worked out by hand. Unless a case says
// otherwise the run starts 2026-03-01 00:00Z (a Sunday) with the default
// window of 60 days: occurrences count when they end after 2026-02-28 00:00Z
// and start before 2026-04-30 00:00Z. Europe/Berlin is UTC+1 until
// 2026-03-29 02:00 local, then UTC+2; America/New_York is UTC-5 until
// 2026-03-08 02:00 local, then UTC-4, and back on 2026-11-01 02:00 local.
#include "freebusy/calendar_reader.h"

#include <gtest/gtest.h>

#include "freebusy/busytime_fill.h"
#include "freebusy/calendar_complete.h"
#include "tests/support/table_text_source.h"

#include <string>
#include <vector>

namespace {

constexpr std::int64_t kRunStart = 1772323200;  // 2026-03-01 00:00:00Z

struct CalendarCase {
  const char* what;
  std::string events;  // VEVENTs and VTIMEZONEs inside the VCALENDAR
  std::vector<std::string> periods;  // "YYYY-MM-DD HH:MM|YYYY-MM-DD HH:MM", UTC
  int window_days = 60;
  const char* time_zone = "UTC";
};

std::string Event(const std::string& lines) {
  return "BEGIN:VEVENT\r\n" + lines + "END:VEVENT\r\n";
}

struct Outcome {
  int result = 0;
  std::vector<std::string> periods;
  std::string messages;
};

Outcome Read(const std::string& text, int window_days = 60, const char* zone = "UTC",
             std::size_t max_examined = kMaxExaminedOccurrences) {
  CalendarSettings settings;
  settings.run_start = kRunStart;
  settings.window_days = window_days;
  settings.time_zone = zone;
  settings.max_examined = max_examined;
  std::vector<BusyPeriodText> periods;
  Outcome outcome;
  outcome.result = ReadCalendarText(text, settings, periods, outcome.messages);
  for (const BusyPeriodText& period : periods) {
    // "2026-03-02 08:00:00 GMT" -> "2026-03-02 08:00"
    outcome.periods.push_back(std::string(period.start, 16) + "|" + std::string(period.end, 16));
  }
  return outcome;
}

void RunCases(const std::vector<CalendarCase>& cases) {
  for (const CalendarCase& c : cases) {
    const Outcome outcome = Read("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + c.events + "END:VCALENDAR\r\n",
                                 c.window_days, c.time_zone);
    EXPECT_EQ(outcome.result, 1) << c.what;
    EXPECT_EQ(outcome.periods, c.periods) << c.what << "\n" << outcome.messages;
  }
}

TEST(CalendarReaderTest, Recurrence) {
  RunCases({
      {"weekly in Berlin across the change to summer time",
       Event("UID:a\r\nDTSTART;TZID=Europe/Berlin:20260105T090000\r\n"
             "DTEND;TZID=Europe/Berlin:20260105T100000\r\nRRULE:FREQ=WEEKLY;COUNT=13\r\n"),
       {"2026-03-02 08:00|2026-03-02 09:00", "2026-03-09 08:00|2026-03-09 09:00",
        "2026-03-16 08:00|2026-03-16 09:00", "2026-03-23 08:00|2026-03-23 09:00",
        "2026-03-30 07:00|2026-03-30 08:00"}},
      {"UNTIL in UTC is inclusive; INTERVAL and BYDAY",
       Event("UID:a\r\nDTSTART:20260302T120000Z\r\nDURATION:PT30M\r\n"
             "RRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE;UNTIL=20260316T120000Z\r\n"),
       {"2026-03-02 12:00|2026-03-02 12:30", "2026-03-04 12:00|2026-03-04 12:30",
        "2026-03-16 12:00|2026-03-16 12:30"}},
      {"monthly on the last Friday, started years ago, no end",
       Event("UID:a\r\nDTSTART:20200131T150000Z\r\nDTEND:20200131T160000Z\r\n"
             "RRULE:FREQ=MONTHLY;BYDAY=-1FR\r\n"),
       {"2026-03-27 15:00|2026-03-27 16:00", "2026-04-24 15:00|2026-04-24 16:00"}},
      {"DTSTART off the rule counts as the first of COUNT",
       Event("UID:a\r\nDTSTART:20260304T100000Z\r\nDTEND:20260304T110000Z\r\n"
             "RRULE:FREQ=WEEKLY;BYDAY=MO;COUNT=3\r\n"),
       {"2026-03-04 10:00|2026-03-04 11:00", "2026-03-09 10:00|2026-03-09 11:00",
        "2026-03-16 10:00|2026-03-16 11:00"}},
      {"RDATE date-time, period and EXDATE",
       Event("UID:a\r\nDTSTART:20260302T100000Z\r\nDTEND:20260302T110000Z\r\n"
             "RRULE:FREQ=DAILY;COUNT=3\r\nEXDATE:20260303T100000Z\r\n"
             "RDATE:20260310T080000Z\r\nRDATE;VALUE=PERIOD:20260311T080000Z/PT3H,"
             "20260312T080000Z/20260312T081500Z\r\n"),
       {"2026-03-02 10:00|2026-03-02 11:00", "2026-03-04 10:00|2026-03-04 11:00",
        "2026-03-10 08:00|2026-03-10 09:00", "2026-03-11 08:00|2026-03-11 11:00",
        "2026-03-12 08:00|2026-03-12 08:15"}},
      {"EXDATE in another zone than DTSTART",
       Event("UID:a\r\nDTSTART;TZID=America/New_York:20260302T090000\r\nDURATION:PT1H\r\n"
             "RRULE:FREQ=DAILY;COUNT=2\r\nEXDATE;TZID=Europe/Berlin:20260303T150000\r\n"),
       {"2026-03-02 14:00|2026-03-02 15:00"}},
  });
}

TEST(CalendarReaderTest, Overrides) {
  const std::string kSeries =
      "UID:s\r\nDTSTART;TZID=Europe/Berlin:20260302T090000\r\n"
      "DTEND;TZID=Europe/Berlin:20260302T100000\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\n";
  RunCases({
      {"moved, with RECURRENCE-ID in the event's zone",
       Event(kSeries) + Event("UID:s\r\nRECURRENCE-ID;TZID=Europe/Berlin:20260309T090000\r\n"
                              "DTSTART:20260310T150000Z\r\nDTEND:20260310T153000Z\r\n"),
       {"2026-03-02 08:00|2026-03-02 09:00", "2026-03-10 15:00|2026-03-10 15:30",
        "2026-03-16 08:00|2026-03-16 09:00"}},
      {"RECURRENCE-ID in UTC, override before its event, cancelled",
       Event("UID:s\r\nRECURRENCE-ID:20260309T080000Z\r\nDTSTART:20260309T080000Z\r\n"
             "DTEND:20260309T090000Z\r\nSTATUS:cancelled\r\n") + Event(kSeries),
       {"2026-03-02 08:00|2026-03-02 09:00", "2026-03-16 08:00|2026-03-16 09:00"}},
      {"floating RECURRENCE-ID is read in the event's zone; shortened",
       Event(kSeries) + Event("UID:s\r\nRECURRENCE-ID:20260316T090000\r\n"
                              "DTSTART;TZID=Europe/Berlin:20260316T090000\r\nDURATION:PT15M\r\n"),
       {"2026-03-02 08:00|2026-03-02 09:00", "2026-03-09 08:00|2026-03-09 09:00",
        "2026-03-16 08:00|2026-03-16 08:15"}},
      {"override moved into the window from outside, its instance outside",
       Event("UID:m\r\nDTSTART:20260101T100000Z\r\nDTEND:20260101T110000Z\r\n"
             "RRULE:FREQ=DAILY;COUNT=2\r\n") +
           Event("UID:m\r\nRECURRENCE-ID:20260102T100000Z\r\nDTSTART:20260305T100000Z\r\n"
                 "DTEND:20260305T110000Z\r\n"),
       {"2026-03-05 10:00|2026-03-05 11:00"}},
      {"the higher SEQUENCE of two overrides wins; an older override of an excluded instance "
       "was deleted",
       Event("UID:q\r\nSEQUENCE:2\r\nDTSTART:20260302T100000Z\r\nDTEND:20260302T110000Z\r\n"
             "RRULE:FREQ=DAILY;COUNT=3\r\nEXDATE:20260304T100000Z\r\n") +
           Event("UID:q\r\nSEQUENCE:1\r\nRECURRENCE-ID:20260303T100000Z\r\n"
                 "DTSTART:20260303T120000Z\r\nDTEND:20260303T130000Z\r\n") +
           Event("UID:q\r\nSEQUENCE:3\r\nRECURRENCE-ID:20260303T100000Z\r\n"
                 "DTSTART:20260303T140000Z\r\nDTEND:20260303T150000Z\r\n") +
           Event("UID:q\r\nSEQUENCE:1\r\nRECURRENCE-ID:20260304T100000Z\r\n"
                 "DTSTART:20260304T160000Z\r\nDTEND:20260304T170000Z\r\n"),
       {"2026-03-02 10:00|2026-03-02 11:00", "2026-03-03 14:00|2026-03-03 15:00"}},
      {"RANGE=THISANDFUTURE moves this and every later instance",
       Event("UID:f\r\nDTSTART:20260302T100000Z\r\nDTEND:20260302T110000Z\r\n"
             "RRULE:FREQ=DAILY;COUNT=5\r\n") +
           Event("UID:f\r\nRECURRENCE-ID;RANGE=THISANDFUTURE:20260304T100000Z\r\n"
                 "DTSTART:20260304T120000Z\r\nDTEND:20260304T123000Z\r\n"),
       {"2026-03-02 10:00|2026-03-02 11:00", "2026-03-03 10:00|2026-03-03 11:00",
        "2026-03-04 12:00|2026-03-04 12:30", "2026-03-05 12:00|2026-03-05 12:30",
        "2026-03-06 12:00|2026-03-06 12:30"}},
      {"a busy THISANDFUTURE override of a transparent event holds until a free one",
       Event("UID:t\r\nDTSTART:20260302T100000Z\r\nDTEND:20260302T110000Z\r\n"
             "RRULE:FREQ=DAILY;COUNT=6\r\nTRANSP:TRANSPARENT\r\n") +
           Event("UID:t\r\nRECURRENCE-ID;RANGE=THISANDFUTURE:20260304T100000Z\r\n"
                 "DTSTART:20260304T120000Z\r\nDTEND:20260304T123000Z\r\n") +
           Event("UID:t\r\nRECURRENCE-ID;RANGE=THISANDFUTURE:20260306T100000Z\r\n"
                 "DTSTART:20260306T100000Z\r\nDTEND:20260306T110000Z\r\nSTATUS:CANCELLED\r\n"),
       {"2026-03-04 12:00|2026-03-04 12:30", "2026-03-05 12:00|2026-03-05 12:30"}},
      {"a free THISANDFUTURE override of a busy event frees the later instances",
       Event("UID:u\r\nDTSTART:20260302T100000Z\r\nDTEND:20260302T110000Z\r\n"
             "RRULE:FREQ=DAILY;COUNT=4\r\n") +
           Event("UID:u\r\nRECURRENCE-ID;RANGE=THISANDFUTURE:20260303T100000Z\r\n"
                 "DTSTART:20260303T100000Z\r\nDTEND:20260303T110000Z\r\nTRANSP:TRANSPARENT\r\n"),
       {"2026-03-02 10:00|2026-03-02 11:00"}},
      {"an override without its event is busy on its own",
       Event("UID:o\r\nRECURRENCE-ID:20260303T100000Z\r\nDTSTART:20260303T100000Z\r\n"
             "DTEND:20260303T110000Z\r\n"),
       {"2026-03-03 10:00|2026-03-03 11:00"}},
  });
}

TEST(CalendarReaderTest, Zones) {
  const std::string kZone =
      "BEGIN:VTIMEZONE\r\nTZID:Office\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
      "TZOFFSETFROM:+0300\r\nTZOFFSETTO:+0300\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";
  const std::string kBerlinAsFixed =
      "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
      "TZOFFSETFROM:+0500\r\nTZOFFSETTO:+0500\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";
  RunCases({
      {"a VTIMEZONE of the text",
       kZone + Event("UID:a\r\nDTSTART;TZID=Office:20260302T090000\r\nDURATION:PT1H\r\n"),
       {"2026-03-02 06:00|2026-03-02 07:00"}},
      {"the text's VTIMEZONE wins over the IANA zone of the same name",
       kBerlinAsFixed +
           Event("UID:a\r\nDTSTART;TZID=Europe/Berlin:20260302T090000\r\nDURATION:PT1H\r\n"),
       {"2026-03-02 04:00|2026-03-02 05:00"}},
      {"IANA zone without VTIMEZONE, and a Windows zone name",
       Event("UID:a\r\nDTSTART;TZID=America/New_York:20260309T090000\r\nDURATION:PT1H\r\n") +
           Event("UID:b\r\nDTSTART;TZID=W. Europe Standard Time:20260302T090000\r\n"
                 "DTEND;TZID=\"Eastern Standard Time\":20260302T040000\r\n"),
       {"2026-03-02 08:00|2026-03-02 09:00", "2026-03-09 13:00|2026-03-09 14:00"}},
      {"a publisher's prefix before an IANA name",
       Event("UID:a\r\nDTSTART;TZID=/mozilla.org/20050126_1/Europe/Berlin:20260302T090000\r\n"
             "DURATION:PT1H\r\n"),
       {"2026-03-02 08:00|2026-03-02 09:00"}},
      {"an unknown TZID and floating times are read in X-WR-TIMEZONE",
       "X-WR-TIMEZONE:Asia/Tokyo\r\n" +
           Event("UID:a\r\nDTSTART;TZID=Nowhere:20260302T090000\r\nDURATION:PT1H\r\n") +
           Event("UID:b\r\nDTSTART:20260303T090000\r\nDURATION:PT1H\r\n"),
       {"2026-03-02 00:00|2026-03-02 01:00", "2026-03-03 00:00|2026-03-03 01:00"}},
      {"floating times in HarvestTimeZone when X-WR-TIMEZONE is unknown",
       "X-WR-TIMEZONE:Mars/Olympus\r\n" +
           Event("UID:b\r\nDTSTART:20260303T090000\r\nDURATION:PT1H\r\n"),
       {"2026-03-03 14:00|2026-03-03 15:00"}, 60, "America/New_York"},
      {"a skipped local time takes the offset before the gap (RFC 5545 3.3.5)",
       Event("UID:a\r\nDTSTART;TZID=America/New_York:20260308T023000\r\nDURATION:PT1H\r\n"),
       {"2026-03-08 07:30|2026-03-08 08:30"}},
      {"a repeated local time is the first of the two",
       Event("UID:a\r\nDTSTART;TZID=America/New_York:20261101T013000\r\nDURATION:PT30M\r\n"),
       {"2026-11-01 05:30|2026-11-01 06:00"}, 365},
      {"DURATION of a day is a day on the wall clock; DTEND an exact length",
       Event("UID:a\r\nDTSTART;TZID=America/New_York:20260228T120000\r\nDURATION:P1D\r\n"
             "RRULE:FREQ=WEEKLY;COUNT=2\r\n") +
           Event("UID:b\r\nDTSTART;TZID=Europe/Berlin:20260321T120000\r\n"
                 "DTEND;TZID=Europe/Berlin:20260322T120000\r\nRRULE:FREQ=WEEKLY;COUNT=2\r\n"),
       {"2026-02-28 17:00|2026-03-01 17:00", "2026-03-07 17:00|2026-03-08 16:00",
        "2026-03-21 11:00|2026-03-22 11:00", "2026-03-28 11:00|2026-03-29 11:00"}},
  });
}

TEST(CalendarReaderTest, AllDayAndEnds) {
  RunCases({
      {"all-day: midnight to midnight in the calendar's zone, across the change",
       "X-WR-TIMEZONE:Europe/Berlin\r\n" +
           Event("UID:a\r\nDTSTART;VALUE=DATE:20260328\r\nDTEND;VALUE=DATE:20260330\r\n"),
       {"2026-03-27 23:00|2026-03-29 22:00"}},
      {"a date without end is one day; weekly all-day",
       Event("UID:a\r\nDTSTART;VALUE=DATE:20260302\r\nRRULE:FREQ=WEEKLY;UNTIL=20260309\r\n"),
       {"2026-03-02 00:00|2026-03-03 00:00", "2026-03-09 00:00|2026-03-10 00:00"}},
      {"a date-time without end is not busy; DTEND wins over DURATION",
       Event("UID:a\r\nDTSTART:20260302T100000Z\r\n") +
           Event("UID:b\r\nDTSTART:20260303T100000Z\r\nDTEND:20260303T103000Z\r\n"
                 "DURATION:PT5H\r\n"),
       {"2026-03-03 10:00|2026-03-03 10:30"}},
      {"an end before the start is skipped",
       Event("UID:a\r\nDTSTART:20260302T100000Z\r\nDTEND:20260302T090000Z\r\n"), {}},
  });
}

TEST(CalendarReaderTest, Transparency) {
  RunCases({
      {"TRANSPARENT, CANCELLED and the FREE busy status are not busy; an override is busy "
       "on its own values",
       Event("UID:a\r\nDTSTART:20260302T100000Z\r\nDURATION:PT1H\r\nTRANSP:Transparent\r\n") +
           Event("UID:b\r\nDTSTART:20260303T100000Z\r\nDURATION:PT1H\r\nSTATUS:CANCELLED\r\n") +
           Event("UID:c\r\nDTSTART:20260304T100000Z\r\nDURATION:PT1H\r\n"
                 "X-MICROSOFT-CDO-BUSYSTATUS:free\r\n") +
           Event("UID:d\r\nDTSTART:20260305T100000Z\r\nDURATION:PT1H\r\nTRANSP:OPAQUE\r\n"
                 "STATUS:TENTATIVE\r\nX-MICROSOFT-CDO-BUSYSTATUS:OOF\r\n") +
           Event("UID:c\r\nRECURRENCE-ID:20260311T100000Z\r\nDTSTART:20260311T100000Z\r\n"
                 "DURATION:PT1H\r\n"),
       {"2026-03-05 10:00|2026-03-05 11:00", "2026-03-11 10:00|2026-03-11 11:00"}},
  });
}

TEST(CalendarReaderTest, WindowAndUnion) {
  RunCases({
      {"kept whole when it touches the window; merged when overlapping or touching",
       Event("UID:a\r\nDTSTART:20260227T000000Z\r\nDTEND:20260228T000001Z\r\n") +
           Event("UID:b\r\nDTSTART:20260227T000000Z\r\nDTEND:20260228T000000Z\r\n") +
           Event("UID:c\r\nDTSTART:20260429T235959Z\r\nDTEND:20260501T000000Z\r\n") +
           Event("UID:d\r\nDTSTART:20260430T000000Z\r\nDTEND:20260501T000000Z\r\n") +
           Event("UID:e\r\nDTSTART:20260302T100000Z\r\nDTEND:20260302T110000Z\r\n") +
           Event("UID:f\r\nDTSTART:20260302T110000Z\r\nDTEND:20260302T113000Z\r\n") +
           Event("UID:g\r\nDTSTART:20260302T090000Z\r\nDTEND:20260302T103000Z\r\n"),
       {"2026-02-27 00:00|2026-02-28 00:00", "2026-03-02 09:00|2026-03-02 11:30",
        "2026-04-29 23:59|2026-05-01 00:00"}},
      {"HarvestWindowDays 1",
       Event("UID:a\r\nDTSTART:20260228T120000Z\r\nDURATION:PT1H\r\n"
             "RRULE:FREQ=DAILY\r\n"),
       {"2026-02-28 12:00|2026-02-28 13:00", "2026-03-01 12:00|2026-03-01 13:00"}, 1},
  });
}

TEST(CalendarReaderTest, WhatIsACalendar) {
  EXPECT_EQ(Read("BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n").result, 1);
  EXPECT_EQ(Read("\xEF\xBB\xBF\r\nBEGIN:VCALENDAR\nBEGIN:VEVENT\nEND:VEVENT\nEND:VCALENDAR").result,
            1);
  for (const char* text : {"", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nEND:VEVENT\r\n",
                           "<html>BEGIN:VCALENDAR</html>", "X:1\r\nBEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n",
                           "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\nBEGIN:VEVENT\r\n",
                           "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nEND:VEVENT\r\nEND:VCAL",
                           "BEGIN:VCALENDAR\r\nBEGIN:VFREEBUSY\r\nEND:VCALENDAR\r\n"}) {
    const Outcome outcome = Read(text);
    EXPECT_EQ(outcome.result, 0) << text;
    EXPECT_TRUE(outcome.messages.empty()) << text;
  }
}

TEST(CalendarReaderTest, Bounds) {
  const std::string kEndless =
      "BEGIN:VCALENDAR\r\n" +
      Event("UID:a\r\nDTSTART:20000101T000000Z\r\nDURATION:PT1S\r\nRRULE:FREQ=SECONDLY\r\n") +
      "END:VCALENDAR\r\n";
  Outcome outcome = Read(kEndless, 60, "UTC", 20000);
  EXPECT_EQ(outcome.result, -1);
  EXPECT_TRUE(outcome.periods.empty());
  EXPECT_NE(outcome.messages.find("ERR -- The calendar needs more than 20000"), std::string::npos)
      << outcome.messages;
  // A text that takes too long is refused as well.
  CalendarSettings hurried;
  hurried.run_start = kRunStart;
  hurried.max_seconds = 0;
  std::vector<BusyPeriodText> none;
  std::string said;
  EXPECT_EQ(ReadCalendarText(kEndless, hurried, none, said), -1);
  EXPECT_EQ(said, "ERR -- Reading the calendar took longer than 0 seconds; it is not read.\n");
  // Expansion starts at the window: a rule running since 2000 costs only
  // what the window holds (3 days of minutes here).
  const std::string kMinutely =
      "BEGIN:VCALENDAR\r\n" +
      Event("UID:a\r\nDTSTART:20000101T000000Z\r\nDURATION:PT1M\r\nRRULE:FREQ=MINUTELY\r\n") +
      "END:VCALENDAR\r\n";
  outcome = Read(kMinutely, 2, "UTC", 20000);
  EXPECT_EQ(outcome.periods, std::vector<std::string>{"2026-02-28 00:00|2026-03-03 00:00"});
  // Many events: the count of events alone exceeds the budget.
  std::string many = "BEGIN:VCALENDAR\r\n";
  for (int i = 0; i < 300; ++i) many += Event("DTSTART:20260302T100000Z\r\nDURATION:PT1H\r\n");
  EXPECT_EQ(Read(many + "END:VCALENDAR\r\n", 60, "UTC", 200).result, -1);
  // Deep nesting costs a counter, and warnings are capped.
  std::string deep = "BEGIN:VCALENDAR\r\n";
  for (int i = 0; i < 100000; ++i) deep += "BEGIN:X\r\n";
  for (int i = 0; i < 100000; ++i) deep += "END:X\r\n";
  for (int i = 0; i < 50; ++i) deep += Event("DTSTART:2026\r\n");
  outcome = Read(deep + "END:VCALENDAR\r\n");
  EXPECT_EQ(outcome.result, 1);
  EXPECT_NE(outcome.messages.find("30 further warnings"), std::string::npos) << outcome.messages;
}

}  // namespace

namespace {

TEST(CalendarReaderTest, FreeBusyTextsFirstThenCalendarsThenNothing) {
  test_support::TableTextSource source;
  const std::string kEvent = Event("UID:a\r\nDTSTART:20260302T100000Z\r\nDURATION:PT1H\r\n");
  source.table["http://h/fb"] = {1, "BEGIN:VCALENDAR\r\n" + kEvent + "BEGIN:VFREEBUSY\r\n"
                                     "FREEBUSY:20070102T080000Z/PT1H\r\nEND:VFREEBUSY\r\n"
                                     "END:VCALENDAR\r\n", ""};
  source.table["http://h/cal"] = {1, "BEGIN:VCALENDAR\r\n" + kEvent + "END:VCALENDAR\r\n", ""};
  source.table["http://h/cut"] = {1, "BEGIN:VCALENDAR\r\n" + kEvent, ""};
  CalendarSettings settings;
  settings.run_start = kRunStart;
  std::vector<BusyPeriodText> periods;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadUserBusyTime(source, "http://h/fb", periods, settings), 1);
  ASSERT_EQ(periods.size(), 1u);
  EXPECT_STREQ(periods[0].start, "2007-01-02 08:00:00 GMT");
  EXPECT_EQ(ReadUserBusyTime(source, "http://h/cal", periods, settings), 1);
  ASSERT_EQ(periods.size(), 1u);
  EXPECT_STREQ(periods[0].start, "2026-03-02 10:00:00 GMT");
  EXPECT_EQ(ReadUserBusyTime(source, "http://h/cut", periods, settings), -1);
  EXPECT_TRUE(periods.empty());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kCutShortMessage);
}

}  // namespace
