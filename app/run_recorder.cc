// Counting the run's outcomes and writing them out at its end.
#include "app/run_recorder.h"

#include <cstdio>
#include <utility>

#include "app/run_files.h"
#include "base/ascii.h"

RunRecorder::RunRecorder() { record_.started = std::chrono::system_clock::now(); }

void RunRecorder::SetOutputs(std::string report_path, std::string metrics_path) {
  report_path_ = std::move(report_path);
  metrics_path_ = std::move(metrics_path);
}

void RunRecorder::ProfilesListed(std::uint32_t profiles) {
  record_.listed = true;
  record_.profiles = profiles;
}

void RunRecorder::UserStarted() { user_started_ = std::chrono::steady_clock::now(); }

void RunRecorder::UserEnded(UserOutcome outcome) {
  outcome.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - user_started_).count();
  switch (outcome.kind) {
    case UserOutcomeKind::kWritten:
      ++record_.written;
      break;
    case UserOutcomeKind::kSkipped:
      ++record_.skipped;
      break;
    case UserOutcomeKind::kFailed:
      ++record_.failed;
      break;
    case UserOutcomeKind::kProfileSkipped:
      ++record_.profiles_skipped;
      break;
  }
  record_.download_bytes += outcome.bytes;
  record_.users.push_back(std::move(outcome));
}

void RunRecorder::PrintSummary() const {
  if (!record_.listed) return;
  std::printf(
      "Harvest summary: %u calendar profiles, %u users written, %u users skipped, "
      "%u profiles skipped\n",
      static_cast<unsigned>(record_.profiles), static_cast<unsigned>(record_.written),
      static_cast<unsigned>(record_.skipped), static_cast<unsigned>(record_.profiles_skipped));
}

void RunRecorder::Finish(int exit_code) {
  record_.finished = std::chrono::system_clock::now();
  record_.exit_code = exit_code & 0xff;
  // The console's lines come first in a combined log.
  std::fflush(stdout);
  const std::pair<const std::string*, std::string (*)(const RunRecord&)> outputs[] = {
      {&report_path_, RunReportJson}, {&metrics_path_, RunMetricsText}};
  for (const auto& [path, render] : outputs) {
    if (path->empty()) continue;
    std::string why;
    if (!WriteFileAtomically(*path, render(record_), &why))
      std::fprintf(stderr, "WARN -- Could not write %s: %s\n", EscapeUntrusted(*path).c_str(),
                   why.c_str());
  }
}
