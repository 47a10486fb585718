// Filling a user's busy-time document. The text is read first and the document
// is only touched once the text proved to be free/busy data, so a failed
// download never costs a user the busy time already published.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "freebusy/calendar_reader.h"
#include "freebusy/freebusy_reader.h"
#include "freebusy/text_source.h"
#include "notes/notes.h"

// Fetches the user's free/busy text and reads its periods; a text that is
// no free/busy data but a calendar of events is read as such, with
// `calendar`. Prints the fetch's and the reader's lines on standard output.
// Returns 1 when `periods` holds the user's busy time (possibly none) and -1
// when the text could not be obtained or read; *why (when given) then
// receives the printed line that says why, without its line end. With
// `total`, a free/busy text keeps only as many periods as a document holds,
// those to come before those over a day before calendar.run_start, and
// `*total` counts them all.
int ReadUserBusyTime(TextSource& source, const char* strBusyTimeURL,
                     std::vector<BusyPeriodText>& periods, const CalendarSettings& calendar,
                     std::string* why = nullptr, std::size_t* total = nullptr);

// Prints the warning naming the user that says how many of `period_count`
// periods PopulateBusyTime will drop, when it drops any. The run prints it
// with the user's other warnings, before "Populating ...".
void WarnAboutDroppedPeriods(const char* strUserName, std::size_t period_count);

// Writes the time stamps, the text items, "EventList", "EventListExt" and
// "AllowList" into the new, empty busy-time document. At most 255 periods are
// stored (the list header counts in one byte); the rest are dropped without a
// word (see WarnAboutDroppedPeriods). Returns 1; -1, with the status in *error, when an
// item could not be written: the fill stops there and the document, now
// incomplete, must not be saved.
int PopulateBusyTime(NoteHandle document, const char* strUserName,
                     const std::vector<BusyPeriodText>& periods, Status* error);
