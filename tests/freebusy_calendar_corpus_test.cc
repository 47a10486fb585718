// The calendar reader over real published calendars (the shared corpus; the
// test skips where it is absent): every feed reads without a crash into
// sorted, disjoint periods inside the window, its warnings quote nothing a
// person wrote, and two feeds give the times worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "freebusy/calendar_reader.h"
#include "freebusy/ical_lines.h"

namespace {

namespace fs = std::filesystem;

// Beside the source tree, or beside the folder of worktrees it is one of.
fs::path FeedFolder() {
  for (const char* up : {"..", "../.."}) {
    const fs::path folder = fs::path(HARVEST_SOURCE_DIR) / up / "shared" / "corpus" / "calendars";
    std::error_code error;
    if (fs::is_directory(folder, error)) return folder;
  }
  return {};
}

const fs::path kFolder = FeedFolder();

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Read(const std::string& text, std::int64_t run_start, int days,
                              std::string* messages = nullptr) {
  CalendarSettings settings;
  settings.run_start = run_start;
  settings.window_days = days;
  std::vector<BusyPeriodText> periods;
  std::string printed;
  EXPECT_EQ(ReadCalendarText(text, settings, periods, printed), 1);
  if (messages != nullptr) *messages = printed;
  std::vector<std::string> read;
  for (const BusyPeriodText& period : periods) read.push_back(std::string(period.start) + "|" + period.end);
  return read;
}

// The values of the properties that people write, of at least 6 bytes.
std::vector<std::string> PersonalValues(const std::string& text) {
  std::vector<std::string> values;
  ContentLineReader reader(text);
  std::string_view line;
  ContentLine parts;
  while (reader.Next(line)) {
    for (const char* name : {"SUMMARY", "DESCRIPTION", "LOCATION", "ATTENDEE", "UID", "ORGANIZER"}) {
      if (EqualsIgnoreCase(ContentLineName(line), name) && SplitContentLine(line, parts) &&
          parts.value.size() >= 6)
        values.emplace_back(parts.value);
    }
  }
  return values;
}

TEST(CalendarCorpusTest, EveryFeedReadsIntoSaneWindowedPeriods) {
  if (kFolder.empty()) GTEST_SKIP() << "no calendar feeds beside " << HARVEST_SOURCE_DIR;
  std::size_t feeds = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(kFolder)) {
    if (entry.path().extension() != ".ics") continue;
    ++feeds;
    const std::string text = ReadFile(entry.path());
    std::string messages;
    // 2019-01-01 with the widest window: most feeds' events fall inside.
    const std::vector<std::string> read = Read(text, 1546300800, kMaxWindowDays, &messages);
    SCOPED_TRACE(entry.path().filename().string() + "\n" + messages);
    EXPECT_TRUE(std::is_sorted(read.begin(), read.end()));
    for (std::size_t i = 0; i < read.size(); ++i) {
      const std::string start = read[i].substr(0, 23);
      const std::string end = read[i].substr(24);
      EXPECT_LT(start, end);
      EXPECT_GT(end, "2018-12-31 00:00:00 GMT");
      EXPECT_LT(start, "2029-01-08 00:00:00 GMT");
      if (i > 0) {
        EXPECT_LT(read[i - 1].substr(24), start) << "periods overlap or touch";
      }
    }
    for (const std::string& value : PersonalValues(text)) {
      EXPECT_EQ(messages.find(value), std::string::npos) << "a warning quotes " << value;
    }
  }
  EXPECT_GT(feeds, 50u);
}

TEST(CalendarCorpusTest, FeedsWorkedOutByHand) {
  if (kFolder.empty()) GTEST_SKIP() << "no calendar feeds beside " << HARVEST_SOURCE_DIR;
  // Lisbon (its VTIMEZONE in the feed), Mondays 11:30-13:00; summer time
  // ends on 2020-10-25. Run 2020-10-20, 14 days.
  EXPECT_EQ(Read(ReadFile(kFolder / "issue_48_daylight_aware_repeats.ics"), 1603152000, 14),
            (std::vector<std::string>{"2020-10-19 10:30:00 GMT|2020-10-19 12:00:00 GMT",
                                      "2020-10-26 11:30:00 GMT|2020-10-26 13:00:00 GMT",
                                      "2020-11-02 11:30:00 GMT|2020-11-02 13:00:00 GMT"}));
  // Vancouver, 12:00-14:00 on the third Wednesday of every month but
  // June-August, COUNT=9 from 2023-09-20 (the folded BYMONTH ends in 12);
  // 2023-12-20 excluded but counted; an RDATE period 12:00-15:00 on
  // 2023-12-13; PST (UTC-8) from 2023-11-05 to 2024-03-10. Run 2023-09-01.
  EXPECT_EQ(Read(ReadFile(kFolder / "issue_113_period_in_rdate.ics"), 1693526400, 400),
            (std::vector<std::string>{"2023-09-20 19:00:00 GMT|2023-09-20 21:00:00 GMT",
                                      "2023-10-18 19:00:00 GMT|2023-10-18 21:00:00 GMT",
                                      "2023-11-15 20:00:00 GMT|2023-11-15 22:00:00 GMT",
                                      "2023-12-13 20:00:00 GMT|2023-12-13 23:00:00 GMT",
                                      "2024-01-17 20:00:00 GMT|2024-01-17 22:00:00 GMT",
                                      "2024-02-21 20:00:00 GMT|2024-02-21 22:00:00 GMT",
                                      "2024-03-20 19:00:00 GMT|2024-03-20 21:00:00 GMT",
                                      "2024-04-17 19:00:00 GMT|2024-04-17 21:00:00 GMT",
                                      "2024-05-15 19:00:00 GMT|2024-05-15 21:00:00 GMT"}));
}

}  // namespace
