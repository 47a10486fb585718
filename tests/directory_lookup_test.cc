// The busy-time document lookup against the fake gateway: one, none or two
// documents for an address, and every failure of the view, the read, the
// delete and the create.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "directory/busytime_lookup.h"
#include "notes/status_codes.h"
#include "tests/support/fake_gateway.h"
#include "tests/support/faulty_backend.h"

namespace {

using test_support::FakeGateway;
using test_support::TextItem;

constexpr Status kIo = notes::kErrDatabaseIo;  // "fake error 279", a store failure
constexpr Status kGone = notes::kErrNoteNotFound;  // "fake error 304", this user's only
constexpr int kStore = kOpenBusytimeDocStoreFailed;
constexpr NoteHandle kUntouched = 0xBAD;

struct LookupCase {
  const char* name;
  const char* user;
  const char* fail_operation;  // "" for none
  Status fail_status;
  int result;
  Status error;
  const char* out;
  const char* err;
  std::vector<std::string> calls;  // as the fake logged them; a failed call never reaches it
  std::vector<NoteId> documents_left;
};
void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> kOpenView = {
    "FindDesignNote(busytime.nsf,Main,8,-G40n,0)",
    "OpenCollection(busytime.nsf,busytime.nsf,Main,0,0)"};

std::vector<std::string> Calls(std::vector<std::string> tail) {
  std::vector<std::string> calls = kOpenView;
  calls.insert(calls.end(), tail.begin(), tail.end());
  return calls;
}

// The view opened, `user`'s one match (0x20) found and its name read back,
// then `tail`.
std::vector<std::string> FoundAndChecked(const std::string& user, std::vector<std::string> tail) {
  std::vector<std::string> calls = Calls(
      {"FindByName(busytime.nsf/Main," + user + ",2)", "ReadEntries(busytime.nsf/Main,0,0,1,1,1)",
       "LockObject", "UnlockObject", "FreeObject", "NoteOpen(busytime.nsf,0x00000020)",
       "ItemGetText(busytime.nsf,0x00000020,$Name,261)", "NoteClose(busytime.nsf,0x00000020)"});
  calls.insert(calls.end(), tail.begin(), tail.end());
  return calls;
}

class LookupTest : public ::testing::TestWithParam<LookupCase> {
 protected:
  void SetUp() override {
    test_support::FakeDatabase& db = fake_.databases["busytime.nsf"];
    db.views["Main"] = {{0x20, 0x24, 0x28}, "$Name"};
    db.documents[0x20] = {TextItem("$Name", "alice@x.com")};
    db.documents[0x24] = {TextItem("$Name", "bob@x.com")};
    db.documents[0x28] = {TextItem("$Name", "BOB@x.com")};
    char program[] = "test";
    char* argv[] = {program};
    ASSERT_EQ(NotesInit(1, argv), 0);
    ASSERT_EQ(DbOpen("busytime.nsf", &db_), 0);
    fake_.calls.clear();
  }

  int Lookup(const char* user) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int result = OpenBusytimeDoc(user, &note_, db_, &error_);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return result;
  }

  std::vector<NoteId> DocumentsLeft() {
    std::vector<NoteId> ids;
    for (const auto& [id, items] : fake_.databases["busytime.nsf"].documents) ids.push_back(id);
    return ids;
  }

  FakeGateway fake_;
  test_support::FaultyBackend faults_{fake_};
  notes::ScopedBackend installed_{faults_};
  DbHandle db_ = 0;
  NoteHandle note_ = kUntouched;
  Status error_ = 0xBAD;
  std::string out_, err_;
};

TEST_P(LookupTest, ReplacesOrSkipsAsTheViewAllows) {
  const LookupCase& c = GetParam();
  if (c.fail_operation[0] != '\0') faults_.Fail(c.fail_operation, c.fail_status);
  EXPECT_EQ(Lookup(c.user), c.result);
  EXPECT_EQ(error_, c.error);
  EXPECT_EQ(out_, c.out);
  EXPECT_EQ(err_, c.err);
  EXPECT_EQ(faults_.Failed(), c.fail_operation[0] != '\0' ? 1 : 0);
  EXPECT_EQ(fake_.CallsWithoutHandles(), c.calls);
  EXPECT_EQ(DocumentsLeft(), c.documents_left);
  // Whatever happened: every block released, the collection closed, no call
  // after the runtime's end.
  EXPECT_TRUE(fake_.blocks.empty());
  EXPECT_TRUE(fake_.open_collections.empty());
  EXPECT_TRUE(fake_.violations.empty());
  if (c.result == 1) {
    ASSERT_EQ(fake_.open_notes.count(note_), 1u);
    EXPECT_EQ(fake_.open_notes[note_].note_id, 0u);  // a new, empty note
    EXPECT_TRUE(fake_.open_notes[note_].items.empty());
  } else {
    EXPECT_EQ(note_, kUntouched);
    EXPECT_TRUE(fake_.open_notes.empty());
  }
}

const char kWarnBob[] =
    "WARN -- bob@x.com had 2 busy-time documents; they are replaced by one new document.\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, LookupTest,
    ::testing::Values(
        LookupCase{"OneDocumentIsDeleted", "ALICE@x.com", "", 0, 1, 0, "", "",
                   FoundAndChecked("ALICE@x.com", {"NoteDelete(busytime.nsf,0x00000020,0)",
                                                   "NoteCreate(busytime.nsf)",
                                                   "CloseCollection(busytime.nsf/Main)"}),
                   {0x24, 0x28}},
        LookupCase{"NoDocumentYet", "carol@x.com", "", 0, 1, 0, "", "",
                   Calls({"FindByName(busytime.nsf/Main,carol@x.com,2)",
                          "NoteCreate(busytime.nsf)", "CloseCollection(busytime.nsf/Main)"}),
                   {0x20, 0x24, 0x28}},
        // Both checked before either is deleted; folded into the new one.
        LookupCase{"TwoDocumentsAreFoldedWithAWarning", "bob@x.com", "", 0, 1, 0, kWarnBob, "",
                   Calls({"FindByName(busytime.nsf/Main,bob@x.com,2)",
                          "ReadEntries(busytime.nsf/Main,0,0,1,2,1)", "LockObject",
                          "UnlockObject", "FreeObject",
                          "NoteOpen(busytime.nsf,0x00000024)",
                          "ItemGetText(busytime.nsf,0x00000024,$Name,261)",
                          "NoteClose(busytime.nsf,0x00000024)",
                          "NoteOpen(busytime.nsf,0x00000028)",
                          "ItemGetText(busytime.nsf,0x00000028,$Name,261)",
                          "NoteClose(busytime.nsf,0x00000028)",
                          "NoteDelete(busytime.nsf,0x00000024,0)",
                          "NoteDelete(busytime.nsf,0x00000028,0)", "NoteCreate(busytime.nsf)",
                          "CloseCollection(busytime.nsf/Main)"}),
                   {0x20}},
        // The store's failures go to the run unreported, whatever the step.
        LookupCase{"ViewLookupFails", "alice@x.com", "FindDesignNote", kIo, kStore, kIo, "", "",
                   {}, {0x20, 0x24, 0x28}},
        LookupCase{"CollectionOpenFails", "alice@x.com", "OpenCollection", kIo, kStore, kIo, "",
                   "", {"FindDesignNote(busytime.nsf,Main,8,-G40n,0)"}, {0x20, 0x24, 0x28}},
        LookupCase{"SearchFails", "alice@x.com", "FindByName", kIo, kStore, kIo, "", "",
                   Calls({"CloseCollection(busytime.nsf/Main)"}),
                   {0x20, 0x24, 0x28}},
        LookupCase{"ReadFailsInTheStore", "alice@x.com", "ReadEntries", kIo, kStore, kIo, "", "",
                   Calls({"FindByName(busytime.nsf/Main,alice@x.com,2)",
                          "CloseCollection(busytime.nsf/Main)"}),
                   {0x20, 0x24, 0x28}},
        // Any other failed read prints nothing; its error number is the result.
        LookupCase{"ReadFails", "alice@x.com", "ReadEntries", notes::kErrInvalidCollectionHandle,
                   290, notes::kErrInvalidCollectionHandle, "", "",
                   Calls({"FindByName(busytime.nsf/Main,alice@x.com,2)",
                          "CloseCollection(busytime.nsf/Main)"}),
                   {0x20, 0x24, 0x28}},
        LookupCase{"DeleteFailsInTheStore", "alice@x.com", "NoteDelete", kIo, kStore, kIo, "", "",
                   FoundAndChecked("alice@x.com", {"CloseCollection(busytime.nsf/Main)"}),
                   {0x20, 0x24, 0x28}},
        // Another run deleted it first: this user is skipped, nothing created.
        LookupCase{"DeletedMeanwhileNothingCreatedBlockReleased", "alice@x.com", "NoteDelete",
                   kGone, -1, kGone, "", "\nfake error 304\n",
                   FoundAndChecked("alice@x.com", {"LoadErrorText(304,200)",
                                                   "CloseCollection(busytime.nsf/Main)"}),
                   {0x20, 0x24, 0x28}},
        // The match is checked before it is deleted: one that cannot be
        // opened is not deleted and nothing is created.
        LookupCase{"MatchCannotBeOpened", "alice@x.com", "NoteOpen", kGone, -1, kGone, "",
                   "\nfake error 304\n",
                   Calls({"FindByName(busytime.nsf/Main,alice@x.com,2)",
                          "ReadEntries(busytime.nsf/Main,0,0,1,1,1)", "LockObject",
                          "UnlockObject", "FreeObject",
                          "LoadErrorText(304,200)",
                          "CloseCollection(busytime.nsf/Main)"}),
                   {0x20, 0x24, 0x28}},
        // Fatal: everything released before the database is closed and the
        // runtime ended; NotesTerm is the last call.
        LookupCase{"CreateFailsEndsTheRuntime", "alice@x.com", "NoteCreate", kIo,
                   kOpenBusytimeDocFatal, kIo, "", "\nfake error 279\n",
                   FoundAndChecked("alice@x.com", {"NoteDelete(busytime.nsf,0x00000020,0)",
                                                   "LoadErrorText(279,200)",
                                                   "CloseCollection(busytime.nsf/Main)",
                                                   "DbClose(busytime.nsf)", "NotesTerm"}),
                   {0x24, 0x28}}),
    [](const auto& info) { return std::string(info.param.name); });

// One of several matches that cannot be verified keeps them all: the first,
// already proved to be bob's, is not deleted either, and bob is skipped.
TEST_F(LookupTest, SeveralDocumentsOneUnverifiedDeletesNone) {
  faults_.Fail("ItemGetText", kIo, 2);
  EXPECT_EQ(Lookup("bob@x.com"), -1);
  EXPECT_EQ(out_,
            "ERR -- Could not read the address of the busy-time document found for bob@x.com. "
            "Nothing was deleted.\n");
  EXPECT_EQ(DocumentsLeft(), (std::vector<NoteId>{0x20, 0x24, 0x28}));
  EXPECT_TRUE(fake_.open_notes.empty());
  EXPECT_TRUE(fake_.blocks.empty());
}

// A search that counts one match while the read returns no entry: there is
// nothing to delete, and the user still gets a new note.
TEST_F(LookupTest, OneMatchButNoEntryReadDeletesNothing) {
  struct ReadsNothing final : FakeGateway {
    Status ReadEntries(CollectionHandle, CollectionPosition*, std::uint16_t, std::uint32_t,
                       std::uint16_t, std::uint32_t, std::uint32_t, MemHandle* hBuffer,
                       std::uint32_t*, std::uint32_t*, std::uint32_t* entries_returned,
                       std::uint16_t*) override {
      calls.push_back("ReadEntries");
      *hBuffer = 0;
      *entries_returned = 0;
      return 0;
    }
  } reads_nothing;
  reads_nothing.databases = fake_.databases;
  notes::ScopedBackend installed(reads_nothing);
  char program[] = "test";
  char* argv[] = {program};
  ASSERT_EQ(NotesInit(1, argv), 0);
  ASSERT_EQ(DbOpen("busytime.nsf", &db_), 0);
  reads_nothing.calls.clear();

  EXPECT_EQ(Lookup("alice@x.com"), 1);
  EXPECT_EQ(error_, 0);
  EXPECT_EQ(reads_nothing.CallsWithout({"FindDesignNote", "OpenCollection"}),
            (std::vector<std::string>{"FindByName(busytime.nsf/Main,alice@x.com,2)",
                                      "ReadEntries", "NoteCreate(busytime.nsf)",
                          "CloseCollection(busytime.nsf/Main)"}));
  EXPECT_EQ(reads_nothing.databases["busytime.nsf"].documents.count(0x20), 1u);
  EXPECT_TRUE(reads_nothing.violations.empty());
}

// A stored address with a zero byte matches the view by its text before the
// byte, yet is no proof that the document is the user's: said as such, and
// nothing is deleted.
TEST_F(LookupTest, AddressWithAZeroByteIsRefused) {
  fake_.databases["busytime.nsf"].documents[0x20] = {
      TextItem("$Name", std::string("alice@x.com\0evil", 16))};
  EXPECT_EQ(Lookup("alice@x.com"), -1);
  EXPECT_EQ(out_,
            "ERR -- The address of the busy-time document found for alice@x.com holds a zero "
            "byte and cannot be read as an address. Nothing was deleted.\n");
  EXPECT_EQ(DocumentsLeft(), (std::vector<NoteId>{0x20, 0x24, 0x28}));
  EXPECT_TRUE(fake_.open_notes.empty());
}

}  // namespace
