// busytime-harvest: imports every calendar profile's published free/busy time
// into the busy-time database of the home mail server.
#include "app/harvest_run.h"
#include "freebusy/http_client.h"

int main(int argc, char** argv) {
  HttpClient client;
  return RunHarvest(argc, argv, client);
}
