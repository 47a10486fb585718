// The schedule entries of a busy-time document: the 36-byte entry of
// "EventList" and the 72-byte extended entry of "EventListExt". Both are
// stored formats: every byte is fixed here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "notes/notes.h"

// Fills bytes 0-35 of `record`: 16 zero bytes, the start and end TimeDate as
// TextToTime delivers them, and the footer 08 00 00 00. Returns 0.
int BuildSchedEntry(const char* strStartDateTime, const char* strEndDateTime, void* record,
                    const IntlSettings* intl_format, const TimeTextFormat* td_format);

// Fills bytes 0-71 of `record`: the 36-byte entry, the fixed appointment id
// and 20 zero bytes. Returns 0.
int BuildSchedEntryExt(const char* strStartDateTime, const char* strEndDateTime, void* record,
                       const IntlSettings* intl_format, const TimeTextFormat* td_format);

// Copies to - from bytes from the start of `source` to the start of
// `destination` (nothing when from >= to). Returns 1.
int CopyBytes(void* destination, const void* source, std::int32_t from, std::int32_t to);
