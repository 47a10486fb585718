// A small streaming JSON writer for nsfutil's --json output: it places the
// commas and indentation, and escapes every string so that any bytes a
// document holds come out as valid JSON.
#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>
#include <vector>

namespace nsfutil {

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  void BeginObject() { Open('{', false); }
  // An object written on one line, for small records.
  void BeginInlineObject() { Open('{', true); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('[', false); }
  void EndArray() { Close(']'); }

  // Names the next value inside an object.
  void Key(std::string_view name);
  void String(std::string_view text);
  void Number(std::uint64_t number);
  void Bool(bool value);

  // A key and its value, for the records written field by field.
  void StringField(std::string_view name, std::string_view text) {
    Key(name);
    String(text);
  }
  void NumberField(std::string_view name, std::uint64_t number) {
    Key(name);
    Number(number);
  }

 private:
  struct Level {
    bool empty = true;
    bool one_line = false;
  };
  void BeforeValue();
  void Open(char bracket, bool one_line);
  void Close(char bracket);
  void NewLine();

  std::ostream& out_;
  std::vector<Level> levels_;
  bool after_key_ = false;
};

}  // namespace nsfutil
