// The one way the run and the directory access report a failed status: its
// text on standard error. It lives with the gateway, below both, because it
// needs nothing but LoadErrorText.
#pragma once

#include "notes/notes.h"

// Writes the text of the status's error number to standard error as
// "\n%s\n".
void ReportStatus(Status error);
