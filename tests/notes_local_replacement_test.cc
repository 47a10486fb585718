// Replacing a document in the local runtime (delete the old one, create, fill
// and save the new one) is one commit: the delete is never durable without
// the save that completes it, and a replacement given up keeps the old
// document. Another connection sees the old document until the save commits.
#include <sqlite3.h>

#include <string>
#include <vector>

#include "tests/notes_local_fixture.h"

namespace notes::local {
namespace {

// How many notes another connection to the file sees, as another process would.
int NotesSeenFromOutside(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  int count = -1;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM notes WHERE note_class = 1", -1, &query, nullptr);
    if (query != nullptr && sqlite3_step(query) == SQLITE_ROW) count = sqlite3_column_int(query, 0);
    sqlite3_finalize(query);
  }
  sqlite3_close(db);
  return count;
}

enum class Ending {
  kSaved, kClosedUnsaved, kRuntimeEnded, kRuntimeEndedAfterDelete, kDatabaseClosedAfterDelete
};

class ReplacementTest : public LocalRuntimeTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(ReplacementTest, TheDeleteIsDurableOnlyWithTheSave) {
  ASSERT_EQ(Start(), 0);
  DbHandle db = CreateAndOpen("busytime.nsf");
  const NoteId old_id = AddDocument(db, {{"$Name", "ann"}});
  const std::filesystem::path file = data_ / "busytime.nsf";

  ASSERT_EQ(NoteDelete(db, old_id, 0), 0);
  EXPECT_EQ(NotesSeenFromOutside(file), 1);  // not committed yet
  NoteHandle new_note = 0;
  const bool creates = GetParam() != Ending::kDatabaseClosedAfterDelete &&
                       GetParam() != Ending::kRuntimeEndedAfterDelete;
  if (creates) {
    ASSERT_EQ(NoteCreate(db, &new_note), 0);
    ASSERT_EQ(ItemSetText(new_note, "$Name", "ann", 3, true), 0);
  }
  bool replaced = true;
  switch (GetParam()) {
    case Ending::kSaved:
      ASSERT_EQ(NoteUpdate(new_note, 0), 0);
      EXPECT_EQ(NoteClose(new_note), 0);
      break;
    case Ending::kClosedUnsaved:
      EXPECT_EQ(NoteClose(new_note), 0);
      replaced = false;
      break;
    case Ending::kRuntimeEnded:
    case Ending::kRuntimeEndedAfterDelete:
      NotesTerm();
      replaced = false;
      break;
    case Ending::kDatabaseClosedAfterDelete:
      EXPECT_EQ(DbClose(db), 0);
      break;
  }
  EXPECT_EQ(NotesSeenFromOutside(file), GetParam() == Ending::kDatabaseClosedAfterDelete ? 0 : 1);

  NotesTerm();
  ASSERT_EQ(Start(), 0);
  ASSERT_EQ(DbOpen("busytime.nsf", &db), 0);
  std::vector<NoteId> ids;
  ASSERT_EQ(runtime_.ListDocuments(db, &ids), 0);
  if (GetParam() == Ending::kDatabaseClosedAfterDelete) {
    EXPECT_TRUE(ids.empty());
  } else {
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(ids[0] == old_id, !replaced);
  }
}

INSTANTIATE_TEST_SUITE_P(Endings, ReplacementTest,
                         ::testing::Values(Ending::kSaved, Ending::kClosedUnsaved,
                                           Ending::kRuntimeEnded, Ending::kRuntimeEndedAfterDelete,
                                           Ending::kDatabaseClosedAfterDelete));

// A delete not followed by its replacement must not keep the write lock: the
// next call that reads anything commits it.
TEST_F(LocalRuntimeTest, ADeleteWithoutReplacementCommitsAtTheNextRead) {
  ASSERT_EQ(Start(), 0);
  DbHandle db = CreateAndOpen("busytime.nsf");
  const NoteId id = AddDocument(db, {{"$Name", "ann"}});
  ASSERT_EQ(NoteDelete(db, id, 0), 0);
  std::vector<NoteId> ids;
  ASSERT_EQ(runtime_.ListDocuments(db, &ids), 0);
  EXPECT_TRUE(ids.empty());
  EXPECT_EQ(NotesSeenFromOutside(data_ / "busytime.nsf"), 0);
}

}  // namespace
}  // namespace notes::local
