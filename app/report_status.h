#pragma once

#include "notes/notes.h"

// Writes the text of the status's error number to standard error as
// "\n%s\n".
void ReportStatus(Status error);
