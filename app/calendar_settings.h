// The settings of the calendar reader, read once at the run's start: the
// window (HarvestWindowDays) and the zone of floating times (HarvestTimeZone).
#pragma once

#include "freebusy/calendar_reader.h"

// Fills `settings` with the two settings (their defaults when not set). Prints the "ERR -- " line
// and returns false when a setting is refused: a window outside 1 to 3660 days, or a zone that the
// system's time zone database does not know.
bool ReadCalendarSettings(CalendarSettings* settings);
