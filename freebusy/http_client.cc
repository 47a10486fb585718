// The one-at-a-time free/busy download. One easy handle lives as long as the
// client: libcurl keeps its connection cache, DNS cache and TLS sessions in
// the handle, and curl_easy_reset leaves those alone, so users on the same
// host share a connection. The exchanges themselves, their checks and their
// messages are the download chain's (freebusy/http_transfer.h).
#include "freebusy/http_client.h"

#include <thread>

#include "freebusy/http_transfer.h"

struct HttpClient::Impl {
  FetchLimits limits;
  CURL* easy = nullptr;
  FetchFacts last;

  ~Impl() {
    if (easy != nullptr) curl_easy_cleanup(easy);
  }
};

HttpClient::HttpClient(const FetchLimits& limits) : impl_(std::make_unique<Impl>()) {
  impl_->limits = limits;
  if (CurlReady()) impl_->easy = curl_easy_init();
}

HttpClient::~HttpClient() = default;

Download HttpClient::Get(const char* url) {
  DownloadChain chain(url, impl_->limits);
  if (chain.Pending() && impl_->easy == nullptr) chain.FailToStart();
  while (chain.Pending()) {
    std::this_thread::sleep_until(chain.NotBefore());  // a server's Retry-After
    if (!chain.Prepare(impl_->easy)) break;
    chain.Complete(impl_->easy, curl_easy_perform(impl_->easy));
  }
  return chain.Take();
}

int HttpClient::FetchUrl(std::string& freetimedata, const char* url) {
  Download download = Get(url);
  impl_->last = download.facts;
  return Deliver(download, freetimedata);
}

FetchFacts HttpClient::LastFetch() const { return impl_->last; }
