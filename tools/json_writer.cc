#include "tools/json_writer.h"

#include "tools/text_escape.h"

namespace nsfutil {
void JsonWriter::NewLine() {
  out_ << '\n';
  for (std::size_t i = 0; i < levels_.size(); ++i) out_ << "  ";
}

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (levels_.empty()) return;
  Level& level = levels_.back();
  if (!level.empty) out_ << (level.one_line ? ", " : ",");
  if (!level.one_line) NewLine();
  level.empty = false;
}

void JsonWriter::Open(char bracket, bool one_line) {
  BeforeValue();
  out_ << bracket;
  const bool inside_one_line = !levels_.empty() && levels_.back().one_line;
  levels_.push_back(Level{true, one_line || inside_one_line});
}

void JsonWriter::Close(char bracket) {
  const Level level = levels_.back();
  levels_.pop_back();
  if (!level.empty && !level.one_line) NewLine();
  out_ << bracket;
  if (levels_.empty()) out_ << '\n';
}

void JsonWriter::Key(std::string_view name) {
  BeforeValue();
  out_ << JsonQuote(name) << ": ";
  after_key_ = true;
}

void JsonWriter::String(std::string_view text) {
  BeforeValue();
  out_ << JsonQuote(text);
}

void JsonWriter::Number(std::uint64_t number) {
  BeforeValue();
  out_ << number;
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ << (value ? "true" : "false");
}

}  // namespace nsfutil
