// The free/busy reader over the shapes real publishers send.
#include "freebusy/freebusy_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

struct ReadResult {
  int result = 0;
  std::vector<std::string> periods;  // "start|end"
  std::string messages;
};

ReadResult Read(std::string_view text) {
  std::vector<BusyPeriodText> periods;
  ReadResult read;
  read.result = ReadFreeBusyText(text, periods, read.messages);
  for (const BusyPeriodText& period : periods) {
    read.periods.push_back(std::string(period.start) + "|" + period.end);
  }
  return read;
}

const std::string kA = "2007-01-02 08:00:00 GMT|2007-01-02 09:30:00 GMT";
const std::string kB = "2007-01-03 10:00:00 GMT|2007-01-03 11:00:00 GMT";
const std::string kLineA = "FREEBUSY:20070102T080000Z/20070102T093000Z";
const std::string kLineB = "FREEBUSY:20070103T100000Z/20070103T110000Z";
const std::string kOpen = "BEGIN:VCALENDAR\r\nBEGIN:VFREEBUSY\r\n";
const std::string kClose = "END:VFREEBUSY\r\nEND:VCALENDAR\r\n";

struct ShapeCase {
  const char* what;
  std::string text;
  std::vector<std::string> periods;
};

TEST(FreeBusyReaderTest, ReadsEveryBusyPeriodOfRealWorldShapes) {
  const ShapeCase kCases[] = {
      {"CRLF", kOpen + kLineA + "\r\n" + kLineB + "\r\n" + kClose, {kA, kB}},
      {"LF", "BEGIN:VFREEBUSY\n" + kLineA + "\n" + kLineB + "\nEND:VFREEBUSY\n", {kA, kB}},
      {"last line ends the text", kLineA + "\r\n" + kLineB, {kA, kB}},
      {"last line ends with CRLF", kLineA + "\r\n" + kLineB + "\r\n", {kA, kB}},
      {"text cut after CR", kLineA + "\r", {kA}},
      {"fold in the name", "FREE\r\n BUSY:20070102T080000Z/20070102T093000Z\r\n", {kA}},
      {"fold in the value", "FREEBUSY:20070102T08\r\n 0000Z/2007010\n\t2T093000Z\n", {kA}},
      {"fold between parameters",
       "FREEBUSY;X-A=1;\r\n FBTYPE=BUSY:20070102T080000Z/20070102T093000Z",
       {kA}},
      {"fold before a comma", kLineA + "\n ,20070103T100000Z/20070103T110000Z\n", {kA, kB}},
      {"lower case", "freebusy;fbtype=busy:20070102t080000z/20070102t093000z\n", {kA}},
      {"several periods", kLineA + ",20070103T100000Z/PT1H\r\n", {kA, kB}},
      {"FBTYPE=FREE", "FREEBUSY;FBTYPE=FREE:20070102T080000Z/PT1H\r\n" + kLineB, {kB}},
      {"fbtype=free", "FREEBUSY;fbtype=free:20070102T080000Z/PT1H\r\n" + kLineB, {kB}},
      {"quoted FREE",
       "FREEBUSY;X-A=\";:,\";FBTYPE=\"FREE\":20070102T080000Z/PT1H\n" + kLineB,
       {kB}},
      {"FREE and BUSY", "FREEBUSY;FBTYPE=FREE,BUSY:20070102T080000Z/20070102T093000Z\n", {kA}},
      {"BUSY", "FREEBUSY;FBTYPE=BUSY:20070102T080000Z/20070102T093000Z\n", {kA}},
      {"BUSY-TENTATIVE", "FREEBUSY;FBTYPE=BUSY-TENTATIVE:20070102T080000Z/20070102T093000Z", {kA}},
      {"BUSY-UNAVAILABLE",
       "FREEBUSY;FBTYPE=BUSY-UNAVAILABLE:20070102T080000Z/20070102T093000Z",
       {kA}},
      {"unknown type", "FREEBUSY;FBTYPE=OOF:20070102T080000Z/20070102T093000Z", {kA}},
      {"quoted ':' in a parameter", "FREEBUSY;X-A=\"a:b\":20070102T080000Z/20070102T093000Z", {kA}},
      {"other properties",
       "DTSTART:20070102T080000Z\nXFREEBUSY:20070102T080000Z/PT1H\n" + kLineB,
       {kB}},
      {"zero byte and lone CR elsewhere", std::string("X-A:a\0b\rc\n", 10) + kLineA, {kA}},
      {"byte-order mark", "\xEF\xBB\xBF" + kLineA + "\r\n", {kA}},
      {"several calendars", kOpen + kLineA + "\r\n" + kClose + kOpen + kLineB + "\r\n" + kClose,
       {kA, kB}},
  };
  for (const ShapeCase& c : kCases) {
    ReadResult read = Read(c.text);
    EXPECT_EQ(read.result, 1) << c.what;
    EXPECT_EQ(read.periods, c.periods) << c.what;
    EXPECT_EQ(read.messages, "") << c.what;
  }
}

TEST(FreeBusyReaderTest, AddsDurationsWithCalendarArithmetic) {
  const struct {
    const char* start;
    const char* duration;
    const char* end;
  } kCases[] = {
      {"20070102T080000Z", "P2W", "2007-01-16 08:00:00 GMT"},
      {"20070102T080000Z", "P3D", "2007-01-05 08:00:00 GMT"},
      {"20070102T080000Z", "PT1H", "2007-01-02 09:00:00 GMT"},
      {"20070102T080000Z", "PT90M", "2007-01-02 09:30:00 GMT"},
      {"20070102T080000Z", "PT45S", "2007-01-02 08:00:45 GMT"},
      {"20070102T080000Z", "+P1DT2H3M4S", "2007-01-03 10:03:04 GMT"},
      {"20070102T080000Z", "PT1H4S", "2007-01-02 09:00:04 GMT"},
      {"20070102T080000Z", "pt8h30m", "2007-01-02 16:30:00 GMT"},
      {"20070430T230000Z", "PT2H", "2007-05-01 01:00:00 GMT"},
      {"20071231T230000Z", "PT1H", "2008-01-01 00:00:00 GMT"},
      {"20080228T120000Z", "P1D", "2008-02-29 12:00:00 GMT"},
      {"20070228T120000Z", "P1D", "2007-03-01 12:00:00 GMT"},
      {"19000228T120000Z", "P1D", "1900-03-01 12:00:00 GMT"},
      {"20000228T120000Z", "P1D", "2000-02-29 12:00:00 GMT"},
      {"20080101T000000Z", "P366D", "2009-01-01 00:00:00 GMT"},
      {"00010101T000000Z", "PT1S", "0001-01-01 00:00:01 GMT"},
      {"99991231T235958Z", "PT1S", "9999-12-31 23:59:59 GMT"},
  };
  for (const auto& c : kCases) {
    std::string period = std::string(c.start) + "/" + c.duration;
    ReadResult read = Read("FREEBUSY:" + period);
    ASSERT_EQ(read.periods.size(), 1u) << period << read.messages;
    EXPECT_EQ(read.periods[0].substr(24), c.end) << period;
  }
}

// Each bad period sits between two good ones: it alone is skipped, with one
// warning that quotes it.
TEST(FreeBusyReaderTest, SkipsMalformedPeriodsAndKeepsTheRest) {
  const char* kBad[] = {
      "20071302T080000Z/20071302T090000Z",
      "00000101T080000Z/PT1H",
      "20070132T080000Z/PT1H",
      "20070230T080000Z/PT1H",
      "20070229T080000Z/PT1H",
      "20070102T250000Z/PT1H",
      "20070102T240000Z/PT1H",
      "20070102T086000Z/PT1H",
      "20070102T080060Z/PT1H",
      "20070102/20070103",
      "2006717T100000Z/PT30M",
      "20070102T080000Z/20070102T093000Zjunk",
      "",
      "20070102T080000Z",
      "20070102T080000Z/",
      "20070102T080000Z/-PT1H",
      "20070102T080000Z/P",
      "20070102T080000Z/PT",
      "20070102T080000Z/P1H",
      "20070102T080000Z/P1W2D",
      "20070102T080000Z/PT1",
      "20070102T080000Z/P1DT",
      "20070102T080000Z/P99999999999999999999W",
      "99991231T235959Z/PT1S",
      "20070102T080000Z/P3000000D",
      "20070102T08000Z/PT1H",
      "20070102 080000Z/PT1H",
      "20070102T093000Z/20070102T080000Z",  // ends before it starts
      "20070102T080000Z/20070102T080000Z",  // ends when it starts
      "20070102T080000Z/PT0S",
  };
  for (const char* bad : kBad) {
    ReadResult read = Read(kLineA + "," + bad + ",20070103T100000Z/20070103T110000Z");
    EXPECT_EQ(read.result, 1) << bad;
    EXPECT_EQ(read.periods, (std::vector<std::string>{kA, kB})) << bad;
    EXPECT_EQ(read.messages,
              "WARN -- Skipped malformed busy period \"" + std::string(bad) + "\"\n");
  }
}

TEST(FreeBusyReaderTest, ReadsTimesWithoutUtcMarkerAsUtcWithAWarning) {
  ReadResult read = Read(
      "FREEBUSY:20070102T080000/20070102T093000Z\n"
      "FREEBUSY;TZID=Europe/Paris:20070103T100000/PT1H\n");
  EXPECT_EQ(read.periods, (std::vector<std::string>{kA, kB}));
  EXPECT_EQ(
      read.messages,
      "WARN -- Busy period \"20070102T080000/20070102T093000Z\" has no UTC marker; read as UTC\n"
      "WARN -- Busy period \"20070103T100000/PT1H\" has no UTC marker; read as UTC\n");
}

TEST(FreeBusyReaderTest, TellsFreeBusyDataFromOtherTexts) {
  const struct {
    const char* what;
    std::string text;
    int result;
    std::string messages;
  } kCases[] = {
      {"empty text", "", -1, "ERR -- Invalid iCal file format\n"},
      {"no FREEBUSY", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n", -1,
       "ERR -- Invalid iCal file format\n"},
      {"HTML page", "<html><body>FREEBUSY:</body></html>\n", -1,
       "ERR -- Invalid iCal file format\n"},
      {"empty VFREEBUSY", "BEGIN:VCALENDAR\r\nBEGIN:VFREEBUSY\r\nEND:VFREEBUSY\r\nEND:VCALENDAR",
       1, ""},
      {"lower-case component", "begin:vfreebusy\nend:vfreebusy\n", 1, ""},
      {"only free time", "FREEBUSY;FBTYPE=FREE:20070102T080000Z/PT1H\n", 1, ""},
      {"FREEBUSY without a value", "FREEBUSY;X-A=\"a:b\n", -1,
       "WARN -- Skipped malformed FREEBUSY line \"FREEBUSY;X-A=\\\"a:b\"\n"
       "ERR -- Invalid iCal file format\n"},
  };
  for (const auto& c : kCases) {
    ReadResult read = Read(c.text);
    EXPECT_EQ(read.result, c.result) << c.what;
    EXPECT_TRUE(read.periods.empty()) << c.what;
    EXPECT_EQ(read.messages, c.messages) << c.what;
  }
}

// A body cut off by the server still reads as a text; the calendar it opens
// and never closes tells. Nothing of it is read, so the user keeps the old
// document instead of getting part of the busy time.
TEST(FreeBusyReaderTest, ATextCutShortIsAFailedRead) {
  const std::string whole = kOpen + kLineA + "\r\n" + kLineB + "\r\n" + kClose;
  const std::string before_b = whole.substr(0, whole.find(kLineB));
  const struct {
    const char* what;
    std::string text;
  } kCases[] = {
      {"after a period", before_b},
      {"in a period", whole.substr(0, whole.find(kLineB) + 20)},
      {"in the last END line", whole.substr(0, whole.size() - 6)},
      {"VFREEBUSY never closed", "BEGIN:VFREEBUSY\r\n" + kLineA + "\r\n"},
      {"in a second calendar", whole + kOpen + kLineA},
      {"behind a byte-order mark", "\xEF\xBB\xBF" + before_b + "FREEBUSY:x\r\n"},
  };
  for (const auto& c : kCases) {
    ReadResult read = Read(c.text);
    EXPECT_EQ(read.result, -1) << c.what;
    EXPECT_TRUE(read.periods.empty()) << c.what;
    EXPECT_EQ(read.messages,
              "ERR -- The free/busy text ends before its calendar does; it may have been cut "
              "short.\n")
        << c.what;
  }
  EXPECT_EQ(Read(whole.substr(0, whole.size() - 2)).periods, (std::vector<std::string>{kA, kB}));
}

TEST(FreeBusyReaderTest, WarningsCannotForgeConsoleLinesOrFloodTheConsole) {
  // A lone CR is part of a line; only LF ends one.
  ReadResult read = Read("FREEBUSY:x\rERR -- \"y\"\x1b[2J\xff\\/" + std::string(100, 'z') + "\n");
  EXPECT_EQ(read.messages,
            "WARN -- Skipped malformed busy period \"x\\x0DERR -- \\\"y\\\"\\x1B[2J\\xFF\\\\/" +
                std::string(61, 'z') + "...\"\n");

  std::string many = "FREEBUSY:" + kLineA.substr(9);
  for (int i = 0; i < 100000; ++i) many += ",bad";
  read = Read(many);
  EXPECT_EQ(read.periods, std::vector<std::string>{kA});
  EXPECT_EQ(read.messages.find("WARN -- 99980 further warnings"), read.messages.rfind("WARN"));
  EXPECT_EQ(std::count(read.messages.begin(), read.messages.end(), '\n'), 21);
}

// The scanner this reader replaces: from the first "FREEBUSY:", 44-byte
// windows, each starting with "FREEBUSY:" read by position, as long as more
// than 44 bytes remain.
std::vector<std::string> WindowScan(const std::string& text) {
  std::vector<std::string> periods;
  std::size_t pos = text.find("FREEBUSY:");
  if (pos == std::string::npos) return periods;
  auto format = [&](std::size_t at) {
    return text.substr(at, 4) + "-" + text.substr(at + 4, 2) + "-" + text.substr(at + 6, 2) + " " +
           text.substr(at + 9, 2) + ":" + text.substr(at + 11, 2) + ":" + text.substr(at + 13, 2) +
           " GMT";
  };
  for (; text.size() - pos > 44; pos += 44) {
    if (text.compare(pos, 9, "FREEBUSY:") == 0) {
      periods.push_back(format(pos + 9) + "|" + format(pos + 26));
    }
  }
  return periods;
}

TEST(FreeBusyReaderTest, MatchesTheWindowScannerOnItsWellFormedInput) {
  std::mt19937 random(20070102);
  auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  auto dateTime = [&] {
    char text[17];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02dZ", pick(1970, 2099), pick(1, 12),
                  pick(1, 28), pick(0, 23), pick(0, 59), pick(0, 59));
    return std::string(text);
  };
  for (int round = 0; round < 200; ++round) {
    // Bare FREEBUSY lines, and the same lines in a calendar.
    std::string text;
    int count = pick(0, 40);
    for (int i = 0; i < count; ++i) {
      std::string start = dateTime(), end = dateTime();
      if (end < start) std::swap(start, end);  // the scanner never checked; this reader does
      text += "FREEBUSY:" + start + "/" + end + "\r\n";
    }
    std::string closed = "BEGIN:VCALENDAR\r\nPRODID:-//x//y//EN\r\nBEGIN:VFREEBUSY\r\n" + text +
                         "END:VFREEBUSY\r\nEND:VCALENDAR\r\n";
    EXPECT_EQ(Read(closed).periods, WindowScan(closed));
    // Ending right after the last line, the window scanner loses that line.
    std::vector<std::string> scanned = WindowScan(text);
    if (count > 0) {
      EXPECT_EQ(scanned.size() + 1, static_cast<std::size_t>(count));
      scanned.push_back(Read(text).periods.back());
    }
    EXPECT_EQ(Read(text).periods, scanned);
  }
}

}  // namespace
