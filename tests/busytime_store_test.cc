// The built busytime-harvest against what a busy-time database can hold or
// refuse. A file that is read-only, or locked by another process, is a
// failure of the store, not of a user: the run stops at the first user with
// the status text and exit code -1, after one lock wait at most, and every
// user keeps the document they had. Several documents of one user are folded
// into the new one.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/harvest_directory.h"
#include "tests/support/http_test_server.h"
#include "tests/support/loopback_fixture.h"
#include "tests/support/restricted_run.h"
#include "tests/support/table_text_source.h"

namespace {

namespace fs = std::filesystem;
using test_support::ChildOutcome;
using test_support::Describe;

constexpr auto kRunLimit = std::chrono::seconds(60);
constexpr int kUsers = 3;

class BusytimeStoreTest : public test_support::HarvestProcessTest {
 protected:
  BusytimeStoreTest() : HarvestProcessTest("busytime_store", Serve) {}

  // Every user has one document from a first, clean run; lock waits are short.
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(HarvestProcessTest::SetUp());
    std::ofstream(dir_.Ini(), std::ios::app) << "LockTimeout=300\n";
    std::vector<std::pair<std::string, std::string>> profiles;
    for (int user = 0; user < kUsers; ++user)
      profiles.emplace_back(Address(user), Url(user));
    const ChildOutcome imported = dir_.ImportProfiles(profiles);
    ASSERT_TRUE(imported.Exited(0)) << Describe(imported);
    const ChildOutcome first = dir_.Harvest(kRunLimit);
    ASSERT_TRUE(first.Exited(0)) << Describe(first);
    before_ = Documents();
    ASSERT_EQ(before_.size(), static_cast<std::size_t>(kUsers));
  }

  static std::string Address(int user) { return "user" + std::to_string(user) + "@example.com"; }
  std::string Url(int user) const { return server_.Url("/fb/" + std::to_string(user + 1)); }

  // Each user's documents by NoteId.
  std::map<std::string, std::vector<std::uint32_t>> Documents() const {
    std::string error;
    std::map<std::string, std::vector<std::uint32_t>> ids;
    for (const auto& [address, rows] : dir_.BusytimeByUser(&error))
      for (const test_support::BusytimeRow& row : rows) ids[address].push_back(row.note_id);
    EXPECT_EQ(error, "");
    return ids;
  }

  // The run stopped at the first user with `reason`; nobody's document changed.
  void ExpectStoppedAtTheFirstUser(const ChildOutcome& run, const std::string& reason) {
    EXPECT_TRUE(run.Exited(255)) << Describe(run);
    EXPECT_EQ(run.out, "Found 3 calendar profiles\nLoading Calendar Profile for " + Address(0) +
                           " (" + Url(0) + ")\nERR -- Failed to replace " + Address(0) +
                           "'s busytime document.\nHarvest summary: 3 calendar profiles, 0 "
                           "users written, 0 users skipped, 0 profiles skipped\n\nProgram "
                           "completed unsuccessfully.\n");
    EXPECT_EQ(run.err, "\n" + reason + "\n");
    EXPECT_EQ(Documents(), before_);
  }

  static HttpReply Serve(const HttpRequestRecord& request) {
    return ServeNumberedText(request, [](int periods) {
      std::vector<std::string> list(periods, "20250102T090000Z/PT30M");
      return test_support::FreeBusyText(list);
    });
  }

  std::map<std::string, std::vector<std::uint32_t>> before_;
};

TEST_F(BusytimeStoreTest, ReadOnlyDatabaseFileStopsTheRunAtTheFirstUser) {
  std::string unavailable;
  const ChildOutcome run = test_support::RunWithReadOnlyFolder(
      dir_.BusytimeFile(), {dir_.HarvestProgram(), dir_.HarvestArguments(), dir_.Root(), kRunLimit},
      &unavailable);
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  ExpectStoppedAtTheFirstUser(run, "The database file is read-only");
}

// Another process holds the write lock for the whole run: the run waits once,
// for the first user, and stops there.
TEST_F(BusytimeStoreTest, LockHeldByAnotherProcessStopsTheRunAfterOneWait) {
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(dir_.BusytimeFile().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const ChildOutcome run = dir_.Harvest(kRunLimit);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  ExpectStoppedAtTheFirstUser(run, "The database is locked by another process; gave up waiting");
}

// Several documents of one user, as two runs at once or a crash leave them,
// are folded into the one new document with one warning, instead of one more
// being added at every run.
TEST_F(BusytimeStoreTest, SeveralDocumentsOfAUserAreFoldedIntoOne) {
  for (int extra = 0; extra < 2; ++extra)
    ASSERT_TRUE(test_support::AddEmptyBusytimeDocument(dir_.Ini(), "busytime.nsf", Address(1)));
  const ChildOutcome run = dir_.Harvest(kRunLimit);
  ASSERT_TRUE(run.Exited(0)) << Describe(run);
  EXPECT_NE(run.out.find("Loading Calendar Profile for " + Address(1) + " (" + Url(1) +
                         ")\nWARN -- " + Address(1) +
                         " had 3 busy-time documents; they are replaced by one new document.\n"
                         "Populating "),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("WARN -- " + Address(0)), std::string::npos) << run.out;
  const auto after = Documents();
  for (int user = 0; user < kUsers; ++user) {
    ASSERT_EQ(after.at(Address(user)).size(), 1u) << Address(user);
    EXPECT_GT(after.at(Address(user))[0], before_.at(Address(kUsers - 1))[0]) << Address(user);
  }
}

}  // namespace
