// Whether a calendar text arrived whole. A body that a server or a proxy cut
// short (a close-delimited HTTP/1.0 body ended early, a Content-Length
// shorter than the body) is still a text, and would replace a user's busy
// time with part of it; the components it opens and never closes give it away.
#pragma once

#include <string_view>

// The line printed for a text that fails IsCalendarComplete.
inline constexpr std::string_view kCutShortMessage =
    "ERR -- The free/busy text ends before its calendar does; it may have been cut short.\n";

// False when `text` opens a VCALENDAR or a VFREEBUSY component (a BEGIN line,
// names and values without regard to case) that no later END line closes.
// Several calendars one after the other are fine as long as each is closed.
// A text that opens neither, such as bare FREEBUSY lines, is complete. Reads
// the logical lines as the free/busy reader does (a leading byte-order mark,
// folds and LF or CRLF line ends), in time linear in the text.
bool IsCalendarComplete(std::string_view text);
