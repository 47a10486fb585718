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

// Paths and URLs of our own settings are not bound to the 260-byte buffers
// of the platform's: they are read whole up to the longest path the system
// takes, and a longer one is refused rather than cut, since a cut path names
// another file.
constexpr std::size_t kMaxSettingValue = 4095;

// A setting's value, and whether it is set at all. A value longer than
// kMaxSettingValue comes back empty, with *too_long set.
bool Setting(const char* name, std::string* value, bool* too_long = nullptr) {
  char buffer[kMaxSettingValue + 2] = "";
  if (!GetEnvString(name, buffer, sizeof buffer + 1)) return false;
  const bool over = std::strlen(buffer) > kMaxSettingValue;
  *value = over ? "" : buffer;
  if (too_long != nullptr) *too_long = over;
  return true;
}

// A file the run writes at its end; one whose name is too long is left out
// with a warning, as a file that cannot be written is.
void OutputSetting(const char* name, std::string* path) {
  bool too_long = false;
  Setting(name, path, &too_long);
  if (too_long)
    std::fprintf(stderr, "WARN -- The setting %s is longer than %zu characters; it is not "
                 "written.\n", name, kMaxSettingValue);
}

// A network setting; one too long to be read whole stops the run at start.
bool NetworkSetting(const char* name, std::string* value, bool* set) {
  bool too_long = false;
  *set = Setting(name, value, &too_long);
  if (too_long)
    std::printf("ERR -- The setting %s is longer than %zu characters.\n", name,
                kMaxSettingValue);
  return !too_long;
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
  OutputSetting("HarvestReport", &outputs.report);
  OutputSetting("HarvestMetrics", &outputs.metrics);
  return outputs;
}

bool ReadNetworkSettings(NetworkSettings* network) {
  std::string why;
  bool proxy_set = false;
  bool ca_file_set = false;
  if (!NetworkSetting("HarvestProxy", &network->proxy, &proxy_set) ||
      !NetworkSetting("HarvestNoProxy", &network->no_proxy, &network->no_proxy_set) ||
      !NetworkSetting("HarvestCAFile", &network->ca_file, &ca_file_set))
    return false;
  if (proxy_set && !network->proxy.empty() && !CheckProxyUrl(network->proxy, why)) {
    // The value itself is not shown: it may hold the proxy's password.
    std::printf("ERR -- The setting HarvestProxy is not a usable proxy URL: %s.\n", why.c_str());
    return false;
  }
  if (ca_file_set && !network->ca_file.empty()) {
    why = CaFileProblem(network->ca_file);
    if (!why.empty()) {
      std::printf("ERR -- The setting HarvestCAFile names %s, which cannot be used: %s.\n",
                  EscapeUntrusted(network->ca_file).c_str(), why.c_str());
      return false;
    }
  }
  return true;
}
