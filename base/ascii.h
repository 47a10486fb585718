// ASCII helpers shared by every module: the one case-insensitive comparison
// of names and addresses, and the one way to print bytes nobody here chose.
// Nothing depends on the process's locale.
#pragma once

#include <string>
#include <string_view>

// `c` with an ASCII capital letter turned into its small letter; every other
// byte, 0x80 to 0xFF included, as it is. The busy-time and profile views
// compare their keys after this fold, so whatever must find what they find
// folds the same way.
constexpr char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` with every byte folded.
std::string LowerAscii(std::string_view text);

// <0, 0 or >0 like strcmp, bytes compared as unsigned after folding.
int CompareIgnoreCase(std::string_view a, std::string_view b);

inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareIgnoreCase(a, b) == 0;
}

// Appends `text` so that it can be printed inside a console line, quoted or
// not: printable ASCII (0x20 to 0x7E) as it is, except '\' and '"', which
// get a backslash; every other byte, control characters, DEL and 0x80 to
// 0xFF alike, as \xNN. Nothing of it can end the line, move the cursor or
// start a terminal sequence (0x9B is one on its own).
void AppendEscaped(std::string& out, std::string_view text);

// `text` escaped as AppendEscaped does.
std::string EscapeUntrusted(std::string_view text);
