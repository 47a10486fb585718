// Every platform call of a whole run made to fail, one at a time.
//
// A clean run over four profiles (one user with one old document, one with
// two, one with none, one whose download fails) and a category entry is
// recorded first, one profile after the other and with the profiles read
// ahead. Then, for every call in that record that can fail, the run
// is repeated with exactly that call failing, and the rules that hold
// whatever fails are checked:
// - the runtime, once started, is ended once, by the last call, and nothing is
//   used after that;
// - nothing is left open or locked but what a failed close could not release,
//   or what a stopped run leaves to the runtime's end (the configuration
//   database always);
// - the users before the one whose turn it was are printed and written as in
//   the clean run; a stopped run reaches no later user, a run that goes on
//   treats them as the clean run did;
// - no user loses a document without a new, complete one, except in the known
//   window: a run that stops between that user's delete and save (counted and
//   printed);
// - a failure is never silent, except where the run has no use for the call.
// The messages of the failures only this sweep reaches are checked line by
// line at the end; the run's other messages are checked in
// tests/run_harvest_test.cc.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
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
using test_support::FaultyBackend;
using test_support::FreeBusyText;
using test_support::TableTextSource;
using test_support::TextItem;

constexpr Status kInjected = notes::kErrDatabaseIo;  // "fake error 279"
const char kBusytimeDb[] = "Mail1::busytime.nsf";
const char kUnsuccessful[] = "\nProgram completed unsuccessfully.\n";
constexpr NoteId kCategory = 0x80000001;
constexpr NoteId kFirstNewNoteId = 0x1000;  // the fake numbers saved new notes from here

struct User {
  const char* address;
  NoteId profile;
  const char* url;
  std::vector<NoteId> old_documents;
  bool download_fails;
};

const std::vector<User> kUsers = {
    {"alice@x.com", 0x10, "http://fb/alice", {0x20}, false},
    {"bob@x.com", 0x14, "http://fb/bob", {0x24, 0x28}, false},
    {"carol@x.com", 0x18, "http://fb/carol", {}, false},
    {"dave@x.com", 0x1C, "http://fb/dave", {0x2C}, true},
};
const int kUserCount = static_cast<int>(kUsers.size());

// Operations with nothing to fail: no result, or one the run has no use for.
const std::set<std::string> kUnfailable = {"NotesTerm", "UnlockObject", "FreeObject",
                                           "CurrentTime", "GetIntlSettings", "LoadErrorText"};
// Operations whose failure the run may leave unseen: the closes of what was
// only read, the time conversions of texts the reader has checked, and the
// read of the lookup's matches (the new document is then added beside the old
// ones).
const std::set<std::string> kMayPassUnseen = {"CloseCollection", "NoteClose", "TextToTime",
                                              "LockObject"};

// One run on a fresh fake, with the `call_number`th call of `operation`
// failing (none when `operation` is empty).
struct Outcome {
  int exit_code = 0;
  std::string out;
  std::string err;
  int failed = 0;  // calls that failed
  std::unique_ptr<FakeGateway> fake;
  std::vector<std::string> fetched;
};

// How the run is set up: the profile list's read pass size, and whether the
// profiles are read ahead (HarvestConcurrency 8) or one after the other.
struct Variant {
  std::uint32_t read_pass_size = 0;
  bool read_ahead = false;
};

Outcome RunWithFault(Variant variant, const std::string& operation, int call_number) {
  Outcome outcome;
  outcome.fake = std::make_unique<FakeGateway>();
  FakeGateway& fake = *outcome.fake;
  fake.settings["MailServer"] = "Mail1";
  fake.settings["HarvestConcurrency"] = variant.read_ahead ? "8" : "1";
  fake.read_pass_size = variant.read_pass_size;
  test_support::FakeDatabase& config = fake.databases["ruvconfig.nsf"];
  config.views["Main"] = {{kUsers[0].profile, kUsers[1].profile, kCategory, kUsers[2].profile,
                           kUsers[3].profile},
                          "UserEmailAddress"};
  test_support::FakeDatabase& busytime = fake.databases[kBusytimeDb];
  busytime.views["Main"].key_item = "$Name";
  TableTextSource source;
  for (const User& user : kUsers) {
    config.documents[user.profile] = {TextItem("UserEmailAddress", user.address),
                                      TextItem("busytimeurl", user.url)};
    for (NoteId id : user.old_documents) {
      busytime.views["Main"].entries.push_back(id);
      busytime.documents[id] = {TextItem("$Name", user.address)};
    }
    if (user.download_fails) continue;
    source.table[user.url] = {
        1,
        user.old_documents.empty()
            ? FreeBusyText({"20240103T080000Z/20240103T083000Z", "20240104T120000Z/PT1H"})
            : FreeBusyText({"20240102T090000Z/20240102T100000Z"}),
        ""};
  }

  FaultyBackend faults(fake);
  if (!operation.empty()) faults.Fail(operation, kInjected, call_number);
  notes::ScopedBackend installed(faults);
  test_support::CapturedRun run = test_support::RunCaptured({"=notes.ini"}, source);
  outcome.exit_code = run.exit_code;
  outcome.out = std::move(run.out);
  outcome.err = std::move(run.err);
  outcome.failed = faults.Failed();
  outcome.fetched = source.fetched;
  return outcome;
}

std::string OperationOf(const std::string& call) { return call.substr(0, call.find('(')); }

// Whose turn a call of a clean run is in: -1 before the first profile is
// opened, kUserCount once the busy-time database is closed at the end. The
// reading of a profile is its user's, and so is a lookup of busy-time
// documents (which starts by finding the view), whether the profiles were
// read ahead or not.
std::vector<int> Turns(const std::vector<std::string>& calls) {
  std::vector<int> turns;
  int turn = -1;
  int looked_up = -1;  // the last user whose documents were looked up
  const std::string lookup = std::string("FindDesignNote(") + kBusytimeDb;
  for (const std::string& call : calls) {
    for (int i = 0; i < kUserCount; ++i) {
      char opening[64];
      std::snprintf(opening, sizeof opening, "NoteOpen(ruvconfig.nsf,0x%08X)",
                    static_cast<unsigned>(kUsers[i].profile));
      if (call == opening) turn = i;
    }
    if (call.rfind(lookup, 0) == 0) {
      do ++looked_up;
      while (kUsers[looked_up].download_fails);
      turn = looked_up;
    }
    if (call == std::string("DbClose(") + kBusytimeDb + ")") turn = kUserCount;
    turns.push_back(turn);
  }
  return turns;
}

// What the busy-time database holds for one user after a run.
struct UserState {
  std::size_t old_kept = 0;
  std::size_t new_named = 0;     // new documents carrying the user's address
  std::size_t new_complete = 0;  // ... and both entry lists

  bool operator==(const UserState&) const = default;
};

UserState StateOf(const FakeGateway& fake, const User& user) {
  UserState state;
  const test_support::FakeDatabase& db = fake.databases.at(kBusytimeDb);
  for (NoteId id : user.old_documents) state.old_kept += db.documents.count(id);
  for (const auto& [id, items] : db.documents) {
    if (id < kFirstNewNoteId || fake.ItemText(kBusytimeDb, id, "$Name") != user.address) continue;
    ++state.new_named;
    int lists = 0;
    for (const test_support::FakeItem& item : items)
      lists += item.name == "EventList" || item.name == "EventListExt";
    state.new_complete += lists == 2;
  }
  return state;
}

std::size_t NewDocumentsWithoutName(const FakeGateway& fake) {
  std::size_t count = 0;
  for (const auto& [id, items] : fake.databases.at(kBusytimeDb).documents)
    count += id >= kFirstNewNoteId && fake.ItemText(kBusytimeDb, id, "$Name").empty();
  return count;
}

// A user's lines in a clean run: from the announcement of the profile to the
// empty line that ends them.
std::string LinesOf(const std::string& clean_out, int user) {
  const std::size_t begin =
      clean_out.find(std::string("Loading Calendar Profile for ") + kUsers[user].address);
  return clean_out.substr(begin, clean_out.find("\n\n", begin) + 2 - begin);
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Every line on standard error is a status text.
bool OnlyStatusTexts(const std::string& err) {
  std::size_t begin = 0;
  while (begin < err.size()) {
    std::size_t end = err.find('\n', begin);
    if (end == std::string::npos) end = err.size();
    const std::string line = err.substr(begin, end - begin);
    if (!line.empty() && line.rfind("fake error ", 0) != 0) return false;
    begin = end + 1;
  }
  return true;
}

class FaultInjectionTest : public ::testing::TestWithParam<Variant> {};

TEST_P(FaultInjectionTest, EveryCallOfTheRunFailsInTurn) {
  const Outcome clean = RunWithFault(GetParam(), "", 0);
  ASSERT_EQ(clean.exit_code, 0) << clean.out << clean.err;
  const std::vector<std::string>& calls = clean.fake->calls;
  const std::vector<int> turns = Turns(calls);
  std::vector<UserState> clean_states;
  for (const User& user : kUsers) clean_states.push_back(StateOf(*clean.fake, user));

  std::map<std::string, int> counts;
  int cases = 0, stopped_between_delete_and_save = 0;
  for (std::size_t c = 0; c < calls.size(); ++c) {
    const std::string operation = OperationOf(calls[c]);
    const int call_number = ++counts[operation];
    if (kUnfailable.count(operation) != 0) continue;
    const int turn = turns[c];
    const std::string where = operation + " call " + std::to_string(call_number) + " [" +
                              calls[c] + "]" +
                              (turn >= 0 && turn < kUserCount
                                   ? std::string(" in the turn of ") + kUsers[turn].address
                                   : std::string());
    ++cases;
    const Outcome run = RunWithFault(GetParam(), operation, call_number);
    const FakeGateway& fake = *run.fake;
    ASSERT_EQ(run.failed, 1) << where;
    const bool stopped = run.exit_code == -1;
    const bool reaches_no_later_user = stopped || operation == "NotesInit";

    // The runtime: once started, ended once by the last call.
    EXPECT_TRUE(fake.violations.empty())
        << where << ": " << ::testing::PrintToString(fake.violations);
    if (operation == "NotesInit") {
      EXPECT_EQ(run.exit_code, 1) << where;
      EXPECT_TRUE(fake.calls.empty()) << where << ": calls after a failed start";
    } else {
      EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "NotesTerm"), 1) << where;
      EXPECT_EQ(fake.calls.back(), "NotesTerm") << where;
    }

    // What is left open.
    EXPECT_LE(fake.open_collections.size(), operation == "CloseCollection" ? 1u : 0u) << where;
    EXPECT_LE(fake.open_notes.size(), operation == "NoteClose" || stopped ? 1u : 0u) << where;
    EXPECT_LE(fake.blocks.size(), stopped ? 1u : 0u) << where << ": blocks left";
    for (const auto& [handle, block] : fake.blocks)
      EXPECT_LE(block.locks, 1) << where << ": block " << handle << " locked twice";
    for (const auto& [handle, path] : fake.open_dbs)
      EXPECT_TRUE(path == "ruvconfig.nsf" || run.exit_code != 0) << where << ": " << path;

    // The exit code and what the run says.
    EXPECT_TRUE(run.exit_code == 0 || run.exit_code == 1 || stopped) << where;
    EXPECT_EQ(EndsWith(run.out, kUnsuccessful), stopped) << where;
    if (stopped) {
      EXPECT_NE((run.out + run.err).find("fake error "), std::string::npos)
          << where << ": a stop without its status text";
    }
    EXPECT_TRUE(OnlyStatusTexts(run.err)) << where << ": " << run.err;
    const bool seen =
        run.exit_code != clean.exit_code || run.out != clean.out || run.err != clean.err;
    // A setting of the run's own that cannot be read is a setting not set:
    // no report or metrics file, the default of the others, nothing shows.
    const bool own_setting = calls[c].rfind("GetEnvString(Harvest", 0) == 0;
    EXPECT_TRUE(seen || own_setting || kMayPassUnseen.count(operation) != 0)
        << where << ": failure unseen";

    // The users before this turn as in the clean run; the later ones
    // unreached by a stopped run, as in the clean run otherwise.
    if (turn >= 0) {
      const std::size_t turn_begin =
          turn < kUserCount ? clean.out.find(std::string("Loading Calendar Profile for ") +
                                             kUsers[turn].address)
                            : clean.out.size();
      EXPECT_EQ(run.out.substr(0, turn_begin), clean.out.substr(0, turn_begin)) << where;
    }
    for (int i = 0; i < kUserCount; ++i) {
      const User& user = kUsers[i];
      const UserState state = StateOf(fake, user);
      const std::string whose = where + ": " + user.address;
      EXPECT_LE(state.new_named, 1u) << whose;
      EXPECT_EQ(state.new_named, state.new_complete) << whose << ": an incomplete document";
      if (i < turn) {
        EXPECT_EQ(state, clean_states[i]) << whose;
      } else if (i > turn && reaches_no_later_user) {
        EXPECT_EQ(state, (UserState{user.old_documents.size(), 0, 0})) << whose;
        EXPECT_EQ(run.out.find(user.address), std::string::npos) << whose;
        EXPECT_EQ(std::count(run.fetched.begin(), run.fetched.end(), user.url), 0) << whose;
      } else if (i > turn) {
        EXPECT_EQ(state, clean_states[i]) << whose;
        EXPECT_NE(run.out.find(LinesOf(clean.out, i)), std::string::npos) << whose;
      } else if (i == turn && state.old_kept < user.old_documents.size() &&
                 state.new_complete == 0) {
        // The window: the run stopped after this user's delete, before the
        // save of the new document.
        EXPECT_TRUE(stopped) << whose << ": old document deleted, no new one, run went on";
        stopped_between_delete_and_save += stopped;
      }
    }
    EXPECT_EQ(NewDocumentsWithoutName(fake), 0u) << where;
  }

  EXPECT_GT(cases, 60);
  RecordProperty("cases", cases);
  RecordProperty("stopped_between_delete_and_save", stopped_between_delete_and_save);
  std::printf("[ figures  ] read pass size %u%s: %d failing calls run, %d stopped between a "
              "user's delete and save\n",
              GetParam().read_pass_size, GetParam().read_ahead ? ", read ahead" : "", cases,
              stopped_between_delete_and_save);
}

// The profile list in one read pass, and in passes of two entries, which are
// gathered into one block; the profiles read one after the other, and ahead.
INSTANTIATE_TEST_SUITE_P(ReadPasses, FaultInjectionTest,
                         ::testing::Values(Variant{0, false}, Variant{2, false}, Variant{0, true}),
                         [](const auto& info) {
                           const Variant& variant = info.param;
                           return (variant.read_pass_size == 0
                                       ? std::string("OnePass")
                                       : "PassesOf" + std::to_string(variant.read_pass_size)) +
                                  (variant.read_ahead ? "ReadAhead" : "");
                         });

// The failures whose lines only this sweep reaches, word for word.
TEST(FaultMessagesTest, SaysWhatFailed) {
  const Outcome clean = RunWithFault({}, "", 0);
  const std::string found = "Found 5 calendar profiles\n";
  const std::string alice_loading = "Loading Calendar Profile for alice@x.com (http://fb/alice)\n";
  const std::size_t bob = clean.out.find("Loading Calendar Profile for bob");
  const std::string later = clean.out.substr(bob, clean.out.find("Harvest summary: ") - bob);
  // The run reads MailServer after its own settings.
  const std::vector<std::string>& calls = clean.fake->calls;
  const auto mail_server = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
    return call.rfind("GetEnvString(MailServer,", 0) == 0;
  });
  ASSERT_NE(mail_server, calls.end());
  const int mail_server_read = static_cast<int>(std::count_if(
      calls.begin(), mail_server + 1,
      [](const std::string& call) { return OperationOf(call) == "GetEnvString"; }));
  const struct {
    const char* name;
    const char* operation;
    int call_number;
    int exit_code;
    std::string out;
    std::string err;
    UserState alice;
  } kCases[] = {
      // The setting is missing: the server is then this machine, which has no
      // busy-time database.
      {"NoMailServer", "GetEnvString", mail_server_read, -1,
       std::string("ERR -- Could not open busytime.nsf on user's home mail server\n") +
           kUnsuccessful,
       "\nfake error 274\n", {1, 0, 0}},
      {"ListBlockUnusable", "LockObject", 1, -1,
       std::string("ERR -- Could not read the list of calendar profiles.\n") + kUnsuccessful,
       "\nfake error 291\n", {1, 0, 0}},
      {"AddressOfTheOldDocumentUnreadable", "ItemGetText", 3, 0,
       found + alice_loading +
           "ERR -- Could not read the address of the busy-time document found for alice@x.com. "
           "Nothing was deleted.\n"
           "Failed on populating alice@x.com's busy time data. User is skipped.\n" + later +
           "Harvest summary: 4 calendar profiles, 2 users written, 2 users skipped, 0 profiles "
           "skipped\n",
       "", {1, 0, 0}},
      // The matches cannot be read: nothing is deleted, the new document is
      // added beside the old one.
      {"MatchesUnreadable", "LockObject", 2, 0, clean.out, "", {1, 1, 1}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const Outcome run = RunWithFault({}, c.operation, c.call_number);
    EXPECT_EQ(run.failed, 1);
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(StateOf(*run.fake, kUsers[0]), c.alice);
  }
}

}  // namespace
