#include "notes/local/settings.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <system_error>

#include "base/ascii.h"
#include "notes/status_codes.h"

namespace notes::local {
namespace {

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\v\f";
  std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

}  // namespace

void Settings::Set(std::string_view name, std::string_view value) {
  values_[LowerAscii(name)] = std::string(value);
}

const std::string* Settings::Find(std::string_view name) const {
  auto it = values_.find(LowerAscii(name));
  return it == values_.end() ? nullptr : &it->second;
}

std::uint32_t Settings::Number(std::string_view name, std::uint32_t fallback, std::uint32_t minimum,
                               std::uint32_t maximum) const {
  const std::string* text = Find(name);
  if (text == nullptr || text->empty()) return fallback;
  std::uint64_t value = 0;
  const char* end = text->data() + text->size();
  auto [stop, error] = std::from_chars(text->data(), end, value);
  if (stop != end) return fallback;
  if (error == std::errc::result_out_of_range || value > maximum) return maximum;
  if (error != std::errc()) return fallback;
  return value < minimum ? minimum : static_cast<std::uint32_t>(value);
}

Settings ParseSettingsText(std::string_view text) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  Settings settings;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#' || line.front() == '[') {
      continue;
    }
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view name = Trim(line.substr(0, equals));
    if (name.empty()) continue;
    settings.Set(name, Trim(line.substr(equals + 1)));
  }
  return settings;
}

Status ReadSettingsFile(const std::filesystem::path& path, Settings* settings) {
  std::error_code error;
  std::filesystem::file_status file_status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(file_status)) return kErrSettingsFileMissing;
  if (!std::filesystem::is_regular_file(file_status)) return kErrSettingsFileUnreadable;
  std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size > kMaxSettingsFileSize) return kErrSettingsFileUnreadable;

  std::ifstream file(path, std::ios::binary);
  if (!file) return kErrSettingsFileUnreadable;
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return kErrSettingsFileUnreadable;
  *settings = ParseSettingsText(text);
  return 0;
}

Status ResolveDataDirectory(const Settings& settings, const std::filesystem::path& settings_file,
                            std::filesystem::path* data_directory) {
  std::filesystem::path folder = settings_file.parent_path();
  const std::string* directory = settings.Find("Directory");
  if (directory != nullptr && !directory->empty()) folder /= *directory;  // absolute replaces

  std::error_code error;
  std::filesystem::path resolved = std::filesystem::canonical(folder, error);
  if (error || !std::filesystem::is_directory(resolved, error)) return kErrDataDirectoryMissing;
  *data_directory = resolved;
  return 0;
}

}  // namespace notes::local
