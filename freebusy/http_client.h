// Downloads free/busy texts over HTTP and HTTPS. One client serves a whole
// run and keeps connections open between users of the same host. libcurl is
// used only behind this header.
#pragma once

#include <memory>
#include <string>

#include "freebusy/download.h"
#include "freebusy/text_source.h"

class HttpClient final : public TextSource {
 public:
  explicit HttpClient(const FetchLimits& limits = FetchLimits());
  ~HttpClient() override;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Downloads `url` (http or https; no scheme means http).
  // A download succeeds only with a whole 2xx body (redirects followed, at
  // most `max_redirects`; a 429 or 503 answer with a Retry-After of at most
  // 60 s asked once more after that wait, within the overall limit).
  // Anything else fails with an empty body: a refused
  // URL, no response, a non-2xx status, a transfer cut off or timed out, a body
  // over `max_body_bytes`, and a body holding a zero byte anywhere (a
  // free/busy text never does, so such a body is not text, however the
  // network split it). A request that got no response at all prints
  // "Error %d has occurred." (libcurl's error code) and then the reason; every
  // other failure prints one line starting "ERR -- ". Messages name the host,
  // never the user information of the URL.
  Download Get(const char* url);

  // Get, then prints the messages and appends the body (moved in when
  // `freetimedata` is empty).
  int FetchUrl(std::string& freetimedata, const char* url) override;
  FetchFacts LastFetch() const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
