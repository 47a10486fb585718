// What a run says about itself beyond its progress lines: the summary line
// at the end of the console output, and, when the settings ask for them, a
// JSON run report and a metrics file for the node exporter's textfile
// collector. The run tells the recorder how many profiles the list holds and
// how each profile's turn ended; the recorder keeps the counts and one
// record per profile.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class UserOutcomeKind { kWritten, kSkipped, kFailed, kProfileSkipped };

// How one calendar profile's turn ended.
struct UserOutcome {
  std::string address;
  std::string url;  // as configured; the report masks its password (MaskUrlPassword)
  UserOutcomeKind kind = UserOutcomeKind::kSkipped;
  std::string reason;    // the line that explained a skip or the stop; "" for none
  long http_status = 0;  // the last HTTP status received; 0 for none
  std::size_t bytes = 0;
  std::size_t periods = 0;  // busy periods read from the text
  double seconds = 0;       // set by the recorder
};

// Everything the report and the metrics file show.
struct RunRecord {
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point finished;
  int exit_code = 0;    // as the shell sees it: -1 is 255
  bool listed = false;  // the profile list was read
  std::uint32_t profiles = 0;
  std::uint32_t written = 0;
  std::uint32_t skipped = 0;
  std::uint32_t failed = 0;
  std::uint32_t profiles_skipped = 0;
  std::uint64_t download_bytes = 0;
  std::vector<UserOutcome> users;
};

class RunRecorder {
 public:
  // The run starts now.
  RunRecorder();

  // The settings HarvestReport and HarvestMetrics; read once the runtime has
  // started. Empty paths write nothing.
  void SetOutputs(std::string report_path, std::string metrics_path);

  // The profile list was read: `profiles` calendar profiles, headings not
  // counted.
  void ProfilesListed(std::uint32_t profiles);

  // A profile's turn begins; its clock starts.
  void UserStarted();
  // It ended as `outcome` says.
  void UserEnded(UserOutcome outcome);

  // Prints "Harvest summary: ..." when the profile list was read.
  void PrintSummary() const;

  // The run ended with `exit_code`: writes the report and the metrics file
  // where the settings asked. A file that cannot be written is a warning on
  // standard error and nothing more.
  void Finish(int exit_code);

  const RunRecord& Record() const { return record_; }

 private:
  RunRecord record_;
  std::string report_path_;
  std::string metrics_path_;
  std::chrono::steady_clock::time_point user_started_;
};
