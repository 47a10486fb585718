// The built busytime-harvest against hostile data and a hostile machine:
// profile values written to break SQL, printf or a view lookup, a settings
// file full of odd lines, a data directory that cannot be written, and a disk
// that fills up during the run. The programs run as processes on a data
// directory set up with nsfutil, against a loopback server. Nothing may
// crash or hang, every failure must say what happened, and no user may lose
// a busy-time document unless the run stopped right there with its failure
// line.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "tests/support/harvest_directory.h"
#include "tests/support/http_test_server.h"
#include "tests/support/loopback_fixture.h"
#include "tests/support/restricted_run.h"
#include "tests/support/settings_argument.h"
#include "tests/support/table_text_source.h"

namespace {

namespace fs = std::filesystem;
using test_support::BusytimeRow;
using test_support::ChildOutcome;
using test_support::Describe;
using test_support::RestrictedCommand;

constexpr auto kRunLimit = std::chrono::seconds(60);
constexpr const char* kMailServer = "Mail01/Acme";
constexpr const char* kUnsuccessful = "\nProgram completed unsuccessfully.\n";

// Periods enough that a few users fill a page of the database each.
std::string FreeBusyWith(int periods) {
  std::vector<std::string> list;
  for (int i = 0; i < periods; ++i) {
    char period[40];
    std::snprintf(period, sizeof period, "2025%02d%02dT%02d0000Z/PT30M", 1 + i % 12, 1 + i % 28,
                  i % 24);
    list.push_back(period);
  }
  return test_support::FreeBusyText(list);
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every file below `folder` with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), folder).string()] = ReadBytes(entry.path());
  return files;
}

std::set<std::string> NamesOf(const std::map<std::string, std::string>& files) {
  std::set<std::string> names;
  for (const auto& [name, bytes] : files) names.insert(name);
  return names;
}

class HostileInputTest : public test_support::HarvestProcessTest {
 protected:
  HostileInputTest() : HarvestProcessTest("hostile_input", Serve, {"--mail-server", kMailServer}) {}

  void SetUp() override {
    ASSERT_TRUE(fs::exists(HARVEST_BINARY_DIR "/busytime-harvest")) << "build busytime-harvest";
    ASSERT_NO_FATAL_FAILURE(HarvestProcessTest::SetUp());
  }

  // Serves "/fb/<periods>..." with that many busy periods.
  static HttpReply Serve(const HttpRequestRecord& request) {
    return ServeNumberedText(request, FreeBusyWith);
  }

  void AddProfile(const std::string& address, const std::string& url) {
    const ChildOutcome added = dir_.Nsfutil({"profile", "add", address, url});
    ASSERT_TRUE(added.Exited(0)) << Describe(added);
  }

  // `count` users named userNN@example.com with `periods` busy periods each.
  std::vector<std::string> AddUsers(int count, int periods) {
    std::vector<std::pair<std::string, std::string>> profiles;
    std::vector<std::string> addresses;
    for (int user = 0; user < count; ++user) {
      const std::string address = test_support::UserAddress(user);
      addresses.push_back(address);
      profiles.emplace_back(
          address, server_.Url("/fb/" + std::to_string(periods) + "?u=" + std::to_string(user)));
    }
    const ChildOutcome imported = dir_.ImportProfiles(profiles);
    EXPECT_TRUE(imported.Exited(0)) << Describe(imported);
    return addresses;
  }

  ChildOutcome Harvest() const { return dir_.Harvest(kRunLimit); }

  // The busy-time documents by address.
  std::map<std::string, std::vector<BusytimeRow>> Documents() const {
    std::string error;
    auto documents = dir_.BusytimeByUser(&error);
    EXPECT_EQ(error, "");
    return documents;
  }

  fs::path BusytimeFolder() const { return dir_.Data() / "servers" / "Mail01%2FAcme"; }

  // `nsfutil check` finds nothing wrong and every document's lists match
  // their headers.
  void ExpectDatabasesSound(std::size_t documents) const {
    const ChildOutcome check = dir_.Nsfutil({"check"});
    EXPECT_TRUE(check.Exited(0)) << Describe(check);
    EXPECT_EQ(dir_.CountConsistent(), std::make_pair(static_cast<int>(documents), 0));
  }

  RestrictedCommand HarvestCommand(const fs::path& settings) const {
    return {
        dir_.HarvestProgram(), {test_support::SettingsArgument(settings)}, dir_.Root(), kRunLimit};
  }
};

// --- Profile values -------------------------------------------------------------

// Quotes, SQL, printf directives and the wildcards of SQL's LIKE in the
// address and the URL: each is stored, printed and matched exactly as
// written, and the second run replaces each user's document, no other's.
TEST_F(HostileInputTest, ProfileValuesWithQuotesPercentAndSqlAreTakenLiterally) {
  const std::vector<std::string> addresses = {
      "x'); DROP TABLE notes;--@%s%n.com",
      "\"quoted\" name@x.com",
      "%@x.com",
      "_lice@x.com",
      "alice@x.com",
      "a\\b%25%00@x.com",
  };
  std::map<std::string, std::string> urls;
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    urls[addresses[i]] =
        server_.Url("/fb/" + std::to_string(i + 1) + "?q='%s%n\"&x=`;--&u=" + std::to_string(i));
    AddProfile(addresses[i], urls[addresses[i]]);
  }

  std::map<std::string, std::uint32_t> first_ids;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    const ChildOutcome harvest = Harvest();
    ASSERT_TRUE(harvest.Exited(0)) << Describe(harvest);
    EXPECT_EQ(harvest.err, "");
    EXPECT_EQ(harvest.out.rfind("Found 6 calendar profiles\n", 0), 0u) << harvest.out;
    for (const std::string& address : addresses) {
      const std::string lines = "Loading Calendar Profile for " + address + " (" + urls[address] +
                                ")\nPopulating " + address + "'s busy time data\n\n";
      EXPECT_NE(harvest.out.find(lines), std::string::npos) << lines << "\n" << harvest.out;
    }

    const auto documents = Documents();
    EXPECT_EQ(documents.size(), addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) {
      const auto found = documents.find(addresses[i]);
      ASSERT_NE(found, documents.end()) << addresses[i];
      ASSERT_EQ(found->second.size(), 1u) << addresses[i];
      EXPECT_EQ(found->second[0].entries, static_cast<int>(i + 1)) << addresses[i];
      if (run == 0) {
        first_ids[addresses[i]] = found->second[0].note_id;
      } else {
        EXPECT_NE(found->second[0].note_id, first_ids[addresses[i]]) << addresses[i];
      }
    }
  }
  ExpectDatabasesSound(addresses.size());
  const ChildOutcome listed = dir_.Nsfutil({"profile", "list"});
  ASSERT_TRUE(listed.Exited(0)) << Describe(listed);
  for (const std::string& address : addresses)
    EXPECT_NE(listed.out.find(EscapeUntrusted(address) + "\t" + EscapeUntrusted(urls[address]) +
                              "\n"),
              std::string::npos)
        << listed.out;
  for (const HttpRequestRecord& request : server_.Requests())
    EXPECT_NE(request.target.find("?q='%s%n\"&x=`;--&u="), std::string::npos) << request.target;
}

// A profile address with a zero byte is no address of the user before it:
// the profile is skipped, and the victim's document keeps the victim's busy
// time, run after run.
TEST_F(HostileInputTest, AddressWithAZeroByteNeverReplacesAnotherUsersDocument) {
  AddProfile("victim@x.com", server_.Url("/fb/2"));
  ASSERT_TRUE(test_support::AddRawProfile(dir_.Ini(), std::string("victim@x.com\0other", 18),
                                          server_.Url("/fb/7")));
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    const ChildOutcome harvest = Harvest();
    ASSERT_TRUE(harvest.Exited(0)) << Describe(harvest);
    EXPECT_NE(harvest.out.find("has a zero byte in its UserEmailAddress. Profile is skipped.\n"),
              std::string::npos)
        << harvest.out;
    const auto documents = Documents();
    ASSERT_EQ(documents.size(), 1u);
    ASSERT_EQ(documents.at("victim@x.com").size(), 1u);
    EXPECT_EQ(documents.at("victim@x.com")[0].entries, 2);
  }
}

// --- The settings file ------------------------------------------------------------

// A settings file as an editor on another system or a careless hand leaves
// it: a byte-order mark, CR LF line ends, a section heading, comments, blanks
// around names and values, lines without '=' or without a name, a huge line,
// binary junk with a zero byte, numbers out of range, and the mail server
// named twice. The run uses what it can and the later MailServer line.
TEST_F(HostileInputTest, SettingsFileWithOddLinesStillRuns) {
  AddProfile("alice@x.com", server_.Url("/fb/3"));
  const fs::path settings = dir_.Root() / "odd.ini";
  const std::vector<std::string> lines = {
      "\xEF\xBB\xBF[Notes]",
      "; a comment = not a setting",
      "# MailServer=Commented/Out",
      "MailServer=Wrong/Server",
      "no equals sign here",
      "=a value without a name",
      "",
      "   \t  ",
      "X-Huge=" + std::string(200 * 1024, 'h'),
      std::string("junk\0\x01\xff\x7f=\x1b[2J", 13),
      "ViewReadPassSize = 0",
      "LockTimeout=99999999999999999999999",
      "HarvestConcurrency =  2  ",
      "  Directory  =  " + dir_.Data().string() + "  ",
      "mailserver = " + std::string(kMailServer),
  };
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  text += "last line without a line end=1";
  std::ofstream(settings, std::ios::binary) << text;

  const ChildOutcome harvest = test_support::RunTimedChild(
      dir_.HarvestProgram(), {test_support::SettingsArgument(settings)}, dir_.Root(), kRunLimit);
  ASSERT_TRUE(harvest.Exited(0)) << Describe(harvest);
  EXPECT_EQ(harvest.out,
            "Found 1 calendar profiles\n"
            "Loading Calendar Profile for alice@x.com (" +
                server_.Url("/fb/3") +
                ")\n"
                "Populating alice@x.com's busy time data\n\n"
                "Harvest summary: 1 calendar profiles, 1 users written, 0 users skipped, 0 "
                "profiles skipped\n");
  EXPECT_EQ(harvest.err, "");
  EXPECT_FALSE(fs::exists(dir_.Data() / "servers" / "Wrong%2FServer"));
  const auto documents = Documents();  // through the data directory's own settings
  ASSERT_EQ(documents.count("alice@x.com"), 1u);
  EXPECT_EQ(documents.at("alice@x.com").at(0).entries, 3);
}

// --- A data directory that cannot be written --------------------------------------

struct ReadOnlyCase {
  const char* name;
  bool whole_data_directory;  // else only the busy-time database's folder
  const char* first_line;
};

class ReadOnlyDataTest : public HostileInputTest,
                         public testing::WithParamInterface<ReadOnlyCase> {};

// The run fails at once with the runtime's reason and exit code -1, touches
// nothing and fetches nothing.
TEST_P(ReadOnlyDataTest, FailsAtOnceSaysWhyAndLeavesEveryFileAsItWas) {
  AddUsers(3, 2);
  const ChildOutcome first = Harvest();
  ASSERT_TRUE(first.Exited(0)) << Describe(first);
  const std::size_t requests = server_.Requests().size();
  const auto before = Snapshot(dir_.Data());

  const fs::path folder = GetParam().whole_data_directory ? dir_.Data() : BusytimeFolder();
  std::string unavailable;
  const ChildOutcome run =
      test_support::RunWithReadOnlyFolder(folder, HarvestCommand(dir_.Ini()), &unavailable);
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;

  EXPECT_TRUE(run.Exited(255)) << Describe(run);
  EXPECT_EQ(run.out, std::string(GetParam().first_line) + kUnsuccessful);
  EXPECT_EQ(run.err, "\nThe database file is read-only\n");
  EXPECT_EQ(server_.Requests().size(), requests);
  const auto after = Snapshot(dir_.Data());
  EXPECT_EQ(NamesOf(after), NamesOf(before));
  EXPECT_TRUE(after == before) << "a file of the data directory changed";
  ExpectDatabasesSound(3);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ReadOnlyDataTest,
    testing::Values(ReadOnlyCase{"WholeDataDirectory", true,
                                 "ERR -- Could not find Connector Configuration database on \n"},
                    ReadOnlyCase{
                        "BusytimeFolder", false,
                        "ERR -- Could not open busytime.nsf on user's home mail server\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A disk that fills up ------------------------------------------------------------

class WriteFailureTest : public HostileInputTest {
 protected:
  static constexpr int kUsers = 30;
  static constexpr int kPeriods = 200;  // about 14 KiB of lists per document

  // Every user has one document from a first, clean run.
  void SetUp() override {
    HostileInputTest::SetUp();
    if (HasFatalFailure()) return;
    addresses_ = AddUsers(kUsers, kPeriods);
    const ChildOutcome first = Harvest();
    ASSERT_TRUE(first.Exited(0)) << Describe(first);
    ASSERT_EQ(CurrentIds().size(), static_cast<std::size_t>(kUsers));
  }

  // Each user's document, for the users who have exactly one.
  std::map<std::string, std::uint32_t> CurrentIds() const {
    std::map<std::string, std::uint32_t> ids;
    for (const auto& [address, rows] : Documents())
      if (rows.size() == 1) ids[address] = rows[0].note_id;
    return ids;
  }

  // What a run that could not write must have left, given the documents
  // `before` it: the run ended by itself and said why; a user it stopped at
  // may have lost the document, every other user has the old one or a new
  // one; and the databases are sound.
  void ExpectNoUserLostUnlessTheRunStopped(const ChildOutcome& run, const std::string& reason,
                                           const std::map<std::string, std::uint32_t>& before) {
    ASSERT_TRUE(run.started && run.signal == 0 && !run.timed_out) << Describe(run);
    EXPECT_TRUE(run.exit_code == 0 || run.exit_code == 1 || run.exit_code == 255) << Describe(run);
    EXPECT_NE(run.err.find("\n" + reason + "\n"), std::string::npos) << Describe(run);

    // The user whose turn it was when the run stopped.
    std::string stopped_at;
    const std::string loading = "Loading Calendar Profile for ";
    if (run.exit_code == 255) {
      const std::size_t last = run.out.rfind(loading);
      if (last != std::string::npos) {
        const std::size_t start = last + loading.size();
        stopped_at = run.out.substr(start, run.out.find(" (", start) - start);
      }
      EXPECT_TRUE(run.out.ends_with(kUnsuccessful)) << run.out;
    }

    const auto documents = Documents();
    int replaced = 0, kept = 0, lost = 0;
    for (const std::string& address : addresses_) {
      const auto found = documents.find(address);
      const std::size_t count = found == documents.end() ? 0 : found->second.size();
      EXPECT_LE(count, 1u) << address;
      const auto old = before.find(address);
      if (count == 0) {
        if (old == before.end()) continue;  // lost earlier, where an earlier run stopped
        ++lost;
        EXPECT_EQ(address, stopped_at) << "lost a document without the run stopping there\n"
                                       << Describe(run);
      } else {
        old != before.end() && found->second[0].note_id == old->second ? ++kept : ++replaced;
        EXPECT_EQ(found->second[0].entries, kPeriods) << address;
      }
    }
    EXPECT_GT(kept, 0) << "the disk never filled up";
    std::printf("[ figures  ] exit %d: %d replaced, %d kept, %d lost\n", run.exit_code, replaced,
                kept, lost);
    ExpectDatabasesSound(static_cast<std::size_t>(replaced + kept));
  }

  std::vector<std::string> addresses_;
};

// A tmpfs with little room left: too little to open the busy-time database;
// too little for any delete; room for a few users and then a delete without
// room for the save that follows it.
TEST_F(WriteFailureTest, FullDiskNeverCostsAUserTheDocumentUnlessTheRunStops) {
  for (const int free_kib : {40, 100, 300}) {
    SCOPED_TRACE(std::to_string(free_kib) + " KiB free");
    const fs::path disk = dir_.Root() / ("disk" + std::to_string(free_kib));
    fs::create_directory(disk);
    const auto before = CurrentIds();
    std::string unavailable;
    const ChildOutcome run = test_support::RunOnFullDisk(
        dir_.Data(), disk, free_kib, HarvestCommand(disk / "notes.ini"), &unavailable);
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    ExpectNoUserLostUnlessTheRunStopped(run, "The disk is full; the database could not be written",
                                        before);
    if (HasFailure()) return;
  }
}

// The same wherever the test runs, root or not, through a limit on the size
// of the files the run writes: the write-ahead log runs into it after a few
// users, and the write fails with EFBIG rather than ENOSPC.
TEST_F(WriteFailureTest, FileSizeLimitNeverCostsAUserTheDocumentUnlessTheRunStops) {
  const auto before = CurrentIds();
  std::string unavailable;
  const ChildOutcome run =
      test_support::RunWithFileSizeLimit(128 * 1024, HarvestCommand(dir_.Ini()), &unavailable);
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  ExpectNoUserLostUnlessTheRunStopped(run, "Input/output error while accessing the database file",
                                      before);
}

}  // namespace
