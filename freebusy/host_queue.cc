#include "freebusy/host_queue.h"

#include <algorithm>

#include "freebusy/http_url.h"

std::string HostQueue::OriginOf(const std::string& url) {
  FetchTarget target;
  std::string reason;
  return CheckFetchUrl(url.c_str(), target, reason) ? target.origin : url;
}

bool HostQueue::Full(const std::string& host) const {
  const auto found = running_.find(host);
  return found != running_.end() && found->second >= limit_;
}

void HostQueue::Closed(const std::string& host) {
  if (--running_[host] == 0) running_.erase(host);
}

void HostQueue::Wait(ExpectedDownload& download) {
  download.waiting_for_host = true;
  waiting_.push_back(&download);
}

void HostQueue::Remove(ExpectedDownload& download) {
  std::erase(waiting_, &download);
  download.waiting_for_host = false;
}

std::vector<ExpectedDownload*> HostQueue::TakeWaiting() {
  std::vector<ExpectedDownload*> waiting;
  waiting.swap(waiting_);
  for (ExpectedDownload* download : waiting) download->waiting_for_host = false;
  return waiting;
}
