// The transfers of the fetch-ahead client on one libcurl multi handle, on the
// caller's thread: they advance only while the caller drives them (Advance),
// so no lock is needed. Each expected download runs through the same
// exchanges, checks, limits and messages as the one-at-a-time client's
// (freebusy/http_transfer.h) and keeps its outcome once it ended. Which
// downloads start, and when their texts are handed out, is the client's
// (freebusy/prefetch_client.cc). Internal to freebusy/.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "freebusy/ahead_budget.h"
#include "freebusy/download.h"
#include "freebusy/expected_download.h"
#include "freebusy/host_queue.h"

class AheadTransfers {
 public:
  // Bodies held together are bounded by `budget_bytes`, transfers to one
  // host by `host_limit`.
  AheadTransfers(const FetchLimits& limits, std::uint64_t budget_bytes, int host_limit);
  ~AheadTransfers();
  AheadTransfers(const AheadTransfers&) = delete;
  AheadTransfers& operator=(const AheadTransfers&) = delete;

  // Begins `download` from scratch, or queues it until its host has a
  // connection free.
  void Start(ExpectedDownload& download);
  // Forgets a download that leaves the queue, running or not.
  void Drop(ExpectedDownload& download);

  // True while another download may start: fewer than `window` transfers
  // run, no more than `window` wait for their hosts, and the budget has room.
  bool RoomForAnother(std::size_t window) const;
  std::uint64_t Held() const { return budget_.Held(); }

  // `awaited` is the download the caller waits for until EndWait: it never
  // waits for its host or the budget.
  void BeginWait(ExpectedDownload& awaited);
  void EndWait();
  // Advances every transfer once, keeps the outcomes of those that ended and
  // starts the retries and queued downloads now due. False when the multi
  // handle itself failed; the awaited download has then ended as failed.
  bool Advance();
  // Waits for network activity, no longer than until a retry falls due.
  void Poll();
  // Lets the transfers paused for the budget go on (after texts were taken).
  void ResumePaused() { budget_.ResumeAll(); }

 private:
  using Clock = std::chrono::steady_clock;

  CURL* TakeHandle();
  void Begin(ExpectedDownload& download);
  void Transfer(ExpectedDownload& download, CURL* easy);
  CURL* Detach(ExpectedDownload& download);
  void Release(ExpectedDownload& download);
  void Finish(ExpectedDownload& download);
  void StartDueRetries();
  void StartWaitingForHost();
  void OnDone(CURL* easy, CURLcode code);
  Clock::duration NextWait() const;

  FetchLimits limits_;
  AheadBudget budget_;
  HostQueue hosts_;
  CURLM* multi_ = nullptr;
  std::size_t running_ = 0;                  // downloads with an easy handle in multi_
  std::vector<ExpectedDownload*> retrying_;  // waiting for a server's Retry-After
  std::vector<CURL*> idle_;                  // easy handles between transfers
  ExpectedDownload* awaited_ = nullptr;
  Clock::time_point last_driven_;  // the end of the last curl_multi_perform
  bool after_stretch_ = false;     // in the first advance after a long undriven stretch
};
