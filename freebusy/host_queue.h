// The connections of the fetch-ahead client to one host (scheme, host and
// port): at most HarvestHostConnections transfers run to it at once, and
// downloads beyond that wait here, their time limits not yet running, until
// one of the host's transfers ends. They do not wait in libcurl's own queue:
// libcurl counts a queued transfer's time against its time-outs, so a busy
// host would fail downloads that never started. Internal to freebusy/.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "freebusy/expected_download.h"

class HostQueue {
 public:
  explicit HostQueue(int limit) : limit_(limit) {}

  // The origin whose connections `url` would use; a refused URL, which never
  // connects, stands for itself.
  static std::string OriginOf(const std::string& url);

  // True when `host` has no connection free.
  bool Full(const std::string& host) const;
  // A transfer to `host` began or ended.
  void Opened(const std::string& host) { ++running_[host]; }
  void Closed(const std::string& host);

  // `download` waits for a connection to its host.
  void Wait(ExpectedDownload& download);
  // `download` waits no more.
  void Remove(ExpectedDownload& download);
  // Every waiting download, in the order they queued; none waits afterwards.
  std::vector<ExpectedDownload*> TakeWaiting();
  std::size_t Waiting() const { return waiting_.size(); }

 private:
  int limit_;
  std::vector<ExpectedDownload*> waiting_;
  std::unordered_map<std::string, int> running_;  // transfers per host
};
