// The list of calendar profiles: every entry of the view "Main" of the
// configuration database.
#pragma once

#include <cstdint>

#include "notes/notes.h"

// Reads every entry of the view "Main" of `db_ftsearch`, in view order, into
// one block (*result_buffer) with their number (*count); category entries
// (top bit set) included. Returns 0 on success. On failure it has reported the
// error and ended the runtime: the result is 1 when the view was not found,
// otherwise the failing status; *result_buffer and *count must not be used.
int GetCalendarProfiles(DbHandle db_ftsearch, MemHandle* result_buffer, std::uint32_t* count);
