// What a run reports about itself: the summary line, the JSON run report and
// the metrics file, read back by a JSON parser and by the Prometheus client's
// own parser (tests/support/run_files.py), for a run with every outcome and
// for one that stops.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "notes/status_codes.h"
#include "tests/support/fake_gateway.h"
#include "tests/support/faulty_backend.h"
#include "tests/support/in_process_run.h"
#include "tests/support/table_text_source.h"
#include "tests/support/timed_child.h"

namespace {

namespace fs = std::filesystem;
using test_support::FreeBusyText;
using test_support::TextItem;

const char kBusytimeDb[] = "busytime.nsf";
constexpr NoteId kCategory = 0x80000001, kAlice = 0x10, kBob = 0x14, kCarol = 0x18, kDan = 0x1C;

class RunReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fake_.settings["HarvestReport"] = (dir_ / "report.json").string();
    fake_.settings["HarvestMetrics"] = (dir_ / "harvest.prom").string();
    fake_.databases["ruvconfig.nsf"].views["Main"] = {{kCategory, kAlice, kBob, kCarol, kDan},
                                                      "UserEmailAddress"};
    fake_.databases[kBusytimeDb].views["Main"] = {{}, "$Name"};
    Profile(kAlice, "alice@x.com", "http://fb/alice");
    Profile(kBob, "bob@x.com", "http://bob:secret@fb/bob");  // the password never shows
    Profile(kCarol, "carol@x.com", "");
    Profile(kDan, "dan@x.com", "http://fb/dan");
    source_.table["http://fb/alice"] = {
        1, FreeBusyText({"20240102T090000Z/20240102T100000Z", "20240103T090000Z/PT1H"}), "", 200};
    source_.table["http://bob:secret@fb/bob"] = {
        -1, "", "ERR -- The server at \"fb\" answered with HTTP status 404\n", 404};
    source_.table["http://fb/dan"] = {1, "<html>moved</html>", "", 200};
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Profile(NoteId id, const std::string& address, const std::string& url) {
    fake_.databases["ruvconfig.nsf"].documents[id] = {TextItem("UserEmailAddress", address),
                                                      TextItem("busytimeurl", url)};
  }

  int Run() {
    test_support::CapturedRun run = test_support::RunCaptured({}, source_);
    out_ = std::move(run.out);
    err_ = std::move(run.err);
    return run.exit_code;
  }

  // What run_files.py reads in the file `name` as `kind` ("report", "metrics").
  std::string Parsed(const char* kind, const char* name) {
    const test_support::ChildOutcome parsed = test_support::RunTimedChild(
        "/usr/bin/python3",
        {HARVEST_SOURCE_DIR "/tests/support/run_files.py", kind, (dir_ / name).string()}, dir_);
    EXPECT_TRUE(parsed.Exited(0)) << parsed.err;
    return parsed.out;
  }

  // The last line of the console output before `tail`.
  std::string SummaryBefore(const std::string& tail) const {
    if (out_.size() < tail.size() || out_.compare(out_.size() - tail.size(), tail.size(), tail))
      return "(output does not end with the tail)";
    const std::string head = out_.substr(0, out_.size() - tail.size());
    return head.substr(head.rfind('\n', head.size() - 2) + 1);
  }

  fs::path dir_ = fs::temp_directory_path() / ("run_report_test_" + std::to_string(getpid()));
  test_support::FakeGateway fake_;
  test_support::FaultyBackend faults_{fake_};
  notes::ScopedBackend installed_{faults_};
  test_support::TableTextSource source_;
  std::string out_, err_;
};

TEST_F(RunReportTest, EveryOutcomeIsCountedReportedAndMeasured) {
  if (!test_support::RunTimedChild("/usr/bin/python3", {"-c", "import prometheus_client"}, dir_)
           .Exited(0))
    GTEST_SKIP() << "python3-prometheus-client is not installed";
  ASSERT_EQ(Run(), 0) << out_;
  EXPECT_EQ(SummaryBefore(""),
            "Harvest summary: 4 calendar profiles, 1 users written, 2 users skipped, "
            "1 profiles skipped\n");
  EXPECT_EQ(err_, "");
  EXPECT_EQ(Parsed("report", "report.json"),
            "times ok\nexit_code 0\nprofiles 4\nwritten 1\nskipped 2\nprofiles_skipped 1\n"
            "user | alice@x.com | http://fb/alice | written | None | 200 | 153 | 2 | ok\n"
            "user | bob@x.com | http://bob:***@fb/bob | skipped | "
            "ERR -- The server at \"fb\" answered with HTTP status 404 | 404 | 0 | 0 | ok\n"
            "user | carol@x.com |  | profile skipped | "
            "ERR -- Calendar profile for carol@x.com has an empty busytimeurl. Profile is skipped."
            " | None | 0 | 0 | ok\n"
            "user | dan@x.com | http://fb/dan | skipped | ERR -- Invalid iCal file format | "
            "200 | 18 | 0 | ok\n");
  EXPECT_EQ(Parsed("metrics", "harvest.prom"),
            "gauge busytime_harvest_last_run_start_timestamp_seconds documented\n"
            "  busytime_harvest_last_run_start_timestamp_seconds  now\n"
            "gauge busytime_harvest_last_run_duration_seconds documented\n"
            "  busytime_harvest_last_run_duration_seconds  small\n"
            "gauge busytime_harvest_last_run_exit_code documented\n"
            "  busytime_harvest_last_run_exit_code  0.0\n"
            "gauge busytime_harvest_last_run_users documented\n"
            "  busytime_harvest_last_run_users outcome=written 1.0\n"
            "  busytime_harvest_last_run_users outcome=skipped 2.0\n"
            "  busytime_harvest_last_run_users outcome=failed 0.0\n"
            "gauge busytime_harvest_last_run_profiles documented\n"
            "  busytime_harvest_last_run_profiles  4.0\n"
            "gauge busytime_harvest_last_run_profiles_skipped documented\n"
            "  busytime_harvest_last_run_profiles_skipped  1.0\n"
            "gauge busytime_harvest_last_run_download_bytes documented\n"
            "  busytime_harvest_last_run_download_bytes  171.0\n");
  // No temporary file is left (they are hidden: ".NAME.XXXXXX").
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST_F(RunReportTest, TheUserWhereTheRunStoppedFailed) {
  faults_.Fail("NoteUpdate", notes::kErrDatabaseIo);
  ASSERT_EQ(Run(), -1);
  EXPECT_EQ(SummaryBefore("\nProgram completed unsuccessfully.\n"),
            "Harvest summary: 4 calendar profiles, 0 users written, 0 users skipped, "
            "0 profiles skipped\n");
  const std::string report = Parsed("report", "report.json");
  EXPECT_NE(report.find("exit_code 255\n"), std::string::npos) << report;
  EXPECT_NE(report.find("user | alice@x.com | http://fb/alice | failed | "
                        "ERR -- Failed to update busytime document. | 200 |"),
            std::string::npos)
      << report;
  EXPECT_EQ(report.find("bob@x.com"), std::string::npos) << "a user after the stop is reported";
  const std::string metrics = Parsed("metrics", "harvest.prom");
  EXPECT_NE(metrics.find("busytime_harvest_last_run_exit_code  255.0\n"), std::string::npos);
  EXPECT_NE(metrics.find("outcome=failed 1.0\n"), std::string::npos) << metrics;
}

// Files that cannot be written cost the run nothing but a warning each.
TEST_F(RunReportTest, UnwritableFilesAreOnlyWarnings) {
  fake_.settings["HarvestReport"] = (dir_ / "missing" / "report.json").string();
  fake_.settings["HarvestMetrics"] = dir_.string();  // a folder
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(err_, "WARN -- Could not write " + (dir_ / "missing" / "report.json").string() +
                      ": No such file or directory\nWARN -- Could not write " + dir_.string() +
                      ": Is a directory\n");
  EXPECT_NE(out_.find("1 users written"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
