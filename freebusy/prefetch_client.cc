// The fetch-ahead client on libcurl's multi interface. Everything runs on the
// caller's thread: transfers advance only inside Get, which drives them all
// until the download asked for has ended, so no lock is needed and nothing is
// printed out of turn.
//
// The expected URLs stand in a queue in the order announced. Downloads start
// in that order, so the started ones are always the queue's first entries:
// those that ended wait there with their outcome until the run asks, and up
// to `window` transfers run behind them. A download keeps its easy handle
// only while one of its exchanges is being transferred; the handles are
// reused, and the connections stay in the multi handle's cache.
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
#include <deque>
#include <unordered_map>

#include "freebusy/http_client.h"
#include "freebusy/http_transfer.h"
#include "freebusy/http_url.h"

namespace {

// Longest single wait for network activity; libcurl shortens it when one of
// its own timers (a time-out) falls due sooner.
constexpr auto kPoll = std::chrono::milliseconds(1000);

using Clock = std::chrono::steady_clock;

// A stretch without driving longer than this may have timed a transfer out
// that would have succeeded; between two users the run normally leaves the
// transfers alone for well under a millisecond.
constexpr auto kUndrivenStretch = std::chrono::milliseconds(200);

// What a started download costs besides its body: the chain with its
// buffers while it runs, the outcome and its messages once it ended. Counted
// against the budget, so tiny bodies cannot pile up without end.
constexpr std::uint64_t kSlotOverhead = 1024;

// One expected download.
struct Slot final : BodyBudget {
  PrefetchClient::Impl* owner = nullptr;  // holds the budget
  std::string url;
  std::string host;  // the origin whose connections it uses
  bool started = false;
  bool waiting_for_host = false;  // started, but the host has no connection free
  std::unique_ptr<DownloadChain> chain;  // from the start of the download to its end
  Download outcome;                      // once it ended
  CURL* hCurl = nullptr;                 // while an exchange is being transferred
  bool paused = false;                   // waiting for the budget
  std::uint64_t charge = 0;              // bytes counted against the budget

  bool Ended() const { return started && !waiting_for_host && chain == nullptr; }
  bool Admit(std::size_t body_bytes) override;
};

}  // namespace

struct PrefetchClient::Impl {
  FetchLimits limits;
  std::size_t window = 1;
  int host_limit = 1;
  std::uint64_t budget = 0;
  CURLM* hMulti = nullptr;
  std::deque<std::unique_ptr<Slot>> slots;
  std::size_t started = 0;       // the queue's first `started` entries have been started
  std::size_t running = 0;       // slots with an easy handle in the multi handle
  std::uint64_t held = 0;        // the sum of the slots' charges
  std::vector<Slot*> paused;     // in the order they paused
  std::vector<Slot*> retrying;   // waiting for a server's Retry-After
  std::vector<CURL*> idle;       // easy handles between transfers
  // Downloads wait here, not in libcurl's own queue, for a connection to
  // their host: libcurl counts a queued transfer's time against its
  // time-outs, so a busy host would fail downloads that never started.
  std::vector<Slot*> host_queue;
  std::unordered_map<std::string, int> host_transfers;  // running, per host
  const Slot* awaited = nullptr;  // the download Get waits for: never paused
  Clock::time_point last_driven;  // the end of the last curl_multi_perform
  bool after_stretch = false;     // in the first advance after a long undriven stretch
  FetchFacts last;                // of the download last handed out

  ~Impl();
  void Recharge(Slot& slot, std::uint64_t charge);
  void Start(Slot& slot);
  void Begin(Slot& slot);
  void StartWaitingForHost();
  void Transfer(Slot& slot, CURL* hCurl);
  CURL* Detach(Slot& slot);
  void Release(Slot& slot);
  void Finish(Slot& slot);
  void Drop(Slot& slot);
  void ResumePaused();
  void TopUp();
  void StartDueRetries();
  void OnDone(CURL* hCurl, CURLcode code);
  void Drive(Slot& awaited_slot);
  Clock::duration NextWait() const;
};

bool Slot::Admit(std::size_t body_bytes) {
  const std::uint64_t wanted = kSlotOverhead + body_bytes;
  if (wanted <= charge) return true;
  if (this != owner->awaited && owner->held - charge + wanted > owner->budget) {
    if (!paused) owner->paused.push_back(this);
    paused = true;
    return false;
  }
  owner->Recharge(*this, wanted);
  return true;
}

PrefetchClient::Impl::~Impl() {
  for (auto& slot : slots) Release(*slot);
  for (CURL* hCurl : idle) curl_easy_cleanup(hCurl);
  if (hMulti != nullptr) curl_multi_cleanup(hMulti);
}

void PrefetchClient::Impl::Recharge(Slot& slot, std::uint64_t charge) {
  held = held - slot.charge + charge;
  slot.charge = charge;
}

// Begins `slot`'s download from scratch, or queues it until its host has a
// connection free.
void PrefetchClient::Impl::Start(Slot& slot) {
  slot.started = true;
  if (slot.host.empty()) {
    FetchTarget target;
    std::string reason;
    slot.host = CheckFetchUrl(slot.url.c_str(), target, reason) ? target.origin : slot.url;
  }
  if (&slot != awaited && host_transfers[slot.host] >= host_limit) {
    slot.waiting_for_host = true;
    host_queue.push_back(&slot);
    Recharge(slot, kSlotOverhead);
    return;
  }
  Begin(slot);
}

// Starts the downloads queued for a host that now has a connection free, in
// the order they queued.
void PrefetchClient::Impl::StartWaitingForHost() {
  std::vector<Slot*> waiting;
  waiting.swap(host_queue);
  for (Slot* slot : waiting) {
    slot->waiting_for_host = false;
    Start(*slot);
  }
}

void PrefetchClient::Impl::Begin(Slot& slot) {
  slot.chain = std::make_unique<DownloadChain>(slot.url.c_str(), limits);
  slot.chain->SetBudget(&slot);
  Recharge(slot, kSlotOverhead);
  if (!slot.chain->Pending()) return Finish(slot);  // a refused URL ends at once
  CURL* hCurl = nullptr;
  if (!idle.empty()) {
    hCurl = idle.back();
    idle.pop_back();
  } else if (hMulti != nullptr) {
    hCurl = curl_easy_init();
  }
  if (hCurl == nullptr) {
    slot.chain->FailToStart();
    return Finish(slot);
  }
  Transfer(slot, hCurl);
}

// Runs the chain's next exchange on `hCurl`; gives the handle back when the
// chain ends instead or must wait for a server's Retry-After.
void PrefetchClient::Impl::Transfer(Slot& slot, CURL* hCurl) {
  Recharge(slot, kSlotOverhead);  // a new exchange starts a new body
  if (slot.chain->NotBefore() > Clock::now()) {
    idle.push_back(hCurl);
    retrying.push_back(&slot);
    return;
  }
  if (!slot.chain->Prepare(hCurl)) {
    idle.push_back(hCurl);
    return Finish(slot);
  }
  curl_easy_setopt(hCurl, CURLOPT_PRIVATE, &slot);
  if (curl_multi_add_handle(hMulti, hCurl) != CURLM_OK) {
    slot.chain->FailToStart();
    idle.push_back(hCurl);
    return Finish(slot);
  }
  slot.hCurl = hCurl;
  ++running;
  ++host_transfers[slot.host];
}

// Takes a slot's transfer out of the multi handle and returns its handle
// (null when none was running).
CURL* PrefetchClient::Impl::Detach(Slot& slot) {
  std::erase(paused, &slot);
  slot.paused = false;
  CURL* hCurl = slot.hCurl;
  if (hCurl == nullptr) return nullptr;
  curl_multi_remove_handle(hMulti, hCurl);
  slot.hCurl = nullptr;
  --running;
  if (--host_transfers[slot.host] == 0) host_transfers.erase(slot.host);
  return hCurl;
}

// Ends a running transfer without its outcome; the handle is reused.
void PrefetchClient::Impl::Release(Slot& slot) {
  if (CURL* hCurl = Detach(slot)) idle.push_back(hCurl);
}

// Keeps the outcome of a chain that ended and lets the chain go.
void PrefetchClient::Impl::Finish(Slot& slot) {
  slot.outcome = slot.chain->Take();
  slot.chain.reset();
  Recharge(slot, kSlotOverhead + slot.outcome.body.capacity() + slot.outcome.messages.size());
}

// Forgets a slot that leaves the queue.
void PrefetchClient::Impl::Drop(Slot& slot) {
  Release(slot);
  std::erase(retrying, &slot);
  std::erase(host_queue, &slot);
  slot.waiting_for_host = false;
  Recharge(slot, 0);
}

// Lets paused bodies go on, in the order they paused; those still over the
// budget pause again at their next bytes.
void PrefetchClient::Impl::ResumePaused() {
  std::vector<Slot*> waiting;
  waiting.swap(paused);
  for (Slot* slot : waiting) {
    slot->paused = false;
    curl_easy_pause(slot->hCurl, CURLPAUSE_CONT);
  }
}

// Starts the next downloads in line while fewer than `window` run, no more
// than `window` wait for their hosts, and the budget has room for one more.
void PrefetchClient::Impl::TopUp() {
  while (running < window && host_queue.size() < window && started < slots.size() &&
         held + kSlotOverhead <= budget) {
    Start(*slots[started]);
    ++started;
  }
}

void PrefetchClient::Impl::StartDueRetries() {
  const Clock::time_point now = Clock::now();
  std::vector<Slot*> waiting;
  waiting.swap(retrying);
  for (Slot* slot : waiting) {
    if (slot->chain->NotBefore() > now) {
      retrying.push_back(slot);
      continue;
    }
    CURL* hCurl = !idle.empty() ? idle.back() : curl_easy_init();
    if (!idle.empty()) idle.pop_back();
    if (hCurl == nullptr) {
      slot->chain->FailToStart();
      Finish(*slot);
      continue;
    }
    Transfer(*slot, hCurl);
  }
}

void PrefetchClient::Impl::OnDone(CURL* hCurl, CURLcode code) {
  Slot* slot = nullptr;
  curl_easy_getinfo(hCurl, CURLINFO_PRIVATE, &slot);
  Detach(*slot);
  if (after_stretch && code == CURLE_OPERATION_TIMEDOUT) {
    idle.push_back(hCurl);
    return Start(*slot);
  }
  slot->chain->Complete(hCurl, code);
  if (!slot->chain->Pending()) {
    idle.push_back(hCurl);
    return Finish(*slot);
  }
  Transfer(*slot, hCurl);  // the redirect's or the retry's exchange
  // Ended at once: the whole download's time limit ran out, which may be the
  // stretch's doing too.
  if (after_stretch && slot->Ended() && slot->outcome.result != 1) Start(*slot);
}

// How long the loop may wait for network activity: less when a retry falls
// due sooner.
Clock::duration PrefetchClient::Impl::NextWait() const {
  Clock::duration wait = kPoll;
  const Clock::time_point now = Clock::now();
  for (const Slot* slot : retrying)
    wait = std::min<Clock::duration>(wait, std::max(slot->chain->NotBefore() - now,
                                                    Clock::duration::zero()));
  return wait;
}

// Advances every transfer at least once, even when the awaited download has
// already ended. libcurl keeps the clocks of the time-outs running while
// nobody drives a transfer, and checks them before it looks at what arrived
// meanwhile: a download left undriven through several users' database work
// would time out although its answer was waiting, where the one-at-a-time
// client, which starts it only then, succeeds.
void PrefetchClient::Impl::Drive(Slot& awaited_slot) {
  awaited = &awaited_slot;
  // The download waited for never waits for its host either: the host's
  // transfers may be paused for the budget until this one has ended.
  if (awaited_slot.waiting_for_host) {
    std::erase(host_queue, &awaited_slot);
    awaited_slot.waiting_for_host = false;
    Start(awaited_slot);
  }
  if (awaited_slot.paused) {
    std::erase(paused, &awaited_slot);
    awaited_slot.paused = false;
    curl_easy_pause(awaited_slot.hCurl, CURLPAUSE_CONT);
  }
  after_stretch = Clock::now() - last_driven > kUndrivenStretch;
  for (;;) {
    int still_running = 0;
    const CURLMcode performed = curl_multi_perform(hMulti, &still_running);
    last_driven = Clock::now();
    if (performed != CURLM_OK) {
      // The multi handle itself failed (out of memory): nothing it holds
      // can be relied on to finish.
      after_stretch = false;
      if (!awaited_slot.Ended()) {
        Release(awaited_slot);
        std::erase(retrying, &awaited_slot);
        awaited_slot.chain->FailToStart();
        Finish(awaited_slot);
      }
      break;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(hMulti, &queued)) {
      if (message->msg == CURLMSG_DONE) OnDone(message->easy_handle, message->data.result);
    }
    after_stretch = false;
    StartDueRetries();
    StartWaitingForHost();
    TopUp();
    if (awaited_slot.Ended()) break;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(NextWait());
    curl_multi_poll(hMulti, nullptr, 0, static_cast<int>(wait.count()), nullptr);
  }
  awaited = nullptr;
}

PrefetchClient::PrefetchClient(const AheadSettings& settings, const FetchLimits& limits)
    : impl_(std::make_unique<Impl>()) {
  impl_->limits = limits;
  impl_->window =
      static_cast<std::size_t>(std::clamp(settings.concurrency, 1, kMaxHarvestConcurrency));
  impl_->budget = settings.ahead_bytes;
  impl_->host_limit = std::clamp(settings.host_connections, 1, kMaxHarvestConcurrency);
  if (CurlReady()) impl_->hMulti = curl_multi_init();
  if (impl_->hMulti != nullptr) {
    curl_multi_setopt(impl_->hMulti, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
  }
}

PrefetchClient::~PrefetchClient() = default;

void PrefetchClient::Expect(std::vector<std::string> urls) {
  for (std::string& url : urls) {
    auto slot = std::make_unique<Slot>();
    slot->owner = impl_.get();
    slot->url = std::move(url);
    impl_->slots.push_back(std::move(slot));
  }
  impl_->TopUp();
}

Download PrefetchClient::Get(const char* url) {
  const std::string strUrl = url != nullptr ? url : "";
  Impl& impl = *impl_;
  auto& slots = impl.slots;
  auto found = std::find_if(slots.begin(), slots.end(),
                            [&strUrl](const auto& slot) { return slot->url == strUrl; });
  if (found == slots.end()) {
    // Started at once below, so the started entries stay the queue's first.
    auto slot = std::make_unique<Slot>();
    slot->owner = impl_.get();
    slot->url = strUrl;
    slots.push_front(std::move(slot));
    ++impl.started;
    impl.Start(*slots.front());
  } else {
    const Slot* wanted = found->get();
    while (slots.front().get() != wanted) {
      impl.Drop(*slots.front());
      if (slots.front()->started) --impl.started;
      slots.pop_front();
    }
  }

  Slot& head = *slots.front();
  if (!head.started) {
    impl.Start(head);
    ++impl.started;
  }
  impl.Drive(head);
  Download download = std::move(head.outcome);
  impl.Drop(head);
  slots.pop_front();
  --impl.started;
  impl.ResumePaused();
  return download;
}

std::uint64_t PrefetchClient::HeldBytes() const { return impl_->held; }

int PrefetchClient::FetchUrl(std::string& freetimedata, const char* url) {
  Download download = Get(url);
  impl_->last = download.facts;
  return Deliver(download, freetimedata);
}

FetchFacts PrefetchClient::LastFetch() const { return impl_->last; }

std::unique_ptr<TextSource> MakeHttpSource(const AheadSettings& settings,
                                           const FetchLimits& limits) {
  if (settings.concurrency <= 1) return std::make_unique<HttpClient>(limits);
  return std::make_unique<PrefetchClient>(settings, limits);
}
