// nsfutil as an administrator uses it: the built program run as a process on
// temporary data directories, its output and exit status checked, and the
// busy-time documents it shows written by a real harvest run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "notes/backend.h"
#include "notes/local/local_runtime.h"
#include "notes/notes.h"
#include "tests/support/http_test_server.h"
#include "tests/support/restricted_run.h"
#include "tests/support/settings_argument.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct ProcessResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

// Runs `program` with `args`, its output going to files in `scratch`.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const fs::path& scratch) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const fs::path out_file = scratch / "stdout.txt";
  const fs::path err_file = scratch / "stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = 0;
  ProcessResult result;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return result;
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  result.out = ReadFile(out_file);
  result.err = ReadFile(err_file);
  return result;
}

bool IsOneErrorLine(const std::string& err) {
  return err.rfind("nsfutil: ", 0) == 0 && err.find('\n') == err.size() - 1;
}

class NsfutilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "nsfutil_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    data_ = root_ / "data";
    ini_ = data_ / "notes.ini";
    ASSERT_TRUE(fs::exists(HARVEST_BINARY_DIR "/nsfutil")) << "build the target nsfutil first";
  }
  void TearDown() override { fs::remove_all(root_); }

  ProcessResult Run(const std::vector<std::string>& args) {
    return RunProgram(HARVEST_BINARY_DIR "/nsfutil", args, root_);
  }
  // A command on the test's data directory.
  ProcessResult Tool(std::vector<std::string> args) {
    args.insert(args.begin(), {"--ini", ini_.string()});
    return Run(args);
  }
  void InitData() {
    const ProcessResult init = Run({"init", data_.string(), "--mail-server", "Mail01/Acme"});
    ASSERT_EQ(init.status, 0) << init.err;
  }
  fs::path BusytimeFile() const { return data_ / "servers" / "Mail01%2FAcme" / "busytime.nsf"; }

  fs::path root_;
  fs::path data_;
  fs::path ini_;
};

TEST_F(NsfutilTest, InitCreatesTheDatabasesWhereTheHarvestLooksAndNeverOverwrites) {
  InitData();
  const std::string settings = ReadFile(ini_);
  EXPECT_NE(settings.find("Directory=.\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("MailServer=Mail01/Acme\n"), std::string::npos) << settings;
  EXPECT_TRUE(fs::exists(data_ / "ruvconfig.nsf"));
  EXPECT_TRUE(fs::exists(BusytimeFile()));
  const ProcessResult check = Tool({"check"});
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_NE(check.out.find("ruvconfig.nsf: ok"), std::string::npos) << check.out;

  ASSERT_EQ(Tool({"profile", "add", "ann@example.com", "http://h/ann"}).status, 0);
  const ProcessResult again = Run({"init", data_.string()});
  EXPECT_EQ(again.status, 2);
  EXPECT_TRUE(IsOneErrorLine(again.err)) << again.err;
  EXPECT_EQ(ReadFile(ini_), settings);
  EXPECT_EQ(Tool({"profile", "list"}).out, "ann@example.com\thttp://h/ann\n");

  const ProcessResult local = Run({"init", (root_ / "local").string()});
  ASSERT_EQ(local.status, 0) << local.err;
  EXPECT_NE(ReadFile(root_ / "local" / "notes.ini").find("MailServer=\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(root_ / "local" / "busytime.nsf"));
}

TEST_F(NsfutilTest, ProfilesAreAddedListedInViewOrderAndRemoved) {
  InitData();
  ASSERT_EQ(Tool({"profile", "add", "bob@example.com", "http://h/bob"}).status, 0);
  ASSERT_EQ(Tool({"profile", "add", "Ann@example.com", "http://h/ann"}).status, 0);
  const std::string listed = "Ann@example.com\thttp://h/ann\nbob@example.com\thttp://h/bob\n";
  EXPECT_EQ(Tool({"profile", "list"}).out, listed);

  const std::vector<std::vector<std::string>> refused = {
      {"add", "ANN@EXAMPLE.COM", "http://h/other"},  // duplicate, other letter case
      {"add", "", "http://h/x"},
      {"add", "eve@example.com", ""},
      {"add", "eve@example.com", "http://h/\x01"},
      {"add", "eve@example.com", "http://h/" + std::string(251, 'x')},  // 260 bytes
      {"add", "eve@example.com\n", "http://h/x"},
      {"remove", "nobody@example.com"},
  };
  for (std::vector<std::string> args : refused) {
    args.insert(args.begin(), "profile");
    const ProcessResult result = Tool(args);
    EXPECT_EQ(result.status, 2) << args[1] << " " << args[2];
    EXPECT_TRUE(IsOneErrorLine(result.err)) << result.err;
  }
  EXPECT_EQ(Tool({"profile", "list"}).out, listed);

  EXPECT_EQ(Tool({"profile", "remove", "BOB@example.com"}).status, 0);
  EXPECT_EQ(Tool({"profile", "list"}).out, "Ann@example.com\thttp://h/ann\n");
}

// The local runtime started in this process on the settings file `ini`, with
// the database `path` open: for writing what the tool itself never writes.
class DirectDatabase {
 public:
  DirectDatabase(const fs::path& ini, const char* path) : backend_(runtime_) {
    std::string program = "nsfutil_test";
    std::string settings = test_support::SettingsArgument(ini);
    std::array<char*, 3> argv = {program.data(), settings.data(), nullptr};
    EXPECT_EQ(NotesInit(2, argv.data()), 0);
    EXPECT_EQ(DbOpen(path, &db_), 0);
  }
  ~DirectDatabase() {
    DbClose(db_);
    NotesTerm();
  }
  DbHandle Handle() const { return db_; }

 private:
  notes::local::LocalRuntime runtime_;
  notes::ScopedBackend backend_;
  DbHandle db_ = 0;
};

// Writes `count` profiles of one address straight through the gateway, as
// only something other than the tool can: enough that deleting them all
// rewrites some 30 pages of the database.
void WriteSameAddressProfiles(const fs::path& ini, const std::string& address, int count) {
  DirectDatabase database(ini, "ruvconfig.nsf");
  const DbHandle db = database.Handle();
  const std::string url = "http://h/" + std::string(240, 'x');
  for (int i = 0; i < count; ++i) {
    NoteHandle note = 0;
    ASSERT_EQ(NoteCreate(db, &note), 0);
    const std::pair<const char*, std::string> items[] = {
        {"Form", "CalendarProfile"}, {"UserEmailAddress", address}, {"busytimeurl", url}};
    for (const auto& [item, text] : items)
      ItemSetText(note, item, text.data(), static_cast<std::uint16_t>(text.size()), true);
    EXPECT_EQ(NoteUpdate(note, 0), 0);
    NoteClose(note);
  }
}

// A delete is committed when the database closes; a commit that fails there
// (a full disk, here a file size limit the write-ahead log runs into) must
// fail the command, not be reported as done.
TEST_F(NsfutilTest, RemoveThatCannotBeCommittedFailsAndKeepsTheProfiles) {
  InitData();
  WriteSameAddressProfiles(ini_, "dup@example.com", 300);
  std::string unavailable;
  const test_support::ChildOutcome removed = test_support::RunWithFileSizeLimit(
      64 * 1024,
      {HARVEST_BINARY_DIR "/nsfutil",
       {"--ini", ini_.string(), "profile", "remove", "dup@example.com"},
       root_},
      &unavailable);
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  EXPECT_TRUE(removed.Exited(2)) << removed.out << removed.err;
  EXPECT_EQ(removed.out, "");
  EXPECT_TRUE(IsOneErrorLine(removed.err)) << removed.err;
  const std::string listed = Tool({"profile", "list"}).out;
  EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 300) << listed.substr(0, 200);
}

TEST_F(NsfutilTest, ImportIsAllOrNothing) {
  InitData();
  ASSERT_EQ(Tool({"profile", "add", "old@example.com", "http://h/old"}).status, 0);
  WriteFile(root_ / "good.csv",
            "address,url\r\n# exported from the directory\r\n\r\n"
            "a@example.com,http://h/a?x=1,2\r\n\"b,q@example.com\",\"http://h/b\"\r\n");
  const ProcessResult good = Tool({"profile", "import", (root_ / "good.csv").string()});
  ASSERT_EQ(good.status, 0) << good.err;
  const std::string listed =
      "a@example.com\thttp://h/a?x=1,2\nb,q@example.com\thttp://h/b\nold@example.com\thttp://h/"
      "old\n";
  EXPECT_EQ(Tool({"profile", "list"}).out, listed);

  const struct {
    std::string text;
    std::string where;
  } bad_files[] = {
      {"c@example.com,http://h/c\nd@example.com,\n", "bad.csv:2:"},
      {"c@example.com,http://h/c\n\n# x\nd@example.com\n", "bad.csv:4:"},
      {"c@example.com,http://h/c\nC@EXAMPLE.com,http://h/c2\n", "bad.csv:2:"},
      {"c@example.com,http://h/c\nOLD@example.com,http://h/o\n", "bad.csv:2:"},
      {"c@example.com,http://h/c\nd@example.com,http://h/\x7f\n", "bad.csv:2:"},
  };
  for (const auto& bad : bad_files) {
    WriteFile(root_ / "bad.csv", bad.text);
    const ProcessResult result = Tool({"profile", "import", (root_ / "bad.csv").string()});
    EXPECT_EQ(result.status, 2) << bad.text;
    EXPECT_NE(result.err.find(bad.where), std::string::npos) << result.err;
    EXPECT_EQ(Tool({"profile", "list"}).out, listed) << bad.text;
  }
  EXPECT_EQ(Tool({"profile", "import", (root_ / "missing.csv").string()}).status, 2);
}

TEST_F(NsfutilTest, UsageErrorsGiveOneLineAndStatusTwo) {
  InitData();
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"frobnicate"},
      {"--bogus", "check"},
      {"profile"},
      {"profile", "add", "a@example.com"},
      {"profile", "list", "extra"},
      {"busytime", "list", "--json"},
      {"--ini", (root_ / "missing.ini").string(), "profile", "list"},
      {"--ini", ini_.string(), "init", (root_ / "other").string()},
  };
  for (const std::vector<std::string>& args : wrong) {
    const ProcessResult result = Run(args);
    EXPECT_EQ(result.status, 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_TRUE(IsOneErrorLine(result.err)) << result.err;
  }
  const ProcessResult help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: nsfutil", 0), 0u);
}

TEST_F(NsfutilTest, ShowsWhatARealHarvestWrote) {
  InitData();
  HttpTestServer server;
  ASSERT_TRUE(server.ok());
  HttpReply week;
  week.body =
      "BEGIN:VCALENDAR\r\nBEGIN:VFREEBUSY\r\n"
      "FREEBUSY:20070102T080000Z/20070102T090000Z\r\n"
      "FREEBUSY:20070103T130000Z/20070103T143000Z\r\n"
      "FREEBUSY:20070104T070000Z/20070104T073000Z\r\n"
      "END:VFREEBUSY\r\nEND:VCALENDAR\r\n";
  server.Reply("/week.ifb", week);
  HttpReply empty;
  empty.body = "BEGIN:VCALENDAR\r\nBEGIN:VFREEBUSY\r\nEND:VFREEBUSY\r\nEND:VCALENDAR\r\n";
  server.Reply("/empty.ifb", empty);
  ASSERT_EQ(Tool({"profile", "add", "week@example.com", server.Url("/week.ifb")}).status, 0);
  ASSERT_EQ(Tool({"profile", "add", "empty@example.com", server.Url("/empty.ifb")}).status, 0);
  const ProcessResult harvest = RunProgram(HARVEST_BINARY_DIR "/busytime-harvest",
                                           {test_support::SettingsArgument(ini_)}, root_);
  ASSERT_EQ(harvest.status, 0) << harvest.out << harvest.err;

  const ProcessResult list = Tool({"busytime", "list"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("\tweek@example.com\t3\t3\t20"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\tempty@example.com\t0\t0\t20"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.rfind("0x", 0), 0u) << list.out;

  const ProcessResult show = Tool({"busytime", "show", "WEEK@example.com"});
  ASSERT_EQ(show.status, 0) << show.err;
  for (const char* expected :
       {"EventListExt", "0x0016", "2007-01-03T13:00:00Z  2007-01-03T14:30:00Z",
        "lists agree entry by entry: yes; EventList header matches its length: yes; "
        "EventListExt header matches its length: yes"}) {
    EXPECT_NE(show.out.find(expected), std::string::npos) << expected << "\n" << show.out;
  }
  EXPECT_EQ(show.out.find("empty@example.com"), std::string::npos);

  const ProcessResult json = Tool({"busytime", "show", "week@example.com", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  for (const char* expected :
       {"\"name\": \"week@example.com\"",
        "{\"name\": \"EventList\", \"type\": 22, \"flags\": 0, \"length\": 116}",
        "{\"name\": \"EventListExt\", \"type\": 22, \"flags\": 0, \"length\": 224}",
        "\"events_ext\": [\n      {\"start\": \"2007-01-02T08:00:00Z\", \"end\": "
        "\"2007-01-02T09:00:00Z\"}",
        "\"consistent\": true"}) {
    EXPECT_NE(json.out.find(expected), std::string::npos) << expected << "\n" << json.out;
  }
  const ProcessResult all = Tool({"busytime", "show", "--json"});
  EXPECT_NE(all.out.find("\"name\": \"empty@example.com\""), std::string::npos);
  EXPECT_NE(all.out.find("\"events\": []"), std::string::npos);

  const ProcessResult unknown = Tool({"busytime", "show", "nobody@example.com"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err, "nsfutil: no busy-time document for nobody@example.com\n");
  // The week as a grid: UTC by default, the zone's hours with --tz (New York
  // is five hours behind in January), this week's Monday without --from.
  const char* kFree = "........................\n";
  const ProcessResult utc = Tool({"busytime", "week", "week@example.com", "--from", "2007-01-01"});
  EXPECT_EQ(utc.out, std::string("2007-01-01 ") + kFree +
                         "2007-01-02 ........#...............\n"
                         "2007-01-03 .............##.........\n"
                         "2007-01-04 .......#................\n" +
                         "2007-01-05 " + kFree + "2007-01-06 " + kFree + "2007-01-07 " + kFree)
      << utc.err;
  const ProcessResult zone = Tool(
      {"busytime", "week", "week@example.com", "--from=2007-01-02", "--tz", "America/New_York"});
  EXPECT_EQ(zone.out.substr(0, 3 * 36),
            "2007-01-02 ...#....................\n"
            "2007-01-03 ........##..............\n"
            "2007-01-04 ..#.....................\n")
      << zone.err;
  const ProcessResult now = Tool({"busytime", "week", "empty@example.com"});
  ASSERT_EQ(now.status, 0) << now.err;
  ASSERT_EQ(now.out.size(), 7u * 36) << now.out;
  std::tm monday{};
  ASSERT_NE(strptime(now.out.substr(0, 10).c_str(), "%Y-%m-%d", &monday), nullptr);
  monday.tm_hour = 12;
  timegm(&monday);
  EXPECT_EQ(monday.tm_wday, 1) << now.out;
  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{"busytime", "week", "week@example.com", "--tz", "Mars/Olympus"},
        {"busytime", "week", "week@example.com", "--tz", "../../etc/passwd"},
        {"busytime", "week", "week@example.com", "--from", "2007-02-29"},
        {"busytime", "week", "nobody@example.com"},
        {"busytime", "list", "--from", "2007-01-01"}}) {
    const ProcessResult refused = Tool(wrong);
    EXPECT_EQ(refused.status, 2) << wrong.back();
    EXPECT_TRUE(IsOneErrorLine(refused.err)) << refused.err;
    EXPECT_EQ(refused.out, "");
  }
}

// Writes a busy-time document through the gateway whose "EventList" header
// counts three entries while only two follow it.
void WriteDamagedDocument(const fs::path& ini) {
  DirectDatabase database(ini, "Mail01/Acme::busytime.nsf");
  const DbHandle db = database.Handle();
  NoteHandle note = 0;
  ASSERT_EQ(NoteCreate(db, &note), 0);
  const std::string name = "odd\"\\\x01\xff@example.com";
  ItemSetText(note, "$Name", name.data(), static_cast<std::uint16_t>(name.size()), true);
  std::vector<std::uint8_t> list(8 + 36 * 2, 0);
  list[0] = 3;
  ItemAppend(note, 0, "EventList", 9, kTypeScheduleList, list.data(),
             static_cast<std::uint32_t>(list.size()));
  std::vector<std::uint8_t> list_ext(8 + 72 * 2, 0);
  list_ext[0] = 2;
  list_ext[6] = 72;
  ItemAppend(note, 0, "EventListExt", 12, kTypeScheduleList, list_ext.data(),
             static_cast<std::uint32_t>(list_ext.size()));
  EXPECT_EQ(NoteUpdate(note, 0), 0);
  NoteClose(note);
}

TEST_F(NsfutilTest, CheckFindsAListHeaderThatDoesNotMatchItsLength) {
  InitData();
  WriteDamagedDocument(ini_);
  WriteFile(data_ / "junk.nsf", "this is no database\n");

  const ProcessResult check = Tool({"check"});
  EXPECT_EQ(check.status, 1) << check.err;
  EXPECT_NE(check.out.find("servers/Mail01%2FAcme/busytime.nsf: note 0x"), std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find("EventList header counts 3 entries (8 + 36 x 3 = 116 bytes) but the "
                           "value is 80 bytes long"),
            std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find("junk.nsf: the file is not a SQLite database"), std::string::npos);
  EXPECT_NE(check.out.find("ruvconfig.nsf: ok"), std::string::npos);

  const ProcessResult json = Tool({"busytime", "show", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"name\": \"odd\\\"\\\\\\u0001\\u00ff@example.com\""), std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"consistent\": false"), std::string::npos);
}

TEST_F(NsfutilTest, ADamagedDatabaseIsReportedAndLeftAsItWas) {
  InitData();
  std::string bytes = ReadFile(BusytimeFile());
  ASSERT_GT(bytes.size(), 200u);
  bytes.replace(100, 16, "not a database!!");
  WriteFile(BusytimeFile(), bytes);

  const ProcessResult list = Tool({"busytime", "list"});
  EXPECT_EQ(list.status, 2);
  EXPECT_TRUE(IsOneErrorLine(list.err)) << list.err;
  EXPECT_EQ(Tool({"check"}).status, 1);
  EXPECT_EQ(ReadFile(BusytimeFile()), bytes);
}

}  // namespace
