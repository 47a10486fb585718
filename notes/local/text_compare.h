// Case-insensitive comparison of names and keys. Only ASCII letters fold;
// every other byte compares by value, so the result never depends on the
// process's locale.
#pragma once

#include <string>
#include <string_view>

namespace notes::local {

constexpr char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

inline std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = FoldAscii(c);
  return lower;
}

// <0, 0 or >0 like strcmp, bytes compared as unsigned after folding.
inline int CompareNoCase(std::string_view a, std::string_view b) {
  std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    auto ca = static_cast<unsigned char>(FoldAscii(a[i]));
    auto cb = static_cast<unsigned char>(FoldAscii(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

}  // namespace notes::local
