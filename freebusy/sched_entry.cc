// Encoding of one busy period as the two schedule-entry records.
#include "freebusy/sched_entry.h"

#include <cstring>

namespace {

// The appointment id that stands in every extended entry.
constexpr unsigned char kApptUNID[16] = {0xc0, 0x28, 0x59, 0xf1, 0x92, 0x0f, 0x08, 0x3d,
                                         0xf2, 0x8e, 0x79, 0x00, 0x61, 0x71, 0x25, 0x88};

// Converts one time text into its TimeDate. The result place is preset to
// zero, so a text the runtime cannot read yields a defined (zero) time rather
// than whatever the previous conversion left behind.
TimeDate ConvertTimeText(const char* text, const IntlSettings* intl_format,
                         const TimeTextFormat* td_format) {
  TimeDate timedate{};
  const char* tempPtr = text;
  TextToTime(intl_format, td_format, &tempPtr, static_cast<std::uint16_t>(std::strlen(text)),
             &timedate);
  return timedate;
}

}  // namespace

int BuildSchedEntry(const char* strStartDateTime, const char* strEndDateTime, void* record,
                    const IntlSettings* intl_format, const TimeTextFormat* td_format) {
  auto* bytes = static_cast<unsigned char*>(record);
  const unsigned char dummyUNID[16] = {};
  const unsigned char footer[4] = {0x08, 0x00, 0x00, 0x00};

  std::memcpy(bytes, dummyUNID, sizeof dummyUNID);
  const TimeDate start = ConvertTimeText(strStartDateTime, intl_format, td_format);
  std::memcpy(bytes + 16, start.bytes, sizeof start.bytes);
  const TimeDate end = ConvertTimeText(strEndDateTime, intl_format, td_format);
  std::memcpy(bytes + 24, end.bytes, sizeof end.bytes);
  std::memcpy(bytes + 32, footer, sizeof footer);
  return 0;
}

int BuildSchedEntryExt(const char* strStartDateTime, const char* strEndDateTime, void* record,
                       const IntlSettings* intl_format, const TimeTextFormat* td_format) {
  auto* bytes = static_cast<unsigned char*>(record);
  const unsigned char EntryExtFooter[20] = {};

  BuildSchedEntry(strStartDateTime, strEndDateTime, record, intl_format, td_format);
  std::memcpy(bytes + 36, kApptUNID, sizeof kApptUNID);
  std::memcpy(bytes + 52, EntryExtFooter, sizeof EntryExtFooter);
  return 0;
}

int CopyBytes(void* destination, const void* source, std::int32_t from, std::int32_t to) {
  auto* out = static_cast<unsigned char*>(destination);
  const auto* in = static_cast<const unsigned char*>(source);
  for (; from < to; ++from) *out++ = *in++;
  return 1;
}
