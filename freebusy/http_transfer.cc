// The exchanges of one free/busy download on libcurl.
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
#include "freebusy/http_transfer.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "base/ascii.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUserAgent = "WinHTTP Example/1.0";

// A server that sends endless or huge headers must fail fast; real servers
// send a few dozen lines at most.
constexpr std::size_t kMaxHeaderLines = 100;
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

// libcurl keeps a header line in a buffer of its own until the line ends and
// gives up on a line longer than 100 KiB, with "out of memory" (newer
// versions: "too large"); OnHeader never sees that line.
bool IsOversizedHeaderLine(CURLcode code) {
#if LIBCURL_VERSION_NUM >= 0x080600
  if (code == CURLE_TOO_LARGE) return true;
#endif
  return code == CURLE_OUT_OF_MEMORY;
}

// The value of header `name` when `line` is that header, else nullopt.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return std::nullopt;
  if (!EqualsIgnoreCase(line.substr(0, name.size()), name)) return std::nullopt;
  std::string_view value = line.substr(name.size() + 1);
  constexpr std::string_view kBlanks = " \t\r\n";
  const std::size_t first = value.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return std::string_view();
  return value.substr(first, value.find_last_not_of(kBlanks) - first + 1);
}

bool IsSuccess(long status) { return status >= 200 && status <= 299; }

// A busy server may ask to be asked again shortly; a longer wait is not worth
// a user's turn.
constexpr long kMaxRetryAfterS = 60;

// The delay a Retry-After value asks for (delta-seconds or an HTTP date), or
// nullopt when it is not one.
std::optional<long> RetryAfterSeconds(const std::string& value) {
  if (value.empty()) return std::nullopt;
  if (value.find_first_not_of("0123456789") == std::string::npos)
    return value.size() > 6 ? kMaxRetryAfterS + 1 : std::stol(value);
  const time_t when = curl_getdate(value.c_str(), nullptr);
  if (when == -1) return std::nullopt;
  const long delay = static_cast<long>(when - std::time(nullptr));
  return delay < 0 ? 0 : delay;
}

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// One console line from its parts.
std::string Line(std::initializer_list<std::string_view> parts) {
  std::string line;
  for (std::string_view part : parts) line += part;
  line += '\n';
  return line;
}

std::string Quoted(const std::string& host) {
  std::string quoted = "\"";
  AppendEscaped(quoted, host);
  quoted += '"';
  return quoted;
}

// The historic first line of a request that got no response.
std::string NoResponseLine(int code) {
  return Line({"Error ", std::to_string(code), " has occurred."});
}

// The proxy and the trusted certificates. A proxy set here replaces the
// environment's, and so does its exclusion list: an empty one sends every
// host through the proxy, whatever NO_PROXY says. The CA bundle replaces the
// system's store (its file and its folder) for the servers and for an https
// proxy alike; peer and host verification stay libcurl's defaults, on.
void SetNetwork(CURL* easy, const NetworkSettings& network) {
  if (!network.proxy.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXY, network.proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, network.no_proxy.c_str());
  } else if (network.no_proxy_set) {
    curl_easy_setopt(easy, CURLOPT_NOPROXY, network.no_proxy.c_str());
  }
  if (!network.ca_file.empty()) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, network.ca_file.c_str());
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(easy, CURLOPT_PROXY_CAINFO, network.ca_file.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXY_CAPATH, nullptr);
  }
}

}  // namespace

bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

DownloadChain::DownloadChain(const char* url, const FetchLimits& limits) : limits_(limits) {
  std::string why;
  if (!CheckFetchUrl(url, first_, why)) {
    End(Line({"ERR -- The free/busy URL is refused: ", why}));
    return;
  }
  deadline_ = Clock::now() + std::chrono::milliseconds(limits_.total_timeout_ms);
  target_ = first_;
  host_ = Quoted(target_.host);
  secure_ = target_.scheme == "https";
  pending_ = true;
}

void DownloadChain::End(std::string messages) {
  download_.facts.why = ExplainingLine(messages);
  download_.messages = std::move(messages);
  pending_ = false;
}

void DownloadChain::FailToStart() {
  End(NoResponseLine(CURLE_FAILED_INIT) + Line({"ERR -- The HTTP client could not be started"}));
}

// Every option is set afresh for each exchange, so nothing of one user's
// download (credentials above all) can leak into the next.
bool DownloadChain::Prepare(CURL* easy) {
  const long remaining_ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count());
  if (remaining_ms <= 0) {
    End(Line({"ERR -- The download from ", host_, " took longer than ",
              std::to_string(limits_.total_timeout_ms), " ms"}));
    return false;
  }

  exchange_ = Exchange();
  exchange_.easy = easy;
  exchange_.max_body = limits_.max_body_bytes;
  exchange_.budget = budget_;
  curl_easy_reset(easy);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, exchange_.errbuf);
  curl_easy_setopt(easy, CURLOPT_URL, target_.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
  // HTTP/2 where a TLS server offers it, so that many users of one site share
  // a connection; plain http stays on HTTP/1.1.
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, limits_.connect_timeout_ms);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, remaining_ms);
  if (limits_.idle_timeout_s > 0) {
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, limits_.idle_timeout_s);
  }
  // Refuses early when a Content-Length announces too much; the body
  // callback enforces the cap for bodies without one.
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(limits_.max_body_bytes));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange_);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange_);
  SetNetwork(easy, limits_.network);
  return true;
}

// Returning less than was given makes libcurl end the transfer with an error.
std::size_t DownloadChain::OnBody(char* data, std::size_t size, std::size_t count,
                                  void* context) {
  Exchange& exchange = *static_cast<Exchange*>(context);
  std::size_t length = size * count;
  if (exchange.body_seen + length > exchange.max_body) {
    exchange.abort = Abort::kTooLarge;
    return 0;
  }
  long status = 0;
  curl_easy_getinfo(exchange.easy, CURLINFO_RESPONSE_CODE, &status);
  if (!IsSuccess(status)) {  // a redirect's or an error page's body is not kept
    exchange.body_seen += length;
    return length;
  }
  if (!exchange.content_encoding.empty()) return 0;  // refused whatever its bytes; see FailureOf
  // An announced length is reserved at once, so a big body is not moved
  // from one buffer to the next while it arrives.
  std::size_t announced = 0;
  if (exchange.body_seen == 0) {
    curl_off_t content_length = -1;
    curl_easy_getinfo(exchange.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &content_length);
    if (content_length > 0 && static_cast<std::uint64_t>(content_length) <= exchange.max_body)
      announced = static_cast<std::size_t>(content_length);
  }
  const std::size_t needed = std::max(exchange.body.size() + length, announced);
  if (exchange.budget != nullptr && needed > exchange.admitted) {
    // Paused, libcurl hands the same bytes over again once resumed.
    if (!exchange.budget->Admit(needed)) return CURL_WRITEFUNC_PAUSE;
    exchange.admitted = needed;
  }
  if (announced > 0) exchange.body.reserve(announced);
  exchange.body_seen += length;
  // A free/busy text never holds a zero byte; a body that does is not text,
  // wherever the network happened to split it.
  if (std::memchr(data, 0, length) != nullptr) {
    exchange.abort = Abort::kZeroByte;
    return 0;
  }
  exchange.body.append(data, length);
  return length;
}

std::size_t DownloadChain::OnHeader(char* data, std::size_t size, std::size_t count,
                                    void* context) {
  Exchange& exchange = *static_cast<Exchange*>(context);
  std::size_t length = size * count;
  exchange.header_bytes += length;
  if (++exchange.header_lines > kMaxHeaderLines || exchange.header_bytes > kMaxHeaderBytes) {
    exchange.abort = Abort::kHeaders;
    return 0;
  }
  const std::string_view line(data, length);
  if (line == "\r\n" || line == "\n") exchange.headers_ended = true;
  // No compression is asked for, and no body under a coding is read as text:
  // a compressed body need not hold a zero byte that would give it away.
  std::optional<std::string_view> value = HeaderValue(line, "content-encoding");
  if (value && !value->empty() && !EqualsIgnoreCase(*value, "identity") &&
      exchange.content_encoding.empty())
    exchange.content_encoding = EscapeUntrusted(value->substr(0, 40));
  if (std::optional<std::string_view> value = HeaderValue(line, "retry-after"))
    exchange.retry_after = value->substr(0, 64);
  return length;
}

std::string DownloadChain::Reason(CURLcode code) const {
  std::string reason = exchange_.errbuf[0] != '\0' ? exchange_.errbuf : curl_easy_strerror(code);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  return EscapeUntrusted(reason);
}

// The message lines of an exchange that failed, or "" when it brought a 2xx
// answer or a redirect.
std::string DownloadChain::FailureOf(CURLcode code, long status) const {
  if (exchange_.abort == Abort::kHeaders ||
      (!exchange_.headers_ended && IsOversizedHeaderLine(code)))
    return Line({"ERR -- The server at ", host_, " sent more than ",
                 std::to_string(kMaxHeaderLines), " header lines or ",
                 std::to_string(kMaxHeaderBytes / 1024), " KiB of headers"});
  if (code != CURLE_OK && status == 0)
    return NoResponseLine(code) + Line({"ERR -- No response from ", host_, ": ", Reason(code)});
  if (!IsSuccess(status) && !IsRedirect(status))
    return Line(
        {"ERR -- The server at ", host_, " answered with HTTP status ", std::to_string(status)});
  if (IsSuccess(status) && !exchange_.content_encoding.empty())
    return Line({"ERR -- The download from ", host_, " is compressed (Content-Encoding: ",
                 exchange_.content_encoding, "), so it is not a free/busy text"});
  if (exchange_.abort == Abort::kTooLarge || code == CURLE_FILESIZE_EXCEEDED)
    return Line({"ERR -- The download from ", host_, " is larger than ",
                 std::to_string(limits_.max_body_bytes), " bytes"});
  if (exchange_.abort == Abort::kZeroByte)
    return Line({"ERR -- The download from ", host_,
                 " contains a zero byte, so it is not a free/busy text"});
  if (code != CURLE_OK)
    return Line({"ERR -- The download from ", host_, " failed: ", Reason(code)});
  return "";
}

// A whole 429 or 503 answer asking for at most kMaxRetryAfterS seconds is
// asked again once, when the wait still ends within the overall limit; the
// chain then stays pending until NotBefore.
bool DownloadChain::RetryLater(CURLcode code, long status) {
  if (retried_ || code != CURLE_OK || (status != 429 && status != 503)) return false;
  const std::optional<long> delay_s = RetryAfterSeconds(exchange_.retry_after);
  if (!delay_s || *delay_s > kMaxRetryAfterS) return false;
  const Clock::time_point when = Clock::now() + std::chrono::seconds(*delay_s);
  if (when >= deadline_) return false;
  retried_ = true;
  not_before_ = when;
  return true;
}

void DownloadChain::Complete(CURL* easy, CURLcode code) {
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  if (status != 0) download_.facts.http_status = status;
  download_.facts.bytes = exchange_.body_seen;
  if (RetryLater(code, status)) return;
  std::string messages = FailureOf(code, status);
  if (!messages.empty()) return End(std::move(messages));
  if (IsSuccess(status)) {
    download_.result = 1;
    download_.body = std::move(exchange_.body);
    return End("");
  }

  // A redirect; libcurl has resolved its Location against the current URL.
  char* location = nullptr;
  curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
  FetchTarget next;
  std::string why;
  if (location == nullptr)
    return End(Line({"ERR -- The server at ", host_, " answered with HTTP status ",
                     std::to_string(status), " and no usable Location"}));
  if (redirects_ == limits_.max_redirects)
    return End(Line({"ERR -- Gave up at ", host_, " after ",
                     std::to_string(limits_.max_redirects), " redirects"}));
  if (!CheckFetchUrl(location, next, why))
    return End(Line({"ERR -- The server at ", host_, " redirected to a refused URL: ", why}));
  // Once the chain is on TLS it stays there: a step down to plain http would
  // hand the text to anyone on the path.
  if (secure_ && next.scheme != "https")
    return End(Line(
        {"ERR -- The server at ", host_, " redirected from https to http, which is refused"}));
  CarryCredentials(next, first_);
  secure_ = secure_ || next.scheme == "https";
  target_ = std::move(next);
  host_ = Quoted(target_.host);
  ++redirects_;
}
