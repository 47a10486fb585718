// Feeds arbitrary bytes to the free/busy reader, as a hostile server could.
// Beyond "no crash, no leak, no hang", every outcome must hold what the
// import relies on: well-formed time texts that the runtime accepts, periods
// that come from the text and read back the same when written out again,
// and console lines that are few, short and cannot forge others.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "freebusy/calendar_complete.h"
#include "freebusy/freebusy_reader.h"
#include "freebusy/ical_lines.h"
#include "fuzz/fuzz_check.h"
#include "notes/local/time_date.h"

namespace {

// Every warning the reader prints is capped; with the summary line and the
// closing error at most this many lines come out of one text.
constexpr std::size_t kMaxMessageLines = 22;
// A warning quotes at most 80 bytes, each at most 4 characters escaped.
constexpr std::size_t kMaxMessageLineLength = 512;

bool IsDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "YYYY-MM-DD HH:MM:SS GMT" with a zero byte at the end.
void CheckTimeText(const char (&text)[24]) {
  FUZZ_CHECK(text[23] == '\0');
  std::string_view time(text, 23);
  FUZZ_CHECK(IsDigits(time.substr(0, 4)) && time[4] == '-' && IsDigits(time.substr(5, 2)) &&
             time[7] == '-' && IsDigits(time.substr(8, 2)) && time[10] == ' ' &&
             IsDigits(time.substr(11, 2)) && time[13] == ':' && IsDigits(time.substr(14, 2)) &&
             time[16] == ':' && IsDigits(time.substr(17, 2)) && time.substr(19) == " GMT");
  // The runtime's reader takes years 0001-9999; the free/busy reader also
  // lets the year 0000 through, a text the runtime refuses (its schedule
  // entry then carries a zero time).
  if (time.substr(0, 4) == "0000") return;
  TimeDate converted{};
  FUZZ_CHECK(notes::local::ParseGmtTimeText(time, &converted));
}

// "YYYYMMDDTHHMMSSZ" of a time text "YYYY-MM-DD HH:MM:SS GMT".
std::string DateTimeValue(const char (&text)[24]) {
  std::string_view time(text, 19);
  std::string value;
  value.append(time.substr(0, 4)).append(time.substr(5, 2)).append(time.substr(8, 2));
  value += 'T';
  value.append(time.substr(11, 2)).append(time.substr(14, 2)).append(time.substr(17, 2));
  return value + 'Z';
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// The logical lines of the text, upper-cased, one per line: where every
// period start must be found, since the reader writes no start of its own.
std::string UnfoldedUpper(std::string_view text) {
  ContentLineReader reader(text);
  std::string unfolded;
  std::string_view line;
  while (reader.Next(line)) {
    unfolded += Upper(line);
    unfolded += '\n';
  }
  return unfolded;
}

// A period written out as a plain UTC period reads back as the same texts.
void CheckReadsBack(const BusyPeriodText& period) {
  std::string text = "FREEBUSY:" + DateTimeValue(period.start) + "/" + DateTimeValue(period.end);
  std::vector<BusyPeriodText> again;
  std::string messages;
  FUZZ_CHECK(ReadFreeBusyText(text, again, messages) == 1);
  FUZZ_CHECK(messages.empty());
  FUZZ_CHECK(again.size() == 1);
  FUZZ_CHECK(std::string_view(again[0].start) == period.start);
  FUZZ_CHECK(std::string_view(again[0].end) == period.end);
}

void CheckMessages(std::string_view messages, int result) {
  std::size_t lines = 0;
  while (!messages.empty()) {
    std::size_t end = messages.find('\n');
    FUZZ_CHECK(end != std::string_view::npos);  // every line is ended
    std::string_view line = messages.substr(0, end);
    messages.remove_prefix(end + 1);
    ++lines;
    FUZZ_CHECK(line.starts_with("WARN -- ") || line == "ERR -- Invalid iCal file format" ||
               line == kCutShortMessage.substr(0, kCutShortMessage.size() - 1));
    FUZZ_CHECK(line.size() <= kMaxMessageLineLength);
    for (char c : line) {
      auto byte = static_cast<unsigned char>(c);
      FUZZ_CHECK(byte >= 0x20 && byte < 0x7F);
    }
    if (line.starts_with("ERR")) FUZZ_CHECK(result == -1 && messages.empty());
  }
  FUZZ_CHECK(lines <= kMaxMessageLines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<BusyPeriodText> periods;
  std::string messages;
  int result = ReadFreeBusyText(text, periods, messages);

  FUZZ_CHECK(result == 1 || result == -1);
  if (result == -1) {
    FUZZ_CHECK(periods.empty());
    // A text cut short is refused before anything of it is read.
    FUZZ_CHECK(messages.ends_with("ERR -- Invalid iCal file format\n") ||
               messages == kCutShortMessage);
  }
  // Each period needs a '/' of its own; folding never makes one.
  FUZZ_CHECK(periods.size() <= static_cast<std::size_t>(std::count(text.begin(), text.end(), '/')));
  std::string unfolded = periods.empty() ? std::string() : UnfoldedUpper(text);
  for (const BusyPeriodText& period : periods) {
    CheckTimeText(period.start);
    CheckTimeText(period.end);
    FUZZ_CHECK(std::string_view(period.start) < std::string_view(period.end));
    std::string start = DateTimeValue(period.start);
    start.pop_back();  // the UTC marker may be missing
    FUZZ_CHECK(unfolded.find(start + "/") != std::string::npos ||
               unfolded.find(start + "Z/") != std::string::npos);
    CheckReadsBack(period);
  }
  CheckMessages(messages, result);
  return 0;
}
