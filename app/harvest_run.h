// The harvest run: start the runtime, open the configuration and busy-time
// databases, and give every calendar profile's user a new busy-time document.
#pragma once

#include <functional>
#include <memory>

#include "freebusy/prefetch_client.h"
#include "freebusy/text_source.h"

// Makes the run's source of free/busy texts once the run has read how
// downloads may run ahead: the settings HarvestConcurrency (1 .. 256, 8 when
// it is not set), HarvestAheadBytes and HarvestHostConnections, and how
// downloads reach the network: HarvestProxy, HarvestNoProxy, HarvestCAFile.
// Never returns null.
using TextSourceFactory =
    std::function<std::unique_ptr<TextSource>(const AheadSettings&, const NetworkSettings&)>;

// Runs the whole harvest with the process's command line (handed to the
// runtime unchanged) and returns the exit code: 0 when the run completed, 1
// when the runtime did not start or the busy-time database did not close, -1
// when the run stopped on an error, a setting of downloading ahead or of
// calendars (HarvestWindowDays, HarvestTimeZone) out of range, a malformed
// proxy URL or an unreadable CA file included. Every run reads these settings
// before it opens a database, then makes its source with `make_source`. Every
// run that read the profile list ends its output with the summary line; the
// run report and the metrics file are written where HarvestReport and
// HarvestMetrics say. With a concurrency above 1 the profiles are read first
// and their URLs announced to the source, which may then download ahead; the
// console shows the same lines in the same order either way, and with a
// concurrency of 1 every profile is read, fetched and written before the next.
int RunHarvest(int argc, char** argv, const TextSourceFactory& make_source);
