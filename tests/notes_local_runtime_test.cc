// The local runtime through the gateway: settings, databases, notes and
// items, stale handles, lock waits and error texts.
#include <sqlite3.h>

#include <chrono>
#include <cstring>

#include "notes/local/time_date.h"
#include "notes/status_codes.h"
#include "tests/notes_local_fixture.h"

namespace notes::local {
namespace {

ItemInfo Item(std::string name, std::uint16_t type, std::uint16_t flags,
              std::vector<std::uint8_t> value) {
  return {std::move(name), type, flags, std::move(value)};
}

TEST_F(LocalRuntimeTest, DatabaseSurvivesCloseAndReopenWithEveryItemByte) {
  ASSERT_EQ(Start(), 0);
  DbHandle db = CreateAndOpen("busytime.nsf");
  NoteHandle note = 0;
  ASSERT_EQ(NoteCreate(db, &note), 0);
  const TimeDate when = MakeTimeDate(2454103, 2880000);
  const std::vector<std::uint8_t> binary = {0, 1, 2, 0xFF, 0, 0x80};
  ASSERT_EQ(ItemSetText(note, "Subject", "1", 2, true), 0);  // stores '1', '\0'
  ASSERT_EQ(ItemSetTime(note, "StartDateTime", &when), 0);
  ASSERT_EQ(ItemAppend(note, 0, "EventList", 9, kTypeScheduleList, binary.data(), 6), 0);
  ASSERT_EQ(ItemAppend(note, 0, "EventList", 9, kTypeScheduleList, binary.data(), 2), 0);
  ASSERT_EQ(ItemAppend(note, 7, "Empty\x01X", 7, 3, nullptr, 0), 0);
  ASSERT_EQ(ItemSetText(note, "Owner", "me", 2, false), 0);
  ASSERT_EQ(NoteUpdate(note, 0), 0);
  ASSERT_EQ(NoteClose(note), 0);

  const std::vector<ItemInfo> expected = {
      Item("Subject", kTypeText, kItemFlagSummary, {'1', 0}),
      Item("StartDateTime", kTypeTime, kItemFlagSummary,
           std::vector<std::uint8_t>(when.bytes, when.bytes + 8)),
      Item("EventList", kTypeScheduleList, 0, binary),
      Item("EventList", kTypeScheduleList, 0, {0, 1}),
      Item("Empty\x01X", 3, 7, {}),
      Item("Owner", kTypeText, 0, {'m', 'e'}),
  };

  NotesTerm();
  ASSERT_EQ(Start(), 0);
  ASSERT_EQ(DbOpen("busytime.nsf", &db), 0);
  std::vector<NoteId> ids;
  ASSERT_EQ(runtime_.ListDocuments(db, &ids), 0);
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_GT(ids[0], 0u);
  EXPECT_LT(ids[0], kNoteIdCategory);
  ASSERT_EQ(NoteOpen(db, ids[0], 0, &note), 0);
  std::vector<ItemInfo> items;
  ASSERT_EQ(runtime_.ReadItems(note, &items), 0);
  EXPECT_EQ(items, expected);
  char text[8];
  EXPECT_EQ(ItemGetText(note, "subject", text, sizeof text), 2);  // the zero byte counts
  EXPECT_STREQ(text, "1");

  std::vector<std::string> problems;
  EXPECT_EQ(runtime_.CheckDatabase("busytime.nsf", &problems), 0);
  EXPECT_TRUE(problems.empty());
}

TEST_F(LocalRuntimeTest, SetReplacesEveryItemOfTheNameAndGetTextCutsToTheBuffer) {
  ASSERT_EQ(Start(), 0);
  DbHandle db = CreateAndOpen("a.nsf");
  NoteHandle note = 0;
  ASSERT_EQ(NoteCreate(db, &note), 0);
  ASSERT_EQ(ItemAppend(note, 0, "Name", 4, kTypeTime, "12345678", 8), 0);
  ASSERT_EQ(ItemAppend(note, 0, "Other", 5, kTypeText, "x", 1), 0);
  ASSERT_EQ(ItemAppend(note, 0, "NAME", 4, kTypeText, "old", 3), 0);
  ASSERT_EQ(ItemSetText(note, "name", "Alice Example", 13, true), 0);
  ASSERT_EQ(ItemSetText(note, "Added", "", 0, false), 0);

  std::vector<ItemInfo> items;
  ASSERT_EQ(runtime_.ReadItems(note, &items), 0);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].name, "name");  // took the first replaced item's place
  EXPECT_EQ(items[1].name, "Other");
  EXPECT_EQ(items[2].name, "Added");

  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ItemGetText(note, "NAME", buffer, 6), 5);
  EXPECT_STREQ(buffer, "Alice");
  EXPECT_EQ(buffer[6], '#');
  EXPECT_EQ(ItemGetText(note, "Missing", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  buffer[0] = '#';
  EXPECT_EQ(ItemGetText(note, "Name", buffer, 0), 0);
  EXPECT_EQ(buffer[0], '#');
}

TEST_F(LocalRuntimeTest, UnsavedChangesLeaveNoTrace) {
  ASSERT_EQ(Start(), 0);
  DbHandle db = CreateAndOpen("a.nsf");
  NoteId stored = AddDocument(db, {{"Subject", "kept"}});

  NoteHandle note = 0;
  ASSERT_EQ(NoteCreate(db, &note), 0);
  ASSERT_EQ(ItemSetText(note, "Subject", "never saved", 11, true), 0);
  ASSERT_EQ(NoteClose(note), 0);
  ASSERT_EQ(NoteOpen(db, stored, 0, &note), 0);
  ASSERT_EQ(ItemSetText(note, "Subject", "changed", 7, true), 0);
  ASSERT_EQ(NoteClose(note), 0);

  std::vector<NoteId> ids;
  ASSERT_EQ(runtime_.ListDocuments(db, &ids), 0);
  EXPECT_EQ(ids, std::vector<NoteId>{stored});
  ASSERT_EQ(NoteOpen(db, stored, 0, &note), 0);
  char text[16];
  ItemGetText(note, "Subject", text, sizeof text);
  EXPECT_STREQ(text, "kept");
}

TEST_F(LocalRuntimeTest, NoteIdsAreNeverReusedAndDeletedNotesStayDeleted) {
  ASSERT_EQ(Start(), 0);
  DbHandle db = CreateAndOpen("a.nsf");
  NoteId first = AddDocument(db, {{"N", "1"}});
  NoteId second = AddDocument(db, {{"N", "2"}});
  EXPECT_GT(second, first);

  NoteHandle opened = 0;
  ASSERT_EQ(NoteOpen(db, second, 0, &opened), 0);
  ASSERT_EQ(NoteDelete(db, second, 0), 0);
  EXPECT_EQ(NoteDelete(db, second, 0), kErrNoteNotFound);
  EXPECT_EQ(NoteOpen(db, second, 0, &opened), kErrNoteNotFound);
  EXPECT_EQ(NoteOpen(db, kNoteIdCategory | 1, 0, &opened), kErrNoteNotFound);
  EXPECT_GT(AddDocument(db, {{"N", "3"}}), second);
}

TEST_F(LocalRuntimeTest, UpdateOfANoteDeletedMeanwhileIsRefused) {
  ASSERT_EQ(Start(), 0);
  DbHandle db = CreateAndOpen("a.nsf");
  NoteId id = AddDocument(db, {{"N", "1"}});
  NoteHandle note = 0;
  ASSERT_EQ(NoteOpen(db, id, 0, &note), 0);
  ASSERT_EQ(NoteDelete(db, id, 0), 0);
  EXPECT_EQ(NoteUpdate(note, 0), kErrNoteDeleted);
  std::vector<NoteId> ids;
  ASSERT_EQ(runtime_.ListDocuments(db, &ids), 0);
  EXPECT_TRUE(ids.empty());
}

TEST_F(LocalRuntimeTest, StaleAndUnknownHandlesGiveStatuses) {
  DbHandle db = 0;
  NoteHandle note = 0;
  MemHandle block = 0;
  EXPECT_EQ(DbOpen("a.nsf", &db), kErrNotInitialized);
  EXPECT_EQ(NoteCreate(1, &note), kErrNotInitialized);
  EXPECT_EQ(AllocObject(4, &block), kErrNotInitialized);

  ASSERT_EQ(Start(), 0);
  db = CreateAndOpen("a.nsf");
  ASSERT_EQ(NoteCreate(db, &note), 0);
  ASSERT_EQ(AllocObject(16, &block), 0);
  ASSERT_NE(LockObject(block), nullptr);
  EXPECT_TRUE(UnlockObject(block));
  EXPECT_FALSE(UnlockObject(block));

  ASSERT_EQ(DbClose(db), 0);
  EXPECT_EQ(DbClose(db), kErrInvalidDbHandle);
  EXPECT_EQ(NoteUpdate(note, 0), kErrInvalidDbHandle);  // its database is closed
  ASSERT_EQ(NoteClose(note), 0);
  EXPECT_EQ(NoteClose(note), kErrInvalidNoteHandle);
  EXPECT_EQ(ItemSetText(note, "A", "b", 1, false), kErrInvalidNoteHandle);
  EXPECT_EQ(ItemAppend(note, 0, "A", 1, kTypeText, "b", 1), kErrInvalidNoteHandle);
  char text[4] = "xyz";
  EXPECT_EQ(ItemGetText(note, "A", text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  NoteId view_id = 0;
  EXPECT_EQ(FindDesignNote(db, "Main", 8, "-G40n", &view_id, 0), kErrInvalidDbHandle);
  EXPECT_EQ(NoteCreate(0xDEAD, &note), kErrInvalidDbHandle);
  EXPECT_EQ(note, 0u);
  FreeObject(block);
  FreeObject(block);
  EXPECT_EQ(LockObject(block), nullptr);
  EXPECT_EQ(LockObject(0), nullptr);

  // A handle from before NotesTerm stays unknown after a new start.
  DbHandle old_db = 0;
  ASSERT_EQ(DbOpen("a.nsf", &old_db), 0);
  NotesTerm();
  ASSERT_EQ(Start(), 0);
  DbHandle new_db = 0;
  ASSERT_EQ(DbOpen("a.nsf", &new_db), 0);
  EXPECT_NE(new_db, old_db);
  EXPECT_EQ(DbClose(old_db), kErrInvalidDbHandle);
}

TEST_F(LocalRuntimeTest, DbOpenNeverCreatesAndRefusesFilesNotOurs) {
  ASSERT_EQ(Start(), 0);
  WriteFile(data_ / "text.nsf", "just some text, long enough to be no database header\n");
  WriteFile(data_ / "empty.nsf", "");
  std::filesystem::create_directory(data_ / "folder.nsf");
  sqlite3* foreign = nullptr;
  ASSERT_EQ(sqlite3_open((data_ / "foreign.nsf").c_str(), &foreign), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(foreign, "CREATE TABLE notes (x)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(foreign);

  const struct {
    const char* path;
    Status expected;
  } kCases[] = {
      {"missing.nsf", kErrDatabaseNotFound}, {"text.nsf", kErrNotADatabase},
      {"empty.nsf", kErrNotADatabase},       {"folder.nsf", kErrNotADatabase},
      {"foreign.nsf", kErrNotADatabase},     {"Srv::missing.nsf", kErrDatabaseNotFound},
  };
  for (const auto& test : kCases) {
    DbHandle db = 1234;
    EXPECT_EQ(DbOpen(test.path, &db), test.expected) << test.path;
    EXPECT_EQ(db, 0u) << test.path;
  }
  EXPECT_FALSE(std::filesystem::exists(data_ / "missing.nsf"));
  EXPECT_EQ(std::filesystem::file_size(data_ / "empty.nsf"), 0u);  // not turned into a database
  EXPECT_EQ(runtime_.CreateDatabase("text.nsf"), kErrDatabaseExists);
  std::vector<std::string> problems;
  EXPECT_EQ(runtime_.CheckDatabase("text.nsf", &problems), kErrNotADatabase);
  EXPECT_FALSE(problems.empty());
}

TEST_F(LocalRuntimeTest, WaitForAnotherProcessesLockIsBoundedAndRecovers) {
  ASSERT_EQ(Start("LockTimeout=100\n"), 0);
  DbHandle db = CreateAndOpen("shared.nsf");
  NoteId id = AddDocument(db, {{"N", "1"}});

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((data_ / "shared.nsf").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

  NoteHandle note = 0;
  ASSERT_EQ(NoteCreate(db, &note), 0);
  ASSERT_EQ(ItemSetText(note, "N", "2", 1, true), 0);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(NoteUpdate(note, 0), kErrDatabaseLocked);
  auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, std::chrono::milliseconds(50));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(NoteDelete(db, id, 0), kErrDatabaseLocked);

  ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  EXPECT_EQ(NoteUpdate(note, 0), 0);
  std::vector<NoteId> ids;
  ASSERT_EQ(runtime_.ListDocuments(db, &ids), 0);
  EXPECT_EQ(ids.size(), 2u);
}

TEST_F(LocalRuntimeTest, SettingsFileWithOddLines) {
  WriteFile(root_ / "odd.ini",
            "\xEF\xBB\xBF[Notes]\n"
            "; a comment=not a setting\n"
            "# another=one\n"
            "no equals sign here\n"
            "\n"
            "  MailServer  =  Mail1/Acme  \r\n"
            "=value without name\n"
            "Formula=a=b\n"
            "directory=data\n"
            "Empty=\n"
            "mailserver=Mail2/Acme\n");
  ASSERT_EQ(StartWith(root_ / "odd.ini"), 0);
  EXPECT_EQ(runtime_.DataDirectory(), std::filesystem::canonical(data_));

  char value[kMaxTextBuffer];
  EXPECT_TRUE(GetEnvString("MAILSERVER", value, sizeof value + 1));
  EXPECT_STREQ(value, "Mail2/Acme");  // the later line wins
  EXPECT_TRUE(GetEnvString("Formula", value, sizeof value + 1));
  EXPECT_STREQ(value, "a=b");
  EXPECT_TRUE(GetEnvString("Empty", value, sizeof value + 1));
  EXPECT_STREQ(value, "");
  for (const char* absent : {"; a comment", "# another", "no equals sign here", "Notes", ""}) {
    std::strcpy(value, "unchanged");
    EXPECT_FALSE(GetEnvString(absent, value, sizeof value + 1)) << absent;
    EXPECT_STREQ(value, "") << absent;
  }
}

TEST_F(LocalRuntimeTest, GetEnvStringNeverWritesPastTheLimit) {
  const std::string long_value(400, 'v');
  ASSERT_EQ(Start("Long=" + long_value + "\nShort=ab\n"), 0);
  char buffer[kMaxTextBuffer + 8];
  const struct {
    std::uint16_t limit;
    std::size_t expected_length;  // -1: nothing written
  } kCases[] = {
      {kMaxTextBuffer + 1, kMaxTextBuffer - 1}, {3, 1}, {2, 0}, {1, SIZE_MAX}, {0, SIZE_MAX}};
  for (const auto& test : kCases) {
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_TRUE(GetEnvString("long", buffer, test.limit));
    if (test.expected_length == SIZE_MAX) {
      EXPECT_EQ(buffer[0], '#') << test.limit;
      continue;
    }
    EXPECT_EQ(std::strlen(buffer), test.expected_length) << test.limit;
    EXPECT_EQ(buffer[test.expected_length + 1], '#') << test.limit;
  }
  EXPECT_TRUE(GetEnvString("Short", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "ab");
}

TEST_F(LocalRuntimeTest, StartFailsWithTheMatchingStatus) {
  EXPECT_EQ(StartWith(root_ / "absent.ini"), kErrSettingsFileMissing);
  EXPECT_EQ(StartWith(root_), kErrSettingsFileUnreadable);  // a folder
  WriteFile(root_ / "nodir.ini", "Directory=no/such/folder\n");
  EXPECT_EQ(StartWith(root_ / "nodir.ini"), kErrDataDirectoryMissing);
  WriteFile(root_ / "file.ini", "Directory=file.ini\n");
  EXPECT_EQ(StartWith(root_ / "file.ini"), kErrDataDirectoryMissing);

  // Without a Directory line the settings file's folder is the data directory.
  WriteFile(root_ / "plain.ini", "MailServer=Mail1\n");
  ASSERT_EQ(StartWith(root_ / "plain.ini"), 0);
  EXPECT_EQ(runtime_.DataDirectory(), std::filesystem::canonical(root_));
  EXPECT_EQ(StartWith(root_ / "plain.ini"), kErrAlreadyInitialized);
}

TEST_F(LocalRuntimeTest, ErrorTextsAreCutAndTerminated) {
  char buffer[64];
  EXPECT_GT(LoadErrorText(nullptr, ErrorNumber(kErrDatabaseNotFound), buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "The database file does not exist");
  EXPECT_EQ(LoadErrorText(nullptr, 0x3FFE, buffer, sizeof buffer), 26);
  EXPECT_STREQ(buffer, "Unknown error number 16382");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(LoadErrorText(nullptr, kErrNoMatch, buffer, 5), 4);
  EXPECT_STREQ(buffer, "Not ");
  EXPECT_EQ(buffer[5], '#');
  buffer[0] = '#';
  EXPECT_EQ(LoadErrorText(nullptr, kErrNoMatch, buffer, 0), 0);
  EXPECT_EQ(buffer[0], '#');
}

}  // namespace
}  // namespace notes::local
