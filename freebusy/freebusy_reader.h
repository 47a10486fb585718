// Reads the busy periods of an iCalendar free/busy text (RFC 5545 FREEBUSY
// properties). Each period is handed on as two 23-character UTC time texts
// "YYYY-MM-DD HH:MM:SS GMT", in the order of the text.
#pragma once

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
// property; it may have no period at all) and -1 when it is not. Every line to
// print, in order, is appended to `messages`: warnings for periods that were
// skipped or read with assumptions, and "ERR -- Invalid iCal file format\n"
// for a text that is not free/busy data. Runs in time linear in the text.
int ReadFreeBusyText(std::string_view text, std::vector<BusyPeriodText>& periods,
                     std::string& messages);
