// Feeds arbitrary bytes to the calendar reader, as a hostile publisher
// could. Beyond "no crash, no leak, no hang", every outcome must hold what
// the import relies on: periods sorted, apart from each other and touching
// the window, in well-formed time texts; a refused text yields nothing; and
// the console lines are few, short and printable.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "freebusy/calendar_reader.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr std::int64_t kRunStart = 1772323200;  // 2026-03-01 00:00Z
// 20 warnings, the count of the rest, and the closing error.
constexpr std::size_t kMaxMessageLines = 22;
constexpr std::size_t kMaxMessageLineLength = 512;

bool IsTimeText(const char (&text)[24]) {
  const std::string_view time(text, 23);
  if (text[23] != '\0' || !time.ends_with(" GMT")) return false;
  for (std::size_t i : {4u, 7u}) {
    if (time[i] != '-') return false;
  }
  for (std::size_t i = 0; i < 19; ++i) {
    if (i == 4 || i == 7 || i == 10 || i == 13 || i == 16) continue;
    if (time[i] < '0' || time[i] > '9') return false;
  }
  return time[10] == ' ' && time[13] == ':' && time[16] == ':';
}

void CheckMessages(std::string_view messages, int result) {
  std::size_t lines = 0;
  while (!messages.empty()) {
    const std::size_t end = messages.find('\n');
    FUZZ_CHECK(end != std::string_view::npos);
    const std::string_view line = messages.substr(0, end);
    messages.remove_prefix(end + 1);
    ++lines;
    FUZZ_CHECK(line.starts_with("WARN -- ") || line.starts_with("ERR -- "));
    FUZZ_CHECK(line.size() <= kMaxMessageLineLength);
    for (char c : line) {
      const auto byte = static_cast<unsigned char>(c);
      FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
    }
    if (line.starts_with("ERR")) FUZZ_CHECK(result == -1 && messages.empty());
  }
  FUZZ_CHECK(lines <= kMaxMessageLines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CalendarSettings settings;
  settings.run_start = kRunStart;
  settings.time_zone = "Europe/Berlin";
  // Small enough budgets that libFuzzer's own time-out never fires.
  settings.max_examined = 200000;
  settings.max_seconds = 2;
  std::vector<BusyPeriodText> periods;
  std::string messages;
  const int result = ReadCalendarText(text, settings, periods, messages);

  FUZZ_CHECK(result == 1 || result == 0 || result == -1);
  if (result == 0) FUZZ_CHECK(periods.empty() && messages.empty());
  if (result == -1) FUZZ_CHECK(periods.empty() && messages.find("ERR -- ") != std::string::npos);
  // The window, as time texts: they compare like the times they show.
  const std::string_view window_begin = "2026-02-28 00:00:00 GMT";
  const std::string_view window_end = "2026-04-30 00:00:00 GMT";
  for (std::size_t i = 0; i < periods.size(); ++i) {
    const BusyPeriodText& period = periods[i];
    FUZZ_CHECK(IsTimeText(period.start) && IsTimeText(period.end));
    FUZZ_CHECK(std::string_view(period.start) < std::string_view(period.end));
    FUZZ_CHECK(std::string_view(period.end) > window_begin);
    FUZZ_CHECK(std::string_view(period.start) < window_end);
    if (i > 0) FUZZ_CHECK(std::string_view(periods[i - 1].end) < std::string_view(period.start));
  }
  CheckMessages(messages, result);
  return 0;
}
