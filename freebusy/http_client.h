// Downloads free/busy texts over HTTP and HTTPS. One client serves a whole
// run and keeps connections open between users of the same host. libcurl is
// used only behind this header.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "freebusy/text_source.h"

// How downloads reach the network: the settings HarvestProxy, HarvestNoProxy
// and HarvestCAFile. With no proxy set, libcurl's environment variables
// (http_proxy, https_proxy, ALL_PROXY, NO_PROXY) decide; a proxy set here is
// used for every download, and only `no_proxy` (when set) excludes hosts from
// it. `ca_file`, when set, is the PEM bundle trusted instead of the system's;
// verification itself is never switched off.
struct NetworkSettings {
  std::string proxy;
  std::string no_proxy;  // comma-separated hosts or domains, "*" for all
  bool no_proxy_set = false;
  std::string ca_file;
};

// The bounds of one download, and the network settings it runs with.
struct FetchLimits {
  long connect_timeout_ms = 60'000;    // give up connecting after this
  long idle_timeout_s = 30;            // give up when nothing arrives for this long
  long total_timeout_ms = 300'000;     // the whole download, redirects included
  std::size_t max_body_bytes = 16u << 20;
  long max_redirects = 10;
  NetworkSettings network;
};

// The outcome of one download, before anything is printed.
struct Download {
  int result = -1;       // 1: the body is a usable text; -1: failed
  std::string body;      // the whole body when result is 1
  std::string messages;  // the line(s) to print on standard output, in order
  FetchFacts facts;      // for the run's report: last status, body bytes, why
};

// Prints the download's messages and hands its body to `freetimedata`: moved
// when that is empty, so a big text is never copied, else appended.
int Deliver(Download& download, std::string& freetimedata);

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

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};
