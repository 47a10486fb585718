// The harvest run: start the runtime, open the configuration and busy-time
// databases, and give every calendar profile's user a new busy-time document.
#pragma once

#include <functional>
#include <memory>

#include "freebusy/text_source.h"

// Makes the run's source of free/busy texts once the run knows how many
// downloads it may keep in flight: the setting HarvestConcurrency (1 .. 64,
// 8 when it is not set). Never returns null.
using TextSourceFactory = std::function<std::unique_ptr<TextSource>(int concurrency)>;

// Runs the whole harvest with the process's command line (handed to the
// runtime unchanged) and returns the exit code: 0 when the run completed, 1
// when the runtime did not start or the busy-time database did not close, -1
// when the run stopped on an error, HarvestConcurrency not a whole number
// from 1 to 64 included. With a concurrency above 1 the profiles are read
// first and their URLs announced to the source, which may then download
// ahead; the console shows the same lines in the same order either way.
int RunHarvest(int argc, char** argv, const TextSourceFactory& make_source);

// The strictly sequential run with a source the caller made: each profile is
// read, fetched and written before the next, and HarvestConcurrency is not
// read.
int RunHarvest(int argc, char** argv, TextSource& source);
