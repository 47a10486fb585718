// The warning lines of one calendar text. A hostile text can make millions
// of them: the console gets the first few and a count of the rest. Lines
// name properties and times only, never what a person wrote in an event.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class CalendarLog {
 public:
  explicit CalendarLog(std::string& messages) : messages_(messages) {}

  // Adds "WARN -- <text>\n". `text` must come from the program, not from
  // the calendar (PrintableText() what is quoted from it).
  void Warn(std::string_view text) {
    if (++count_ > kMaxWarnings) return;
    messages_ += "WARN -- ";
    messages_ += text;
    messages_ += '\n';
  }

  void Finish() {
    if (count_ <= kMaxWarnings) return;
    messages_ += "WARN -- ";
    messages_ += std::to_string(count_ - kMaxWarnings);
    messages_ += " further warnings about calendar events were not shown\n";
  }

 private:
  static constexpr std::size_t kMaxWarnings = 20;
  std::string& messages_;
  std::size_t count_ = 0;
};
