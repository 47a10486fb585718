// The fetch-ahead client on libcurl's multi interface. Everything runs on the
// caller's thread: transfers advance only inside Get, which drives them all
// until the download asked for has ended, so no lock is needed and nothing is
// printed out of turn.
//
// The expected URLs stand in a queue in the order announced; the downloads
// that have been started are always its first entries, at most `window` of
// them. A download keeps its easy handle only while one of its exchanges is
// being transferred; the handles are reused, and the connections stay in the
// multi handle's cache between transfers.
//
// Between two Get calls nobody drives the transfers, yet libcurl's clocks of
// the time-outs keep running. A transfer left that way through a long stretch
// of the caller's own work (a database waiting for another process's lock)
// could end as timed out although its answer had come in: libcurl looks at
// the clocks before it reads. The one-at-a-time client starts each download
// only when it is asked for, so that time never counts against it. A download
// that times out at the first advance after such a stretch is therefore not
// taken as failed: it starts again from scratch, as the one-at-a-time client
// would have started it.
#include "freebusy/prefetch_client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>

#include "freebusy/http_transfer.h"

namespace {

// Longest single wait for network activity; libcurl shortens it when one of
// its own timers (a time-out) falls due sooner.
constexpr int kPollMs = 1000;

using Clock = std::chrono::steady_clock;

// A stretch without driving longer than this may have timed a transfer out
// that would have succeeded; between two users the run normally leaves the
// transfers alone for well under a millisecond.
constexpr auto kUndrivenStretch = std::chrono::milliseconds(200);

// One expected download.
struct Slot {
  std::string url;
  std::unique_ptr<DownloadChain> chain;  // from the start of the download on
  CURL* hCurl = nullptr;                 // while an exchange is being transferred

  bool Started() const { return chain != nullptr; }
  bool Ended() const { return chain != nullptr && !chain->Pending(); }
};

}  // namespace

struct PrefetchClient::Impl {
  FetchLimits limits;
  std::size_t window = 1;
  CURLM* hMulti = nullptr;
  std::deque<std::unique_ptr<Slot>> slots;
  std::vector<CURL*> idle;  // easy handles between transfers
  Clock::time_point last_driven;  // the end of the last curl_multi_perform
  bool after_stretch = false;     // in the first advance after a long undriven stretch

  ~Impl();
  void Start(Slot& slot);
  void Transfer(Slot& slot, CURL* hCurl);
  void Release(Slot& slot);
  void Abandon(Slot& slot);
  void TopUp();
  void OnDone(CURL* hCurl, CURLcode code);
  void Drive(Slot& awaited);
};

PrefetchClient::Impl::~Impl() {
  for (auto& slot : slots) Release(*slot);
  for (CURL* hCurl : idle) curl_easy_cleanup(hCurl);
  if (hMulti != nullptr) curl_multi_cleanup(hMulti);
}

void PrefetchClient::Impl::Start(Slot& slot) {
  slot.chain = std::make_unique<DownloadChain>(slot.url.c_str(), limits);
  if (!slot.chain->Pending()) return;  // a refused URL ends at once
  CURL* hCurl = nullptr;
  if (!idle.empty()) {
    hCurl = idle.back();
    idle.pop_back();
  } else if (hMulti != nullptr) {
    hCurl = curl_easy_init();
  }
  if (hCurl == nullptr) return slot.chain->FailToStart();
  Transfer(slot, hCurl);
}

// Runs the chain's next exchange on `hCurl`, or gives the handle back when
// the chain ends instead.
void PrefetchClient::Impl::Transfer(Slot& slot, CURL* hCurl) {
  if (!slot.chain->Prepare(hCurl)) {
    idle.push_back(hCurl);
    return;
  }
  curl_easy_setopt(hCurl, CURLOPT_PRIVATE, &slot);
  if (curl_multi_add_handle(hMulti, hCurl) != CURLM_OK) {
    slot.chain->FailToStart();
    idle.push_back(hCurl);
    return;
  }
  slot.hCurl = hCurl;
}

// Ends a running transfer without its outcome; the handle is reused.
void PrefetchClient::Impl::Release(Slot& slot) {
  if (slot.hCurl == nullptr) return;
  curl_multi_remove_handle(hMulti, slot.hCurl);
  idle.push_back(slot.hCurl);
  slot.hCurl = nullptr;
}

// Takes a download back to not started, whatever it had received.
void PrefetchClient::Impl::Abandon(Slot& slot) {
  Release(slot);
  slot.chain.reset();
}

void PrefetchClient::Impl::TopUp() {
  std::size_t started = 0;
  for (auto& slot : slots) {
    if (!slot->Started()) {
      if (started >= window) break;
      Start(*slot);
    }
    ++started;
  }
}

void PrefetchClient::Impl::OnDone(CURL* hCurl, CURLcode code) {
  Slot* slot = nullptr;
  curl_easy_getinfo(hCurl, CURLINFO_PRIVATE, &slot);
  curl_multi_remove_handle(hMulti, hCurl);
  slot->hCurl = nullptr;
  if (after_stretch && code == CURLE_OPERATION_TIMEDOUT) {
    idle.push_back(hCurl);
    slot->chain.reset();  // started again in its turn
    return;
  }
  slot->chain->Complete(hCurl, code);
  if (!slot->chain->Pending()) {
    idle.push_back(hCurl);
    return;
  }
  Transfer(*slot, hCurl);  // the redirect's exchange
  // Not started: the whole download's time limit ran out, which may be the
  // stretch's doing too.
  if (after_stretch && slot->hCurl == nullptr) slot->chain.reset();
}

// Advances every transfer at least once, even when the awaited download has
// already ended. libcurl keeps the clocks of the time-outs running while
// nobody drives a transfer, and checks them before it looks at what arrived
// meanwhile: a download left undriven through several users' database work
// would time out although its answer was waiting, where the one-at-a-time
// client, which starts it only then, succeeds.
void PrefetchClient::Impl::Drive(Slot& awaited) {
  after_stretch = Clock::now() - last_driven > kUndrivenStretch;
  for (;;) {
    int running = 0;
    const CURLMcode performed = curl_multi_perform(hMulti, &running);
    last_driven = Clock::now();
    if (performed != CURLM_OK) {
      // The multi handle itself failed (out of memory): nothing it holds
      // can be relied on to finish.
      after_stretch = false;
      if (!awaited.Started()) Start(awaited);
      if (!awaited.Ended()) {
        Release(awaited);
        awaited.chain->FailToStart();
      }
      return;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(hMulti, &queued)) {
      if (message->msg == CURLMSG_DONE) OnDone(message->easy_handle, message->data.result);
    }
    after_stretch = false;
    if (!awaited.Started()) Start(awaited);  // timed out by the stretch: once more
    if (awaited.Ended()) return;
    curl_multi_poll(hMulti, nullptr, 0, kPollMs, nullptr);
  }
}

PrefetchClient::PrefetchClient(int concurrency, const FetchLimits& limits)
    : impl_(std::make_unique<Impl>()) {
  impl_->limits = limits;
  impl_->window = static_cast<std::size_t>(std::clamp(concurrency, 1, kMaxHarvestConcurrency));
  if (CurlReady()) impl_->hMulti = curl_multi_init();
}

PrefetchClient::~PrefetchClient() = default;

void PrefetchClient::Expect(std::vector<std::string> urls) {
  for (std::string& url : urls) {
    auto slot = std::make_unique<Slot>();
    slot->url = std::move(url);
    impl_->slots.push_back(std::move(slot));
  }
  impl_->TopUp();
}

Download PrefetchClient::Get(const char* url) {
  const std::string strUrl = url != nullptr ? url : "";
  auto& slots = impl_->slots;
  auto found = std::find_if(slots.begin(), slots.end(),
                            [&strUrl](const auto& slot) { return slot->url == strUrl; });
  if (found == slots.end()) {
    auto slot = std::make_unique<Slot>();
    slot->url = strUrl;
    slots.push_front(std::move(slot));
    // The newcomer takes a place in the window: the download it pushes out
    // of it is dropped and started again when its turn comes, so no more
    // than `window` are ever held.
    if (slots.size() > impl_->window) impl_->Abandon(*slots[impl_->window]);
  } else {
    const Slot* wanted = found->get();
    while (slots.front().get() != wanted) {
      impl_->Release(*slots.front());
      slots.pop_front();
    }
  }

  Slot& head = *slots.front();
  if (!head.Started()) impl_->Start(head);
  impl_->TopUp();
  impl_->Drive(head);
  Download download = head.chain->Take();
  slots.pop_front();
  return download;
}

int PrefetchClient::FetchUrl(std::string& freetimedata, const char* url) {
  Download download = Get(url);
  std::fputs(download.messages.c_str(), stdout);
  if (download.result == 1) freetimedata += download.body;
  return download.result;
}

std::unique_ptr<TextSource> MakeHttpSource(int concurrency, const FetchLimits& limits) {
  if (concurrency <= 1) return std::make_unique<HttpClient>(limits);
  return std::make_unique<PrefetchClient>(concurrency, limits);
}
