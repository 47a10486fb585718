#include "base/masked_url.h"

#include <algorithm>

namespace {

bool IsSchemeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '-' || c == '.';
}

// Where the authority of `url` begins: after "scheme://" or a leading "//",
// else at the start (a URL without a scheme is taken as http).
std::size_t AuthorityStart(std::string_view url) {
  if (url.starts_with("//")) return 2;
  std::size_t colon = 0;
  while (colon < url.size() && IsSchemeChar(url[colon])) ++colon;
  if (colon > 0 && url.substr(colon).starts_with("://")) return colon + 3;
  return 0;
}

}  // namespace

std::string MaskUrlPassword(std::string_view url) {
  const std::size_t start = AuthorityStart(url);
  const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
  const std::string_view authority = url.substr(start, end - start);
  const std::size_t at = authority.rfind('@');
  if (at == std::string_view::npos) return std::string(url);
  const std::size_t colon = authority.substr(0, at).find(':');
  if (colon == std::string_view::npos) return std::string(url);
  std::string masked(url.substr(0, start + colon + 1));
  masked += "***";
  masked += url.substr(start + at);
  return masked;
}
