// Reads the busy periods of an iCalendar free/busy text (RFC 5545 FREEBUSY
// properties). Each period is handed on as two 23-character UTC time texts
// "YYYY-MM-DD HH:MM:SS GMT", in the order of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One busy period as start and end time texts, each zero-terminated.
struct BusyPeriodText {
  char start[24];
  char end[24];
};

// Reads every busy period of `text` into `periods` (appended). Returns 1 when
// the text is free/busy data (it has a VFREEBUSY component or a FREEBUSY
// property; it may have no period at all) and -1 when it is not, or when it
// was cut short (IsCalendarComplete, freebusy/calendar_complete.h; nothing is
// read then). Every line to print, in order, is appended to `messages`:
// warnings for periods that were skipped or read with assumptions, and one
// ERR line for a text that was cut short or is not free/busy data ("ERR --
// Invalid iCal file format\n"). A leading UTF-8 byte-order mark is skipped.
// Runs in time linear in the text.
//
// With `keep`, at most that many periods are appended; the ones after them
// are checked and warned about all the same, and counted in `*beyond`. Once
// `keep` periods are held, a period that ends after the time text `over_by`
// takes the place of the first one held that ends at or before it: a text
// that starts in the past must not fill the document with busy time gone
// and leave out the busy time to come.
int ReadFreeBusyText(std::string_view text, std::vector<BusyPeriodText>& periods,
                     std::string& messages, std::size_t keep = SIZE_MAX,
                     std::size_t* beyond = nullptr, std::string_view over_by = {});
