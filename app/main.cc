// busytime-harvest: imports every calendar profile's published free/busy time
// into the busy-time database of the home mail server.
#include "app/harvest_run.h"
#include "freebusy/prefetch_client.h"

int main(int argc, char** argv) {
  // One download at a time for a concurrency of 1, fetched ahead above it.
  return RunHarvest(argc, argv, [](const AheadSettings& ahead, const NetworkSettings& network) {
    FetchLimits limits;
    limits.network = network;
    return MakeHttpSource(ahead, limits);
  });
}
