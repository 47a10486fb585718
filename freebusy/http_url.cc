// URL checks for the free/busy fetch, on libcurl's URL parser.
#include "freebusy/http_url.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <memory>

#include "base/ascii.h"

namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

// The flags of every parse: keep "/../" and "/./" as the publisher wrote them.
constexpr unsigned int kParseFlags = CURLU_PATH_AS_IS;

bool IsControlOrSpace(unsigned char c) { return c <= 0x20 || c == 0x7f; }

bool IsSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// The scheme a URL starts with, or "" when it has none. "h:81/p" and
// "user:pw@h/p" have no scheme: what follows their colon is a port or a
// password, while "file:/etc/passwd" and "mailto:x" name a scheme.
std::string LeadingScheme(std::string_view text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return "";
  std::size_t colon = 1;
  while (colon < text.size() && IsSchemeChar(text[colon])) ++colon;
  if (colon == text.size() || text[colon] != ':') return "";
  std::string_view rest = text.substr(colon + 1);
  if (!rest.starts_with("//")) {
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    bool all_digits = !authority.empty();
    for (char c : authority) all_digits = all_digits && std::isdigit(static_cast<unsigned char>(c));
    if (all_digits || authority.find('@') != std::string_view::npos) return "";
  }
  return LowerAscii(text.substr(0, colon));
}

// A URL part, or "" when the URL does not have it.
std::string GetPart(CURLU* url, CURLUPart part, unsigned int flags = 0) {
  char* raw = nullptr;
  if (curl_url_get(url, part, &raw, flags) != CURLUE_OK || raw == nullptr) return "";
  std::string value(raw);
  curl_free(raw);
  return value;
}

// A URL must be one non-empty word: nothing of one with a space or a control
// character may reach a request line or a header.
bool IsOneWord(std::string_view text, std::string& reason) {
  if (text.empty()) {
    reason = "it is empty";
    return false;
  }
  for (char c : text) {
    if (IsControlOrSpace(static_cast<unsigned char>(c))) {
      reason = "it contains a space or a control character";
      return false;
    }
  }
  return true;
}

}  // namespace

bool CheckFetchUrl(const char* url, FetchTarget& target, std::string& reason) {
  std::string_view text = url != nullptr ? std::string_view(url) : std::string_view();
  if (!IsOneWord(text, reason)) return false;

  std::string full_url;
  std::string scheme = LeadingScheme(text);
  if (scheme.empty()) {
    full_url = text.starts_with("//") ? "http:" : "http://";
    full_url += text;
  } else if (scheme != "http" && scheme != "https") {
    reason = "the scheme \"";
    reason += EscapeUntrusted(scheme);
    reason += "\" is not http or https";
    return false;
  } else {
    full_url = text;
  }

  // libcurl's parser reads "http:/h/p" and "http:///h/p" as host h; for us the
  // host is what follows exactly two slashes, so both name no host.
  std::string_view after_scheme = std::string_view(full_url).substr(full_url.find(':') + 1);
  if (!after_scheme.starts_with("//") || after_scheme.substr(2).starts_with("/")) {
    reason = "it names no host";
    return false;
  }

  UrlHandle handle(curl_url());
  if (!handle) {
    reason = "it cannot be read (out of memory)";
    return false;
  }
  CURLUcode uc = curl_url_set(handle.get(), CURLUPART_URL, full_url.c_str(), kParseFlags);
  if (uc == CURLUE_NO_HOST) {
    reason = "it names no host";
    return false;
  }
  if (uc != CURLUE_OK) {
    reason = std::string("it cannot be read (") + curl_url_strerror(uc) + ")";
    return false;
  }

  target.url = std::move(full_url);
  target.scheme = GetPart(handle.get(), CURLUPART_SCHEME);
  std::string host = GetPart(handle.get(), CURLUPART_HOST);
  std::string port = GetPart(handle.get(), CURLUPART_PORT);
  target.host = port.empty() ? host : host + ":" + port;
  target.origin = target.scheme + "://" + LowerAscii(host) + ":" +
                  GetPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  target.user = GetPart(handle.get(), CURLUPART_USER);
  target.password = GetPart(handle.get(), CURLUPART_PASSWORD);
  return true;
}

bool CheckProxyUrl(std::string_view text, std::string& reason) {
  if (!IsOneWord(text, reason)) return false;
  const std::string scheme = LeadingScheme(text);
  constexpr std::string_view kSchemes[] = {"",       "http",    "https",  "socks4",
                                           "socks4a", "socks5", "socks5h"};
  if (std::find(std::begin(kSchemes), std::end(kSchemes), scheme) == std::end(kSchemes)) {
    reason = "the scheme \"" + EscapeUntrusted(scheme) +
             "\" is not http, https, socks4, socks4a, socks5 or socks5h";
    return false;
  }
  const std::string url = (scheme.empty() ? "http://" : "") + std::string(text);
  std::string_view after_scheme = std::string_view(url).substr(url.find(':') + 1);
  UrlHandle handle(curl_url());
  CURLUcode uc = CURLUE_OUT_OF_MEMORY;
  if (handle) uc = curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME);
  if (!after_scheme.starts_with("//") || after_scheme.substr(2).starts_with("/") ||
      uc == CURLUE_NO_HOST || (uc == CURLUE_OK && GetPart(handle.get(), CURLUPART_HOST).empty())) {
    reason = "it names no host";
    return false;
  }
  if (uc != CURLUE_OK) {
    reason = std::string("it cannot be read (") + curl_url_strerror(uc) + ")";
    return false;
  }
  const std::string path = GetPart(handle.get(), CURLUPART_PATH);
  if ((!path.empty() && path != "/") || !GetPart(handle.get(), CURLUPART_QUERY).empty() ||
      !GetPart(handle.get(), CURLUPART_FRAGMENT).empty()) {
    reason = "a proxy URL has no path, query or fragment";
    return false;
  }
  return true;
}

void CarryCredentials(FetchTarget& target, const FetchTarget& from) {
  // A target with a password of its own has user information, even without a
  // user name: joining our user name to it would send a password the server chose.
  const bool has_own = !target.user.empty() || !target.password.empty();
  if (has_own || from.user.empty() || target.origin != from.origin) return;
  UrlHandle handle(curl_url());
  if (!handle ||
      curl_url_set(handle.get(), CURLUPART_URL, target.url.c_str(), kParseFlags) != CURLUE_OK)
    return;
  if (curl_url_set(handle.get(), CURLUPART_USER, from.user.c_str(), 0) != CURLUE_OK) return;
  if (!from.password.empty() &&
      curl_url_set(handle.get(), CURLUPART_PASSWORD, from.password.c_str(), 0) != CURLUE_OK)
    return;
  std::string url = GetPart(handle.get(), CURLUPART_URL);
  if (url.empty()) return;
  target.url = std::move(url);
  target.user = from.user;
  target.password = from.password;
}
