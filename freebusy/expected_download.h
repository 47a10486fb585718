// One download the fetch-ahead client (freebusy/prefetch_client.h) expects,
// from the moment its URL is announced until the run takes its text. The
// transfers (freebusy/ahead_transfers.h), the host queue and the budget all
// keep pointers to it, so it stays where it is while it is expected.
// Internal to freebusy/.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "freebusy/download.h"
#include "freebusy/http_transfer.h"

class AheadBudget;

// What a started download costs besides its body: the chain with its
// buffers while it runs, the outcome and its messages once it ended. Counted
// against the budget, so tiny bodies cannot pile up without end.
constexpr std::uint64_t kExpectedDownloadOverhead = 1024;

struct ExpectedDownload final : BodyBudget {
  std::string url;
  std::string host;  // the origin whose connections it uses
  bool started = false;
  bool waiting_for_host = false;  // started, but the host has no connection free
  std::unique_ptr<DownloadChain> chain;  // from the start of the download to its end
  Download outcome;                      // once it ended
  CURL* easy = nullptr;                  // while an exchange is being transferred
  AheadBudget* budget = nullptr;         // asked before the body grows, from the start
  bool paused = false;                   // waiting for the budget
  std::uint64_t charge = 0;              // bytes counted against the budget

  bool Ended() const { return started && !waiting_for_host && chain == nullptr; }
  bool Admit(std::size_t body_bytes) override;  // freebusy/ahead_budget.cc
};
