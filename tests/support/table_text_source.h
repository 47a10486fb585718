// A free/busy text source for tests of the run: a table from URL to what the
// fetch gives, so no HTTP is needed. Every URL asked for is logged.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "freebusy/text_source.h"

namespace test_support {

struct TableEntry {
  int result = 1;        // 1: `body` is appended; -1: `message` is printed
  std::string body;
  std::string message;
  long http_status = 0;  // what LastFetch reports
};

class TableTextSource final : public TextSource {
 public:
  std::map<std::string, TableEntry> table;
  std::vector<std::string> fetched;

  // A URL missing from the table fails like a download that got no answer.
  int FetchUrl(std::string& freetimedata, const char* url) override {
    fetched.emplace_back(url);
    const auto found = table.find(url);
    last = {};
    if (found != table.end())
      last = {found->second.http_status, found->second.body.size(),
              ExplainingLine(found->second.message)};
    if (found == table.end()) {
      std::printf("Error 12029 has occurred.\n");
      return -1;
    }
    if (found->second.result != 1) {
      std::fputs(found->second.message.c_str(), stdout);
      return -1;
    }
    freetimedata += found->second.body;
    return 1;
  }

  FetchFacts LastFetch() const override { return last; }
  FetchFacts last;
};

// A small free/busy text with one busy period per "start/end" given, e.g.
// "20240102T090000Z/20240102T100000Z".
inline std::string FreeBusyText(const std::vector<std::string>& periods) {
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VFREEBUSY\r\n";
  for (const std::string& period : periods) text += "FREEBUSY:" + period + "\r\n";
  return text + "END:VFREEBUSY\r\nEND:VCALENDAR\r\n";
}

}  // namespace test_support
