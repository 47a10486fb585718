// The fetch-ahead client's order of delivery. The expected URLs stand in a
// queue in the order announced. Downloads start in that order, so the
// started ones are always the queue's first entries: those that ended wait
// there with their outcome until the run asks, and up to `window` transfers
// run behind them (freebusy/ahead_transfers.h). Everything runs on the
// caller's thread: the transfers advance only inside Get, which drives them
// all until the download asked for has ended, so nothing is printed out of
// turn.
#include "freebusy/prefetch_client.h"

#include <algorithm>
#include <deque>

#include "freebusy/ahead_transfers.h"
#include "freebusy/http_client.h"

struct PrefetchClient::Impl {
  Impl(const AheadSettings& settings, const FetchLimits& limits)
      : window(
            static_cast<std::size_t>(std::clamp(settings.concurrency, 1, kMaxHarvestConcurrency))),
        transfers(limits, settings.ahead_bytes,
                  std::clamp(settings.host_connections, 1, kMaxHarvestConcurrency)) {}
  ~Impl() {
    for (auto& download : queue) transfers.Drop(*download);
  }

  ExpectedDownload& Head(const std::string& url);
  void TopUp();
  void Drive(ExpectedDownload& head);

  std::size_t window;
  AheadTransfers transfers;
  std::deque<std::unique_ptr<ExpectedDownload>> queue;
  std::size_t started = 0;  // the queue's first `started` entries have been started
  FetchFacts last;          // of the download last handed out
};

// Brings the download of `url` to the head of the queue, started: the
// expected entries before it are dropped; a URL not expected goes in front.
ExpectedDownload& PrefetchClient::Impl::Head(const std::string& url) {
  auto found = std::find_if(queue.begin(), queue.end(),
                            [&url](const auto& download) { return download->url == url; });
  if (found == queue.end()) {
    // Started at once below, so the started entries stay the queue's first.
    auto download = std::make_unique<ExpectedDownload>();
    download->url = url;
    queue.push_front(std::move(download));
    ++started;
    transfers.Start(*queue.front());
  } else {
    const ExpectedDownload* wanted = found->get();
    while (queue.front().get() != wanted) {
      transfers.Drop(*queue.front());
      if (queue.front()->started) --started;
      queue.pop_front();
    }
  }
  ExpectedDownload& head = *queue.front();
  if (!head.started) {
    transfers.Start(head);
    ++started;
  }
  return head;
}

// Starts the next downloads in line while the transfers have room for them.
void PrefetchClient::Impl::TopUp() {
  while (started < queue.size() && transfers.RoomForAnother(window)) {
    transfers.Start(*queue[started]);
    ++started;
  }
}

// Advances every transfer at least once, even when `head` has already ended:
// libcurl keeps the clocks of the time-outs running while nobody drives a
// transfer, and checks them before it looks at what arrived meanwhile, so a
// download left undriven through several users' database work would time
// out although its answer was waiting.
void PrefetchClient::Impl::Drive(ExpectedDownload& head) {
  transfers.BeginWait(head);
  while (transfers.Advance()) {
    TopUp();
    if (head.Ended()) break;
    transfers.Poll();
  }
  transfers.EndWait();
}

PrefetchClient::PrefetchClient(const AheadSettings& settings, const FetchLimits& limits)
    : impl_(std::make_unique<Impl>(settings, limits)) {}

PrefetchClient::~PrefetchClient() = default;

void PrefetchClient::Expect(std::vector<std::string> urls) {
  for (std::string& url : urls) {
    auto download = std::make_unique<ExpectedDownload>();
    download->url = std::move(url);
    impl_->queue.push_back(std::move(download));
  }
  impl_->TopUp();
}

Download PrefetchClient::Get(const char* url) {
  Impl& impl = *impl_;
  ExpectedDownload& head = impl.Head(url != nullptr ? url : "");
  impl.Drive(head);
  Download download = std::move(head.outcome);
  impl.transfers.Drop(head);
  impl.queue.pop_front();
  --impl.started;
  impl.transfers.ResumePaused();
  return download;
}

std::uint64_t PrefetchClient::HeldBytes() const { return impl_->transfers.Held(); }

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
