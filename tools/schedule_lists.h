// Decoding the entry lists of a busy-time document for inspection.
//
// "EventList" is an 8-byte header (byte 0: the entry count) followed by
// 36-byte entries; "EventListExt" has the same count in byte 0 and the entry
// size 72 in byte 6, followed by 72-byte entries. Every entry holds its start
// TimeDate at bytes 16-23 and its end at bytes 24-31. A list is decoded as far
// as whole entries stand in its value, whatever its header says, so a damaged
// list still shows what it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "notes/local/local_runtime.h"
#include "notes/notes.h"

namespace nsfutil {

struct ScheduleInterval {
  TimeDate start;
  TimeDate end;
};

struct ScheduleList {
  const char* item_name = "";
  bool present = false;
  std::size_t occurrences = 0;  // items of this name in the note
  std::uint16_t type_code = 0;
  std::size_t length = 0;                 // bytes of the value
  unsigned header_count = 0;              // byte 0 of the header
  std::vector<ScheduleInterval> entries;  // every whole entry after the header
  std::vector<std::string> problems;      // header against length, type, repeats
};

// Finds and decodes "EventList" (entry_size 36) or "EventListExt" (72) among
// the items of a note. A missing item gives present false and no problem.
ScheduleList DecodeScheduleList(const std::vector<notes::local::ItemInfo>& items,
                                const char* item_name, std::size_t entry_size);

// Whether the two lists describe the same intervals: the same number of
// entries and equal start and end times entry by entry. Both absent agree.
bool ListsAgree(const ScheduleList& list, const ScheduleList& list_ext);

// The first difference between the two lists in words, or empty.
std::string ListDisagreement(const ScheduleList& list, const ScheduleList& list_ext);

// ISO 8601 UTC ("2007-01-02T08:00:00Z"), or "invalid TimeDate <16 hex digits>"
// for bytes this runtime never writes.
std::string FormatTime(const TimeDate& time);

// A time item's value as text, or empty when it is not eight bytes.
std::string FormatTimeValue(std::span<const std::uint8_t> value);

}  // namespace nsfutil
