// Where the run gets a user's free/busy text from. The HTTP client
// (freebusy/http_client.h) is the real source; tests of the run use a table.
#pragma once

#include <string>
#include <vector>

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
};
