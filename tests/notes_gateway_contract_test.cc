// One contract for both backends: every gateway operation the run and the
// tools use must behave the same on the fake gateway as on the local runtime,
// so that a test passing against the fake says something about the real run.
// Where they disagree, the local runtime is right and the fake is fixed.
//
// Each backend starts with a view-read pass of kPassSize entries, the setting
// MailServer and one database "busytime.nsf" whose view "Main" is sorted by
// "$Name"; documents are made through the gateway itself.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "notes/backend.h"
#include "notes/local/local_runtime.h"
#include "notes/status_codes.h"
#include "tests/support/fake_gateway.h"
#include "tests/support/settings_argument.h"

namespace {

namespace fs = std::filesystem;
using namespace notes;  // the status codes

constexpr std::uint32_t kPassSize = 2;
constexpr const char* kDb = "busytime.nsf";

Status Start(const std::string& settings_file) {
  std::string program = "contract";
  std::string argument = test_support::SettingsArgument(settings_file);
  char* argv[] = {program.data(), argument.data(), nullptr};
  return NotesInit(2, argv);
}

class FakeSide {
 public:
  Backend& backend() { return fake_; }
  Status Prepare() {
    fake_.settings["MailServer"] = "Mail1";
    fake_.read_pass_size = kPassSize;
    fake_.databases[kDb].views["Main"] = {{}, "$Name"};
    return Start("notes.ini");
  }

 private:
  test_support::FakeGateway fake_;
};

class LocalSide {
 public:
  ~LocalSide() {
    if (!root_.empty()) fs::remove_all(root_);
  }
  Backend& backend() { return runtime_; }
  Status Prepare() {
    std::string pattern = (fs::temp_directory_path() / "contract_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return kErrDataDirectoryMissing;
    root_ = pattern;
    std::ofstream(root_ / "notes.ini") << "Directory=.\nMailServer=Mail1\nViewReadPassSize="
                                      << kPassSize << "\n";
    Status status = Start((root_ / "notes.ini").string());
    if (status == 0) status = runtime_.CreateDatabase(kDb);
    DbHandle db = 0;
    if (status == 0) status = DbOpen(kDb, &db);
    if (status == 0) status = runtime_.CreateView(db, {"Main", "", "$Name", "$Name", ""});
    if (status == 0) status = DbClose(db);
    return status;
  }

 private:
  fs::path root_;
  local::LocalRuntime runtime_;
};

template <typename Side>
class GatewayContractTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(side_.Prepare(), 0);
    ASSERT_EQ(DbOpen(kDb, &db_), 0);
  }
  void TearDown() override { NotesTerm(); }

  // Saves a new document with these text items (exact bytes).
  void AddDocument(const std::vector<std::pair<std::string, std::string>>& texts) {
    NoteHandle note = 0;
    ASSERT_EQ(NoteCreate(db_, &note), 0);
    for (const auto& [name, text] : texts)
      ASSERT_EQ(ItemSetText(note, name.c_str(), text.data(),
                            static_cast<std::uint16_t>(text.size()), true),
                0);
    ASSERT_EQ(NoteUpdate(note, 0), 0);
    ASSERT_EQ(NoteClose(note), 0);
  }

  CollectionHandle OpenMain() {
    NoteId view_id = 0;
    CollectionHandle collection = 0;
    EXPECT_EQ(FindDesignNote(db_, "Main", 8, "-G40n", &view_id, 0), 0);
    EXPECT_EQ(OpenCollection(db_, db_, view_id, 0, 0, &collection, nullptr, nullptr, nullptr,
                             nullptr),
              0);
    return collection;
  }

  // The NoteIds of one read, the block released.
  static std::vector<NoteId> Ids(MemHandle block, std::uint32_t count) {
    if (block == 0) return {};
    const auto* ids = static_cast<const NoteId*>(LockObject(block));
    std::vector<NoteId> list(ids, ids + count);
    UnlockObject(block);
    FreeObject(block);
    return list;
  }

  // The "$Name" of each document, in order.
  std::vector<std::string> Names(const std::vector<NoteId>& ids) {
    std::vector<std::string> names;
    for (NoteId id : ids) {
      NoteHandle note = 0;
      EXPECT_EQ(NoteOpen(db_, id, 0, &note), 0);
      char name[64] = "";
      names.emplace_back(name, ItemGetText(note, "$Name", name, sizeof name));
      NoteClose(note);
    }
    return names;
  }

  // The first document of the view "Main" whose "$Name" is `name`.
  NoteId IdOf(const std::string& name) {
    const CollectionHandle collection = OpenMain();
    CollectionPosition position{};
    std::uint32_t count = 0;
    EXPECT_EQ(FindByName(collection, name.c_str(), 2, &position, &count), 0) << name;
    MemHandle block = 0;
    std::uint32_t returned = 0;
    EXPECT_EQ(ReadEntries(collection, &position, 0, 0, 1, 1, 1, &block, nullptr, nullptr,
                          &returned, nullptr),
              0);
    CloseCollection(collection);
    const std::vector<NoteId> ids = Ids(block, returned);
    return ids.empty() ? 0 : ids[0];
  }

  Side side_;
  std::optional<ScopedBackend> installed_{side_.backend()};
  DbHandle db_ = 0;
};

using Backends = testing::Types<FakeSide, LocalSide>;
class BackendNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, FakeSide> ? "Fake" : "Local";
  }
};
TYPED_TEST_SUITE(GatewayContractTest, Backends, BackendNames);

// Item reads: the stored bytes, zero bytes included, cut to the buffer and
// terminated, the length the number of bytes copied; nothing written past the
// terminator. Time items are no texts.
TYPED_TEST(GatewayContractTest, ItemTextReadsGiveTheStoredBytesCutToTheBuffer) {
  const std::string zero("victim@x\0other", 14);
  const std::string long_text(300, 'a');
  this->AddDocument({{"$Name", "key"}, {"Plain", "alice@x.com"}, {"Zero", zero},
                     {"Long", long_text}, {"Empty", ""}});
  NoteHandle note = 0;
  ASSERT_EQ(NoteOpen(this->db_, this->IdOf("key"), 0, &note), 0);
  TimeDate when{};
  ASSERT_EQ(ItemSetTime(note, "When", &when), 0);

  const struct {
    const char* item;
    std::uint16_t size;
    std::string expected;  // the bytes before the terminator
  } kReads[] = {
      {"Plain", 261, "alice@x.com"},      {"PLAIN", 12, "alice@x.com"},
      {"Plain", 11, "alice@x.co"},        {"Plain", 1, ""},
      {"Zero", 261, zero},                {"Zero", 9, "victim@x"},
      {"Long", 261, std::string(260, 'a')}, {"Empty", 261, ""},
      {"Missing", 261, ""},               {"When", 261, ""},
  };
  for (const auto& read : kReads) {
    SCOPED_TRACE(std::string(read.item) + " into " + std::to_string(read.size));
    std::vector<char> buffer(read.size + 1u, '#');
    EXPECT_EQ(ItemGetText(note, read.item, buffer.data(), read.size), read.expected.size());
    EXPECT_EQ(std::string(buffer.data(), read.expected.size()), read.expected);
    EXPECT_EQ(buffer[read.expected.size()], '\0');
    EXPECT_EQ(buffer[read.size], '#');
  }
  char untouched = '#';
  EXPECT_EQ(ItemGetText(note, "Plain", &untouched, 0), 0);
  EXPECT_EQ(untouched, '#');
  EXPECT_EQ(ItemSetText(note, "", "x", 1, false), kErrBadArgument);
  EXPECT_EQ(NoteClose(note), 0);
}

// FindByName: flags 2 ignores case, 0 does not, other flags are refused; a
// view key ends at a zero byte.
TYPED_TEST(GatewayContractTest, FindByNameHonoursItsFlags) {
  for (const char* name : {"bob@x.com", "alice@x.com", "BOB@x.com", "carol@x.com"})
    this->AddDocument({{"$Name", name}});
  this->AddDocument({{"$Name", std::string("victim@x\0other", 14)}});
  const CollectionHandle collection = this->OpenMain();
  const struct {
    const char* key;
    std::uint16_t flags;
    Status status;
    std::uint32_t count;
    std::uint32_t first;  // ordinal of the first match
  } kFinds[] = {
      {"bob@x.com", 2, 0, 2, 2},          {"BOB@X.COM", 2, 0, 2, 2},
      {"BOB@x.com", 0, 0, 1, 3},          {"bob@X.com", 0, kErrNoMatch, 0, 0},
      {"dave@x.com", 2, kErrNoMatch, 0, 0}, {"bob@x.com", 4, kErrBadArgument, 0, 0},
      {"victim@x", 2, 0, 1, 5},
  };
  for (const auto& find : kFinds) {
    SCOPED_TRACE(std::string(find.key) + " flags " + std::to_string(find.flags));
    CollectionPosition position{};
    std::uint32_t count = 99;
    EXPECT_EQ(FindByName(collection, find.key, find.flags, &position, &count), find.status);
    if (find.status != 0) continue;
    EXPECT_EQ(count, find.count);
    EXPECT_EQ(position.index[0], find.first);
  }
  EXPECT_EQ(CloseCollection(collection), 0);
}

// Reading a view in passes: the entries in key order, at most one pass each,
// the position on the last one returned, "more" while entries remain.
TYPED_TEST(GatewayContractTest, ViewReadsGoInPassesInKeyOrder) {
  for (const char* name : {"e", "c", "a", "d", "b"}) this->AddDocument({{"$Name", name}});
  const CollectionHandle collection = this->OpenMain();
  const struct {
    std::uint32_t from;  // position before the read
    std::uint16_t skip_direction;
    std::uint32_t skip, count;
    std::vector<std::string> names;
    std::uint32_t skipped, position;
    bool more;
  } kReads[] = {
      {0, 1, 1, 0xFFFFFFFF, {"a", "b"}, 1, 2, true},
      {2, 1, 1, 0xFFFFFFFF, {"c", "d"}, 1, 4, true},
      {4, 1, 1, 0xFFFFFFFF, {"e"}, 1, 5, false},
      {5, 1, 1, 0xFFFFFFFF, {}, 0, 5, false},
      {3, 0, 0, 1, {"c"}, 0, 3, true},   // from a found entry
      {0, 1, 3, 5, {"c", "d"}, 3, 4, true},
      {1, 1, 1, 1, {"b"}, 1, 2, true},
  };
  for (const auto& read : kReads) {
    SCOPED_TRACE("from " + std::to_string(read.from) + " skip " + std::to_string(read.skip));
    CollectionPosition position{};
    position.index[0] = read.from;
    MemHandle block = 0;
    std::uint32_t length = 0, skipped = 0, returned = 0;
    std::uint16_t flags = 0;
    ASSERT_EQ(ReadEntries(collection, &position, read.skip_direction, read.skip, 1, read.count, 1,
                          &block, &length, &skipped, &returned, &flags),
              0);
    EXPECT_EQ(block == 0, read.names.empty());
    EXPECT_EQ(length, returned * sizeof(NoteId));
    EXPECT_EQ(this->Names(this->Ids(block, returned)), read.names);
    EXPECT_EQ(skipped, read.skipped);
    EXPECT_EQ(position.index[0], read.position);
    EXPECT_EQ(flags == kSignalMoreToDo, read.more);
  }
  CollectionPosition position{};
  MemHandle block = 0;
  EXPECT_EQ(ReadEntries(collection, &position, 1, 1, 0, 1, 1, &block, nullptr, nullptr, nullptr,
                        nullptr),
            kErrBadArgument);
  EXPECT_EQ(ReadEntries(collection, &position, 1, 1, 1, 1, 2, &block, nullptr, nullptr, nullptr,
                        nullptr),
            kErrBadArgument);
  EXPECT_EQ(CloseCollection(collection), 0);
}

// Create, save, update and delete, as the view and NoteOpen see them.
TYPED_TEST(GatewayContractTest, NotesAreCreatedUpdatedAndDeleted) {
  this->AddDocument({{"$Name", "alice"}});
  const NoteId alice = this->IdOf("alice");
  ASSERT_NE(alice, 0u);

  NoteHandle note = 0;
  ASSERT_EQ(NoteOpen(this->db_, alice, 0, &note), 0);
  ASSERT_EQ(ItemSetText(note, "$Name", "zed", 3, true), 0);
  ASSERT_EQ(NoteClose(note), 0);  // unsaved: forgotten
  EXPECT_EQ(this->IdOf("alice"), alice);

  ASSERT_EQ(NoteOpen(this->db_, alice, 0, &note), 0);
  ASSERT_EQ(ItemSetText(note, "$Name", "alicia", 6, true), 0);
  ASSERT_EQ(NoteUpdate(note, 0), 0);
  EXPECT_EQ(this->IdOf("alicia"), alice);
  ASSERT_EQ(NoteDelete(this->db_, alice, 0), 0);
  EXPECT_EQ(NoteUpdate(note, 0), kErrNoteDeleted);  // not brought back
  EXPECT_EQ(NoteClose(note), 0);

  const CollectionHandle collection = this->OpenMain();
  CollectionPosition position{};
  std::uint32_t count = 0;
  EXPECT_EQ(FindByName(collection, "alicia", 2, &position, &count), kErrNoMatch);
  EXPECT_EQ(CloseCollection(collection), 0);
  EXPECT_EQ(NoteOpen(this->db_, alice, 0, &note), kErrNoteNotFound);
  EXPECT_EQ(NoteDelete(this->db_, alice, 0), kErrNoteNotFound);
  EXPECT_EQ(NoteOpen(this->db_, kNoteIdCategory | 1, 0, &note), kErrNoteNotFound);
  DbHandle missing = 0;
  EXPECT_EQ(DbOpen("missing.nsf", &missing), kErrDatabaseNotFound);
}

// Stale handles give statuses (or null, false, 0), never a crash.
TYPED_TEST(GatewayContractTest, StaleHandlesGiveStatuses) {
  const DbHandle db = this->db_;
  NoteHandle note = 0, pending = 0;
  ASSERT_EQ(NoteCreate(db, &note), 0);
  ASSERT_EQ(NoteCreate(db, &pending), 0);
  const CollectionHandle collection = this->OpenMain();
  MemHandle block = 0;
  ASSERT_EQ(AllocObject(8, &block), 0);
  const auto* bytes = static_cast<const std::uint8_t*>(LockObject(block));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 8), std::vector<std::uint8_t>(8, 0));
  EXPECT_TRUE(UnlockObject(block));
  EXPECT_FALSE(UnlockObject(block));
  FreeObject(block);
  EXPECT_EQ(LockObject(block), nullptr);

  EXPECT_EQ(NoteClose(note), 0);
  EXPECT_EQ(NoteClose(note), kErrInvalidNoteHandle);
  EXPECT_EQ(NoteUpdate(note, 0), kErrInvalidNoteHandle);
  EXPECT_EQ(ItemSetText(note, "A", "b", 1, false), kErrInvalidNoteHandle);
  EXPECT_EQ(ItemAppend(note, 0, "A", 1, kTypeText, "b", 1), kErrInvalidNoteHandle);
  TimeDate when{};
  EXPECT_EQ(ItemSetTime(note, "A", &when), kErrInvalidNoteHandle);
  char text[4] = "xyz";
  EXPECT_EQ(ItemGetText(note, "A", text, sizeof text), 0);
  EXPECT_STREQ(text, "");

  EXPECT_EQ(CloseCollection(collection), 0);
  EXPECT_EQ(CloseCollection(collection), kErrInvalidCollectionHandle);
  CollectionPosition position{};
  std::uint32_t count = 0;
  EXPECT_EQ(FindByName(collection, "a", 2, &position, &count), kErrInvalidCollectionHandle);
  EXPECT_EQ(ReadEntries(collection, &position, 1, 1, 1, 1, 1, &block, nullptr, nullptr, nullptr,
                        nullptr),
            kErrInvalidCollectionHandle);

  EXPECT_EQ(DbClose(db), 0);
  EXPECT_EQ(DbClose(db), kErrInvalidDbHandle);
  EXPECT_EQ(NoteUpdate(pending, 0), kErrInvalidDbHandle);  // its database is closed
  EXPECT_EQ(NoteOpen(db, 1, 0, &note), kErrInvalidDbHandle);
  EXPECT_EQ(NoteCreate(db, &note), kErrInvalidDbHandle);
  EXPECT_EQ(NoteDelete(db, 1, 0), kErrInvalidDbHandle);
  NoteId view_id = 0;
  EXPECT_EQ(FindDesignNote(db, "Main", 8, "-G40n", &view_id, 0), kErrInvalidDbHandle);

  NotesTerm();
  DbHandle reopened = 0;
  EXPECT_EQ(DbOpen(kDb, &reopened), kErrNotInitialized);
}

// Settings, paths, time texts and error texts.
TYPED_TEST(GatewayContractTest, SettingsPathsTimesAndErrorTexts) {
  char value[8];
  std::memset(value, '#', sizeof value);
  EXPECT_TRUE(GetEnvString("mailserver", value, 5));  // at most 4 bytes with the terminator
  EXPECT_STREQ(value, "Mai");
  EXPECT_FALSE(GetEnvString("Absent", value, sizeof value + 1));
  EXPECT_STREQ(value, "");

  char path[kMaxPathBuffer];
  ASSERT_EQ(MakeNetPath(nullptr, "Mail1", kDb, path), 0);
  EXPECT_STREQ(path, "Mail1::busytime.nsf");
  ASSERT_EQ(MakeNetPath(nullptr, "", kDb, path), 0);
  EXPECT_STREQ(path, kDb);

  IntlSettings intl{};
  GetIntlSettings(&intl, sizeof intl);
  intl.flags = 396;
  const TimeTextFormat format{{4, 0, 0, 2}};
  const struct {
    std::string text;
    Status status;
  } kTimes[] = {
      {"2024-01-01 12:00:00 GMT", 0},       {"2024-02-30 12:00:00 GMT", kErrTimeText},
      {"2024-01-01 12:00:00 GMTX", kErrTimeText}, {"2024-01-01 12:00:00", kErrTimeText},
  };
  for (const auto& time_text : kTimes) {
    SCOPED_TRACE(time_text.text);
    TimeDate time{{1, 2, 3, 4, 5, 6, 7, 8}};
    const TimeDate before = time;
    const char* text = time_text.text.c_str();
    EXPECT_EQ(TextToTime(&intl, &format, &text, static_cast<std::uint16_t>(time_text.text.size()),
                         &time),
              time_text.status);
    const TimeDate noon{{0x00, 0xEB, 0x41, 0x00, 0x97, 0x8A, 0x25, 0x00}};
    EXPECT_EQ(std::memcmp(time.bytes, (time_text.status == 0 ? noon : before).bytes, 8), 0);
    EXPECT_EQ(text, time_text.text.c_str() + (time_text.status == 0 ? 23 : 0));
  }

  char error[8];
  const std::uint16_t length = LoadErrorText(nullptr, kErrDatabaseIo, error, sizeof error);
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(std::strlen(error), 7u);
}

}  // namespace
