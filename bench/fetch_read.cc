// fetch_read: what the harvest pays for a big free/busy text against what
// downloading it costs. Fetches URL REPEAT times with the harvest's own
// one-at-a-time client, either only downloading each text ("download") or
// downloading and reading it as the run does ("read"); bench/big_text.sh sets
// it beside a bare libcurl loop over the same URL.
//
//   fetch_read URL [REPEAT] [download|read]
//
// Prints one line on standard error: texts, bytes, periods and milliseconds
// per text. The run's own lines (warnings) go to standard output.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "freebusy/busytime_fill.h"
#include "freebusy/http_client.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fputs("usage: fetch_read URL [REPEAT] [download|read]\n", stderr);
    return 2;
  }
  const long repeat = argc >= 3 ? std::strtol(argv[2], nullptr, 10) : 10;
  const std::string mode = argc >= 4 ? argv[3] : "read";
  if (repeat < 1 || (mode != "download" && mode != "read")) {
    std::fputs("fetch_read: REPEAT must be at least 1, the mode download or read\n", stderr);
    return 2;
  }
  HttpClient client;
  std::size_t bytes = 0;
  std::size_t periods_read = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < repeat; ++i) {
    if (mode == "download") {
      const Download download = client.Get(argv[1]);
      if (download.result != 1) return 1;
      bytes += download.body.size();
    } else {
      std::vector<BusyPeriodText> periods;
      std::size_t total = 0;
      if (ReadUserBusyTime(client, argv[1], periods, {}, nullptr, &total) != 1) return 1;
      periods_read += periods.size();
    }
  }
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "%ld texts (%s), %zu bytes, %zu periods kept, %.1f ms per text\n", repeat,
               mode.c_str(), bytes / static_cast<std::size_t>(repeat),
               periods_read / static_cast<std::size_t>(repeat), ms / static_cast<double>(repeat));
  return 0;
}
