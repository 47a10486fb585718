// Every platform call of a whole run made to fail, one at a time.
//
// A clean run over four profiles (one user with one old document, one with
// two, one with none, one whose download fails) and a category entry is
// recorded first. Then, for every call in that record that can fail, the run
// is repeated with exactly that call failing. Each repetition must end with
// the exit code and the lines the run's failure rules give for the place of
// the call, leave nothing open or locked that the run itself is meant to
// release, never call the runtime after its end, and never delete a user's
// document without saving a new one for that user. The one accepted
// exception is a run that stops between the delete and the save; those cases
// are counted and printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/harvest_run.h"
#include "notes/status_codes.h"
#include "tests/support/fake_gateway.h"
#include "tests/support/table_text_source.h"

namespace {

using test_support::FakeGateway;
using test_support::FreeBusyText;
using test_support::TableTextSource;
using test_support::TextItem;

constexpr Status kInjected = notes::kErrDatabaseIo;
const char kInjectedText[] = "\nfake error 279\n";
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

// Operations the fake can only fail through their result, not a status: a
// null block pointer, an absent item text, an absent setting.
const std::set<std::string> kLapsingOperations = {"LockObject", "ItemGetText", "GetEnvString"};
// Operations with nothing to fail: no result, or one the run has no use for.
const std::set<std::string> kUnfailable = {"NotesTerm", "UnlockObject", "FreeObject",
                                           "CurrentTime", "GetIntlSettings", "LoadErrorText"};

// The fake, with one call of an operation in kLapsingOperations made to fail.
class LapsingGateway final : public FakeGateway {
 public:
  std::string lapse_operation;
  int lapse_call = 0;

  void* LockObject(MemHandle hMem) override {
    if (Lapses("LockObject", std::to_string(hMem))) return nullptr;
    return FakeGateway::LockObject(hMem);
  }
  std::uint16_t ItemGetText(NoteHandle hNote, const char* item_name, char* buffer,
                            std::uint16_t buffer_size) override {
    const std::uint16_t length = FakeGateway::ItemGetText(hNote, item_name, buffer, buffer_size);
    if (!Lapses("ItemGetText", "")) return length;
    if (buffer_size > 0) buffer[0] = '\0';
    return 0;
  }
  bool GetEnvString(const char* name, char* buffer, std::uint16_t limit) override {
    if (Lapses("GetEnvString", std::string(name) + "," + std::to_string(limit))) return false;
    return FakeGateway::GetEnvString(name, buffer, limit);
  }

 private:
  // Counts the call; true when it is the one that fails. The fake logs the
  // calls it serves itself; a lapsed LockObject or GetEnvString is logged here.
  bool Lapses(const std::string& operation, const std::string& arguments) {
    if (operation != lapse_operation || ++count_ != lapse_call) return false;
    if (!arguments.empty()) calls.push_back(operation + "(" + arguments + ")");
    return true;
  }
  int count_ = 0;
};

// Where in the run a call is made.
enum class Stage {
  kStart, kConfigOpen, kServerSetting, kPath, kBusytimeOpen, kList, kListLock, kProfile,
  kLookup, kCreate, kFill, kSave, kClose, kEnd
};

struct Site {
  std::string operation;
  int call_number = 0;  // among the calls of `operation`, from 1
  std::string call;     // as the fake logged it
  Stage stage = Stage::kStart;
  int user = -1;        // index into kUsers, -1 when the call is nobody's
  int user_delete = 0;  // for a NoteDelete: its number among the user's deletes, from 1
};

std::string OperationOf(const std::string& call) { return call.substr(0, call.find('(')); }

std::string ArgumentsOf(const std::string& call) {
  const std::size_t open = call.find('(');
  return open == std::string::npos ? "" : call.substr(open + 1, call.size() - open - 2);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

int UserOfAddress(const std::string& address) {
  for (std::size_t i = 0; i < kUsers.size(); ++i)
    if (address == kUsers[i].address) return static_cast<int>(i);
  return -1;
}

// The user whose profile note a call names ("ruvconfig.nsf,0x00000010,...").
int UserOfProfileCall(const std::string& arguments) {
  const unsigned long id = std::stoul(arguments.substr(arguments.find(',') + 1), nullptr, 16);
  for (std::size_t i = 0; i < kUsers.size(); ++i)
    if (kUsers[i].profile == id) return static_cast<int>(i);
  return -1;
}

// The address searched by a FindByName call ("Mail1::busytime.nsf/Main,KEY,2").
std::string KeyOf(const std::string& arguments) {
  const std::size_t first = arguments.find(',');
  return arguments.substr(first + 1, arguments.rfind(',') - first - 1);
}

// Places every call of a clean run. The busy-time calls of one user run from
// the view lookup to the close of the new document, so a call belongs to the
// user whose address the nearest search names: the next one for the view's
// opening, the last one for everything after the search.
std::vector<Site> PlaceCalls(const std::vector<std::string>& calls) {
  std::size_t first_profile = calls.size();
  for (std::size_t i = 0; i < calls.size() && first_profile == calls.size(); ++i)
    if (StartsWith(calls[i], "NoteOpen(ruvconfig.nsf,")) first_profile = i;
  std::size_t list_lock = calls.size();
  for (std::size_t i = 0; i < first_profile; ++i)
    if (OperationOf(calls[i]) == "LockObject") list_lock = i;
  const std::string list_block = list_lock < calls.size() ? ArgumentsOf(calls[list_lock]) : "";

  std::vector<Site> sites;
  std::map<std::string, int> counts;
  int searched = -1;
  bool created = false;  // the searched user's new note exists
  int deletes = 0;       // the searched user's deletes so far
  for (std::size_t i = 0; i < calls.size(); ++i) {
    Site site;
    site.call = calls[i];
    site.operation = OperationOf(calls[i]);
    site.call_number = ++counts[site.operation];
    const std::string& op = site.operation;
    const std::string arguments = ArgumentsOf(calls[i]);
    const bool config = StartsWith(arguments, "ruvconfig.nsf");
    const bool memory = op == "LockObject" || op == "UnlockObject" || op == "FreeObject";
    if (op == "FindByName") {
      searched = UserOfAddress(KeyOf(arguments));
      created = false;
      deletes = 0;
    }
    if (op == "NoteDelete") site.user_delete = ++deletes;

    if (op == "NotesInit") {
      site.stage = Stage::kStart;
    } else if (op == "DbOpen") {
      site.stage = config ? Stage::kConfigOpen : Stage::kBusytimeOpen;
    } else if (op == "GetEnvString") {
      site.stage = Stage::kServerSetting;
    } else if (op == "MakeNetPath") {
      site.stage = Stage::kPath;
    } else if (op == "NotesTerm" || op == "DbClose") {
      site.stage = Stage::kEnd;
    } else if (config && (op == "NoteOpen" || op == "ItemGetText" || op == "NoteClose")) {
      site.stage = Stage::kProfile;
      site.user = UserOfProfileCall(arguments);
    } else if (config || op == "AllocObject" || (memory && i < list_lock)) {
      site.stage = Stage::kList;
    } else if (i == list_lock) {
      site.stage = Stage::kListLock;
    } else if (memory && arguments == list_block) {
      site.stage = Stage::kEnd;
    } else if (op == "FindDesignNote" || op == "OpenCollection") {
      site.stage = Stage::kLookup;
      for (std::size_t j = i + 1; j < calls.size() && site.user < 0; ++j)
        if (OperationOf(calls[j]) == "FindByName")
          site.user = UserOfAddress(KeyOf(ArgumentsOf(calls[j])));
    } else {
      site.user = searched;
      if (op == "NoteCreate") {
        site.stage = Stage::kCreate;
        created = true;
      } else if (op == "NoteUpdate") {
        site.stage = Stage::kSave;
      } else if (op == "NoteClose" && created) {
        site.stage = Stage::kClose;
      } else if (op == "FindByName" || op == "ReadEntries" || op == "CloseCollection" ||
                 op == "NoteDelete" || memory || !created) {
        // Before the new note: the search, the check of the match's address
        // (NoteOpen, ItemGetText, NoteClose of the old document), the delete.
        site.stage = Stage::kLookup;
      } else {
        site.stage = Stage::kFill;
      }
    }
    sites.push_back(site);
  }
  return sites;
}

// What a user's documents look like after a run.
enum class Documents {
  kUntouched,  // the old ones, nothing new
  kReplaced,   // every old one deleted; one new one
  kOldAndNew,  // every old one kept beside one new one
  kLost,       // every old one deleted, no new one: the run stopped in between
  kSomeLost,   // the old ones before the failing delete deleted: the run stopped there
};

struct Expected {
  int exit_code = 0;
  std::string out;
  std::string err;
  std::vector<Documents> documents;
  std::size_t blocks = 0;       // left allocated
  std::size_t notes = 0;        // left open
  std::size_t collections = 0;  // left open
  std::size_t databases = 1;    // left open: the configuration database is the runtime's to close
  bool terminated = true;       // NotesTerm called, once, as the last call
  std::size_t deleted = 0;      // with kSomeLost: how many old ones were deleted
};

std::string Hex(NoteId id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(id));
  return text;
}

std::string Loading(const User& user) {
  return std::string("Loading Calendar Profile for ") + user.address + " (" + user.url + ")\n";
}

// The lines of a user in a clean run up to the new document, and all of them.
std::string LinesUpToCreate(const User& user) {
  std::string lines = Loading(user);
  if (user.old_documents.size() > 1)
    lines += "WARN -- " + std::string(user.address) + " had " +
             std::to_string(user.old_documents.size()) +
             " busy-time documents; they are replaced by one new document.\n";
  return lines;
}

std::string CleanLines(const User& user) {
  if (user.download_fails)
    return Loading(user) + "Error 12029 has occurred.\n" +
           "ERR -- Failed to read user's calendar info. User is skipped.\n\n";
  return LinesUpToCreate(user) + "Populating " + user.address + "'s busy time data\n\n";
}

// The category entry counts as a profile too.
std::string Found() {
  return "Found " + std::to_string(kUsers.size() + 1) + " calendar profiles\n";
}

// The expectation for a run in which the call at `site` fails, from the run's
// failure rules: which failures stop the run, which skip a user, which are
// not examined.
Expected ExpectedFor(const Site& site) {
  Expected e;
  for (const User& user : kUsers)
    e.documents.push_back(user.download_fails ? Documents::kUntouched : Documents::kReplaced);
  std::vector<std::string> lines;
  for (const User& user : kUsers) lines.push_back(CleanLines(user));
  e.err = kInjectedText;

  auto stops_before_the_list = [&](std::string out, std::size_t databases) {
    e.exit_code = -1;
    e.out = std::move(out) + kUnsuccessful;
    e.documents.assign(kUsers.size(), Documents::kUntouched);
    e.databases = databases;
  };
  // The run ends at `site.user` after `user_lines`; later users are not reached.
  auto stops_at_the_user = [&](std::string user_lines, Documents mine) {
    e.exit_code = -1;
    e.out = Found();
    for (int i = 0; i < site.user; ++i) e.out += lines[i];
    e.out += user_lines + kUnsuccessful;
    for (std::size_t i = site.user + 1; i < kUsers.size(); ++i)
      e.documents[i] = Documents::kUntouched;
    e.documents[site.user] = mine;
    e.blocks = 1;  // the profile list: the failure end leaves it to the runtime's end
    e.databases = 2;
  };
  auto skips_the_user = [&](std::string user_lines, bool status_text) {
    lines[site.user] = std::move(user_lines);
    e.documents[site.user] = Documents::kUntouched;
    if (!status_text) e.err = "";
  };

  const User* user = site.user >= 0 ? &kUsers[site.user] : nullptr;
  const std::string& op = site.operation;
  switch (site.stage) {
    case Stage::kStart:
      e.exit_code = 1;
      e.out = "\n Unable to initialize Notes.\n";
      e.err = "";
      e.documents.assign(kUsers.size(), Documents::kUntouched);
      e.databases = 0;
      e.terminated = false;
      return e;
    case Stage::kConfigOpen:
      stops_before_the_list("ERR -- Could not find Connector Configuration database on \n", 0);
      return e;
    case Stage::kServerSetting:  // the server is then this machine, which has no such database
      e.err = "\nfake error 274\n";
      [[fallthrough]];
    case Stage::kPath:
    case Stage::kBusytimeOpen:
      stops_before_the_list("ERR -- Could not open busytime.nsf on user's home mail server\n", 1);
      return e;
    case Stage::kList:
      if (op == "CloseCollection") {  // after a successful reading: not examined
        e.err = "";
        e.collections = 1;
        break;
      }
      if (op == "ReadEntries") {  // the list closes its collection and database
        stops_before_the_list("error: fake error 279\n", 1);
        e.err = "";
        return e;
      }
      stops_before_the_list("", 2);
      if (op == "LockObject") e.err = "\nfake error 291\n";  // an unusable pass block
      return e;
    case Stage::kListLock:
      stops_before_the_list("ERR -- Could not read the list of calendar profiles.\n", 2);
      e.err = "\nfake error 291\n";
      e.blocks = 1;
      return e;
    case Stage::kProfile:
      if (op == "NoteOpen") {
        skips_the_user("ERR -- Could not open calendar profile " + Hex(user->profile) +
                           ". Profile is skipped.\n",
                       true);
      } else if (op == "ItemGetText" && site.call.find(",UserEmailAddress,") != std::string::npos) {
        skips_the_user("ERR -- Calendar profile " + Hex(user->profile) +
                           " has an empty UserEmailAddress. Profile is skipped.\n",
                       false);
      } else if (op == "ItemGetText") {
        skips_the_user("ERR -- Calendar profile for " + std::string(user->address) +
                           " has an empty busytimeurl. Profile is skipped.\n",
                       false);
      } else {  // NoteClose of a note only read: not examined
        e.err = "";
        e.notes = 1;
      }
      break;
    case Stage::kLookup:
      if (op == "CloseCollection") {
        e.err = "";
        e.collections = 1;
      } else if (op == "LockObject") {
        // The matches cannot be read: nothing is deleted or folded, the new
        // document is added beside the old ones.
        e.err = "";
        e.documents[site.user] = Documents::kOldAndNew;
        lines[site.user] = Loading(*user) + "Populating " + user->address + "'s busy time data\n\n";
      } else if (op == "NoteClose") {  // the old document, only read: not examined
        e.err = "";
        e.notes = 1;
      } else if (op == "ItemGetText") {  // the old document's address cannot be read
        skips_the_user(Loading(*user) +
                           "ERR -- Could not read the address of the busy-time document found "
                           "for " + user->address + ". Nothing was deleted.\n" +
                           "Failed on populating " + user->address +
                           "'s busy time data. User is skipped.\n",
                       false);
      } else {
        // The injected status is a failure of the store: the run stops at
        // this user; a failing delete leaves the ones before it deleted.
        stops_at_the_user(Loading(*user) + "ERR -- Failed to replace " + user->address +
                              "'s busytime document.\n",
                          site.user_delete > 1 ? Documents::kSomeLost : Documents::kUntouched);
        e.deleted = site.user_delete > 0 ? site.user_delete - 1 : 0;
        return e;
      }
      break;
    case Stage::kCreate:
      stops_at_the_user(LinesUpToCreate(*user), !user->old_documents.empty()
                                                    ? Documents::kLost
                                                    : Documents::kUntouched);
      e.databases = 1;  // the lookup closed the busy-time database
      return e;
    case Stage::kFill:
      if (op == "ItemSetTime" || op == "ItemSetText" || op == "ItemAppend") {
        // A refused write stops the run; the half-filled note is dropped.
        stops_at_the_user(lines[site.user] + "ERR -- Failed to write busytime document.\n",
                          !user->old_documents.empty() ? Documents::kLost
                                                          : Documents::kUntouched);
        return e;
      }
      e.err = "";  // the time conversions: the reader has checked every text
      break;
    case Stage::kSave:
      stops_at_the_user(lines[site.user] + "ERR -- Failed to update busytime document.\n",
                        !user->old_documents.empty() ? Documents::kLost
                                                        : Documents::kUntouched);
      e.notes = 1;  // the unsaved note: the failure end leaves it to the runtime's end
      return e;
    case Stage::kClose:
      stops_at_the_user(lines[site.user] + "ERR -- Failed to close busytime document.\n",
                        Documents::kReplaced);
      e.notes = 1;
      return e;
    case Stage::kEnd:  // only DbClose can fail here
      e.exit_code = 1;
      e.databases = 2;
      break;
  }
  e.out = Found();
  for (const std::string& user_lines : lines) e.out += user_lines;
  return e;
}

// One run on a fresh fake.
struct Outcome {
  int exit_code = 0;
  std::string out;
  std::string err;
  std::unique_ptr<LapsingGateway> fake;
};

class FaultInjectionTest : public ::testing::TestWithParam<std::uint32_t> {
 protected:
  Outcome Run(const std::string& failing_operation, int call_number) {
    Outcome outcome;
    outcome.fake = std::make_unique<LapsingGateway>();
    LapsingGateway& fake = *outcome.fake;
    Arrange(fake);
    if (kLapsingOperations.count(failing_operation) != 0) {
      fake.lapse_operation = failing_operation;
      fake.lapse_call = call_number;
    } else if (!failing_operation.empty()) {
      fake.fail.Fail(failing_operation, kInjected, call_number);
    }
    TableTextSource source;
    for (const User& user : kUsers)
      if (!user.download_fails) source.table[user.url] = {1, BodyOf(user), ""};

    notes::ScopedBackend installed(fake);
    char program[] = "busytime-harvest";
    char settings[] = "=notes.ini";
    char* argv[] = {program, settings, nullptr};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    outcome.exit_code = RunHarvest(2, argv, source);
    outcome.out = testing::internal::GetCapturedStdout();
    outcome.err = testing::internal::GetCapturedStderr();
    return outcome;
  }

  void Arrange(FakeGateway& fake) const {
    fake.settings["MailServer"] = "Mail1";
    fake.read_pass_size = GetParam();
    test_support::FakeDatabase& config = fake.databases["ruvconfig.nsf"];
    config.views["Main"] = {{kUsers[0].profile, kUsers[1].profile, kCategory, kUsers[2].profile,
                             kUsers[3].profile},
                            "UserEmailAddress"};
    test_support::FakeDatabase& busytime = fake.databases[kBusytimeDb];
    busytime.views["Main"].key_item = "$Name";
    for (const User& user : kUsers) {
      config.documents[user.profile] = {TextItem("UserEmailAddress", user.address),
                                        TextItem("busytimeurl", user.url)};
      for (NoteId id : user.old_documents) {
        busytime.views["Main"].entries.push_back(id);
        busytime.documents[id] = {TextItem("$Name", user.address)};
      }
    }
  }

  static std::string BodyOf(const User& user) {
    if (user.old_documents.empty())
      return FreeBusyText({"20240103T080000Z/20240103T083000Z", "20240104T120000Z/PT1H"});
    return FreeBusyText({"20240102T090000Z/20240102T100000Z"});
  }
};

// What the busy-time database holds for one user after a run.
struct UserState {
  std::size_t old_kept = 0;
  std::size_t new_named = 0;     // new documents carrying the user's address
  std::size_t new_complete = 0;  // ... and both entry lists
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

void ExpectDocuments(const Outcome& run, const Expected& expected,
                     const std::string& where) {
  for (std::size_t i = 0; i < kUsers.size(); ++i) {
    const User& user = kUsers[i];
    const UserState state = StateOf(*run.fake, user);
    const std::size_t old_count = user.old_documents.size();
    std::size_t old_kept = old_count, new_count = 0;
    switch (expected.documents[i]) {
      case Documents::kUntouched:
        break;
      case Documents::kReplaced:
        old_kept = 0;
        new_count = 1;
        break;
      case Documents::kSomeLost:
        old_kept = old_count - expected.deleted;
        break;
      case Documents::kOldAndNew:
        new_count = 1;
        break;
      case Documents::kLost:
        old_kept = 0;
        break;
    }
    EXPECT_EQ(state.old_kept, old_kept) << where << ": old documents of " << user.address;
    EXPECT_EQ(state.new_named, new_count) << where << ": new documents of " << user.address;
  }
}

TEST_P(FaultInjectionTest, EveryCallOfTheRunFailsInTurn) {
  const Outcome clean = Run("", 0);
  ASSERT_EQ(clean.exit_code, 0) << clean.out << clean.err;
  const std::vector<Site> sites = PlaceCalls(clean.fake->calls);

  int cases = 0, stopped_between_delete_and_save = 0;
  std::set<std::string> not_injected;
  std::vector<std::string> silent_losses;
  for (const Site& site : sites) {
    if (kUnfailable.count(site.operation) != 0) {
      not_injected.insert(site.operation);
      continue;
    }
    const std::string where = site.operation + " call " + std::to_string(site.call_number) +
                              " [" + site.call + "]" +
                              (site.user >= 0 ? std::string(" for ") + kUsers[site.user].address
                                              : std::string());
    ++cases;
    const Outcome run = Run(site.operation, site.call_number);
    const Expected expected = ExpectedFor(site);
    const LapsingGateway& fake = *run.fake;

    EXPECT_EQ(run.exit_code, expected.exit_code) << where;
    EXPECT_EQ(run.out, expected.out) << where;
    EXPECT_EQ(run.err, expected.err) << where;
    EXPECT_TRUE(fake.violations.empty())
        << where << ": " << ::testing::PrintToString(fake.violations);
    EXPECT_EQ(fake.blocks.size(), expected.blocks) << where << ": blocks left";
    EXPECT_EQ(fake.open_notes.size(), expected.notes) << where << ": notes left open";
    EXPECT_EQ(fake.open_collections.size(), expected.collections)
        << where << ": collections left open";
    EXPECT_EQ(fake.open_dbs.size(), expected.databases) << where << ": databases left open";
    for (const auto& [handle, block] : fake.blocks)
      EXPECT_LE(block.locks, 1) << where << ": block " << handle << " locked twice";
    const auto terms = std::count(fake.calls.begin(), fake.calls.end(), "NotesTerm");
    EXPECT_EQ(terms, expected.terminated ? 1 : 0) << where;
    if (expected.terminated) {
      EXPECT_EQ(fake.calls.back(), "NotesTerm") << where;
    }
    ExpectDocuments(run, expected, where);
    // A document nobody can find again is never saved.
    EXPECT_EQ(NewDocumentsWithoutName(fake), 0u) << where;

    // No user loses the document that was there unless a new, usable one was
    // saved, except when the run stopped between the delete and the save.
    for (std::size_t i = 0; i < kUsers.size(); ++i) {
      const User& user = kUsers[i];
      const UserState state = StateOf(fake, user);
      if (state.old_kept == user.old_documents.size() || state.new_complete > 0) continue;
      const bool stopped_there =
          run.exit_code == -1 && static_cast<int>(i) == site.user &&
          (site.stage == Stage::kCreate || site.stage == Stage::kFill ||
           site.stage == Stage::kSave || site.user_delete > 1);
      if (stopped_there) {
        ++stopped_between_delete_and_save;
      } else {
        silent_losses.push_back(where + ": exit " + std::to_string(run.exit_code) + ", " +
                                user.address + "'s old document deleted, " +
                                (state.new_named > 0 ? "the new one lacks an entry list"
                                                     : "no new one carries the address"));
      }
    }
  }

  EXPECT_TRUE(silent_losses.empty()) << "a user's busy time was lost by runs that did not stop:\n"
                                     << ::testing::PrintToString(silent_losses);
  EXPECT_GT(cases, 60);
  EXPECT_EQ(not_injected, (std::set<std::string>{"CurrentTime", "FreeObject", "GetIntlSettings",
                                                 "NotesTerm", "UnlockObject"}));
  RecordProperty("cases", cases);
  RecordProperty("stopped_between_delete_and_save", stopped_between_delete_and_save);
  std::printf("[ figures  ] read pass size %u: %d failing calls run, %d stopped between a "
              "user's delete and save\n",
              GetParam(), cases, stopped_between_delete_and_save);
}

// The profile list in one read pass, and in passes of two entries, which are
// gathered into one block.
INSTANTIATE_TEST_SUITE_P(ReadPasses, FaultInjectionTest, ::testing::Values(0u, 2u),
                         [](const auto& info) {
                           return info.param == 0 ? std::string("OnePass")
                                                  : "PassesOf" + std::to_string(info.param);
                         });

}  // namespace
