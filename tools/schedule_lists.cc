#include "tools/schedule_lists.h"

#include <cstdio>
#include <cstring>

#include "notes/local/time_date.h"

namespace nsfutil {
namespace {

std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void CheckHeader(ScheduleList* list, std::span<const std::uint8_t> value, std::size_t entry_size) {
  const std::string name = list->item_name;
  if (list->occurrences > 1) {
    list->problems.push_back(name + " occurs " + std::to_string(list->occurrences) +
                             " times; only the first is shown");
  }
  if (list->type_code != kTypeScheduleList) {
    char text[96];
    std::snprintf(text, sizeof text, " has type 0x%04X instead of 0x%04X", list->type_code,
                  kTypeScheduleList);
    list->problems.push_back(name + text);
  }
  if (value.size() < kSchedListHeaderSize) {
    list->problems.push_back(name + " is " + Count(value.size(), "byte", "bytes") +
                             " long, shorter than its 8-byte header");
    return;
  }
  const std::size_t expected = kSchedListHeaderSize + entry_size * list->header_count;
  if (value.size() != expected) {
    list->problems.push_back(
        name + " header counts " + Count(list->header_count, "entry", "entries") + " (8 + " +
        std::to_string(entry_size) + " x " + std::to_string(list->header_count) + " = " +
        std::to_string(expected) + " bytes) but the value is " + std::to_string(value.size()) +
        " bytes long");
  }
  if (entry_size == kSchedEntryExtSize && value[6] != kSchedEntryExtSize) {
    list->problems.push_back(name + " header gives the entry size " + std::to_string(value[6]) +
                             " instead of 72");
  }
}

bool SameTime(const TimeDate& a, const TimeDate& b) {
  return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

}  // namespace

ScheduleList DecodeScheduleList(const std::vector<notes::local::ItemInfo>& items,
                                const char* item_name, std::size_t entry_size) {
  ScheduleList list;
  list.item_name = item_name;
  const notes::local::ItemInfo* first = nullptr;
  for (const notes::local::ItemInfo& item : items) {
    if (item.name != item_name) continue;
    ++list.occurrences;
    if (first == nullptr) first = &item;
  }
  if (first == nullptr) return list;

  list.present = true;
  list.type_code = first->type_code;
  list.length = first->value.size();
  const std::span<const std::uint8_t> value(first->value);
  list.header_count = value.empty() ? 0 : value[0];
  CheckHeader(&list, value, entry_size);
  for (std::size_t offset = kSchedListHeaderSize; offset + entry_size <= value.size();
       offset += entry_size) {
    ScheduleInterval interval{};
    std::memcpy(interval.start.bytes, &value[offset + 16], sizeof interval.start.bytes);
    std::memcpy(interval.end.bytes, &value[offset + 24], sizeof interval.end.bytes);
    list.entries.push_back(interval);
  }
  return list;
}

std::string ListDisagreement(const ScheduleList& list, const ScheduleList& list_ext) {
  if (list.present != list_ext.present) {
    return std::string(list.present ? list_ext.item_name : list.item_name) + " is missing";
  }
  if (list.entries.size() != list_ext.entries.size()) {
    return std::string(list.item_name) + " holds " +
           Count(list.entries.size(), "entry", "entries") + ", " + list_ext.item_name + " " +
           std::to_string(list_ext.entries.size());
  }
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    if (!SameTime(list.entries[i].start, list_ext.entries[i].start) ||
        !SameTime(list.entries[i].end, list_ext.entries[i].end)) {
      return "entry " + std::to_string(i) + " differs between " + list.item_name + " and " +
             list_ext.item_name;
    }
  }
  return {};
}

bool ListsAgree(const ScheduleList& list, const ScheduleList& list_ext) {
  return ListDisagreement(list, list_ext).empty();
}

std::string FormatTime(const TimeDate& time) {
  std::string text = notes::local::FormatTimeDateIso(time);
  if (!text.empty()) return text;
  text = "invalid TimeDate ";
  char hex[3];
  for (std::uint8_t byte : time.bytes) {
    std::snprintf(hex, sizeof hex, "%02x", byte);
    text += hex;
  }
  return text;
}

std::string FormatTimeValue(std::span<const std::uint8_t> value) {
  TimeDate time{};
  if (value.size() != sizeof time.bytes) return {};
  std::memcpy(time.bytes, value.data(), sizeof time.bytes);
  return FormatTime(time);
}

}  // namespace nsfutil
