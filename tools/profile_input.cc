#include "tools/profile_input.h"

#include <algorithm>
#include <map>
#include <utility>

#include "base/ascii.h"
#include "tools/tool_error.h"

namespace nsfutil {
namespace {

constexpr std::size_t kMaxValueLength = 259;  // 260-byte buffer with its terminator

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Reads one field from `rest`, quoted or not, and leaves `rest` after the
// separating comma. `to_end`: an unquoted field runs to the end of the line.
std::string TakeField(std::string_view* rest, bool to_end, bool* ok) {
  std::string_view text = Trim(*rest);
  *ok = true;
  if (!text.empty() && text.front() == '"') {
    std::string field;
    std::size_t i = 1;
    for (;; ++i) {
      if (i >= text.size()) {
        *ok = false;
        return field;
      }
      if (text[i] == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          break;
        }
      } else {
        field += text[i];
      }
    }
    text = Trim(text.substr(i + 1));
    if (!text.empty() && text.front() != ',') *ok = false;
    *rest = text.empty() ? text : text.substr(1);
    return field;
  }
  const std::size_t comma = to_end ? std::string_view::npos : text.find(',');
  if (comma == std::string_view::npos) {
    *rest = {};
    return std::string(Trim(text));
  }
  *rest = text.substr(comma + 1);
  return std::string(Trim(text.substr(0, comma)));
}

std::string LineError(std::string_view file_name, std::size_t line_number,
                      const std::string& problem) {
  return std::string(file_name) + ":" + std::to_string(line_number) + ": " + problem;
}

}  // namespace

std::string ProfileValueProblem(std::string_view value, std::string_view what) {
  if (value.empty()) return "the " + std::string(what) + " is empty";
  if (value.size() > kMaxValueLength) {
    return "the " + std::string(what) + " is " + std::to_string(value.size()) +
           " bytes long; at most " + std::to_string(kMaxValueLength) + " are allowed";
  }
  const auto control = std::find_if(value.begin(), value.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
  if (control != value.end()) return "the " + std::string(what) + " contains a control character";
  return {};
}

std::string ProfileProblem(const ProfileInput& profile) {
  std::string problem = ProfileValueProblem(profile.user_name, "address");
  if (problem.empty()) problem = ProfileValueProblem(profile.busytime_url, "URL");
  return problem;
}

std::string AddressKey(std::string_view address) { return LowerAscii(address); }

bool SameAddress(std::string_view a, std::string_view b) { return EqualsIgnoreCase(a, b); }

std::vector<ProfileInput> ParseProfileCsv(std::string_view text, std::string_view file_name) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // spreadsheet BOM
  std::vector<ProfileInput> profiles;
  std::map<std::string, std::size_t> lines_by_address;
  bool first_content_line = true;
  std::size_t line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::string_view content = Trim(line);
    if (content.empty() || content.front() == '#') continue;
    const bool first = std::exchange(first_content_line, false);

    std::string_view rest = content;
    bool address_ok = false;
    bool url_ok = false;
    ProfileInput profile;
    profile.line_number = line_number;
    profile.user_name = TakeField(&rest, false, &address_ok);
    const bool has_comma = content.find(',') != std::string_view::npos;
    profile.busytime_url = TakeField(&rest, true, &url_ok);
    if (first && SameAddress(profile.user_name, "address") &&
        SameAddress(profile.busytime_url, "url")) {
      continue;
    }
    if (!address_ok || !url_ok) {
      throw ToolError(LineError(file_name, line_number, "a quoted field is not closed properly"));
    }
    if (!has_comma) throw ToolError(LineError(file_name, line_number, "expected address,url"));
    const std::string problem = ProfileProblem(profile);
    if (!problem.empty()) throw ToolError(LineError(file_name, line_number, problem));
    const auto [earlier, is_new] =
        lines_by_address.emplace(AddressKey(profile.user_name), line_number);
    if (!is_new) {
      throw ToolError(LineError(file_name, line_number,
                                "the address " + profile.user_name + " already stands on line " +
                                    std::to_string(earlier->second)));
    }
    profiles.push_back(std::move(profile));
  }
  return profiles;
}

}  // namespace nsfutil
