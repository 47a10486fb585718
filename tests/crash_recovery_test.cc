// A harvest killed with SIGKILL at random moments, many times over, against
// a data directory of a few hundred users who each have a document from an
// earlier complete run. A user's document is replaced by deleting the old one
// and then saving the new one, and the runtime commits the two together; so
// after every kill every user has exactly one document, the old one or the
// new one: never none, never two, never a half-written one. A run to the end
// afterwards gives every user a new complete document.
//
// The default run makes a few kills. scripts/kill-loop.sh sets
// HARVEST_KILLS for the long version; HARVEST_KILL_SEED repeats a sequence.
// The figures go to standard output on a line starting "kill-loop:".
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/harvest_directory.h"
#include "tests/support/http_test_server.h"
#include "tests/support/loopback_fixture.h"
#include "tests/support/table_text_source.h"

namespace {

using test_support::BusytimeRow;
using test_support::ChildOutcome;
using test_support::Describe;
using test_support::TimedChild;

constexpr int kUsers = 300;
constexpr int kDefaultKills = 5;

int KillsToMake() {
  const char* text = std::getenv("HARVEST_KILLS");
  const int kills = text != nullptr ? std::atoi(text) : 0;
  return kills > 0 ? kills : kDefaultKills;
}

unsigned SeedToUse() {
  const char* text = std::getenv("HARVEST_KILL_SEED");
  if (text != nullptr && *text != '\0') return static_cast<unsigned>(std::strtoul(text, nullptr, 10));
  return std::random_device{}();
}

std::string Address(int user) {
  char text[32];
  std::snprintf(text, sizeof text, "user%03d@example.com", user);
  return text;
}

// One to four periods, so that a list whose header and length disagree with
// the user's text cannot pass unnoticed.
int PeriodsOf(int user) { return 1 + user % 4; }

std::string FreeBusyOf(int user) {
  std::vector<std::string> periods;
  for (int i = 0; i < PeriodsOf(user); ++i) {
    char period[80];
    std::snprintf(period, sizeof period, "202403%02dT%02d0000Z/202403%02dT%02d3000Z", i + 1,
                  user % 24, i + 1, user % 24);
    periods.push_back(period);
  }
  return test_support::FreeBusyText(periods);
}

// Each user's document by address (0 when the user has none).
using DocumentIds = std::map<std::string, std::uint32_t>;

// What one kill left.
struct AfterKill {
  int replaced = 0;  // users whose document is new
};

class CrashRecoveryTest : public test_support::HarvestProcessTest {
 protected:
  CrashRecoveryTest() : HarvestProcessTest("crash_recovery", Serve) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(HarvestProcessTest::SetUp());
    for (int user = 0; user < kUsers; ++user) addresses_.insert(Address(user));

    std::vector<std::pair<std::string, std::string>> profiles;
    for (int user = 0; user < kUsers; ++user)
      profiles.emplace_back(Address(user), server_.Url("/fb/" + std::to_string(user)));
    const ChildOutcome imported = dir_.ImportProfiles(profiles);
    ASSERT_TRUE(imported.Exited(0)) << Describe(imported);

    const ChildOutcome first = dir_.Harvest();
    ASSERT_TRUE(first.Exited(0)) << Describe(first);
    run_time_ = first.elapsed;
    ExpectEveryUserOnce(&documents_);
  }

  static HttpReply Serve(const HttpRequestRecord& request) {
    return ServeNumberedText(request, FreeBusyOf);
  }

  // Every user has exactly one complete document; their ids go to `ids`.
  void ExpectEveryUserOnce(DocumentIds* ids) {
    std::string error;
    const auto documents = dir_.BusytimeByUser(&error);
    ASSERT_TRUE(error.empty()) << error;
    for (int user = 0; user < kUsers; ++user) {
      const auto found = documents.find(Address(user));
      ASSERT_TRUE(found != documents.end()) << Address(user) << " has no document";
      ASSERT_EQ(found->second.size(), 1u) << Address(user);
      ExpectComplete(found->second[0], user);
      (*ids)[Address(user)] = found->second[0].note_id;
    }
    EXPECT_EQ(documents.size(), static_cast<std::size_t>(kUsers));
  }

  static void ExpectComplete(const BusytimeRow& row, int user) {
    EXPECT_EQ(row.entries, PeriodsOf(user)) << row.name;
    EXPECT_EQ(row.entries_ext, PeriodsOf(user)) << row.name;
    EXPECT_NE(row.last_modified, "-") << row.name;
  }

  // `nsfutil check` passes and every one of the `documents` has its lists
  // consistent.
  void ExpectDatabasesSound(std::size_t documents, const std::string& where) {
    const ChildOutcome check = dir_.Nsfutil({"check"});
    EXPECT_TRUE(check.Exited(0)) << where << "\n" << Describe(check);
    const std::pair<int, int> consistent = dir_.CountConsistent();
    EXPECT_EQ(consistent.first, static_cast<int>(documents)) << where;
    EXPECT_EQ(consistent.second, 0) << where;
  }

  // Checks the state after a kill against `state`, the state before it (in
  // which no id is above `highest_before`), and updates `state`.
  AfterKill CheckAfterKill(DocumentIds* state, std::uint32_t highest_before,
                           const std::string& where) {
    AfterKill after;
    std::string error;
    const std::vector<BusytimeRow> listed = dir_.ListBusytime(&error);
    EXPECT_TRUE(error.empty()) << where << ": " << error;
    ExpectDatabasesSound(listed.size(), where);
    std::map<std::string, std::vector<BusytimeRow>> documents;
    for (const BusytimeRow& row : listed) documents[row.name].push_back(row);
    for (const auto& [name, rows] : documents)
      EXPECT_TRUE(addresses_.count(name) != 0) << where << ": a document for \"" << name << "\"";

    for (int user = 0; user < kUsers; ++user) {
      const std::string address = Address(user);
      const std::uint32_t old_id = (*state)[address];
      const auto found = documents.find(address);
      if (found == documents.end()) {
        ADD_FAILURE() << where << ": " << address << " has no document";
        ++without_document_;
        (*state)[address] = 0;
        continue;
      }
      const std::vector<BusytimeRow>& rows = found->second;
      EXPECT_EQ(rows.size(), 1u) << where << ": " << address << " has " << rows.size()
                                 << " documents";
      const BusytimeRow& row = rows.back();
      ExpectComplete(row, user);
      const bool is_old = row.note_id == old_id;
      EXPECT_TRUE(is_old || row.note_id > highest_before)
          << where << ": " << address << " has document " << row.note_id
          << ", neither the old one " << old_id << " nor a new one";
      after.replaced += is_old ? 0 : 1;
      (*state)[address] = row.note_id;
    }
    return after;
  }

  static std::uint32_t Highest(const DocumentIds& ids) {
    std::uint32_t highest = 0;
    for (const auto& [name, id] : ids) highest = std::max(highest, id);
    return highest;
  }

  std::set<std::string> addresses_;
  DocumentIds documents_;  // after the first run
  std::chrono::milliseconds run_time_{0};
  int without_document_ = 0;  // users found without a document after a kill
};

TEST_F(CrashRecoveryTest, EveryKillLeavesEachUserTheOldOrTheNewDocument) {
  const int kills = KillsToMake();
  const unsigned seed = SeedToUse();
  SCOPED_TRACE("HARVEST_KILL_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  // Kill anywhere from the start of the process to the end of a whole run.
  std::uniform_int_distribution<long> delay_ms(0, std::max<long>(1, run_time_.count()));

  int killed = 0, finished = 0, replaced = 0;
  DocumentIds state = documents_;
  for (int round = 0; round < kills && !HasFatalFailure(); ++round) {
    const std::string where = "kill " + std::to_string(round + 1);
    const std::uint32_t highest_before = Highest(state);
    TimedChild harvest;
    ASSERT_TRUE(harvest.Start(dir_.HarvestProgram(), dir_.HarvestArguments(),
                              dir_.Root(), "killed"));
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(random)));
    harvest.Signal(SIGKILL);
    const ChildOutcome outcome = harvest.Wait(std::chrono::minutes(1));
    ASSERT_FALSE(outcome.timed_out) << where;
    if (outcome.signal == SIGKILL) {
      ++killed;
    } else {
      ASSERT_TRUE(outcome.Exited(0)) << where << "\n" << Describe(outcome);
      ++finished;
    }
    replaced += CheckAfterKill(&state, highest_before, where).replaced;
  }

  const std::uint32_t highest_before = Highest(state);
  const ChildOutcome rerun = dir_.Harvest();
  ASSERT_TRUE(rerun.Exited(0)) << Describe(rerun);
  DocumentIds final_ids;
  ExpectEveryUserOnce(&final_ids);
  for (const auto& [address, id] : final_ids)
    EXPECT_GT(id, highest_before) << address << " kept an old document through a whole run";
  ExpectDatabasesSound(kUsers, "after the rerun");

  std::printf(
      "kill-loop: users=%d kills=%d finished_before_kill=%d users_without_document=%d "
      "documents_replaced_by_killed_runs=%d run_ms=%lld seed=%u failures=%d\n",
      kUsers, killed, finished, without_document_, replaced,
      static_cast<long long>(run_time_.count()), seed, HasFailure() ? 1 : 0);
}

}  // namespace
