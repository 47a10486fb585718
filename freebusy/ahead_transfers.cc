// A download keeps its easy handle only while one of its exchanges is being
// transferred; the handles are reused, and the connections stay in the multi
// handle's cache. HTTP/2 streams share a connection where a TLS server
// offers it.
//
// Between two Advance calls nobody drives the transfers, yet libcurl's clocks
// of the time-outs keep running, and libcurl looks at them before it reads
// what arrived meanwhile. A transfer left that way through a long stretch of
// the caller's own work (a database waiting for another process's lock) could
// end as timed out although its answer had come in. The one-at-a-time client
// starts each download only when it is asked for, so that time never counts
// against it. A download that times out at the first advance after such a
// stretch is therefore not taken as failed: it starts again from scratch, as
// the one-at-a-time client would have started it.
#include "freebusy/ahead_transfers.h"

#include <algorithm>

namespace {

// Longest single wait for network activity; libcurl shortens it when one of
// its own timers (a time-out) falls due sooner.
constexpr auto kPoll = std::chrono::milliseconds(1000);

// A stretch without driving longer than this may have timed a transfer out
// that would have succeeded; between two users the run normally leaves the
// transfers alone for well under a millisecond.
constexpr auto kUndrivenStretch = std::chrono::milliseconds(200);

}  // namespace

AheadTransfers::AheadTransfers(const FetchLimits& limits, std::uint64_t budget_bytes,
                               int host_limit)
    : limits_(limits), budget_(budget_bytes), hosts_(host_limit) {
  if (CurlReady()) multi_ = curl_multi_init();
  if (multi_ != nullptr) {
    curl_multi_setopt(multi_, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
  }
}

AheadTransfers::~AheadTransfers() {
  for (CURL* easy : idle_) curl_easy_cleanup(easy);
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

void AheadTransfers::Start(ExpectedDownload& download) {
  download.started = true;
  if (download.host.empty()) download.host = HostQueue::OriginOf(download.url);
  if (&download != awaited_ && hosts_.Full(download.host)) {
    hosts_.Wait(download);
    budget_.Charge(download, kExpectedDownloadOverhead);
    return;
  }
  Begin(download);
}

// Starts the downloads queued for a host that now has a connection free, in
// the order they queued; those whose host is still busy queue again.
void AheadTransfers::StartWaitingForHost() {
  for (ExpectedDownload* download : hosts_.TakeWaiting()) Start(*download);
}

// An idle easy handle, or a new one; null when none can be had.
CURL* AheadTransfers::TakeHandle() {
  if (idle_.empty()) return multi_ != nullptr ? curl_easy_init() : nullptr;
  CURL* easy = idle_.back();
  idle_.pop_back();
  return easy;
}

void AheadTransfers::Begin(ExpectedDownload& download) {
  download.chain = std::make_unique<DownloadChain>(download.url.c_str(), limits_);
  download.budget = &budget_;
  download.chain->SetBudget(&download);
  budget_.Charge(download, kExpectedDownloadOverhead);
  if (!download.chain->Pending()) return Finish(download);  // a refused URL ends at once
  CURL* easy = TakeHandle();
  if (easy == nullptr) {
    download.chain->FailToStart();
    return Finish(download);
  }
  Transfer(download, easy);
}

// Runs the chain's next exchange on `easy`; gives the handle back when the
// chain ends instead or must wait for a server's Retry-After.
void AheadTransfers::Transfer(ExpectedDownload& download, CURL* easy) {
  budget_.Charge(download, kExpectedDownloadOverhead);  // a new exchange starts a new body
  if (download.chain->NotBefore() > Clock::now()) {
    idle_.push_back(easy);
    retrying_.push_back(&download);
    return;
  }
  if (!download.chain->Prepare(easy)) {
    idle_.push_back(easy);
    return Finish(download);
  }
  curl_easy_setopt(easy, CURLOPT_PRIVATE, &download);
  if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
    download.chain->FailToStart();
    idle_.push_back(easy);
    return Finish(download);
  }
  download.easy = easy;
  ++running_;
  hosts_.Opened(download.host);
}

// Takes a download's transfer out of the multi handle and returns its handle
// (null when none was running).
CURL* AheadTransfers::Detach(ExpectedDownload& download) {
  budget_.Unpause(download);
  CURL* easy = download.easy;
  if (easy == nullptr) return nullptr;
  curl_multi_remove_handle(multi_, easy);
  download.easy = nullptr;
  --running_;
  hosts_.Closed(download.host);
  return easy;
}

// Ends a running transfer without its outcome; the handle is reused.
void AheadTransfers::Release(ExpectedDownload& download) {
  if (CURL* easy = Detach(download)) idle_.push_back(easy);
}

// Keeps the outcome of a chain that ended and lets the chain go.
void AheadTransfers::Finish(ExpectedDownload& download) {
  download.outcome = download.chain->Take();
  download.chain.reset();
  budget_.Charge(download, kExpectedDownloadOverhead + download.outcome.body.capacity() +
                               download.outcome.messages.size());
}

void AheadTransfers::Drop(ExpectedDownload& download) {
  Release(download);
  std::erase(retrying_, &download);
  hosts_.Remove(download);
  budget_.Charge(download, 0);
}

bool AheadTransfers::RoomForAnother(std::size_t window) const {
  return running_ < window && hosts_.Waiting() < window &&
         budget_.HasRoomFor(kExpectedDownloadOverhead);
}

void AheadTransfers::StartDueRetries() {
  const Clock::time_point now = Clock::now();
  std::vector<ExpectedDownload*> waiting;
  waiting.swap(retrying_);
  for (ExpectedDownload* download : waiting) {
    if (download->chain->NotBefore() > now) {
      retrying_.push_back(download);
      continue;
    }
    CURL* easy = TakeHandle();
    if (easy == nullptr) {
      download->chain->FailToStart();
      Finish(*download);
      continue;
    }
    Transfer(*download, easy);
  }
}

void AheadTransfers::OnDone(CURL* easy, CURLcode code) {
  ExpectedDownload* download = nullptr;
  curl_easy_getinfo(easy, CURLINFO_PRIVATE, &download);
  Detach(*download);
  if (after_stretch_ && code == CURLE_OPERATION_TIMEDOUT) {
    idle_.push_back(easy);
    return Start(*download);
  }
  download->chain->Complete(easy, code);
  if (!download->chain->Pending()) {
    idle_.push_back(easy);
    return Finish(*download);
  }
  Transfer(*download, easy);  // the redirect's or the retry's exchange
  // Ended at once: the whole download's time limit ran out, which may be the
  // stretch's doing too.
  if (after_stretch_ && download->Ended() && download->outcome.result != 1) Start(*download);
}

// How long Poll may wait for network activity: less when a retry falls due
// sooner.
AheadTransfers::Clock::duration AheadTransfers::NextWait() const {
  Clock::duration wait = kPoll;
  const Clock::time_point now = Clock::now();
  for (const ExpectedDownload* download : retrying_)
    wait = std::min<Clock::duration>(wait, std::max(download->chain->NotBefore() - now,
                                                    Clock::duration::zero()));
  return wait;
}

void AheadTransfers::BeginWait(ExpectedDownload& awaited) {
  awaited_ = &awaited;
  budget_.SetAwaited(&awaited);
  // The download waited for never waits for its host either: the host's
  // transfers may be paused for the budget until this one has ended.
  if (awaited.waiting_for_host) {
    hosts_.Remove(awaited);
    Start(awaited);
  }
  if (awaited.paused) budget_.Resume(awaited);
  after_stretch_ = Clock::now() - last_driven_ > kUndrivenStretch;
}

void AheadTransfers::EndWait() {
  awaited_ = nullptr;
  budget_.SetAwaited(nullptr);
}

bool AheadTransfers::Advance() {
  int still_running = 0;
  const CURLMcode performed = curl_multi_perform(multi_, &still_running);
  last_driven_ = Clock::now();
  if (performed != CURLM_OK) {
    // The multi handle itself failed (out of memory): nothing it holds can
    // be relied on to finish.
    after_stretch_ = false;
    if (awaited_ != nullptr && !awaited_->Ended()) {
      Release(*awaited_);
      std::erase(retrying_, awaited_);
      awaited_->chain->FailToStart();
      Finish(*awaited_);
    }
    return false;
  }
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
    if (message->msg == CURLMSG_DONE) OnDone(message->easy_handle, message->data.result);
  }
  after_stretch_ = false;
  StartDueRetries();
  StartWaitingForHost();
  return true;
}

void AheadTransfers::Poll() {
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(NextWait());
  curl_multi_poll(multi_, nullptr, 0, static_cast<int>(wait.count()), nullptr);
}
