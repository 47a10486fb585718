#include "tools/json_writer.h"

#include "tools/text_escape.h"

namespace nsfutil {
void JsonWriter::NewLine() {
  out_ << '\n';
  for (std::size_t i = 0; i < levels_.size(); ++i) out_ << "  ";
}

void JsonWriter::BeforeValue() {
  if (bAfterKey_) {
    bAfterKey_ = false;
    return;
  }
  if (levels_.empty()) return;
  Level& level = levels_.back();
  if (!level.bEmpty) out_ << (level.bInline ? ", " : ",");
  if (!level.bInline) NewLine();
  level.bEmpty = false;
}

void JsonWriter::Open(char bracket, bool bInline) {
  BeforeValue();
  out_ << bracket;
  const bool bInsideInline = !levels_.empty() && levels_.back().bInline;
  levels_.push_back(Level{true, bInline || bInsideInline});
}

void JsonWriter::Close(char bracket) {
  const Level level = levels_.back();
  levels_.pop_back();
  if (!level.bEmpty && !level.bInline) NewLine();
  out_ << bracket;
  if (levels_.empty()) out_ << '\n';
}

void JsonWriter::Key(std::string_view name) {
  BeforeValue();
  out_ << JsonQuote(name) << ": ";
  bAfterKey_ = true;
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
