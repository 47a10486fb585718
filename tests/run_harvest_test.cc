// The harvest run against the fake gateway, with free/busy texts from a
// table: exact console output, exit code and the calls made, for a clean run
// and for every failure the run meets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "notes/status_codes.h"
#include "tests/support/fake_gateway.h"
#include "tests/support/faulty_backend.h"
#include "tests/support/in_process_run.h"
#include "tests/support/table_text_source.h"

namespace {

using test_support::FakeGateway;
using test_support::FreeBusyText;
using test_support::TableTextSource;
using test_support::TextItem;

constexpr Status kIo = notes::kErrDatabaseIo;  // "fake error 279"
const char kBusytimeDb[] = "Mail1::busytime.nsf";

constexpr NoteId kCategory = 0x80000001, kAlice = 0x10, kBob = 0x14, kCarol = 0x18;
constexpr NoteId kAliceOld = 0x20, kBobOld1 = 0x24, kBobOld2 = 0x28;

const char kFound[] = "Found 4 calendar profiles\n";
const char kAliceLines[] =
    "Loading Calendar Profile for alice@x.com (http://fb/alice)\n"
    "Populating alice@x.com's busy time data\n\n";
const char kBobLines[] =
    "Loading Calendar Profile for bob@x.com (http://fb/bob)\n"
    "WARN -- bob@x.com had 2 busy-time documents; they are replaced by one new document.\n"
    "Populating bob@x.com's busy time data\n\n";
const char kCarolLines[] =
    "Loading Calendar Profile for carol@x.com (http://fb/carol)\n"
    "Populating carol@x.com's busy time data\n\n";
const char kUnsuccessful[] = "\nProgram completed unsuccessfully.\n";
// The last line of a run that read the list; kNoneDone of one that stopped at
// the first user.
const char kAllWritten[] =
    "Harvest summary: 3 calendar profiles, 3 users written, 0 users skipped, 0 profiles skipped\n";
const char kNoneDone[] =
    "Harvest summary: 3 calendar profiles, 0 users written, 0 users skipped, 0 profiles skipped\n";

// The operations of the document fill; the run's own calls are what is left.
const std::vector<std::string> kFillOperations = {"CurrentTime", "ItemSetTime", "ItemSetText",
                                                  "GetIntlSettings", "TextToTime",
                                                  "ItemAppend"};

class HarvestRunTest : public ::testing::Test {
 public:
  void SetUp() override {
    fake_.settings["MailServer"] = "Mail1";
    test_support::FakeDatabase& config = fake_.databases["ruvconfig.nsf"];
    config.views["Main"] = {{kCategory, kAlice, kBob, kCarol}, "UserEmailAddress"};
    AddProfile(kAlice, "alice@x.com", "http://fb/alice");
    AddProfile(kBob, "bob@x.com", "http://fb/bob");
    AddProfile(kCarol, "carol@x.com", "http://fb/carol");

    test_support::FakeDatabase& busytime = fake_.databases[kBusytimeDb];
    busytime.views["Main"] = {{kAliceOld, kBobOld1, kBobOld2}, "$Name"};
    busytime.documents[kAliceOld] = {TextItem("$Name", "alice@x.com")};
    busytime.documents[kBobOld1] = {TextItem("$Name", "bob@x.com")};
    busytime.documents[kBobOld2] = {TextItem("$Name", "bob@x.com")};

    source_.table["http://fb/alice"] = {1, FreeBusyText({"20240102T090000Z/20240102T100000Z"}), ""};
    source_.table["http://fb/bob"] = {1, FreeBusyText({}), ""};
    source_.table["http://fb/carol"] = {
        1, FreeBusyText({"20240103T080000Z/20240103T083000Z", "20240104T120000Z/PT1H"}), ""};
  }

  // Public so that the table rows below can make a call fail.
  void Fail(const std::string& operation, Status status, int call_number = 1) {
    faults_.Fail(operation, status, call_number);
  }

  // Public so that the table rows below can change a profile.
  void AddProfile(NoteId id, const std::string& address, const std::string& url) {
    fake_.databases["ruvconfig.nsf"].documents[id] = {TextItem("UserEmailAddress", address),
                                                      TextItem("busytimeurl", url)};
  }

 protected:
  int Run() {
    test_support::CapturedRun run = test_support::RunCaptured({"=notes.ini"}, source_);
    out_ = std::move(run.out);
    err_ = std::move(run.err);
    return run.exit_code;
  }

  // The new documents of the busy-time database for `address`, and whether
  // an old one is still there.
  std::vector<NoteId> DocumentsOf(const std::string& address) {
    std::vector<NoteId> ids;
    for (const auto& [id, items] : fake_.databases[kBusytimeDb].documents)
      if (fake_.ItemText(kBusytimeDb, id, "$Name") == address) ids.push_back(id);
    return ids;
  }

  bool Called(const std::string& call) const {
    return std::find(fake_.calls.begin(), fake_.calls.end(), call) != fake_.calls.end();
  }

  FakeGateway fake_;
  test_support::FaultyBackend faults_{fake_};
  notes::ScopedBackend installed_{faults_};
  TableTextSource source_;
  std::string out_, err_;
};

TEST_F(HarvestRunTest, CleanRunGivesEveryUserOneNewDocument) {
  fake_.settings["HarvestConcurrency"] = "1";  // the calls of one profile after the other
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(out_, std::string(kFound) + kAliceLines + kBobLines + kCarolLines + kAllWritten);
  EXPECT_EQ(err_, "");

  EXPECT_EQ(DocumentsOf("alice@x.com"), (std::vector<NoteId>{0x1000}));  // the old one is gone
  EXPECT_EQ(DocumentsOf("bob@x.com"), (std::vector<NoteId>{0x1001}));  // his two folded
  EXPECT_EQ(DocumentsOf("carol@x.com"), (std::vector<NoteId>{0x1002}));

  // The run's own calls, in order; the category entry is never opened.
  // The run's own settings are all read before the first database opens.
  std::vector<std::string> expected = {
      "NotesInit(busytime-harvest,=notes.ini)", "GetEnvString(HarvestReport,4098)",
      "GetEnvString(HarvestMetrics,4098)", "GetEnvString(HarvestConcurrency,261)",
      "GetEnvString(HarvestAheadBytes,261)", "GetEnvString(HarvestHostConnections,261)",
      "GetEnvString(HarvestProxy,4098)", "GetEnvString(HarvestNoProxy,4098)",
      "GetEnvString(HarvestCAFile,4098)", "GetEnvString(HarvestWindowDays,261)",
      "GetEnvString(HarvestTimeZone,261)", "DbOpen(ruvconfig.nsf)",
      "GetEnvString(MailServer,261)", "MakeNetPath(null,Mail1,busytime.nsf)",
      "DbOpen(Mail1::busytime.nsf)"};
  for (const auto& [id, user] : {std::pair{kAlice, "alice"}, {kBob, "bob"}, {kCarol, "carol"}}) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(id));
    const std::string note = std::string("ruvconfig.nsf,") + hex;
    expected.push_back("NoteOpen(" + note + ")");
    expected.push_back("ItemGetText(" + note + ",UserEmailAddress,261)");
    expected.push_back("ItemGetText(" + note + ",busytimeurl,261)");
    expected.push_back("NoteClose(" + note + ")");
    // Every old document is checked to be the user's before it is deleted.
    const std::vector<NoteId> old = id == kAlice ? std::vector<NoteId>{kAliceOld}
                                    : id == kBob ? std::vector<NoteId>{kBobOld1, kBobOld2}
                                                 : std::vector<NoteId>{};
    for (const NoteId old_id : old) {
      std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(old_id));
      expected.push_back(std::string("NoteOpen(") + kBusytimeDb + "," + hex + ")");
      expected.push_back(std::string("ItemGetText(") + kBusytimeDb + "," + hex + ",$Name,261)");
    }
    expected.push_back(std::string("NoteUpdate(") + kBusytimeDb + ",new,0)");
  }
  std::vector<std::string> run_calls;
  for (const std::string& call : fake_.CallsWithout(kFillOperations)) {
    const std::string op = call.substr(0, call.find('('));
    if (op == "NotesInit" || op == "DbOpen" || op == "GetEnvString" || op == "MakeNetPath" ||
        op == "NoteOpen" || op == "ItemGetText" || op == "NoteUpdate" ||
        (op == "NoteClose" && call.find("ruvconfig") != std::string::npos))
      run_calls.push_back(call);
  }
  EXPECT_EQ(run_calls, expected);
  EXPECT_FALSE(Called("NoteOpen(ruvconfig.nsf,0x80000001)"));
  EXPECT_EQ(fake_.calls.back(), "NotesTerm");
  EXPECT_EQ(fake_.calls[fake_.calls.size() - 2], std::string("DbClose(") + kBusytimeDb + ")");

  // Nothing left behind but the configuration database, which the runtime's
  // end closes.
  EXPECT_TRUE(fake_.blocks.empty());
  EXPECT_TRUE(fake_.open_notes.empty());
  EXPECT_TRUE(fake_.open_collections.empty());
  EXPECT_EQ(fake_.open_dbs.size(), 1u);
  EXPECT_TRUE(fake_.violations.empty());
  EXPECT_EQ(source_.fetched,
            (std::vector<std::string>{"http://fb/alice", "http://fb/bob", "http://fb/carol"}));
}

// What is printed about a user stays in the user's block, before the blank
// line that ends it, and the URL's password is never printed: the fetch
// still gets the URL as stored.
TEST_F(HarvestRunTest, AUsersLinesStayInItsBlockAndHideThePassword) {
  const std::string url = "http://alice:s3cret@fb/alice";
  AddProfile(kAlice, "alice@x.com", url);
  std::vector<std::string> periods;
  for (int i = 0; i < 300; ++i) {
    char period[32];
    std::snprintf(period, sizeof period, "2024%02d%02dT090000Z/PT1H", 1 + i / 28, 1 + i % 28);
    periods.push_back(period);
  }
  source_.table[url] = {1, FreeBusyText(periods), ""};
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(out_, std::string(kFound) +
                      "Loading Calendar Profile for alice@x.com (http://alice:***@fb/alice)\n"
                      "WARN -- alice@x.com has 300 busy periods; a busy-time document holds 255, "
                      "so 45 were dropped: those over first, then the last.\n"
                      "Populating alice@x.com's busy time data\n\n" +
                      kBobLines + kCarolLines + kAllWritten);
  EXPECT_EQ(source_.fetched.front(), url);
}

TEST_F(HarvestRunTest, SeveralReadPassesGiveTheSameRun) {
  fake_.read_pass_size = 1;
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(out_, std::string(kFound) + kAliceLines + kBobLines + kCarolLines + kAllWritten);
  EXPECT_EQ(DocumentsOf("carol@x.com").size(), 1u);
  EXPECT_TRUE(fake_.blocks.empty());
  EXPECT_TRUE(fake_.violations.empty());
}

TEST_F(HarvestRunTest, NoMailServerOpensTheBusytimeDatabaseHere) {
  fake_.settings.clear();
  fake_.databases["busytime.nsf"] = fake_.databases[kBusytimeDb];
  fake_.databases.erase(kBusytimeDb);
  ASSERT_EQ(Run(), 0);
  EXPECT_TRUE(Called("MakeNetPath(null,,busytime.nsf)"));
  EXPECT_TRUE(Called("DbOpen(busytime.nsf)"));
}

TEST_F(HarvestRunTest, EmptyViewCompletes) {
  fake_.databases["ruvconfig.nsf"].views["Main"].entries.clear();
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(out_,
            "Found 0 calendar profiles\nHarvest summary: 0 calendar profiles, 0 users written, 0 "
            "users skipped, 0 profiles skipped\n");
  EXPECT_TRUE(fake_.violations.empty());
}

TEST_F(HarvestRunTest, FailedRuntimeStartPrintsNoStatusText) {
  Fail("NotesInit", kIo);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(out_, "\n Unable to initialize Notes.\n");
  EXPECT_EQ(err_, "");
  EXPECT_EQ(faults_.Failed(), 1);
  EXPECT_TRUE(fake_.calls.empty());  // nothing after the failed start
}

// A failure that ends the whole run: the lines printed, the status text, exit
// code -1, NotesTerm as the last call, and the users never reached.
struct StopCase {
  const char* name;
  std::function<void(HarvestRunTest&, FakeGateway&)> arrange;
  std::string out;
  std::string err;
  std::vector<std::string> fetched;
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class HarvestStopTest : public HarvestRunTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(HarvestStopTest, EndsUnsuccessfully) {
  const StopCase& c = GetParam();
  c.arrange(*this, fake_);
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(out_, c.out);
  EXPECT_EQ(err_, c.err);
  EXPECT_EQ(fake_.calls.back(), "NotesTerm");
  EXPECT_TRUE(fake_.violations.empty());
  EXPECT_EQ(source_.fetched, c.fetched);
}

const char kAliceLoading[] = "Loading Calendar Profile for alice@x.com (http://fb/alice)\n";
const char kAlicePopulating[] = "Populating alice@x.com's busy time data\n\n";

INSTANTIATE_TEST_SUITE_P(
    Failures, HarvestStopTest,
    ::testing::Values(
        StopCase{"ConfigurationDatabase",
                 [](HarvestRunTest&, FakeGateway& fake) { fake.databases.erase("ruvconfig.nsf"); },
                 std::string("ERR -- Could not find Connector Configuration database on \n") +
                     kUnsuccessful,
                 "\nfake error 274\n", {}},
        StopCase{"BusytimeDatabase",
                 [](HarvestRunTest&, FakeGateway& fake) { fake.databases.erase(kBusytimeDb); },
                 std::string("ERR -- Could not open busytime.nsf on user's home mail server\n") +
                     kUnsuccessful,
                 "\nfake error 274\n", {}},
        StopCase{"ProfileList",
                 [](HarvestRunTest& test, FakeGateway&) { test.Fail("ReadEntries", kIo); },
                 std::string("error: fake error 279\n") + kUnsuccessful, "", {}},
        StopCase{"SaveEndsTheRun",
                 [](HarvestRunTest& test, FakeGateway&) { test.Fail("NoteUpdate", kIo); },
                 std::string(kFound) + kAliceLoading + kAlicePopulating +
                     "ERR -- Failed to update busytime document.\n" + kNoneDone + kUnsuccessful,
                 "\nfake error 279\n", {"http://fb/alice"}},
        // A refused item write: the half-filled note is not saved.
        StopCase{"WriteEndsTheRun",
                 [](HarvestRunTest& test, FakeGateway&) { test.Fail("ItemAppend", kIo); },
                 std::string(kFound) + kAliceLoading + kAlicePopulating +
                     "ERR -- Failed to write busytime document.\n" + kNoneDone + kUnsuccessful,
                 "\nfake error 279\n", {"http://fb/alice"}},
        // One profile after the other, the first two NoteClose calls are those
        // of alice's profile note and of her old document, read to check its
        // address.
        StopCase{"CloseEndsTheRun",
                 [](HarvestRunTest& test, FakeGateway& fake) {
                   fake.settings["HarvestConcurrency"] = "1";
                   test.Fail("NoteClose", kIo, 3);
                 },
                 std::string(kFound) + kAliceLoading + kAlicePopulating +
                     "ERR -- Failed to close busytime document.\n" + kNoneDone + kUnsuccessful,
                 "\nfake error 279\n", {"http://fb/alice"}},
        // A store that cannot be written stops the run at the first user.
        StopCase{"StoreFailureInTheLookupEndsTheRun",
                 [](HarvestRunTest& test, FakeGateway&) { test.Fail("NoteDelete", kIo); },
                 std::string(kFound) + kAliceLoading +
                     "ERR -- Failed to replace alice@x.com's busytime document.\n" + kNoneDone +
                     kUnsuccessful,
                 "\nfake error 279\n", {"http://fb/alice"}},
        StopCase{"CreateEndsTheRun",
                 [](HarvestRunTest& test, FakeGateway&) { test.Fail("NoteCreate", kIo); },
                 std::string(kFound) + kAliceLoading + kNoneDone + kUnsuccessful,
                 "\nfake error 279\n",
                 {"http://fb/alice"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HarvestRunTest, FailedCloseOfTheBusytimeDatabaseExitsWithOne) {
  Fail("DbClose", kIo);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(out_, std::string(kFound) + kAliceLines + kBobLines + kCarolLines + kAllWritten);
  EXPECT_EQ(err_, "\nfake error 279\n");
  EXPECT_EQ(fake_.calls.back(), "NotesTerm");
}

// A user who is skipped: the lines for that user, and the run going on to the
// next ones with exit code 0.
struct SkipCase {
  const char* name;
  std::function<void(HarvestRunTest&, FakeGateway&, TableTextSource&)> arrange;
  std::string alice_out;
  std::string err;
  bool alice_old_document_kept;
};
void PrintTo(const SkipCase& c, std::ostream* os) { *os << c.name; }

class HarvestSkipTest : public HarvestRunTest, public ::testing::WithParamInterface<SkipCase> {};

TEST_P(HarvestSkipTest, SkipsTheUserAndGoesOn) {
  const SkipCase& c = GetParam();
  c.arrange(*this, fake_, source_);
  ASSERT_EQ(Run(), 0);
  const std::string lines = std::string(kFound) + c.alice_out + kBobLines + kCarolLines;
  EXPECT_EQ(out_.substr(0, lines.size()), lines);
  EXPECT_THAT(out_.substr(lines.size()),
              testing::MatchesRegex("Harvest summary: 3 calendar profiles, 2 users written, "
                                    "[01] users skipped, [01] profiles skipped\n"));
  EXPECT_EQ(err_, c.err);
  EXPECT_EQ(DocumentsOf("alice@x.com"),
            c.alice_old_document_kept ? std::vector<NoteId>{kAliceOld} : std::vector<NoteId>{});
  EXPECT_EQ(DocumentsOf("carol@x.com").size(), 1u);
  EXPECT_TRUE(fake_.blocks.empty());
  EXPECT_TRUE(fake_.open_notes.empty());
  EXPECT_TRUE(fake_.violations.empty());
}

const std::string kLongText(259, 'a');

INSTANTIATE_TEST_SUITE_P(
    Users, HarvestSkipTest,
    ::testing::Values(
        // A failed download never touches the busy-time database.
        SkipCase{"DownloadFails",
                 [](HarvestRunTest&, FakeGateway&, TableTextSource& source) {
                   source.table["http://fb/alice"] = {-1, "", "Error 12007 has occurred.\n"};
                 },
                 std::string(kAliceLoading) + "Error 12007 has occurred.\n" +
                     "ERR -- Failed to read user's calendar info. User is skipped.\n\n",
                 "", true},
        SkipCase{"NotFreeBusyText",
                 [](HarvestRunTest&, FakeGateway&, TableTextSource& source) {
                   source.table["http://fb/alice"] = {1, "<html>moved</html>", ""};
                 },
                 std::string(kAliceLoading) + "ERR -- Invalid iCal file format\n" +
                     "ERR -- Failed to read user's calendar info. User is skipped.\n\n",
                 "", true},
        // Another run deleted her old document first: only she is skipped.
        SkipCase{"LookupFails",
                 [](HarvestRunTest& test, FakeGateway&, TableTextSource&) {
                   test.Fail("NoteDelete", notes::kErrNoteNotFound);
                 },
                 std::string(kAliceLoading) +
                     "Failed on populating alice@x.com's busy time data. User is skipped.\n",
                 "\nfake error 304\n", true},
        SkipCase{"ProfileCannotBeOpened",
                 [](HarvestRunTest& test, FakeGateway&, TableTextSource&) {
                   test.Fail("NoteOpen", kIo);
                 },
                 "ERR -- Could not open calendar profile 0x00000010. Profile is skipped.\n",
                 "\nfake error 279\n", true},
        SkipCase{"EmptyAddress",
                 [](HarvestRunTest& test, FakeGateway&, TableTextSource&) {
                   test.AddProfile(kAlice, "", "http://fb/alice");
                 },
                 "ERR -- Calendar profile 0x00000010 has an empty UserEmailAddress. Profile is "
                 "skipped.\n",
                 "", true},
        SkipCase{"AddressTooLong",
                 [](HarvestRunTest& test, FakeGateway&, TableTextSource&) {
                   test.AddProfile(kAlice, kLongText + "a", "http://fb/alice");
                 },
                 "ERR -- Calendar profile 0x00000010 has a UserEmailAddress longer than 259 "
                 "characters. Profile is skipped.\n",
                 "", true},
        SkipCase{"AddressWithZeroByte",
                 [](HarvestRunTest& test, FakeGateway&, TableTextSource&) {
                   test.AddProfile(kAlice, std::string("alice@x.com\0bob", 15), "http://fb/alice");
                 },
                 "ERR -- Calendar profile 0x00000010 has a zero byte in its UserEmailAddress. "
                 "Profile is skipped.\n",
                 "", true},
        SkipCase{"NoUrl",
                 [](HarvestRunTest&, FakeGateway& fake, TableTextSource&) {
                   fake.databases["ruvconfig.nsf"].documents[kAlice].pop_back();
                 },
                 "ERR -- Calendar profile for alice@x.com has an empty busytimeurl. Profile is "
                 "skipped.\n",
                 "", true},
        SkipCase{"UrlTooLong",
                 [](HarvestRunTest& test, FakeGateway&, TableTextSource&) {
                   test.AddProfile(kAlice, "alice@x.com", "http://fb/" + kLongText);
                 },
                 "ERR -- Calendar profile for alice@x.com has a busytimeurl longer than 259 "
                 "characters. Profile is skipped.\n",
                 "", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HarvestRunTest, TextsOfTheLongestLengthAreUsed) {
  const std::string url = "http://fb/" + std::string(249, 'u');  // 259 characters
  AddProfile(kAlice, "alice@x.com", url);
  source_.table[url] = {1, FreeBusyText({}), ""};
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(source_.fetched.front(), url);
  EXPECT_EQ(DocumentsOf("alice@x.com").size(), 1u);
}

}  // namespace
