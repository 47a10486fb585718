// One download of a free/busy text, whichever client makes it: the bounds it
// runs within, the network it goes through, and its outcome. Shared by the
// one-at-a-time client (http_client.h), the fetch-ahead client
// (prefetch_client.h) and the download chain both run (http_transfer.h);
// free of libcurl, so the run can set the bounds without seeing it.
#pragma once

#include <cstddef>
#include <string>

#include "freebusy/text_source.h"

// How downloads reach the network: the settings HarvestProxy, HarvestNoProxy
// and HarvestCAFile. With no proxy set, libcurl's environment variables
// (http_proxy, https_proxy, ALL_PROXY, NO_PROXY) decide; a proxy set here is
// used for every download, and only `no_proxy` (when set) excludes hosts from
// it. `ca_file`, when set, is the PEM bundle trusted instead of the system's;
// verification itself is never switched off.
struct NetworkSettings {
  std::string proxy;
  std::string no_proxy;  // comma-separated hosts or domains, "*" for all
  bool no_proxy_set = false;
  std::string ca_file;
};

// The bounds of one download, and the network settings it runs with.
struct FetchLimits {
  long connect_timeout_ms = 60'000;    // give up connecting after this
  long idle_timeout_s = 30;            // give up when nothing arrives for this long
  long total_timeout_ms = 300'000;     // the whole download, redirects included
  std::size_t max_body_bytes = 16u << 20;
  long max_redirects = 10;
  NetworkSettings network;
};

// The outcome of one download, before anything is printed.
struct Download {
  int result = -1;       // 1: the body is a usable text; -1: failed
  std::string body;      // the whole body when result is 1
  std::string messages;  // the line(s) to print on standard output, in order
  FetchFacts facts;      // for the run's report: last status, body bytes, why
};

// Prints the download's messages and hands its body to `freetimedata`: moved
// when that is empty, so a big text is never copied, else appended.
int Deliver(Download& download, std::string& freetimedata);
