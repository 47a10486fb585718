// The whole run on the local runtime: a data directory with a settings file,
// a configuration database whose profiles include one under a category, and
// a busy-time database where one user has one document, one has two and one
// has none.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "notes/local/local_runtime.h"
#include "notes/status_codes.h"
#include "tests/support/faulty_backend.h"
#include "tests/support/in_process_run.h"
#include "tests/support/settings_argument.h"
#include "tests/support/table_text_source.h"

namespace {

namespace fs = std::filesystem;
using notes::local::LocalRuntime;
using test_support::FreeBusyText;

const char kBusytimeDb[] = "Mail1::busytime.nsf";

const char kExpectedOutput[] =
    "Found 4 calendar profiles\n"
    "Loading Calendar Profile for alice@x.com (http://fb/alice)\n"
    "Populating alice@x.com's busy time data\n\n"
    "Loading Calendar Profile for bob@x.com (http://fb/bob)\n"
    "WARN -- bob@x.com had 2 busy-time documents; they are replaced by one new document.\n"
    "Populating bob@x.com's busy time data\n\n"
    "Loading Calendar Profile for carol@x.com (http://fb/carol)\n"
    "Populating carol@x.com's busy time data\n\n"
    "Harvest summary: 3 calendar profiles, 3 users written, 0 users skipped, 0 profiles "
    "skipped\n";

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    const std::string unique = std::to_string(::getpid()) + "-" + std::to_string(counter++);
    directory_ = fs::temp_directory_path() / ("harvest-e2e-" + unique);
    fs::create_directories(directory_);
    settings_file_ = (directory_ / "notes.ini").string();
    settings_argument_ = test_support::SettingsArgument(settings_file_);
    WriteSettings("");

    source_.table["http://fb/alice"] = {1, FreeBusyText({"20240102T090000Z/20240102T100000Z"}), ""};
    source_.table["http://fb/bob"] = {1, FreeBusyText({}), ""};
    source_.table["http://fb/carol"] = {
        1, FreeBusyText({"20240103T080000Z/20240103T083000Z", "20240104T120000Z/PT1H"}), ""};

    Start();
    ASSERT_EQ(runtime_.CreateDatabase("ruvconfig.nsf"), 0);
    DbHandle config = Open("ruvconfig.nsf");
    ASSERT_EQ(runtime_.CreateView(config, {"Main", "", "UserEmailAddress", "UserEmailAddress",
                                           "Category"}),
              0);
    AddDocument(config, {{"UserEmailAddress", "carol@x.com"},
                         {"busytimeurl", "http://fb/carol"},
                         {"Category", "Sales"}});
    AddDocument(config, {{"UserEmailAddress", "bob@x.com"}, {"busytimeurl", "http://fb/bob"}});
    AddDocument(config,
                {{"UserEmailAddress", "alice@x.com"}, {"busytimeurl", "http://fb/alice"}});
    ASSERT_EQ(runtime_.DbClose(config), 0);

    ASSERT_EQ(runtime_.CreateDatabase(kBusytimeDb), 0);
    DbHandle busytime = Open(kBusytimeDb);
    ASSERT_EQ(runtime_.CreateView(busytime, {"Main", "", "$Name", "$Name", ""}), 0);
    alice_old_ = AddDocument(busytime, {{"$Name", "alice@x.com"}});
    bob_old_.push_back(AddDocument(busytime, {{"$Name", "bob@x.com"}}));
    bob_old_.push_back(AddDocument(busytime, {{"$Name", "bob@x.com"}}));
    ASSERT_EQ(runtime_.DbClose(busytime), 0);
    runtime_.NotesTerm();
  }

  void TearDown() override {
    runtime_.NotesTerm();
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  void WriteSettings(const std::string& extra) {
    std::ofstream(settings_file_) << "MailServer=Mail1\n" << extra;
  }

  void Start() {
    char program[] = "busytime-harvest";
    char* argv[] = {program, settings_argument_.data(), nullptr};
    ASSERT_EQ(runtime_.NotesInit(2, argv), 0);
  }

  DbHandle Open(const char* path) {
    DbHandle db = 0;
    EXPECT_EQ(runtime_.DbOpen(path, &db), 0);
    return db;
  }

  NoteId AddDocument(DbHandle db, const std::vector<std::pair<std::string, std::string>>& items) {
    NoteHandle note = 0;
    EXPECT_EQ(runtime_.NoteCreate(db, &note), 0);
    for (const auto& [name, value] : items) {
      EXPECT_EQ(runtime_.ItemSetText(note, name.c_str(), value.c_str(),
                                     static_cast<std::uint16_t>(value.size()), true),
                0);
    }
    EXPECT_EQ(runtime_.NoteUpdate(note, 0), 0);
    std::vector<NoteId> ids;
    EXPECT_EQ(runtime_.ListDocuments(db, &ids), 0);
    EXPECT_EQ(runtime_.NoteClose(note), 0);
    return ids.empty() ? 0 : ids.back();
  }

  int Run(notes::Backend& backend) {
    notes::ScopedBackend installed(backend);
    test_support::CapturedRun run = test_support::RunCaptured({settings_argument_}, source_);
    out_ = std::move(run.out);
    err_ = std::move(run.err);
    return run.exit_code;
  }

  // The busy-time documents after the run, by "$Name", each with its items.
  std::map<std::string, std::vector<NoteId>> BusytimeDocuments() {
    Start();
    DbHandle db = Open(kBusytimeDb);
    std::vector<NoteId> ids;
    EXPECT_EQ(runtime_.ListDocuments(db, &ids), 0);
    std::map<std::string, std::vector<NoteId>> by_name;
    for (NoteId id : ids) {
      NoteHandle note = 0;
      EXPECT_EQ(runtime_.NoteOpen(db, id, 0, &note), 0);
      char name[300] = "";
      runtime_.ItemGetText(note, "$Name", name, sizeof name);
      by_name[name].push_back(id);
      std::vector<notes::local::ItemInfo> items;
      EXPECT_EQ(runtime_.ReadItems(note, &items), 0);
      items_[id] = items;
      runtime_.NoteClose(note);
    }
    runtime_.NotesTerm();
    return by_name;
  }

  std::size_t EventListLength(NoteId id) {
    for (const notes::local::ItemInfo& item : items_[id])
      if (item.name == "EventList") return item.value.size();
    return 0;
  }

  // Exactly one new document for every user: alice's old one and bob's two
  // gone.
  void ExpectEveryUserReplaced() {
    std::map<std::string, std::vector<NoteId>> documents = BusytimeDocuments();
    ASSERT_EQ(documents.size(), 3u);
    ASSERT_EQ(documents["alice@x.com"].size(), 1u);
    EXPECT_NE(documents["alice@x.com"][0], alice_old_);
    ASSERT_EQ(documents["bob@x.com"].size(), 1u);
    EXPECT_GT(documents["bob@x.com"][0], bob_old_[1]);
    ASSERT_EQ(documents["carol@x.com"].size(), 1u);
    EXPECT_EQ(EventListLength(documents["alice@x.com"][0]), 8u + 36u);
    EXPECT_EQ(EventListLength(documents["bob@x.com"][0]), 8u);
    EXPECT_EQ(EventListLength(documents["carol@x.com"][0]), 8u + 2 * 36u);
  }

  fs::path directory_;
  std::string settings_file_;
  std::string settings_argument_;
  LocalRuntime runtime_;
  test_support::TableTextSource source_;
  NoteId alice_old_ = 0;
  std::vector<NoteId> bob_old_;
  std::map<NoteId, std::vector<notes::local::ItemInfo>> items_;
  std::string out_, err_;
};

TEST_F(EndToEndTest, EveryUserGetsOneNewDocument) {
  ASSERT_EQ(Run(runtime_), 0);
  EXPECT_EQ(out_, kExpectedOutput);
  EXPECT_EQ(err_, "");
  ExpectEveryUserReplaced();
}

TEST_F(EndToEndTest, ProfilesReadInSeveralPassesGiveTheSameRun) {
  WriteSettings("ViewReadPassSize=1\n");
  test_support::FaultyBackend counting(runtime_);
  ASSERT_EQ(Run(counting), 0);
  EXPECT_EQ(out_, kExpectedOutput);
  EXPECT_EQ(err_, "");
  // Four profile entries, one per pass, then bob's two matches in two more.
  EXPECT_GE(counting.Calls("ReadEntries"), 4 + 1 + 1);
  EXPECT_EQ(counting.Calls("AllocObject"), 1);
  ExpectEveryUserReplaced();
}

TEST_F(EndToEndTest, FailedSaveEndsTheRunAndLaterUsersAreNotProcessed) {
  test_support::FaultyBackend faulty(runtime_);
  faulty.Fail("NoteUpdate", notes::kErrDiskFull, 2);  // bob's document
  EXPECT_EQ(Run(faulty), -1);
  const std::string expected_start =
      "Found 4 calendar profiles\n"
      "Loading Calendar Profile for alice@x.com (http://fb/alice)\n"
      "Populating alice@x.com's busy time data\n\n";
  EXPECT_EQ(out_.substr(0, expected_start.size()), expected_start);
  EXPECT_NE(out_.find("Populating bob@x.com's busy time data\n\n"
                      "ERR -- Failed to update busytime document.\n"
                      "Harvest summary: 3 calendar profiles, 1 users written, 0 users skipped, "
                      "0 profiles skipped\n"
                      "\nProgram completed unsuccessfully.\n"),
            std::string::npos);
  EXPECT_EQ(out_.find("carol"), std::string::npos);
  EXPECT_EQ(err_, "\nThe disk is full; the database could not be written\n");

  std::map<std::string, std::vector<NoteId>> documents = BusytimeDocuments();
  EXPECT_EQ(documents["alice@x.com"].size(), 1u);
  // Stopped between bob's deletes and his save: the deletes are rolled back
  // with the save, so bob keeps the documents he had.
  EXPECT_EQ(documents["bob@x.com"], bob_old_);
  EXPECT_EQ(documents.count("carol@x.com"), 0u);
}

}  // namespace
