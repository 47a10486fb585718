// Reading the run's output and network settings.
#include "app/run_settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/ascii.h"
#include "freebusy/http_url.h"
#include "notes/notes.h"

namespace {

// A setting's value, and whether it is set at all.
bool Setting(const char* name, std::string* value) {
  char buffer[kMaxTextBuffer + 1] = "";
  if (!GetEnvString(name, buffer, kMaxTextBuffer + 1)) return false;
  *value = buffer;
  return true;
}

// Why the PEM bundle at `path` cannot serve as the trusted certificates, or
// "" when it can. The bundle is read whole: a CA file is small, and a file
// that holds no certificate at all would only fail every https download later.
std::string CaFileProblem(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::strerror(errno);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return "it cannot be read";
  if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
    return "it holds no PEM certificate";
  return "";
}

}  // namespace

OutputSettings ReadOutputSettings() {
  OutputSettings outputs;
  Setting("HarvestReport", &outputs.report);
  Setting("HarvestMetrics", &outputs.metrics);
  return outputs;
}

bool ReadNetworkSettings(NetworkSettings* network) {
  std::string strWhy;
  if (Setting("HarvestProxy", &network->proxy) && !network->proxy.empty() &&
      !CheckProxyUrl(network->proxy, strWhy)) {
    // The value itself is not shown: it may hold the proxy's password.
    std::printf("ERR -- The setting HarvestProxy is not a usable proxy URL: %s.\n", strWhy.c_str());
    return false;
  }
  network->no_proxy_set = Setting("HarvestNoProxy", &network->no_proxy);
  if (Setting("HarvestCAFile", &network->ca_file) && !network->ca_file.empty()) {
    strWhy = CaFileProblem(network->ca_file);
    if (!strWhy.empty()) {
      std::printf("ERR -- The setting HarvestCAFile names %s, which cannot be used: %s.\n",
                  EscapeUntrusted(network->ca_file).c_str(), strWhy.c_str());
      return false;
    }
  }
  return true;
}
