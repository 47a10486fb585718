// Checks a free/busy URL before anything goes out on the network. Used by the HTTP client
// (freebusy/http_client.cc); libcurl stays behind the .cc file.
#pragma once

#include <string>
#include <string_view>

// A URL that may be fetched, split into what the client needs.
struct FetchTarget {
  std::string url;       // what the transfer is given: as written, "http://" added when no scheme
  std::string scheme;    // "http" or "https"
  std::string host;      // for messages: the host, and ":port" when the URL writes one
  std::string origin;    // scheme://host:port with the scheme's default port filled in
  std::string user;      // user information as written (percent-encoded), empty when none
  std::string password;  // never printed
};

// Accepts http and https URLs with a host. A URL without a scheme is http:
// "//h/p" and "h/p" both mean host h, path /p; "h:81/p" is host h on port 81.
// The path and query stay exactly as written (no dot segments removed).
// Refuses an empty URL, any space or control character (nothing of such a URL
// may reach a request line or a header), a scheme other than http or https,
// a URL without a host ("http:///p", "http:/p") and anything libcurl's URL
// parser rejects. On refusal returns false and puts the reason, a lower-case
// clause without a line end, in `reason`.
bool CheckFetchUrl(const char* url, FetchTarget& target, std::string& reason);

// Accepts a proxy URL libcurl can use: scheme http, https, socks4, socks4a,
// socks5 or socks5h (none means http), a host, an optional port, nothing
// after the authority but "/". On refusal returns false with the reason, as
// CheckFetchUrl does; the reason never quotes the URL's user information.
bool CheckProxyUrl(std::string_view url, std::string& reason);

// Gives `target` the user information of `from` when `target` has none of its
// own and both have the same origin. Credentials thus follow a redirect only
// to the same scheme, host and port.
void CarryCredentials(FetchTarget& target, const FetchTarget& from);
