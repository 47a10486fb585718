// The free/busy download on libcurl. One easy handle lives as long as the
// client: libcurl keeps its connection cache, DNS cache and TLS sessions in
// the handle, and curl_easy_reset leaves those alone, so users on the same
// host share a connection.
//
// Redirects are followed here rather than by libcurl, so that every hop goes
// through the same URL checks as the configured URL (http or https only, a
// host, no https to http) and the count and the overall time limit span the
// whole chain.
//
// Messages: a request that got no response at all (no HTTP status arrived:
// cannot resolve, cannot connect, TLS failure, the server closed or never
// answered) prints the historic "Error %d has occurred." with libcurl's error
// code, then a line with the reason in words and the host. Every other failure
// prints one line starting "ERR -- ". Messages name the host, never the user
// information of the URL.
#include "freebusy/http_client.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "freebusy/http_url.h"

namespace {

constexpr const char* kUserAgent = "WinHTTP Example/1.0";

// A server that sends endless or huge headers must fail fast; real servers
// send a few dozen lines at most.
constexpr std::size_t kMaxHeaderLines = 100;
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

// libcurl's process-wide set-up; it must run once, before the first handle.
bool GlobalInitOnce() {
  static const bool bReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return bReady;
}

enum class Abort { kNone, kTooLarge, kZeroByte, kHeaders };

// The state of one request and response, shared with libcurl's callbacks.
struct Exchange {
  CURL* hCurl = nullptr;
  std::size_t max_body = 0;
  std::string body;           // the body of a 2xx response
  std::size_t body_seen = 0;  // every body byte received, kept or not
  std::size_t header_lines = 0;
  std::size_t header_bytes = 0;
  Abort abort = Abort::kNone;
  char errbuf[CURL_ERROR_SIZE] = {};
};

bool IsSuccess(long status) { return status >= 200 && status <= 299; }

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Returning less than was given makes libcurl end the transfer with an error.
std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* context) {
  Exchange& exchange = *static_cast<Exchange*>(context);
  std::size_t length = size * count;
  exchange.body_seen += length;
  if (exchange.body_seen > exchange.max_body) {
    exchange.abort = Abort::kTooLarge;
    return 0;
  }
  long status = 0;
  curl_easy_getinfo(exchange.hCurl, CURLINFO_RESPONSE_CODE, &status);
  if (!IsSuccess(status)) return length;  // a redirect's or an error page's body is not kept
  // A free/busy text never holds a zero byte; a body that does is not text,
  // wherever the network happened to split it.
  if (std::memchr(data, 0, length) != nullptr) {
    exchange.abort = Abort::kZeroByte;
    return 0;
  }
  exchange.body.append(data, length);
  return length;
}

std::size_t OnHeader(char* /*data*/, std::size_t size, std::size_t count, void* context) {
  Exchange& exchange = *static_cast<Exchange*>(context);
  std::size_t length = size * count;
  exchange.header_bytes += length;
  if (++exchange.header_lines > kMaxHeaderLines || exchange.header_bytes > kMaxHeaderBytes) {
    exchange.abort = Abort::kHeaders;
    return 0;
  }
  return length;
}

// One console line from its parts.
std::string Line(std::initializer_list<std::string_view> parts) {
  std::string strLine;
  for (std::string_view part : parts) strLine += part;
  strLine += '\n';
  return strLine;
}

std::string Quoted(const std::string& host) {
  std::string strQuoted = "\"";
  strQuoted += PrintableText(host);
  strQuoted += '"';
  return strQuoted;
}

// The historic first line of a request that got no response.
std::string NoResponseLine(int code) {
  return Line({"Error ", std::to_string(code), " has occurred."});
}

std::string Reason(CURLcode code, const Exchange& exchange) {
  std::string strReason = exchange.errbuf[0] != '\0' ? exchange.errbuf : curl_easy_strerror(code);
  while (!strReason.empty() && (strReason.back() == '\n' || strReason.back() == '\r'))
    strReason.pop_back();
  return PrintableText(strReason);
}

}  // namespace

struct HttpClient::Impl {
  FetchLimits limits;
  CURL* hCurl = nullptr;

  ~Impl() {
    if (hCurl != nullptr) curl_easy_cleanup(hCurl);
  }

  CURLcode Perform(const FetchTarget& target, long timeout_ms, Exchange& exchange);
};

// Every option is set afresh for each request, so nothing of one user's
// download (credentials above all) can leak into the next.
CURLcode HttpClient::Impl::Perform(const FetchTarget& target, long timeout_ms, Exchange& exchange) {
  curl_easy_reset(hCurl);
  exchange.hCurl = hCurl;
  exchange.max_body = limits.max_body_bytes;
  curl_easy_setopt(hCurl, CURLOPT_ERRORBUFFER, exchange.errbuf);
  curl_easy_setopt(hCurl, CURLOPT_URL, target.url.c_str());
  curl_easy_setopt(hCurl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(hCurl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(hCurl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(hCurl, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(hCurl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(hCurl, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(hCurl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
  curl_easy_setopt(hCurl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(hCurl, CURLOPT_CONNECTTIMEOUT_MS, limits.connect_timeout_ms);
  curl_easy_setopt(hCurl, CURLOPT_TIMEOUT_MS, timeout_ms);
  if (limits.idle_timeout_s > 0) {
    curl_easy_setopt(hCurl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(hCurl, CURLOPT_LOW_SPEED_TIME, limits.idle_timeout_s);
  }
  // Refuses early when a Content-Length announces too much; the body
  // callback enforces the cap for bodies without one.
  curl_easy_setopt(hCurl, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(limits.max_body_bytes));
  curl_easy_setopt(hCurl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(hCurl, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(hCurl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(hCurl, CURLOPT_HEADERDATA, &exchange);
  return curl_easy_perform(hCurl);
}

HttpClient::HttpClient(const FetchLimits& limits) : impl_(std::make_unique<Impl>()) {
  impl_->limits = limits;
  if (GlobalInitOnce()) impl_->hCurl = curl_easy_init();
}

HttpClient::~HttpClient() = default;

namespace {

// The message lines of one exchange that failed, or "" when it brought a
// 2xx answer or a redirect.
std::string FailureOf(CURLcode code, long status, const Exchange& exchange,
                      const std::string& strHost, const FetchLimits& limits) {
  if (exchange.abort == Abort::kHeaders)
    return Line({"ERR -- The server at ", strHost, " sent more than ",
                 std::to_string(kMaxHeaderLines), " header lines or ",
                 std::to_string(kMaxHeaderBytes / 1024), " KiB of headers"});
  if (code != CURLE_OK && status == 0)
    return NoResponseLine(code) +
           Line({"ERR -- No response from ", strHost, ": ", Reason(code, exchange)});
  if (!IsSuccess(status) && !IsRedirect(status))
    return Line(
        {"ERR -- The server at ", strHost, " answered with HTTP status ", std::to_string(status)});
  if (exchange.abort == Abort::kTooLarge || code == CURLE_FILESIZE_EXCEEDED)
    return Line({"ERR -- The download from ", strHost, " is larger than ",
                 std::to_string(limits.max_body_bytes), " bytes"});
  if (exchange.abort == Abort::kZeroByte)
    return Line({"ERR -- The download from ", strHost,
                 " contains a zero byte, so it is not a free/busy text"});
  if (code != CURLE_OK)
    return Line({"ERR -- The download from ", strHost, " failed: ", Reason(code, exchange)});
  return "";
}

}  // namespace

Download HttpClient::Get(const char* url) {
  using Clock = std::chrono::steady_clock;
  Download download;
  FetchTarget first;
  std::string strWhy;
  if (!CheckFetchUrl(url, first, strWhy)) {
    download.messages = Line({"ERR -- The free/busy URL is refused: ", strWhy});
    return download;
  }
  if (impl_->hCurl == nullptr) {
    download.messages =
        NoResponseLine(CURLE_FAILED_INIT) + Line({"ERR -- The HTTP client could not be started"});
    return download;
  }

  const FetchLimits& limits = impl_->limits;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(limits.total_timeout_ms);
  FetchTarget target = first;
  bool bSecure = target.scheme == "https";
  for (long redirects = 0;; ++redirects) {
    const std::string strHost = Quoted(target.host);
    long remaining_ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (remaining_ms <= 0) {
      download.messages = Line({"ERR -- The download from ", strHost, " took longer than ",
                                std::to_string(limits.total_timeout_ms), " ms"});
      return download;
    }

    Exchange exchange;
    CURLcode code = impl_->Perform(target, remaining_ms, exchange);
    long status = 0;
    curl_easy_getinfo(impl_->hCurl, CURLINFO_RESPONSE_CODE, &status);
    download.messages = FailureOf(code, status, exchange, strHost, limits);
    if (!download.messages.empty()) return download;
    if (IsSuccess(status)) {
      download.result = 1;
      download.body = std::move(exchange.body);
      return download;
    }

    // A redirect; libcurl has resolved its Location against the current URL.
    char* pszLocation = nullptr;
    curl_easy_getinfo(impl_->hCurl, CURLINFO_REDIRECT_URL, &pszLocation);
    FetchTarget next;
    if (pszLocation == nullptr)
      download.messages = Line({"ERR -- The server at ", strHost, " answered with HTTP status ",
                                std::to_string(status), " and no usable Location"});
    else if (redirects == limits.max_redirects)
      download.messages = Line({"ERR -- Gave up at ", strHost, " after ",
                                std::to_string(limits.max_redirects), " redirects"});
    else if (!CheckFetchUrl(pszLocation, next, strWhy))
      download.messages =
          Line({"ERR -- The server at ", strHost, " redirected to a refused URL: ", strWhy});
    else if (bSecure && next.scheme != "https")
      // Once the chain is on TLS it stays there: a step down to plain http
      // would hand the text to anyone on the path.
      download.messages = Line(
          {"ERR -- The server at ", strHost, " redirected from https to http, which is refused"});
    if (!download.messages.empty()) return download;
    CarryCredentials(next, first);
    bSecure = bSecure || next.scheme == "https";
    target = std::move(next);
  }
}

int HttpClient::FetchUrl(std::string& freetimedata, const char* url) {
  Download download = Get(url);
  std::fputs(download.messages.c_str(), stdout);
  if (download.result == 1) freetimedata += download.body;
  return download.result;
}
