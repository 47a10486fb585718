// Downloads free/busy texts ahead of the run, on the run's own thread. The
// run announces, in order, the URLs it is going to ask for (Expect); the
// client keeps up to `concurrency` of them downloading at once through
// libcurl's multi interface, and drives those transfers whenever the run
// waits in FetchUrl. Each text is handed out, and each download's lines are
// printed, only when the run asks for that URL, so the console shows exactly
// what the one-at-a-time client (freebusy/http_client.h) prints, in the same
// order; only the waiting is shorter.
//
// Every download runs through the same exchanges, checks, limits and
// messages as the one-at-a-time client's. At most `concurrency` downloads are
// held at any time, running or finished and not yet asked for, so memory
// stays within `concurrency` bodies of FetchLimits::max_body_bytes. The
// transfers share one connection cache: users on the same host reuse
// connections.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "freebusy/http_client.h"
#include "freebusy/text_source.h"

// How many downloads the run keeps in flight: the setting HarvestConcurrency,
// 1 (one at a time) to kMaxHarvestConcurrency.
constexpr int kDefaultHarvestConcurrency = 8;
constexpr int kMaxHarvestConcurrency = 64;

class PrefetchClient final : public TextSource {
 public:
  // `concurrency` is clamped to 1 .. kMaxHarvestConcurrency.
  explicit PrefetchClient(int concurrency, const FetchLimits& limits = FetchLimits());
  ~PrefetchClient() override;
  PrefetchClient(const PrefetchClient&) = delete;
  PrefetchClient& operator=(const PrefetchClient&) = delete;

  // Appends `urls` to the URLs expected next and starts downloading the first
  // of them.
  void Expect(std::vector<std::string> urls) override;

  // The download of `url`: the expected one when `url` is next in line.
  // Expected URLs ahead of it that the caller passed over are dropped
  // unprinted; a URL that was not expected is downloaded at once. Waits,
  // driving every running transfer, until it has ended.
  Download Get(const char* url);

  // Get, then prints the messages and appends the body.
  int FetchUrl(std::string& freetimedata, const char* url) override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The run's source of free/busy texts: the one-at-a-time client for a
// concurrency of 1, the fetch-ahead client above.
std::unique_ptr<TextSource> MakeHttpSource(int concurrency,
                                           const FetchLimits& limits = FetchLimits());
