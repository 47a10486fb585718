// Feeds arbitrary bytes to the settings-file reader. It must never fail, and
// every "Name=value" line it should use must be there afterwards: found under
// any letter case, with the value of the last such line, trimmed and within
// its line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "notes/local/settings.h"

namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view Trimmed(std::string_view text) {
  std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// What Number must give for `name`: the fallback unless the value is a
// plain decimal number, else that number held within its bounds.
std::uint32_t ExpectedNumber(const notes::local::Settings& settings, std::string_view name,
                             std::uint32_t fallback, std::uint32_t minimum,
                             std::uint32_t maximum) {
  const std::string* text = settings.Find(name);
  if (text == nullptr || text->empty()) return fallback;
  std::uint64_t value = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') return fallback;
    value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(c - '0'), maximum);
  }
  return static_cast<std::uint32_t>(std::max<std::uint64_t>(value, minimum));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  notes::local::Settings settings = notes::local::ParseSettingsText(text);

  // The lines a settings file is made of, the last one of each name winning.
  std::map<std::string, std::string_view> expected;
  std::string_view rest = text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text;
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = Trimmed(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#' || line.front() == '[') continue;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view name = Trimmed(line.substr(0, equals));
    if (name.empty()) continue;
    expected[Lower(name)] = Trimmed(line.substr(equals + 1));
  }
  for (const auto& [name, value] : expected) {
    const std::string* found = settings.Find(name);
    FUZZ_CHECK(found != nullptr);
    FUZZ_CHECK(*found == value);
    FUZZ_CHECK(found->find('\n') == std::string::npos);
    FUZZ_CHECK(settings.Find(Upper(name)) == found);
  }

  // The numbers the runtime reads stay inside their bounds whatever is written.
  FUZZ_CHECK(settings.Number("ViewReadPassSize", 16384, 1, 65535) ==
             ExpectedNumber(settings, "ViewReadPassSize", 16384, 1, 65535));
  FUZZ_CHECK(settings.Number("LockTimeout", 10000, 0, 600000) ==
             ExpectedNumber(settings, "LockTimeout", 10000, 0, 600000));
  return 0;
}
