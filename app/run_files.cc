// Rendering and writing the run report and the metrics file.
#include "app/run_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "base/masked_url.h"

namespace {

std::string Iso8601(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// The length of the valid UTF-8 sequence at the start of `text`, 0 when it
// does not start with one.
std::size_t Utf8Length(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = lead < 0x80                    ? 1
                       : lead >= 0xc2 && lead <= 0xdf ? 2
                       : lead >= 0xe0 && lead <= 0xef ? 3
                       : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                      : 0;
  if (length == 0 || length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((byte(i) & 0xc0) != 0x80) return 0;
  // Overlong forms, surrogates and code points past U+10FFFF.
  if ((lead == 0xe0 && byte(1) < 0xa0) || (lead == 0xed && byte(1) > 0x9f) ||
      (lead == 0xf0 && byte(1) < 0x90) || (lead == 0xf4 && byte(1) > 0x8f))
    return 0;
  return length;
}

// A JSON string; bytes that are no UTF-8 become U+FFFD, so the report stays
// valid whatever a profile holds.
std::string JsonString(std::string_view text) {
  std::string json = "\"";
  while (!text.empty()) {
    const unsigned char c = static_cast<unsigned char>(text[0]);
    std::size_t length = Utf8Length(text);
    if (length == 0) {
      json += "\\ufffd";
      length = 1;
    } else if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      json += escaped;
    } else {
      json.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return json + '"';
}

std::string JsonNumberOrNull(long value) { return value != 0 ? std::to_string(value) : "null"; }

const char* OutcomeName(UserOutcomeKind kind) {
  switch (kind) {
    case UserOutcomeKind::kWritten:
      return "written";
    case UserOutcomeKind::kSkipped:
      return "skipped";
    case UserOutcomeKind::kFailed:
      return "failed";
    case UserOutcomeKind::kProfileSkipped:
      return "profile skipped";
  }
  return "skipped";
}

std::string UserJson(const UserOutcome& user) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", user.seconds);
  std::string json = "{\"address\": " + JsonString(user.address);
  json += ", \"url\": " + JsonString(MaskUrlPassword(user.url));
  json += ", \"outcome\": " + JsonString(OutcomeName(user.kind));
  json += ", \"reason\": ";
  json += user.reason.empty() ? "null" : JsonString(user.reason);
  json += ", \"http_status\": " + JsonNumberOrNull(user.http_status);
  json += ", \"bytes\": " + std::to_string(user.bytes);
  json += ", \"periods\": " + std::to_string(user.periods);
  json += ", \"seconds\": ";
  json += seconds;
  return json + "}";
}

// One gauge with its HELP and TYPE lines; `samples` are the lines after them.
void Gauge(std::string& text, const char* name, const char* help, const std::string& samples) {
  text += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + " gauge\n" + samples;
}

std::string Sample(const char* name, double value, const char* labels = "") {
  char line[160];
  std::snprintf(line, sizeof line, "%s%s %.17g\n", name, labels, value);
  return line;
}

}  // namespace

std::string RunReportJson(const RunRecord& record) {
  std::string json = "{\"started\": " + JsonString(Iso8601(record.started));
  json += ", \"finished\": " + JsonString(Iso8601(record.finished));
  json += ", \"exit_code\": " + std::to_string(record.exit_code);
  json += ", \"profiles\": " + std::to_string(record.profiles);
  json += ", \"written\": " + std::to_string(record.written);
  json += ", \"skipped\": " + std::to_string(record.skipped);
  json += ", \"profiles_skipped\": " + std::to_string(record.profiles_skipped);
  json += ", \"users\": [";
  for (std::size_t i = 0; i < record.users.size(); ++i)
    json += (i == 0 ? "\n  " : ",\n  ") + UserJson(record.users[i]);
  return json + "]}\n";
}

std::string RunMetricsText(const RunRecord& record) {
  using std::chrono::duration;
  const double start = duration<double>(record.started.time_since_epoch()).count();
  const double took = duration<double>(record.finished - record.started).count();
  constexpr const char* kPrefix = "busytime_harvest_last_run_";
  const auto name = [kPrefix](const char* suffix) { return std::string(kPrefix) + suffix; };
  std::string text;
  const std::string users = name("users");
  Gauge(text, name("start_timestamp_seconds").c_str(),
        "When the last run started, in seconds since the epoch.",
        Sample(name("start_timestamp_seconds").c_str(), start));
  Gauge(text, name("duration_seconds").c_str(), "How long the last run took.",
        Sample(name("duration_seconds").c_str(), took));
  Gauge(text, name("exit_code").c_str(), "The exit code of the last run (255 for -1).",
        Sample(name("exit_code").c_str(), record.exit_code));
  Gauge(text, users.c_str(), "Users of the last run by outcome.",
        Sample(users.c_str(), record.written, "{outcome=\"written\"}") +
            Sample(users.c_str(), record.skipped, "{outcome=\"skipped\"}") +
            Sample(users.c_str(), record.failed, "{outcome=\"failed\"}"));
  Gauge(text, name("profiles").c_str(), "Calendar profiles in the list of the last run.",
        Sample(name("profiles").c_str(), record.profiles));
  Gauge(text, name("profiles_skipped").c_str(),
        "Calendar profiles of the last run whose values could not be used.",
        Sample(name("profiles_skipped").c_str(), record.profiles_skipped));
  Gauge(text, name("download_bytes").c_str(), "Body bytes downloaded by the last run.",
        Sample(name("download_bytes").c_str(), static_cast<double>(record.download_bytes)));
  return text;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* why) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // A hidden name: the textfile collector reads only names ending ".prom".
  std::string temporary = folder + (slash == std::string::npos ? "/." : ".") + name + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
  int error = fchmod(fd, 0644) == 0 ? 0 : errno;
  for (std::size_t done = 0; error == 0 && done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      error = n == 0 ? EIO : errno;
    }
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error == 0) return true;
  *why = std::strerror(error);
  unlink(temporary.c_str());
  return false;
}
