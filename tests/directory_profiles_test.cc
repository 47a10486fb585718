// The calendar profile list against the fake gateway: every entry in view
// order whatever the read passes, and the three failure paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "directory/calendar_profiles.h"
#include "notes/status_codes.h"
#include "tests/support/fake_gateway.h"
#include "tests/support/faulty_backend.h"

namespace {

using test_support::FakeGateway;
using test_support::TextItem;

const std::vector<NoteId> kEntries = {0x80000001, 0x10, 0x14, 0x80000002, 0x18};

class ProfileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.databases["ruvconfig.nsf"].views["Main"] = {kEntries, "UserEmailAddress"};
    for (NoteId id : {0x10u, 0x14u, 0x18u})
      fake_.databases["ruvconfig.nsf"].documents[id] = {TextItem("UserEmailAddress", "u")};
    char program[] = "test";
    char* argv[] = {program};
    ASSERT_EQ(NotesInit(1, argv), 0);
    ASSERT_EQ(DbOpen("ruvconfig.nsf", &db_), 0);
    fake_.calls.clear();
  }

  int Read() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int result = GetCalendarProfiles(db_, &block_, &count_);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return result;
  }

  std::vector<NoteId> BlockContents() {
    std::vector<NoteId> ids(count_);
    const void* data = LockObject(block_);
    if (data != nullptr && count_ > 0) std::memcpy(ids.data(), data, count_ * sizeof(NoteId));
    UnlockObject(block_);
    return ids;
  }

  FakeGateway fake_;
  test_support::FaultyBackend faults_{fake_};
  notes::ScopedBackend installed_{faults_};
  DbHandle db_ = 0;
  MemHandle block_ = 0xBAD;
  std::uint32_t count_ = 0xBAD;
  std::string out_, err_;
};

TEST_F(ProfileListTest, OnePassIsHandedOverAsItIs) {
  ASSERT_EQ(Read(), 0);
  EXPECT_EQ(out_ + err_, "");
  EXPECT_EQ(fake_.CallsWithoutHandles(),
            (std::vector<std::string>{"FindDesignNote(ruvconfig.nsf,Main,8,-G40n,0)",
                                      "OpenCollection(ruvconfig.nsf,ruvconfig.nsf,Main,0,0)",
                                      "ReadEntries(ruvconfig.nsf/Main,1,1,1,4294967295,1)",
                                      "CloseCollection(ruvconfig.nsf/Main)"}));
  EXPECT_EQ(count_, kEntries.size());
  EXPECT_EQ(BlockContents(), kEntries);
}

TEST_F(ProfileListTest, SeveralPassesAreGatheredIntoOneBlockInViewOrder) {
  for (std::uint32_t pass_size : {1u, 2u, 4u}) {
    SCOPED_TRACE(pass_size);
    fake_.read_pass_size = pass_size;
    fake_.calls.clear();
    ASSERT_EQ(Read(), 0);
    EXPECT_EQ(out_ + err_, "");
    const std::size_t passes = (kEntries.size() + pass_size - 1) / pass_size;
    EXPECT_EQ(std::count(fake_.calls.begin(), fake_.calls.end(),
                         "ReadEntries(ruvconfig.nsf/Main,1,1,1,4294967295,1)"),
              static_cast<long>(passes));
    EXPECT_EQ(count_, kEntries.size());
    EXPECT_EQ(BlockContents(), kEntries);
    // Only the handed-over block is left, unlocked; the collection is closed.
    EXPECT_EQ(fake_.blocks.size(), 1u);
    EXPECT_EQ(fake_.blocks.count(block_), 1u);
    EXPECT_TRUE(fake_.open_collections.empty());
    FreeObject(block_);
  }
  EXPECT_TRUE(fake_.violations.empty());
}

TEST_F(ProfileListTest, EmptyViewGivesNoBlockAndCountZero) {
  fake_.databases["ruvconfig.nsf"].views["Main"].entries.clear();
  ASSERT_EQ(Read(), 0);
  EXPECT_EQ(count_, 0u);
  EXPECT_EQ(block_, 0u);
  EXPECT_TRUE(fake_.blocks.empty());
}

struct FailureCase {
  const char* name;
  const char* operation;
  int call_number;
  std::uint32_t pass_size;
  Status status;
  int result;
  const char* out;
  const char* err;
  std::vector<std::string> last_calls;  // the calls after the failing one
  bool db_left_open;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ProfileListFailureTest : public ProfileListTest,
                               public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ProfileListFailureTest, ReportsEndsTheRuntimeAndLeavesNothingBehind) {
  const FailureCase& c = GetParam();
  fake_.read_pass_size = c.pass_size;
  faults_.Fail(c.operation, c.status, c.call_number);
  EXPECT_EQ(Read(), c.result);
  EXPECT_EQ(out_, c.out);
  EXPECT_EQ(err_, c.err);
  EXPECT_EQ(faults_.Failed(), 1);
  const std::vector<std::string> calls = fake_.CallsWithoutHandles();
  ASSERT_GE(calls.size(), c.last_calls.size());
  EXPECT_EQ(std::vector<std::string>(calls.end() - c.last_calls.size(), calls.end()),
            c.last_calls);
  EXPECT_EQ(fake_.open_dbs.count(db_), c.db_left_open ? 1u : 0u);
  EXPECT_TRUE(fake_.blocks.empty());
  EXPECT_TRUE(fake_.violations.empty());
  if (std::string(c.operation) != "ReadEntries" && std::string(c.operation) != "AllocObject") {
    // The view could not be used: the caller's places are untouched.
    EXPECT_EQ(block_, 0xBADu);
    EXPECT_EQ(count_, 0xBADu);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ProfileListFailureTest,
    ::testing::Values(
        FailureCase{"ViewLookup", "FindDesignNote", 1, 0, notes::kErrViewNotFound, 1, "",
                    "\nfake error 307\n",
                    {"LoadErrorText(307,200)", "NotesTerm"},
                    true},
        // Flag bits above the error number: the text is the number's, the
        // result the whole status.
        FailureCase{"CollectionOpen", "OpenCollection", 1, 0, 0x8117, 0x8117, "",
                    "\nfake error 279\n",
                    {"LoadErrorText(279,200)", "NotesTerm"},
                    true},
        FailureCase{"FirstRead", "ReadEntries", 1, 0, notes::kErrDatabaseIo, 279,
                    "error: fake error 279\n", "",
                    {"CloseCollection(ruvconfig.nsf/Main)", "DbClose(ruvconfig.nsf)",
                     "LoadErrorText(279,255)", "NotesTerm"},
                    false},
        // The blocks of the passes already read are freed first.
        FailureCase{"ThirdRead", "ReadEntries", 3, 1, notes::kErrDatabaseIo, 279,
                    "error: fake error 279\n", "",
                    {"FreeObject", "FreeObject", "CloseCollection(ruvconfig.nsf/Main)",
                     "DbClose(ruvconfig.nsf)", "LoadErrorText(279,255)", "NotesTerm"},
                    false},
        FailureCase{"GatherBlock", "AllocObject", 1, 2, notes::kErrOutOfMemory, 0x142, "",
                    "\nfake error 322\n",
                    {"FreeObject", "FreeObject", "FreeObject", "LoadErrorText(322,200)", "NotesTerm"},
                    true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
