// The view cache of the local runtime: a collection kept open while documents
// come, change and go, through its own connection and through another one,
// must always show what a fresh read of the database shows.
#include <random>
#include <string>
#include <vector>

#include "notes/status_codes.h"
#include "tests/notes_local_fixture.h"

namespace notes::local {
namespace {

class ViewCacheTest : public LocalRuntimeTest {
 protected:
  static std::vector<NoteId> ReadAll(CollectionHandle hCollection) {
    CollectionPosition position{};
    MemHandle hBuffer = 0;
    std::uint32_t count = 0;
    EXPECT_EQ(ReadEntries(hCollection, &position, 1, 1, 1, 0xFFFFFFFF, 1, &hBuffer, nullptr,
                          nullptr, &count, nullptr),
              0);
    if (hBuffer == 0) return {};
    const auto* block = static_cast<const NoteId*>(LockObject(hBuffer));
    std::vector<NoteId> ids(block, block + count);
    FreeObject(hBuffer);
    return ids;
  }

  // What FindByName says about a key: ordinal of the first match and count.
  static std::pair<std::uint32_t, std::uint32_t> Find(CollectionHandle hCollection,
                                                      const std::string& key, std::uint16_t flags) {
    CollectionPosition position{};
    std::uint32_t matches = 0;
    FindByName(hCollection, key.c_str(), flags, &position, &matches);
    return {position.index[0], matches};
  }
};

TEST_F(ViewCacheTest, AgreesWithAFreshReadThroughEveryChange) {
  ASSERT_EQ(Start(), 0);
  DbHandle db = CreateAndOpen("busytime.nsf");
  ASSERT_EQ(runtime_.CreateView(db, {"Main", "", "$Name", "$Name", ""}), 0);
  ASSERT_EQ(runtime_.CreateView(db, {"Teams", "", "$Name", "$Name", "Team"}), 0);
  DbHandle other = 0;  // a second connection, as another process would have
  ASSERT_EQ(DbOpen("busytime.nsf", &other), 0);
  // A connection that never writes reads the database again after every
  // commit of another one: the reference.
  DbHandle reader = 0;
  ASSERT_EQ(DbOpen("busytime.nsf", &reader), 0);
  const CollectionHandle kept[] = {OpenView(db, "Main"), OpenView(db, "Teams")};
  const CollectionHandle fresh[] = {OpenView(reader, "Main"), OpenView(reader, "Teams")};

  const std::vector<std::string> names = {"ann", "ANN", "bob", "Bob", "cy", "", "dee"};
  const std::vector<std::string> teams = {"", "red", "Red", "blue"};
  std::mt19937 random(7);
  auto pick = [&random](const std::vector<std::string>& from) {
    return from[random() % from.size()];
  };
  std::vector<NoteId> documents;
  std::vector<std::string> name_of;  // each document's $Name, by place in `documents`
  for (int step = 0; step < 200; ++step) {
    const DbHandle writer = random() % 4 == 0 ? other : db;
    const unsigned action = random() % 5;
    if (action == 3 && !documents.empty()) {
      // A run's replacement: the user's document deleted, then a new one
      // saved under the same name, with no read of the view in between.
      const std::size_t victim = random() % documents.size();
      ASSERT_EQ(NoteDelete(writer, documents[victim], 0), 0);
      documents.erase(documents.begin() + static_cast<long>(victim));
      const std::string name = name_of[victim];
      name_of.erase(name_of.begin() + static_cast<long>(victim));
      documents.push_back(AddDocument(writer, {{"$Name", name}, {"Team", pick(teams)}}));
      name_of.push_back(name);
    } else if (action == 0 && !documents.empty()) {
      const std::size_t victim = random() % documents.size();
      ASSERT_EQ(NoteDelete(writer, documents[victim], 0), 0);
      documents.erase(documents.begin() + static_cast<long>(victim));
      name_of.erase(name_of.begin() + static_cast<long>(victim));
    } else if (action == 1 && !documents.empty()) {
      NoteHandle note = 0;
      const std::size_t changed = random() % documents.size();
      ASSERT_EQ(NoteOpen(writer, documents[changed], 0, &note), 0);
      const std::string name = pick(names);
      name_of[changed] = name;
      ItemSetText(note, "$Name", name.data(), static_cast<std::uint16_t>(name.size()), true);
      ASSERT_EQ(NoteUpdate(note, 0), 0);
      NoteClose(note);
    } else {
      const std::string name = pick(names);
      documents.push_back(AddDocument(writer, {{"$Name", name}, {"Team", pick(teams)}}));
      name_of.push_back(name);
    }

    // Now and then several changes come before the next read.
    if (random() % 3 == 0) continue;
    for (int v = 0; v < 2; ++v) {
      ASSERT_EQ(ReadAll(kept[v]), ReadAll(fresh[v])) << "step " << step << " view " << v;
      for (const std::string& key : {std::string("ann"), std::string("Bob"), std::string("zz")}) {
        for (std::uint16_t flags : {0, 2}) {
          EXPECT_EQ(Find(kept[v], key, flags), Find(fresh[v], key, flags))
              << "step " << step << " view " << v << " key " << key;
        }
      }
    }
  }
}

}  // namespace
}  // namespace notes::local
