// Where the run gets a user's free/busy text from. The HTTP client
// (freebusy/http_client.h) is the real source; tests of the run use a table.
#pragma once

#include <string>

class TextSource {
 public:
  virtual ~TextSource() = default;

  // Appends the free/busy text found at `url` to `freetimedata`. Returns 1 on
  // success and -1 when no usable text was obtained, after printing its own
  // error line(s) on standard output; nothing is appended then.
  virtual int FetchUrl(std::string& freetimedata, const char* url) = 0;
};
