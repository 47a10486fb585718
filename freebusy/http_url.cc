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
  void operator()(CURLU* hUrl) const { curl_url_cleanup(hUrl); }
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
    bool bAllDigits = !authority.empty();
    for (char c : authority) bAllDigits = bAllDigits && std::isdigit(static_cast<unsigned char>(c));
    if (bAllDigits || authority.find('@') != std::string_view::npos) return "";
  }
  return LowerAscii(text.substr(0, colon));
}

// A URL part, or "" when the URL does not have it.
std::string GetPart(CURLU* hUrl, CURLUPart part, unsigned int flags = 0) {
  char* pszPart = nullptr;
  if (curl_url_get(hUrl, part, &pszPart, flags) != CURLUE_OK || pszPart == nullptr) return "";
  std::string strPart(pszPart);
  curl_free(pszPart);
  return strPart;
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

  std::string strUrl;
  std::string strScheme = LeadingScheme(text);
  if (strScheme.empty()) {
    strUrl = text.starts_with("//") ? "http:" : "http://";
    strUrl += text;
  } else if (strScheme != "http" && strScheme != "https") {
    reason = "the scheme \"";
    reason += EscapeUntrusted(strScheme);
    reason += "\" is not http or https";
    return false;
  } else {
    strUrl = text;
  }

  // libcurl's parser reads "http:/h/p" and "http:///h/p" as host h; for us the
  // host is what follows exactly two slashes, so both name no host.
  std::string_view after_scheme = std::string_view(strUrl).substr(strUrl.find(':') + 1);
  if (!after_scheme.starts_with("//") || after_scheme.substr(2).starts_with("/")) {
    reason = "it names no host";
    return false;
  }

  UrlHandle hUrl(curl_url());
  if (!hUrl) {
    reason = "it cannot be read (out of memory)";
    return false;
  }
  CURLUcode uc = curl_url_set(hUrl.get(), CURLUPART_URL, strUrl.c_str(), kParseFlags);
  if (uc == CURLUE_NO_HOST) {
    reason = "it names no host";
    return false;
  }
  if (uc != CURLUE_OK) {
    reason = std::string("it cannot be read (") + curl_url_strerror(uc) + ")";
    return false;
  }

  target.url = std::move(strUrl);
  target.scheme = GetPart(hUrl.get(), CURLUPART_SCHEME);
  std::string strHost = GetPart(hUrl.get(), CURLUPART_HOST);
  std::string strPort = GetPart(hUrl.get(), CURLUPART_PORT);
  target.host = strPort.empty() ? strHost : strHost + ":" + strPort;
  target.origin = target.scheme + "://" + LowerAscii(strHost) + ":" +
                  GetPart(hUrl.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  target.user = GetPart(hUrl.get(), CURLUPART_USER);
  target.password = GetPart(hUrl.get(), CURLUPART_PASSWORD);
  return true;
}

bool CheckProxyUrl(std::string_view text, std::string& reason) {
  if (!IsOneWord(text, reason)) return false;
  const std::string strScheme = LeadingScheme(text);
  constexpr std::string_view kSchemes[] = {"",       "http",    "https",  "socks4",
                                           "socks4a", "socks5", "socks5h"};
  if (std::find(std::begin(kSchemes), std::end(kSchemes), strScheme) == std::end(kSchemes)) {
    reason = "the scheme \"" + EscapeUntrusted(strScheme) +
             "\" is not http, https, socks4, socks4a, socks5 or socks5h";
    return false;
  }
  const std::string strUrl = (strScheme.empty() ? "http://" : "") + std::string(text);
  std::string_view after_scheme = std::string_view(strUrl).substr(strUrl.find(':') + 1);
  UrlHandle hUrl(curl_url());
  CURLUcode uc = CURLUE_OUT_OF_MEMORY;
  if (hUrl) uc = curl_url_set(hUrl.get(), CURLUPART_URL, strUrl.c_str(), CURLU_NON_SUPPORT_SCHEME);
  if (!after_scheme.starts_with("//") || after_scheme.substr(2).starts_with("/") ||
      uc == CURLUE_NO_HOST || (uc == CURLUE_OK && GetPart(hUrl.get(), CURLUPART_HOST).empty())) {
    reason = "it names no host";
    return false;
  }
  if (uc != CURLUE_OK) {
    reason = std::string("it cannot be read (") + curl_url_strerror(uc) + ")";
    return false;
  }
  const std::string strPath = GetPart(hUrl.get(), CURLUPART_PATH);
  if ((!strPath.empty() && strPath != "/") || !GetPart(hUrl.get(), CURLUPART_QUERY).empty() ||
      !GetPart(hUrl.get(), CURLUPART_FRAGMENT).empty()) {
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
  UrlHandle hUrl(curl_url());
  if (!hUrl ||
      curl_url_set(hUrl.get(), CURLUPART_URL, target.url.c_str(), kParseFlags) != CURLUE_OK)
    return;
  if (curl_url_set(hUrl.get(), CURLUPART_USER, from.user.c_str(), 0) != CURLUE_OK) return;
  if (!from.password.empty() &&
      curl_url_set(hUrl.get(), CURLUPART_PASSWORD, from.password.c_str(), 0) != CURLUE_OK)
    return;
  std::string strUrl = GetPart(hUrl.get(), CURLUPART_URL);
  if (strUrl.empty()) return;
  target.url = std::move(strUrl);
  target.user = from.user;
  target.password = from.password;
}
