// One free/busy download as a chain of HTTP exchanges: the configured URL,
// then each redirect. Shared by the one-at-a-time client (http_client.cc) and
// the fetch-ahead client (ahead_transfers.cc), so both apply the very same
// URL checks, limits, redirect rules and messages.
//
// A chain never runs a transfer itself: it sets up a libcurl easy handle for
// its next exchange and reads the handle's result once the transfer ended,
// and the caller runs the transfer in between, with curl_easy_perform or in a
// multi handle. The chain holds the libcurl callbacks' state, so it must stay
// where it is while a transfer runs. Internal to freebusy/.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <string>

#include "freebusy/download.h"
#include "freebusy/http_url.h"

// libcurl's process-wide set-up, run once before the first handle; false
// when it failed.
bool CurlReady();

// Where a chain asks before it keeps more of a 2xx body: the fetch-ahead
// client holds many bodies at once and bounds their bytes together.
class BodyBudget {
 public:
  // True when the body may grow to `body_bytes` (the whole announced
  // Content-Length at the first byte, when there is one); false pauses the
  // transfer until the caller resumes it.
  virtual bool Admit(std::size_t body_bytes) = 0;

 protected:
  ~BodyBudget() = default;
};

class DownloadChain {
 public:
  // Checks `url` and starts the clock of the overall limit. A refused URL
  // ends the chain at once with its message.
  DownloadChain(const char* url, const FetchLimits& limits);
  DownloadChain(const DownloadChain&) = delete;
  DownloadChain& operator=(const DownloadChain&) = delete;

  // True while an exchange is still to be made.
  bool Pending() const { return pending_; }

  // The earliest moment for the next exchange: after a 429 or 503 answer
  // with a short Retry-After, the time the server asked for.
  std::chrono::steady_clock::time_point NotBefore() const { return not_before_; }

  // Asks `budget` before the body grows; null (the default) keeps every body.
  void SetBudget(BodyBudget* budget) { budget_ = budget; }

  // Sets up `easy` (reset first) for the next exchange. False when the
  // overall limit is used up; the chain has then ended with its message.
  bool Prepare(CURL* easy);

  // Reads the outcome of the exchange that `easy` ended with `code`: either
  // the chain ends (a whole 2xx body, or a failure with its message) or the
  // redirect becomes the next exchange.
  void Complete(CURL* easy, CURLcode code);

  // Ends the chain as a download whose transfer could not be started.
  void FailToStart();

  // The outcome, once the chain has ended.
  Download Take() { return std::move(download_); }

 private:
  enum class Abort { kNone, kTooLarge, kZeroByte, kHeaders };

  // The state of one request and response, shared with libcurl's callbacks.
  struct Exchange {
    CURL* easy = nullptr;
    std::size_t max_body = 0;
    BodyBudget* budget = nullptr;
    std::string body;           // the body of a 2xx response
    std::size_t admitted = 0;   // body bytes the budget agreed to
    std::size_t body_seen = 0;  // every body byte received, kept or not
    std::size_t header_lines = 0;
    std::size_t header_bytes = 0;
    bool headers_ended = false;    // the blank line after the headers arrived
    std::string content_encoding;  // a coding other than identity, escaped and cut short
    std::string retry_after;       // as sent, cut short
    Abort abort = Abort::kNone;
    char errbuf[CURL_ERROR_SIZE] = {};
  };

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* context);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* context);
  std::string FailureOf(CURLcode code, long status) const;
  bool RetryLater(CURLcode code, long status);
  std::string Reason(CURLcode code) const;
  void End(std::string messages);

  FetchLimits limits_;
  std::chrono::steady_clock::time_point deadline_;
  FetchTarget first_;
  FetchTarget target_;
  std::string host_;  // the current target's host, quoted and printable
  bool secure_ = false;
  long redirects_ = 0;
  bool pending_ = false;
  bool retried_ = false;
  std::chrono::steady_clock::time_point not_before_;
  BodyBudget* budget_ = nullptr;
  Exchange exchange_;
  Download download_;
};
