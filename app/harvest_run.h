// The harvest run: start the runtime, open the configuration and busy-time
// databases, and give every calendar profile's user a new busy-time document.
#pragma once

#include "freebusy/text_source.h"

// Runs the whole harvest with the process's command line (handed to the
// runtime unchanged) and returns the exit code: 0 when the run completed, 1
// when the runtime did not start or the busy-time database did not close, -1
// when the run stopped on an error.
int RunHarvest(int argc, char** argv, TextSource& source);
