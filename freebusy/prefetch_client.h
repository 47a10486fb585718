// Downloads free/busy texts ahead of the run, on the run's own thread. The
// run announces, in order, the URLs it is going to ask for (Expect); the
// client keeps up to `concurrency` transfers running at once through
// libcurl's multi interface, and drives them whenever the run waits in
// FetchUrl. Each text is handed out, and each download's lines are printed,
// only when the run asks for that URL, so the console shows exactly what the
// one-at-a-time client (freebusy/http_client.h) prints, in the same order;
// only the waiting is shorter.
//
// Downloads run ahead as far as a budget of bytes held allows, not a number
// of positions: a server that never answers holds one transfer, while the
// others go on downloading the users behind it. The bodies of finished
// downloads not yet asked for, and of those still arriving, count against
// the budget; a body that would pass it waits, paused, until the run has
// taken enough texts. Only the download the run waits for never waits for
// the budget.
//
// Every download runs through the same exchanges, checks, limits and
// messages as the one-at-a-time client's. The transfers share one connection
// cache and HTTP/2 streams share a connection where a TLS server offers it.
// At most `host_connections` transfers run to one host (scheme, host and
// port); downloads beyond that wait in the client, their time limits not yet
// running, until one of the host's transfers ends. Only the download the run
// waits for may go beyond it, by one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "freebusy/download.h"
#include "freebusy/text_source.h"

// How many downloads the run keeps in flight: the setting HarvestConcurrency,
// 1 (one at a time) to kMaxHarvestConcurrency.
constexpr int kDefaultHarvestConcurrency = 8;
constexpr int kMaxHarvestConcurrency = 256;

// The most HarvestAheadBytes may say: 16 GiB.
constexpr std::uint64_t kMaxHarvestAheadBytes = std::uint64_t{16} << 30;

// How downloads run ahead: the settings HarvestConcurrency,
// HarvestAheadBytes and HarvestHostConnections.
struct AheadSettings {
  int concurrency = kDefaultHarvestConcurrency;
  std::uint64_t ahead_bytes = std::uint64_t{64} << 20;  // bodies held at once
  int host_connections = 8;                             // connections to one host
};

class PrefetchClient final : public TextSource {
 public:
  // `concurrency` and `host_connections` are clamped to 1 ..
  // kMaxHarvestConcurrency.
  explicit PrefetchClient(const AheadSettings& settings, const FetchLimits& limits = FetchLimits());
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

  // Bytes counted against the budget now: for tests.
  std::uint64_t HeldBytes() const;

  // Get, then prints the messages and hands over the body.
  int FetchUrl(std::string& freetimedata, const char* url) override;
  FetchFacts LastFetch() const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The run's source of free/busy texts: the one-at-a-time client for a
// concurrency of 1, the fetch-ahead client above.
std::unique_ptr<TextSource> MakeHttpSource(const AheadSettings& settings,
                                           const FetchLimits& limits = FetchLimits());
