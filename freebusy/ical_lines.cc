// Line ends, unfolding and the content line split of RFC 5545 section 3.1.
#include "freebusy/ical_lines.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsFoldBlank(char c) { return c == ' ' || c == '\t'; }

// Position of the first `stop` outside double quotes in `text`, starting at
// `from`; npos when there is none. Quotes only occur in parameter values, so
// ';', ',' and ':' inside them are content, not separators.
std::size_t FindUnquoted(std::string_view text, std::size_t from, char stop) {
  bool quoted = false;
  for (std::size_t i = from; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == stop && !quoted) {
      return i;
    }
  }
  return std::string_view::npos;
}

}  // namespace

ContentLineReader::ContentLineReader(std::string_view text) : text_(text) {
  // Left in place, the mark would become part of the first line's name.
  if (text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;
}

std::size_t ContentLineReader::PhysicalLine(std::size_t begin, std::size_t& end) const {
  const char* base = text_.data();
  const void* found = std::memchr(base + begin, '\n', text_.size() - begin);
  if (found == nullptr) {
    end = text_.size();
    // A text cut off right after the CR of its last CRLF still ends a line.
    if (end > begin && base[end - 1] == '\r') --end;
    return text_.size();
  }
  std::size_t lf = static_cast<std::size_t>(static_cast<const char*>(found) - base);
  end = (lf > begin && base[lf - 1] == '\r') ? lf - 1 : lf;
  return lf + 1;
}

bool ContentLineReader::Next(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  std::size_t end = 0;
  std::size_t next = PhysicalLine(pos_, end);
  if (next >= text_.size() || !IsFoldBlank(text_[next])) {
    line = text_.substr(pos_, end - pos_);
    pos_ = next;
    return true;
  }
  // Folded: copy the pieces together. Each byte is copied once, and the
  // buffer keeps its capacity from line to line.
  unfolded_.assign(text_.data() + pos_, end - pos_);
  while (next < text_.size() && IsFoldBlank(text_[next])) {
    std::size_t begin = next + 1;
    next = PhysicalLine(begin, end);
    if (end > begin) unfolded_.append(text_.data() + begin, end - begin);
  }
  pos_ = next;
  line = unfolded_;
  return true;
}

std::string_view ContentLineName(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && line[i] != ';' && line[i] != ':') ++i;
  return line.substr(0, i);
}

bool SplitContentLine(std::string_view line, ContentLine& parts) {
  parts.name = ContentLineName(line);
  std::size_t colon = FindUnquoted(line, parts.name.size(), ':');
  if (colon == std::string_view::npos) return false;
  parts.params = line.substr(parts.name.size(), colon - parts.name.size());
  parts.value = line.substr(colon + 1);
  return true;
}

bool NextParameter(std::string_view& params, std::string_view& name, std::string_view& values) {
  while (!params.empty() && params.front() == ';') params.remove_prefix(1);
  if (params.empty()) return false;
  std::size_t end = std::min(FindUnquoted(params, 0, ';'), params.size());
  std::string_view param = params.substr(0, end);
  params.remove_prefix(end);
  std::size_t eq = param.find('=');
  if (eq == std::string_view::npos) {
    name = param;
    values = {};
  } else {
    name = param.substr(0, eq);
    values = param.substr(eq + 1);
  }
  return true;
}

bool NextParameterValue(std::string_view& values, std::string_view& value) {
  if (values.empty()) return false;
  std::size_t comma = FindUnquoted(values, 0, ',');
  value = values.substr(0, comma);
  values.remove_prefix(comma == std::string_view::npos ? values.size() : comma + 1);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return true;
}
