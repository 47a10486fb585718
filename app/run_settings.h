// The settings the run reads beside HarvestConcurrency: where it writes its
// report and metrics, and how its downloads reach the network.
#pragma once

#include <string>

#include "freebusy/download.h"

// HarvestReport and HarvestMetrics: the files the run writes at its end;
// empty when not set.
struct OutputSettings {
  std::string report;
  std::string metrics;
};
OutputSettings ReadOutputSettings();

// HarvestProxy, HarvestNoProxy and HarvestCAFile. A proxy URL that cannot be
// used or a CA file that cannot be read is refused: false, after printing the
// line that says which setting is wrong and why.
bool ReadNetworkSettings(NetworkSettings* network);
