// Replacing a user's busy-time document: find the user's documents in the
// view "Main" of the busy-time database, delete them once each proved to be
// the user's, and create the new, empty note the run fills.
#pragma once

#include "notes/notes.h"

// Result when the new note could not be created: the busy-time database has
// been closed and the runtime ended; the run must stop without using either.
constexpr int kOpenBusytimeDocFatal = -2;

// Result when the busy-time database failed (notes::IsStoreFailure), or its
// view "Main" cannot be found or opened: no user's document could be replaced,
// so the run must stop. Nothing was created; *error holds the status, not yet
// reported.
constexpr int kOpenBusytimeDocStoreFailed = -3;

// Returns 1 with the new note's handle in *hBusytimeDoc; -1 when a document
// found could not be read, was not the user's (the view changed under the
// lookup) or was gone by the time of its delete (the user is skipped, nothing
// was created); kOpenBusytimeDocFatal and kOpenBusytimeDocStoreFailed as
// above; otherwise the error number of a failed entry read. *error receives
// each examined status.
int OpenBusytimeDoc(const char* strUserName, NoteHandle* hBusytimeDoc, DbHandle db_handle,
                    Status* error);
