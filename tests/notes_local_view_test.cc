// Views of the local runtime through the gateway: selection, order,
// categories, reading in passes and FindByName.
#include <algorithm>

#include "notes/status_codes.h"
#include "tests/notes_local_fixture.h"

namespace notes::local {
namespace {

class LocalViewTest : public LocalRuntimeTest {
 protected:
  // Reads every entry the way the profile list does, one pass per call,
  // remembering each pass's signal.
  std::vector<NoteId> ReadAll(CollectionHandle hCollection, std::vector<bool>* more_signals) {
    std::vector<NoteId> ids;
    CollectionPosition position{};
    std::uint16_t signal = kSignalMoreToDo;
    while (signal & kSignalMoreToDo) {
      MemHandle hBuffer = 0;
      std::uint32_t count = 0;
      EXPECT_EQ(ReadEntries(hCollection, &position, 1, 1, 1, 0xFFFFFFFF, 1, &hBuffer, nullptr,
                            nullptr, &count, &signal),
                0);
      if (hBuffer == 0) break;
      const auto* block = static_cast<const NoteId*>(LockObject(hBuffer));
      ids.insert(ids.end(), block, block + count);
      UnlockObject(hBuffer);
      FreeObject(hBuffer);
      more_signals->push_back((signal & kSignalMoreToDo) != 0);
    }
    return ids;
  }
};

TEST_F(LocalViewTest, ReadInPassesReturnsEveryEntryOnceInOrder) {
  ASSERT_EQ(Start("ViewReadPassSize=3\n"), 0);
  DbHandle db = CreateAndOpen("ruvconfig.nsf");
  ASSERT_EQ(runtime_.CreateView(db, {"Main", "CalendarProfile", "", "Name", ""}), 0);
  EXPECT_EQ(runtime_.CreateView(db, {"MAIN", "", "", "", ""}), kErrViewExists);

  const char* names[] = {"delta", "Alpha",   "charlie", "Echo",  "bravo",
                         "golf",  "Foxtrot", "alpha",   "india", "Hotel"};
  std::vector<std::pair<std::string, NoteId>> expected;
  for (const char* name : names) {
    expected.emplace_back(name, AddDocument(db, {{"Form", "calendarprofile"}, {"Name", name}}));
  }
  AddDocument(db, {{"Form", "Other"}, {"Name", "aaa"}});
  AddDocument(db, {{"Name", "aab"}});
  NoteHandle unsaved = 0;
  ASSERT_EQ(NoteCreate(db, &unsaved), 0);
  ASSERT_EQ(ItemSetText(unsaved, "Form", "CalendarProfile", 15, true), 0);
  std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
    std::string la = a.first, lb = b.first;
    std::transform(la.begin(), la.end(), la.begin(), ::tolower);
    std::transform(lb.begin(), lb.end(), lb.begin(), ::tolower);
    return la < lb;  // ties keep NoteId order
  });
  std::vector<NoteId> expected_ids;
  for (const auto& entry : expected) expected_ids.push_back(entry.second);

  CollectionHandle hCollection = OpenView(db, "main");
  std::vector<bool> more;
  EXPECT_EQ(ReadAll(hCollection, &more), expected_ids);
  EXPECT_EQ(more, (std::vector<bool>{true, true, true, false}));

  // The view shows what is stored now.
  ASSERT_EQ(NoteDelete(db, expected_ids[0], 0), 0);
  more.clear();
  EXPECT_EQ(ReadAll(hCollection, &more).size(), expected_ids.size() - 1);
  EXPECT_EQ(CloseCollection(hCollection), 0);
  EXPECT_EQ(CloseCollection(hCollection), kErrInvalidCollectionHandle);
  CollectionPosition position{};
  MemHandle hBuffer = 7;
  EXPECT_EQ(ReadEntries(hCollection, &position, 1, 1, 1, 10, 1, &hBuffer, nullptr, nullptr, nullptr,
                        nullptr),
            kErrInvalidCollectionHandle);
  EXPECT_EQ(hBuffer, 0u);
}

TEST_F(LocalViewTest, CategoryEntriesCarryTheTopBitAndComeFirst) {
  ASSERT_EQ(Start(), 0);
  DbHandle db = CreateAndOpen("a.nsf");
  ASSERT_EQ(runtime_.CreateView(db, {"ByTeam", "", "Name", "Name", "Team"}), 0);
  NoteId zed_b = AddDocument(db, {{"Name", "zed"}, {"Team", "B"}});
  NoteId amy_a = AddDocument(db, {{"Name", "amy"}, {"Team", "a"}});
  NoteId solo = AddDocument(db, {{"Name", "solo"}});
  NoteId bob_b = AddDocument(db, {{"Name", "bob"}, {"Team", "b"}});
  AddDocument(db, {{"Name", ""}, {"Team", "a"}});  // no Name text: not selected

  std::vector<bool> more;
  EXPECT_EQ(
      ReadAll(OpenView(db, "ByTeam"), &more),
      (std::vector<NoteId>{solo, kNoteIdCategory | 1, amy_a, kNoteIdCategory | 2, bob_b, zed_b}));
}

TEST_F(LocalViewTest, FindByNameFindsOneSeveralOrNone) {
  ASSERT_EQ(Start(), 0);
  DbHandle db = CreateAndOpen("busytime.nsf");
  ASSERT_EQ(runtime_.CreateView(db, {"Main", "", "Owner", "Owner", ""}), 0);
  AddDocument(db, {{"Owner", "carol@example.org"}});
  NoteId bob1 = AddDocument(db, {{"Owner", "bob@example.org"}});
  AddDocument(db, {{"Owner", "alice@example.org"}});
  NoteId bob2 = AddDocument(db, {{"Owner", "BOB@example.org"}});
  CollectionHandle hCollection = OpenView(db, "Main");

  const struct {
    const char* key;
    Status status;
    std::uint32_t first;  // ordinal of the first match
    std::uint32_t count;
  } kCases[] = {{"alice@example.org", 0, 1, 1},
                {"Bob@Example.org", 0, 2, 2},
                {"bob", kErrNoMatch, 0, 0},
                {"", kErrNoMatch, 0, 0}};
  for (const auto& test : kCases) {
    CollectionPosition position{};
    std::uint32_t matches = 99;
    EXPECT_EQ(FindByName(hCollection, test.key, 2, &position, &matches), test.status) << test.key;
    EXPECT_EQ(matches, test.count) << test.key;
    EXPECT_EQ(position.index[0], test.first) << test.key;
  }

  // Reading from the found position with skip 0 gives exactly the matches.
  CollectionPosition position{};
  std::uint32_t matches = 0;
  ASSERT_EQ(FindByName(hCollection, "bob@example.org", 2, &position, &matches), 0);
  MemHandle hBuffer = 0;
  std::uint32_t count = 0;
  std::uint16_t signal = 0;
  ASSERT_EQ(ReadEntries(hCollection, &position, 1, 0, 1, matches, 1, &hBuffer, nullptr, nullptr,
                        &count, &signal),
            0);
  ASSERT_EQ(count, 2u);
  const auto* ids = static_cast<const NoteId*>(LockObject(hBuffer));
  EXPECT_EQ(ids[0], bob1);
  EXPECT_EQ(ids[1], bob2);
  EXPECT_EQ(signal, kSignalMoreToDo);  // carol follows
  FreeObject(hBuffer);
}

TEST_F(LocalViewTest, MissingViewsAndWrongArgumentsGiveStatuses) {
  ASSERT_EQ(Start(), 0);
  DbHandle db = CreateAndOpen("a.nsf");
  NoteId document = AddDocument(db, {{"Name", "x"}});
  NoteId view_id = 1;
  EXPECT_EQ(FindDesignNote(db, "Main", 8, "-G40n", &view_id, 0), kErrViewNotFound);
  EXPECT_EQ(view_id, 0u);
  CollectionHandle hCollection = 1;
  EXPECT_EQ(
      OpenCollection(db, db, document, 0, 0, &hCollection, nullptr, nullptr, nullptr, nullptr),
      kErrViewNotFound);
  EXPECT_EQ(hCollection, 0);

  ASSERT_EQ(runtime_.CreateView(db, {"Main", "", "", "Name", ""}), 0);
  hCollection = OpenView(db, "Main");
  CollectionPosition position{};
  MemHandle hBuffer = 0;
  EXPECT_EQ(ReadEntries(hCollection, &position, 1, 1, 1, 10, 2, &hBuffer, nullptr, nullptr, nullptr,
                        nullptr),
            kErrBadArgument);
  // Past the last entry: nothing, no block, no signal.
  position.index[0] = 1;
  std::uint32_t count = 5;
  std::uint16_t signal = 5;
  EXPECT_EQ(ReadEntries(hCollection, &position, 1, 1, 1, 10, 1, &hBuffer, nullptr, nullptr, &count,
                        &signal),
            0);
  EXPECT_EQ(hBuffer, 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(signal, 0);
}

}  // namespace
}  // namespace notes::local
