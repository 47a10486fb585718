// Speed of the free/busy reader: a year's worth of periods as one publisher
// writes them, and synthetic texts of 1, 10 and 100 MB in the shapes seen in
// the wild. Reports bytes per second, so the time per byte can be compared
// across sizes: it should not grow with the text.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "freebusy/freebusy_reader.h"

namespace {

constexpr std::size_t kMegabyte = 1000 * 1000;

std::string DateTime(int index, int minuteOffset) {
  int minutes = index * 90 + minuteOffset;
  int day = minutes / (24 * 60);
  char text[17];
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d00Z", 2007 + day / 336, day / 28 % 12 + 1,
                day % 28 + 1, minutes / 60 % 24, minutes % 60);
  return text;
}

const char kHeader[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Bench//EN\r\nMETHOD:PUBLISH\r\n"
    "BEGIN:VFREEBUSY\r\nORGANIZER:mailto:someone@example.com\r\n"
    "DTSTART:20070101T000000Z\r\nDTEND:20080101T000000Z\r\n";
const char kFooter[] = "END:VFREEBUSY\r\nEND:VCALENDAR\r\n";

// The plain shape: one start/end period per CRLF line.
std::string PlainText(int periods) {
  std::string text = kHeader;
  for (int i = 0; i < periods; ++i) {
    text += "FREEBUSY:" + DateTime(i, 0) + "/" + DateTime(i, 45) + "\r\n";
  }
  return text + kFooter;
}

// A mix of what publishers send: parameters, durations, comma lists, folds,
// LF line ends, free time, times without "Z" and now and then a bad period.
std::string MixedText(std::size_t size) {
  std::string text = kHeader;
  for (int i = 0; text.size() < size; ++i) {
    std::string start = DateTime(i, 0);
    switch (i % 8) {
      case 0:
        text += "FREEBUSY:" + start + "/" + DateTime(i, 45) + "\r\n";
        break;
      case 1:
        text += "FREEBUSY;FBTYPE=BUSY-TENTATIVE:" + start + "/PT1H30M\r\n";
        break;
      case 2:
        text += "FREEBUSY:" + start + "/PT1H," + DateTime(i, 70) + "/PT15M\n";
        break;
      case 3:
        text += "FREEBUSY;X-SUMMARY=\"a;b:c\";FBTYPE=BUSY:" + start + "/\r\n " + DateTime(i, 45) +
                "\r\n";
        break;
      case 4:
        text += "FREEBUSY;FBTYPE=FREE:" + start + "/PT1H\r\n";
        break;
      case 5:
        text += "freebusy:" + start.substr(0, 15) + "/P1DT2H\r\n";
        break;
      case 6:
        text += "COMMENT:Busy with something that takes a long line to describe,\r\n  folded.\r\n";
        break;
      case 7:
        text +=
            "FREEBUSY:" + start + "/" + DateTime(i, 45) + (i % 64 == 7 ? ",2007130" : "") + "\r\n";
        break;
    }
  }
  return text + kFooter;
}

// With `fresh_output` every read starts with an empty list, as each user's
// does; otherwise the list keeps its memory and only the reading is timed.
void ReadText(benchmark::State& state, const std::string& text, bool fresh_output = false) {
  std::size_t count = 0;
  std::vector<BusyPeriodText> periods;
  std::string messages;
  for (auto _ : state) {
    if (fresh_output) std::vector<BusyPeriodText>().swap(periods);
    periods.clear();
    messages.clear();
    benchmark::DoNotOptimize(ReadFreeBusyText(text, periods, messages));
    count = periods.size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["periods"] = static_cast<double>(count);
  state.counters["s/byte"] =
      benchmark::Counter(static_cast<double>(state.iterations() * text.size()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ReadYearOfPeriods(benchmark::State& state) {
  static const std::string text = PlainText(4166);
  ReadText(state, text);
}
BENCHMARK(BM_ReadYearOfPeriods)->Unit(benchmark::kMicrosecond);

void BM_ReadMixedText(benchmark::State& state) {
  static std::map<std::int64_t, std::string> texts;
  std::string& text = texts[state.range(0)];
  if (text.empty()) text = MixedText(static_cast<std::size_t>(state.range(0)) * kMegabyte);
  ReadText(state, text);
}
BENCHMARK(BM_ReadMixedText)->Arg(1)->Arg(10)->Arg(100)->MinTime(2.0)->Unit(benchmark::kMillisecond);

const std::string& PlainTextOfSize(std::int64_t megabytes) {
  static std::map<std::int64_t, std::string> texts;
  std::string& text = texts[megabytes];
  if (text.empty()) text = PlainText(static_cast<int>(megabytes * kMegabyte / 44));
  return text;
}

void BM_ReadPlainText(benchmark::State& state) { ReadText(state, PlainTextOfSize(state.range(0))); }
BENCHMARK(BM_ReadPlainText)->Arg(1)->Arg(10)->Arg(100)->MinTime(2.0)->Unit(benchmark::kMillisecond);

// The same, paying for the memory of a new period list on every read.
void BM_ReadPlainTextFreshOutput(benchmark::State& state) {
  ReadText(state, PlainTextOfSize(state.range(0)), true);
}
BENCHMARK(BM_ReadPlainTextFreshOutput)
    ->Arg(1)
    ->Arg(100)
    ->MinTime(2.0)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
