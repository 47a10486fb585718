// The free/busy reader against real published free/busy texts and the
// periods an independent RFC 5545 reader found in them. The samples live
// beside the source tree, not in it; the test skips where they are absent.
//
// Each "X.expected" holds one "start|end|FBTYPE" line per period, FREE ones
// included. Two systematic differences from our reader:
// - FBTYPE=FREE periods are not busy time; we skip them, so they are dropped
//   from the expected list before comparing.
// - A DATE value without a time: the other reader takes midnight; we skip the
//   period with a warning, since a day is not a time of day.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "freebusy/freebusy_reader.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The busy periods of an expected file, as "start|end". A period that ends
// no later than it starts is skipped with a warning by our reader, so it is
// left out here and counted among the known warnings.
std::vector<std::string> ExpectedBusy(const std::string& expected) {
  std::vector<std::string> periods;
  std::istringstream lines(expected);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t type = line.rfind('|');
    if (type == std::string::npos || line.compare(type + 1, std::string::npos, "FREE") == 0)
      continue;
    const std::size_t bar = line.find('|');
    // The times are "YYYY-MM-DD HH:MM:SS GMT", so text order is time order.
    if (line.substr(bar + 1, type - bar - 1) <= line.substr(0, bar)) continue;
    periods.push_back(line.substr(0, type));
  }
  return periods;
}

struct KnownWarnings {
  std::size_t skipped;    // "Skipped malformed busy period"
  std::size_t notUtc;     // "has no UTC marker"
  std::size_t datesOnly;  // periods the other reader read at midnight
};

const std::map<std::string, KnownWarnings> kKnownWarnings = {
    {"ical4j__boeing", {5, 0, 0}},  // seven-digit dates, refused by both readers
    {"kolab-libcalendaring__dummy", {1, 0, 0}},  // a period of no length
    {"libical__5", {0, 2, 0}},      // floating times
    {"pyicalendar__issue_1633_freebusy_with_dates", {1, 0, 1}},
};

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(part); pos != std::string::npos;
       pos = text.find(part, pos + 1)) {
    ++count;
  }
  return count;
}

TEST(FreeBusyCorpusTest, AgreesWithAnIndependentReaderOnRealTexts) {
  const fs::path folder = fs::path(HARVEST_SOURCE_DIR) / ".." / "shared" / "corpus" / "freebusy";
  std::error_code error;
  if (!fs::is_directory(folder, error)) GTEST_SKIP() << "no free/busy samples at " << folder;

  std::vector<fs::path> samples;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".ifb") samples.push_back(entry.path());
  }
  std::sort(samples.begin(), samples.end());
  ASSERT_FALSE(samples.empty());

  for (const fs::path& sample : samples) {
    const std::string name = sample.stem().string();
    fs::path expectedPath = sample;
    expectedPath.replace_extension(".expected");
    if (!fs::exists(expectedPath)) continue;
    std::vector<std::string> expected = ExpectedBusy(ReadFile(expectedPath));

    std::vector<BusyPeriodText> periods;
    std::string messages;
    int result = ReadFreeBusyText(ReadFile(sample), periods, messages);
    std::vector<std::string> read;
    for (const BusyPeriodText& period : periods) {
      read.push_back(std::string(period.start) + "|" + period.end);
    }

    KnownWarnings known{0, 0, 0};
    if (auto it = kKnownWarnings.find(name); it != kKnownWarnings.end()) known = it->second;
    expected.resize(expected.size() - known.datesOnly);

    EXPECT_EQ(result, 1) << name;
    EXPECT_EQ(read, expected) << name;
    EXPECT_EQ(CountOf(messages, "WARN -- Skipped malformed busy period"), known.skipped) << name;
    EXPECT_EQ(CountOf(messages, "has no UTC marker"), known.notUtc) << name;
    EXPECT_EQ(CountOf(messages, "\n"), known.skipped + known.notUtc) << name << "\n" << messages;
  }
}

}  // namespace
