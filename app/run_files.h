// The run report (JSON) and the metrics file (the Prometheus text format),
// and how both are written: into a temporary file in the same folder that is
// then renamed over the old one, so a reader sees the old file or the new
// one, never half of one.
#pragma once

#include <string>

#include "app/run_recorder.h"

// {"started", "finished", "exit_code", "profiles", "written", "skipped",
// "profiles_skipped", "users": [{"address", "url", "outcome", "reason",
// "http_status", "bytes", "periods", "seconds"}]}; times in ISO 8601 UTC,
// URLs with their password masked, texts as valid UTF-8.
std::string RunReportJson(const RunRecord& record);

// The busytime_harvest_last_run_* gauges, each with HELP and TYPE.
std::string RunMetricsText(const RunRecord& record);

// Replaces `path` with `text` atomically, readable by everyone (the metrics
// collector runs as another user). False, with the reason in *why, when it
// could not; no temporary file is left behind then.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* why);
