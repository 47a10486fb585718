// The harvest run in the test's own process, with its standard output and
// standard error captured, and the way to hand it a text source the test
// keeps (a table, a source that counts or stalls).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/harvest_run.h"
#include "freebusy/text_source.h"

namespace test_support {

// Forwards every call to a source the test keeps: the run owns and drops the
// forwarder, and the test reads what the source saw after the run.
class LentTextSource final : public TextSource {
 public:
  explicit LentTextSource(TextSource& source) : source_(source) {}

  int FetchUrl(std::string& freetimedata, const char* url) override {
    return source_.FetchUrl(freetimedata, url);
  }
  void Expect(std::vector<std::string> urls) override { source_.Expect(std::move(urls)); }
  FetchFacts LastFetch() const override { return source_.LastFetch(); }

 private:
  TextSource& source_;
};

// A factory that lends `source` to every run, whatever the settings say;
// `source` must outlive the runs.
inline TextSourceFactory Lend(TextSource& source) {
  return [&source](const AheadSettings&, const NetworkSettings&) -> std::unique_ptr<TextSource> {
    return std::make_unique<LentTextSource>(source);
  };
}

struct CapturedRun {
  int exit_code = 0;
  std::string out;
  std::string err;
};

// RunHarvest with the command line "busytime-harvest" followed by `args`
// (such as the settings argument), what it printed captured.
inline CapturedRun RunCaptured(std::vector<std::string> args,
                               const TextSourceFactory& make_source) {
  args.insert(args.begin(), "busytime-harvest");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  CapturedRun run;
  run.exit_code = RunHarvest(static_cast<int>(args.size()), argv.data(), make_source);
  run.out = testing::internal::GetCapturedStdout();
  run.err = testing::internal::GetCapturedStderr();
  return run;
}

inline CapturedRun RunCaptured(std::vector<std::string> args, TextSource& source) {
  return RunCaptured(std::move(args), Lend(source));
}

}  // namespace test_support
