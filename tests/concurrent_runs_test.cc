// Two harvests started at the same moment on the same data directory, as
// happens when an administrator starts one by hand while the scheduled one
// runs. The processes share the databases only through the runtime's file
// locks; the free/busy server answers after a random delay, so the two runs
// drift past each other and meet on the same user now and then.
//
// What two overlapping runs may leave follows from how one run replaces a
// document: it deletes every document it finds for the user once each proved
// to be the user's, and adds one; when one it found is gone by the time it
// checks or deletes it, the other run is at work on the user and this one
// skips the user. For a user with n documents before, two complete runs leave
// at least one (when n >= 1) and at most two: one run may search after the
// other deleted and before it saved. A later run folds them into one.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "notes/backend.h"
#include "notes/notes.h"
#include "notes/status_codes.h"
#include "tests/support/fake_gateway.h"
#include "tests/support/harvest_directory.h"
#include "tests/support/http_test_server.h"
#include "tests/support/in_process_run.h"
#include "tests/support/settings_argument.h"
#include "tests/support/table_text_source.h"
#include "tests/support/timed_child.h"

namespace {

namespace fs = std::filesystem;
using test_support::ChildOutcome;
using test_support::TimedChild;
using test_support::UserAddress;

const std::string kHarvest = HARVEST_BINARY_DIR "/busytime-harvest";
const std::string kNsfutil = HARVEST_BINARY_DIR "/nsfutil";
constexpr int kUsers = 30;
constexpr int kPairs = 3;

// User i publishes i % 4 busy periods.
int PeriodsOf(int user) { return user % 4; }

std::string FreeBusyOf(int user) {
  std::vector<std::string> periods;
  for (int i = 0; i < PeriodsOf(user); ++i) {
    char period[64];
    std::snprintf(period, sizeof period, "202401%02dT09%02d00Z/202401%02dT10%02d00Z", i + 2, user,
                  i + 2, user);
    periods.push_back(period);
  }
  return test_support::FreeBusyText(periods);
}

// Users 0..26 start with one document, 27..29 with two; 30..32 have a profile
// but no document yet.
constexpr int kProfiles = kUsers + 3;
int DocumentsBefore(int user) { return user >= kUsers ? 0 : user >= kUsers - 3 ? 2 : 1; }

// The most documents two complete overlapping runs can leave.
constexpr int kMostDocumentsAfterTwoRuns = 2;

// Every line the run may print on standard output.
bool IsRunLine(const std::string& line) {
  auto starts = [&](const char* prefix) { return line.rfind(prefix, 0) == 0; };
  auto ends = [&](const char* suffix) {
    const std::string s(suffix);
    return line.size() >= s.size() && line.compare(line.size() - s.size(), s.size(), s) == 0;
  };
  return line.empty() || line == "Program completed unsuccessfully." ||
         starts("Harvest summary: ") ||
         (starts("Found ") && ends(" calendar profiles")) ||
         starts("Loading Calendar Profile for ") ||
         (starts("Populating ") && ends("'s busy time data")) ||
         (starts("Failed on populating ") && ends("'s busy time data. User is skipped.")) ||
         (starts("WARN -- ") && ends("they are replaced by one new document.")) ||
         // The other run saved or deleted a document between this run's search
         // and its read of the match: the user is skipped, nothing deleted.
         (starts("ERR -- The busy-time document found for ") &&
          ends(" belongs to another address: the view changed during the lookup. Nothing was "
               "deleted.")) ||
         line == "ERR -- Failed to update busytime document." ||
         line == "ERR -- Failed to close busytime document.";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A process's output is defined: known lines on standard output, only the
// runtime's status texts on standard error (so no sanitizer report either).
void ExpectDefinedOutput(const ChildOutcome& run, const std::string& name) {
  static const std::set<std::string> status_texts = [] {
    std::set<std::string> texts;
    for (int number = 1; number < 0x4000; ++number) {
      const std::string_view text = notes::StatusText(static_cast<std::uint16_t>(number));
      if (!text.empty()) texts.emplace(text);
    }
    return texts;
  }();
  ASSERT_TRUE(run.started && run.signal == 0 && !run.timed_out)
      << name << " " << test_support::Describe(run);
  EXPECT_TRUE(run.exit_code == 0 || run.exit_code == 1 || run.exit_code == 255)
      << name << " exit " << run.exit_code;
  for (const std::string& line : Lines(run.out))
    EXPECT_TRUE(IsRunLine(line)) << name << " printed: " << line;
  for (const std::string& line : Lines(run.err))
    EXPECT_TRUE(line.empty() || status_texts.count(line) != 0) << name << " wrote: " << line;
  if (run.exit_code == 255) {
    EXPECT_TRUE(run.out.ends_with("\nProgram completed unsuccessfully.\n")) << name;
  }
}

struct Document {
  std::string note_id;
  int entries = 0;
  int entries_ext = 0;
};

class ConcurrentRunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kHarvest) && fs::exists(kNsfutil)) << "build the programs first";
    std::string pattern = (fs::temp_directory_path() / "concurrent_runs_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    template_ = root_ / "template";
    data_ = root_ / "data";
    server_ = std::make_unique<HttpTestServer>(0, [this](const HttpRequestRecord& request) {
      return Answer(request);
    });
    ASSERT_TRUE(server_->ok());
    PrepareTemplate();
  }

  void TearDown() override {
    server_.reset();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Each request is answered after 5 to 20 ms.
  HttpReply Answer(const HttpRequestRecord& request) {
    HttpReply reply;
    int user = -1;
    if (std::sscanf(request.target.c_str(), "/fb/%d", &user) != 1 || user < 0 ||
        user >= kProfiles) {
      reply.status = 404;
      return reply;
    }
    reply.body = FreeBusyOf(user);
    std::lock_guard<std::mutex> lock(random_mutex_);
    reply.delay = Milliseconds(std::uniform_int_distribution<int>(5, 20)(random_));
    return reply;
  }

  ChildOutcome Tool(const fs::path& ini, std::vector<std::string> args) {
    args.insert(args.begin(), {"--ini", ini.string()});
    return test_support::RunTimedChild(kNsfutil, args, root_);
  }

  // A data directory whose busy-time database holds DocumentsBefore(i)
  // complete documents for every user i, and settings with a short lock wait.
  void PrepareTemplate() {
    const fs::path ini = template_ / "notes.ini";
    ChildOutcome init = test_support::RunTimedChild(
        kNsfutil, {"init", template_.string(), "--mail-server", "Mail1"}, root_);
    ASSERT_EQ(init.exit_code, 0) << init.err;
    std::ofstream(ini, std::ios::app) << "LockTimeout=2000\n";

    std::ofstream csv(root_ / "profiles.csv");
    for (int user = 0; user < kUsers; ++user)
      csv << UserAddress(user) << "," << server_->Url("/fb/" + std::to_string(user)) << "\n";
    csv.close();
    ChildOutcome imported = Tool(ini, {"profile", "import", (root_ / "profiles.csv").string()});
    ASSERT_EQ(imported.exit_code, 0) << imported.err;

    ChildOutcome first = Harvest(template_);
    ASSERT_EQ(first.exit_code, 0) << first.out << first.err;
    for (int user = 0; user < kUsers; ++user) {
      for (int extra = 1; extra < DocumentsBefore(user); ++extra) {
        ASSERT_TRUE(test_support::AddEmptyBusytimeDocument(template_ / "notes.ini",
                                                           "Mail1::busytime.nsf", UserAddress(user)))
            << UserAddress(user);
      }
    }
    for (int user = kUsers; user < kProfiles; ++user) {
      ChildOutcome added = Tool(ini, {"profile", "add", UserAddress(user),
                                     server_->Url("/fb/" + std::to_string(user))});
      ASSERT_EQ(added.exit_code, 0) << added.err;
    }
    const std::map<std::string, std::vector<Document>> documents = DocumentsIn(template_);
    for (int user = 0; user < kProfiles; ++user)
      ASSERT_EQ(Count(documents, user), DocumentsBefore(user)) << UserAddress(user);
  }

  ChildOutcome Harvest(const fs::path& directory) {
    return test_support::RunTimedChild(
        kHarvest, {test_support::SettingsArgument(directory / "notes.ini")}, root_);
  }


  // The busy-time documents by "$Name", from the admin tool's listing.
  std::map<std::string, std::vector<Document>> DocumentsIn(const fs::path& directory) {
    std::map<std::string, std::vector<Document>> documents;
    const ChildOutcome list = Tool(directory / "notes.ini", {"busytime", "list"});
    EXPECT_EQ(list.exit_code, 0) << list.err;
    for (const std::string& line : Lines(list.out)) {
      std::istringstream fields(line);
      Document document;
      std::string name, entries, entries_ext;
      std::getline(fields, document.note_id, '\t');
      std::getline(fields, name, '\t');
      std::getline(fields, entries, '\t');
      std::getline(fields, entries_ext, '\t');
      document.entries = std::atoi(entries.c_str());
      document.entries_ext = std::atoi(entries_ext.c_str());
      documents[name].push_back(document);
    }
    return documents;
  }

  static int Count(const std::map<std::string, std::vector<Document>>& documents, int user) {
    const auto found = documents.find(UserAddress(user));
    return found == documents.end() ? 0 : static_cast<int>(found->second.size());
  }

  void CopyTemplate() {
    std::error_code ignored;
    fs::remove_all(data_, ignored);
    // The settings name the data directory relative to themselves, so a
    // copy is a data directory of its own.
    fs::copy(template_, data_, fs::copy_options::recursive);
  }

  fs::path root_, template_, data_;
  std::unique_ptr<HttpTestServer> server_;
  std::mutex random_mutex_;
  std::mt19937 random_{20240101};
};

TEST_F(ConcurrentRunsTest, TwoRunsAtOnceLeaveConsistentDatabasesAndNoLostUser) {
  std::map<std::string, int> exit_codes;   // "A=0 B=0" -> pairs
  std::map<int, int> documents_per_user;   // documents after the pair -> users
  int skipped = 0, warnings = 0, stopped = 0, view_changed = 0;
  for (int pair = 0; pair < kPairs; ++pair) {
    CopyTemplate();
    const std::string ini_argument = test_support::SettingsArgument(data_ / "notes.ini");
    TimedChild a, b;
    ASSERT_TRUE(a.Start(kHarvest, {ini_argument}, root_, "a"));
    ASSERT_TRUE(b.Start(kHarvest, {ini_argument}, root_, "b"));
    const ChildOutcome run_a = a.Wait();
    const ChildOutcome run_b = b.Wait();
    const std::string where = "pair " + std::to_string(pair);
    ExpectDefinedOutput(run_a, where + " run A");
    ExpectDefinedOutput(run_b, where + " run B");
    ++exit_codes["A=" + std::to_string(run_a.exit_code) + " B=" + std::to_string(run_b.exit_code)];
    for (const ChildOutcome* run : {&run_a, &run_b}) {
      for (const std::string& line : Lines(run->out)) {
        skipped += line.rfind("Failed on populating ", 0) == 0;
        view_changed += line.rfind("ERR -- The busy-time document found for ", 0) == 0;
        warnings += line.rfind("WARN -- ", 0) == 0;
      }
      stopped += run->exit_code == 255;
    }

    const ChildOutcome check = Tool(data_ / "notes.ini", {"check"});
    EXPECT_EQ(check.exit_code, 0) << where << "\n" << check.out << check.err;

    // Every document is complete and belongs to a user with a profile; no
    // user who had a document is left without one, none has more than two
    // overlapping runs can add.
    std::map<std::string, std::vector<Document>> documents = DocumentsIn(data_);
    int listed = 0;
    for (int user = 0; user < kProfiles; ++user) {
      const int before = DocumentsBefore(user);
      const int after = Count(documents, user);
      listed += after;
      ++documents_per_user[after];
      EXPECT_GE(after, before >= 1 ? 1 : 0) << where << ": " << UserAddress(user) << " lost";
      EXPECT_LE(after, kMostDocumentsAfterTwoRuns) << where << ": " << UserAddress(user);
      if (after == 0) continue;
      for (const Document& document : documents[UserAddress(user)]) {
        // The extra documents written for the test have no entries.
        const bool written_here = document.entries == 0 && before == 2;
        if (!written_here) {
          EXPECT_EQ(document.entries, PeriodsOf(user)) << where << UserAddress(user);
        }
        EXPECT_EQ(document.entries_ext, document.entries) << where << UserAddress(user);
      }
    }
    int total = 0;
    for (const auto& [name, list] : documents) total += static_cast<int>(list.size());
    EXPECT_EQ(total, listed) << where << ": documents of nobody's address";

    // One more run on its own: every user ends with exactly one document.
    const ChildOutcome rerun = test_support::RunTimedChild(kHarvest, {ini_argument}, root_);
    ExpectDefinedOutput(rerun, where + " rerun");
    EXPECT_EQ(rerun.exit_code, 0) << rerun.out;
    const std::map<std::string, std::vector<Document>> after_rerun = DocumentsIn(data_);
    for (int user = 0; user < kProfiles; ++user) {
      EXPECT_EQ(Count(after_rerun, user), 1)
          << where << ": " << UserAddress(user) << " after a rerun";
    }
  }

  std::string figures;
  for (const auto& [codes, count] : exit_codes)
    figures += " [" + codes + "]x" + std::to_string(count);
  figures += "; users by documents after the pair:";
  for (const auto& [count, users] : documents_per_user)
    figures += " " + std::to_string(count) + ":" + std::to_string(users);
  figures += "; users skipped " + std::to_string(skipped) + " (view changed under the lookup " +
             std::to_string(view_changed) + "), warnings " +
             std::to_string(warnings) + ", runs stopped " + std::to_string(stopped);
  RecordProperty("figures", figures);
  std::printf("[ figures  ] %d pairs of %d users:%s\n", kPairs, kProfiles, figures.c_str());
}

// The meeting the pairs above run into, made to happen every time: while this
// run is between the search for bob's document and the read of what it found,
// another run saves the first document of aaron, whose address sorts before
// bob's. The view position the search gave now holds aaron's document.
class OtherRunSavesBetweenSearchAndRead final : public test_support::FakeGateway {
 public:
  static constexpr NoteId kAaronsDocument = 0x30;

  Status FindByName(CollectionHandle hCollection, const char* key, std::uint16_t flags,
                    CollectionPosition* position, std::uint32_t* match_count) override {
    const Status status = FakeGateway::FindByName(hCollection, key, flags, position, match_count);
    if (std::string(key) == "bob@x.com") {
      test_support::FakeDatabase& busytime = databases["Mail1::busytime.nsf"];
      busytime.documents[kAaronsDocument] = {test_support::TextItem("$Name", "aaron@x.com")};
      auto& entries = busytime.views["Main"].entries;
      entries.insert(entries.begin(), kAaronsDocument);
    }
    return status;
  }
};

TEST(InterleavedLookupTest, NeverDeletesADocumentAnotherRunSavedMeanwhile) {
  constexpr NoteId kBob = 0x10, kBobsOldDocument = 0x20;
  OtherRunSavesBetweenSearchAndRead fake;
  fake.settings["MailServer"] = "Mail1";
  test_support::FakeDatabase& config = fake.databases["ruvconfig.nsf"];
  config.views["Main"] = {{kBob}, "UserEmailAddress"};
  config.documents[kBob] = {test_support::TextItem("UserEmailAddress", "bob@x.com"),
                            test_support::TextItem("busytimeurl", "http://fb/bob")};
  test_support::FakeDatabase& busytime = fake.databases["Mail1::busytime.nsf"];
  busytime.views["Main"] = {{kBobsOldDocument}, "$Name"};
  busytime.documents[kBobsOldDocument] = {test_support::TextItem("$Name", "bob@x.com")};
  test_support::TableTextSource source;
  source.table["http://fb/bob"] = {1, test_support::FreeBusyText({}), ""};

  notes::ScopedBackend installed(fake);
  const test_support::CapturedRun run = test_support::RunCaptured({}, source);
  const std::string& out = run.out;

  EXPECT_EQ(run.exit_code, 0) << out << run.err;
  EXPECT_EQ(fake.ItemText("Mail1::busytime.nsf", OtherRunSavesBetweenSearchAndRead::kAaronsDocument,
                          "$Name"),
            "aaron@x.com")
      << "bob's run deleted the document another run had just saved for aaron";
  // Bob keeps his old document and gets no second one beside it; the next
  // run replaces it.
  std::vector<NoteId> bobs_documents;
  for (const auto& [id, items] : fake.databases["Mail1::busytime.nsf"].documents)
    if (fake.ItemText("Mail1::busytime.nsf", id, "$Name") == "bob@x.com")
      bobs_documents.push_back(id);
  EXPECT_EQ(bobs_documents, std::vector<NoteId>{kBobsOldDocument});
  EXPECT_NE(out.find("ERR -- The busy-time document found for bob@x.com belongs to another "
                     "address: the view changed during the lookup. Nothing was deleted.\n"
                     "Failed on populating bob@x.com's busy time data. User is skipped.\n"),
            std::string::npos)
      << out;
  EXPECT_TRUE(fake.violations.empty());
}

}  // namespace
