// The calendar reader on a 10 MB feed of 20,000 events, 2,000 of them
// recurring (weekly and daily, in three zones, with EXDATEs and overrides),
// the rest single events over four months; every event carries a summary,
// a description, a location and attendees, as exported feeds do. Measures,
// each in a child process of its own so that its peak memory is its own:
//   reader   ReadCalendarText, our line reader feeding libical (the program's way)
//   libical  libical's parser on the whole text, then freeing the tree; no
//            expansion at all, so the least that feeding libical's parser
//            would cost
// and prints wall time (best of the runs) and peak resident memory above the
// child's baseline (the text already held).
//
//   calendar_bench [RUNS [FILE]]   (FILE: where to write the feed as well)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libical/ical.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "freebusy/calendar_reader.h"

namespace {

constexpr std::int64_t kRunStart = 1772323200;  // 2026-03-01 00:00Z
constexpr int kEvents = 20000;
constexpr int kRecurring = 2000;
const char* const kZones[] = {"Europe/Berlin", "America/New_York", "W. Europe Standard Time"};

std::string Stamp(std::int64_t utc) {
  const std::time_t time = static_cast<std::time_t>(utc);
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[20];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &parts);
  return text;
}

// About 480 bytes of what people write, folded at 75 bytes.
std::string Personal(int i) {
  std::string description = "DESCRIPTION:Agenda " + std::to_string(i) + ": ";
  while (description.size() < 180) description += "review the open points and plan the next steps; ";
  std::string folded;
  for (std::size_t at = 0; at < description.size(); at += 74) {
    // Appended piece by piece: g++ 12 at -O2 warns (-Wrestrict) on a
    // char pointer added to a string here.
    if (at != 0) folded += ' ';
    folded += description.substr(at, 74);
    folded += "\r\n";
  }
  return "SUMMARY:Meeting number " + std::to_string(i) + "\r\n" + folded +
         "LOCATION:Room " + std::to_string(i % 40) + ", second floor\r\n"
         "ATTENDEE;CN=Someone;ROLE=REQ-PARTICIPANT:mailto:person" + std::to_string(i % 97) +
         "@example.com\r\nDTSTAMP:20260101T000000Z\r\nSEQUENCE:0\r\n";
}

std::string Feed() {
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Bench//EN\r\n"
                     "X-WR-TIMEZONE:Europe/Berlin\r\n";
  for (int i = 0; i < kEvents; ++i) {
    const std::string uid = "UID:event-" + std::to_string(i) + "@example.com\r\n";
    std::string event = "BEGIN:VEVENT\r\n" + uid;
    if (i < kRecurring) {
      const std::string tzid = std::string(";TZID=\"") + kZones[i % 3] + "\"";
      const std::int64_t start = kRunStart - 400 * 86400 + (i % 700) * 3600 * 7;
      event += "DTSTART" + tzid + ":" + Stamp(start) + "\r\nDTEND" + tzid + ":" +
               Stamp(start + 3600) + "\r\n";
      event += i % 4 == 0 ? "RRULE:FREQ=DAILY;INTERVAL=2\r\n" : "RRULE:FREQ=WEEKLY;BYDAY=MO,TH\r\n";
      event += "EXDATE" + tzid + ":" + Stamp(start + 14 * 86400) + "\r\n";
    } else {
      const std::int64_t start = kRunStart - 10 * 86400 + (i % 120) * 86400 + (i % 9) * 3600;
      event += "DTSTART:" + Stamp(start) + "Z\r\nDTEND:" + Stamp(start + 1800) + "Z\r\n";
    }
    text += event + Personal(i) + "END:VEVENT\r\n";
    if (i < kRecurring && i % 10 == 0) {  // an override moving one instance an hour on
      const std::string tzid = std::string(";TZID=\"") + kZones[i % 3] + "\"";
      const std::int64_t start = kRunStart - 400 * 86400 + (i % 700) * 3600 * 7;
      const std::int64_t original = start + (i % 4 == 0 ? 420 : 413) * 86400;
      text += "BEGIN:VEVENT\r\n" + uid + "RECURRENCE-ID" + tzid + ":" + Stamp(original) +
              "\r\nDTSTART" + tzid + ":" + Stamp(original + 3600) + "\r\nDTEND" + tzid + ":" +
              Stamp(original + 7200) + "\r\n" + Personal(i) + "END:VEVENT\r\n";
    }
  }
  return text + "END:VCALENDAR\r\n";
}

struct Figures {
  double seconds = 0;
  long peak_kb = 0;
  std::size_t periods = 0;
};

// Runs `work` in a child; returns its time and peak memory.
template <typename Work>
Figures InChild(Work work) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) std::exit(1);
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    Figures figures;
    const auto started = std::chrono::steady_clock::now();
    figures.periods = work();
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (write(pipe_ends[1], &figures, sizeof figures) != sizeof figures) _exit(1);
    _exit(0);
  }
  close(pipe_ends[1]);
  Figures figures;
  if (read(pipe_ends[0], &figures, sizeof figures) != sizeof figures) std::exit(1);
  close(pipe_ends[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  figures.peak_kb = usage.ru_maxrss;
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::string text = Feed();
  if (argc > 2) {
    if (std::FILE* out = std::fopen(argv[2], "wb")) {
      std::fwrite(text.data(), 1, text.size(), out);
      std::fclose(out);
    }
  }
  // Resident before any work: the text is touched so that it is counted.
  const Figures baseline = InChild([&] {
    std::size_t sum = 0;
    for (std::size_t i = 0; i < text.size(); i += 4096) sum += static_cast<unsigned char>(text[i]);
    return sum % 2;
  });
  std::printf("feed: %.1f MB, %d events (%d recurring, %d overrides); run start 2026-03-01, "
              "window 60 days\n",
              text.size() / 1e6, kEvents, kRecurring, kRecurring / 10);
  std::printf("%-8s %10s %14s %8s\n", "way", "best s", "peak MB above", "periods");
  struct Way {
    const char* name;
    std::size_t (*work)(const std::string&);
  };
  const Way ways[] = {
      {"reader",
       [](const std::string& feed) {
         CalendarSettings settings;
         settings.run_start = kRunStart;
         std::vector<BusyPeriodText> periods;
         std::string messages;
         if (ReadCalendarText(feed, settings, periods, messages) != 1) std::fputs(messages.c_str(), stderr);
         return periods.size();
       }},
      {"libical",
       [](const std::string& feed) {
         icalcomponent* calendar = icalparser_parse_string(feed.c_str());
         std::size_t events = icalcomponent_count_components(calendar, ICAL_VEVENT_COMPONENT);
         icalcomponent_free(calendar);
         return events;
       }},
  };
  for (const Way& way : ways) {
    Figures best;
    for (int run = 0; run < runs; ++run) {
      const Figures figures = InChild([&] { return way.work(text); });
      if (run == 0 || figures.seconds < best.seconds) best.seconds = figures.seconds;
      best.peak_kb = std::max(best.peak_kb, figures.peak_kb);
      best.periods = figures.periods;
    }
    std::printf("%-8s %10.3f %14.1f %8zu\n", way.name, best.seconds,
                (best.peak_kb - baseline.peak_kb) / 1024.0, best.periods);
  }
  std::puts("(libical's column \"periods\" counts the VEVENTs its parser found)");
}
