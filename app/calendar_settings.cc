#include "app/calendar_settings.h"

#include <cstdio>
#include <string>

#include "base/ascii.h"
#include "notes/notes.h"

bool ReadCalendarSettings(CalendarSettings* settings) {
  char value[kMaxTextBuffer] = "";
  if (GetEnvString("HarvestWindowDays", value, kMaxTextBuffer + 1)) {
    const std::string text = value;
    const bool is_number = !text.empty() && text.size() <= 9 &&
                         text.find_first_not_of("0123456789") == std::string::npos;
    const int days = is_number ? std::stoi(text) : 0;
    if (days < 1 || days > kMaxWindowDays) {
      std::printf("ERR -- The setting HarvestWindowDays must be a whole number from 1 to %d, "
                  "not \"%s\".\n",
                  kMaxWindowDays, EscapeUntrusted(text).c_str());
      return false;
    }
    settings->window_days = days;
  }
  value[0] = '\0';
  if (GetEnvString("HarvestTimeZone", value, kMaxTextBuffer + 1)) {
    if (!IsKnownTimeZone(value)) {
      std::printf("ERR -- The setting HarvestTimeZone must name a zone of the system's time zone "
                  "database, such as Europe/Berlin or UTC, not \"%s\".\n",
                  EscapeUntrusted(value).c_str());
      return false;
    }
    settings->time_zone = value;
  }
  return true;
}
