// Where the run gets a user's free/busy text from. The HTTP client
// (freebusy/http_client.h) is the real source; tests of the run use a table.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// What a source learned about the last text it was asked for, for the run's
// report; nothing of it is printed.
struct FetchFacts {
  long http_status = 0;   // the last HTTP status received; 0 when none arrived
  std::size_t bytes = 0;  // body bytes received with that status
  std::string why;        // the line that explained a failure, without its line end
};

// The last line of `messages` that starts "ERR -- " (a failure's explaining
// line), without its line end; "" when there is none.
inline std::string ExplainingLine(std::string_view messages) {
  std::string_view found;
  for (std::size_t start = 0; start < messages.size();) {
    std::size_t end = messages.find('\n', start);
    if (end == std::string_view::npos) end = messages.size();
    const std::string_view line = messages.substr(start, end - start);
    if (line.rfind("ERR -- ", 0) == 0) found = line;
    start = end + 1;
  }
  return std::string(found);
}

class TextSource {
 public:
  virtual ~TextSource() = default;

  // Appends the free/busy text found at `url` to `freetimedata`. Returns 1 on
  // success and -1 when no usable text was obtained, after printing its own
  // error line(s) on standard output; nothing is appended then.
  virtual int FetchUrl(std::string& freetimedata, const char* url) = 0;

  // Tells the source which URLs FetchUrl will be asked for next, in that
  // order, so that it may start downloading them ahead. FetchUrl keeps its
  // meaning whatever was announced: it always delivers the text of the URL it
  // is given, and prints its lines only then. A source that fetches on demand
  // ignores the list.
  virtual void Expect(std::vector<std::string> /*urls*/) {}

  // What the last FetchUrl learned; a source that cannot tell gives none.
  virtual FetchFacts LastFetch() const { return {}; }
};
