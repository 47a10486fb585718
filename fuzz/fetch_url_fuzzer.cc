// Feeds arbitrary URLs to the checks the fetch runs before anything goes on
// the network: CheckFetchUrl on a first URL and on a redirect target, then
// CarryCredentials between them, and EscapeUntrusted. Nothing here opens a
// connection. The input is the first URL, a zero byte, and the redirect
// target.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/ascii.h"
#include "freebusy/http_url.h"
#include "fuzz/fuzz_check.h"

namespace {

// A byte that could end a request line or start a header of its own.
bool HasControlOrSpace(std::string_view text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// A byte a terminal could act on: control characters, DEL and 0x80 to 0xFF.
bool HasControl(std::string_view text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) return true;
  }
  return false;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes a percent-encoded text stands for: libcurl may rewrite "%3A" as
// "%3a" when it puts user information into a URL, which sends the same bytes.
std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

bool SameTarget(const FetchTarget& a, const FetchTarget& b) {
  return a.url == b.url && a.scheme == b.scheme && a.host == b.host && a.origin == b.origin &&
         a.user == b.user && a.password == b.password;
}

// Checks one URL; on acceptance, what the transfer gets must be safe to put
// on a request line and must check again to the same target.
bool Check(const std::string& url, FetchTarget& target) {
  std::string why;
  if (!CheckFetchUrl(url.c_str(), target, why)) {
    FUZZ_CHECK(!why.empty());
    FUZZ_CHECK(!HasControl(why));  // the reason is printed on one console line
    return false;
  }
  FUZZ_CHECK(target.scheme == "http" || target.scheme == "https");
  FUZZ_CHECK(!target.host.empty());
  FUZZ_CHECK(target.origin.starts_with(target.scheme + "://"));
  FUZZ_CHECK(!HasControlOrSpace(target.url));

  FetchTarget again;
  std::string why_again;
  FUZZ_CHECK(CheckFetchUrl(target.url.c_str(), again, why_again));
  FUZZ_CHECK(SameTarget(again, target));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);

  std::string printable = EscapeUntrusted(input);
  FUZZ_CHECK(!HasControl(printable));
  FUZZ_CHECK(printable.size() >= input.size());

  std::size_t zero = input.find('\0');
  std::string first_url(input.substr(0, zero));
  std::string next_url;
  if (zero != std::string_view::npos) {
    std::string_view rest = input.substr(zero + 1);
    next_url = rest.substr(0, rest.find('\0'));
  }

  FetchTarget first;
  FetchTarget next;
  bool first_ok = Check(first_url, first);
  if (zero == std::string_view::npos || !Check(next_url, next) || !first_ok) return 0;

  // Credentials follow a redirect only to the same origin and only to a URL
  // without user information of its own (a password alone is some), and
  // never turn an acceptable URL into one that is refused or points elsewhere.
  FetchTarget carried = next;
  CarryCredentials(carried, first);
  bool own_credentials = !next.user.empty() || !next.password.empty();
  if (own_credentials || first.user.empty() || next.origin != first.origin) {
    FUZZ_CHECK(SameTarget(carried, next));
    return 0;
  }
  if (SameTarget(carried, next)) return 0;  // libcurl refused to set them
  FUZZ_CHECK(carried.user == first.user && carried.password == first.password);
  FetchTarget rechecked;
  FUZZ_CHECK(Check(carried.url, rechecked));
  FUZZ_CHECK(rechecked.origin == next.origin);
  FUZZ_CHECK(PercentDecoded(rechecked.user) == PercentDecoded(first.user));
  FUZZ_CHECK(PercentDecoded(rechecked.password) == PercentDecoded(first.password));
  return 0;
}
