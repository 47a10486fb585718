// Feeds arbitrary bytes to the runtime's time-text reader, directly and
// through the gateway's TextToTime on a local runtime (which needs no
// NotesInit for this). Both must agree, read nothing past the given length,
// leave the result and the text pointer alone on refusal, and give back an
// instant that prints as the very text that was read. Which texts are taken
// is checked against a plain reading of the format written down here.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "notes/backend.h"
#include "notes/local/local_runtime.h"
#include "notes/local/time_date.h"
#include "notes/notes.h"

namespace {

// The text as the reader gives it back: "YYYY-MM-DD HH:MM:SS GMT".
std::string GmtTextOf(const TimeDate& time) {
  std::string iso = notes::local::FormatTimeDateIso(time);  // "YYYY-MM-DDTHH:MM:SSZ"
  if (iso.size() != 20) return iso;
  return iso.substr(0, 10) + " " + iso.substr(11, 8) + " GMT";
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int Number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

// "YYYY-MM-DD HH:MM:SS GMT" naming a real instant of the years 0001-9999.
bool IsGmtTimeText(std::string_view text) {
  static constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd GMT";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] == 'd' ? !IsDigit(text[i]) : text[i] != kShape[i]) return false;
  }
  int year = Number(text.substr(0, 4));
  int month = Number(text.substr(5, 2));
  int day = Number(text.substr(8, 2));
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  bool leap_year = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (day > kDays[month - 1] + (month == 2 && leap_year ? 1 : 0)) return false;
  return Number(text.substr(11, 2)) <= 23 && Number(text.substr(14, 2)) <= 59 &&
         Number(text.substr(17, 2)) <= 59;
}

Status GatewayTextToTime(std::string_view text, const char** text_ptr, TimeDate* time) {
  static notes::local::LocalRuntime runtime;
  notes::ScopedBackend use_runtime(runtime);
  IntlSettings settings{};
  settings.flags = 396;
  const TimeTextFormat format{{4, 0, 0, 2}};
  return TextToTime(&settings, &format, text_ptr, static_cast<std::uint16_t>(text.size()), time);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > UINT16_MAX) return -1;  // TextToTime takes a 16-bit length
  // libFuzzer's buffer ends exactly after the input, so AddressSanitizer
  // reports any read past the given length.
  std::string_view text(reinterpret_cast<const char*>(data), size);

  TimeDate direct;
  std::memset(&direct, 0xA5, sizeof direct);
  bool parsed = notes::local::ParseGmtTimeText(text, &direct);

  TimeDate through_gateway;
  std::memset(&through_gateway, 0x5A, sizeof through_gateway);
  const char* text_ptr = text.data();
  Status status = GatewayTextToTime(text, &text_ptr, &through_gateway);

  FUZZ_CHECK((status == 0) == parsed);
  FUZZ_CHECK(parsed == IsGmtTimeText(text));
  if (!parsed) {
    for (std::uint8_t byte : direct.bytes) FUZZ_CHECK(byte == 0xA5);
    for (std::uint8_t byte : through_gateway.bytes) FUZZ_CHECK(byte == 0x5A);
    FUZZ_CHECK(text_ptr == text.data());
    return 0;
  }
  FUZZ_CHECK(size == notes::local::kGmtTimeTextLength);
  FUZZ_CHECK(text_ptr == text.data() + size);
  FUZZ_CHECK(std::memcmp(direct.bytes, through_gateway.bytes, sizeof direct.bytes) == 0);
  FUZZ_CHECK(notes::local::DecodeTimeDate(direct, nullptr, nullptr));
  FUZZ_CHECK(GmtTextOf(direct) == text);
  return 0;
}
