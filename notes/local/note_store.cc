#include "notes/local/note_store.h"

#include <algorithm>

#include "base/ascii.h"
#include "notes/status_codes.h"

namespace notes::local {
namespace {

constexpr std::int64_t kLastNoteId = 0x7FFFFFFF;

// The next NoteId: above every id ever given in this database. AUTOINCREMENT
// keeps the highest in sqlite_sequence even after that note is deleted.
Status NextNoteId(PreparedStatements& db, NoteId* id) {
  auto next = db.Get(
      "SELECT max(coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'notes'), 0),"
      "           coalesce((SELECT max(note_id) FROM notes), 0)) + 1");
  int result = next->Step();
  if (result != SQLITE_ROW) return StatusFromSqlite(result);
  std::int64_t value = next->Int(0);
  if (value < 1 || value > kLastNoteId) return kErrNoteIdsExhausted;
  *id = static_cast<NoteId>(value);
  return 0;
}

Status WriteItems(PreparedStatements& db, NoteId id, const std::vector<ItemInfo>& items) {
  int result = db.Get("DELETE FROM items WHERE note_id = ?1")->Bind(1, id).Run();
  if (result != SQLITE_DONE) return StatusFromSqlite(result);

  std::int64_t seq = 0;
  for (const ItemInfo& item : items) {
    auto insert = db.Get(
        "INSERT INTO items (note_id, seq, name, type_code, flags, value) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    auto name =
        std::span(reinterpret_cast<const std::uint8_t*>(item.name.data()), item.name.size());
    result = insert->Bind(1, id)
                 .Bind(2, ++seq)
                 .BindBlob(3, name)
                 .Bind(4, item.type_code)
                 .Bind(5, item.flags)
                 .BindBlob(6, item.value)
                 .Run();
    if (result != SQLITE_DONE) return StatusFromSqlite(result);
  }
  return 0;
}

}  // namespace

namespace {

// The item of the current row of a query whose columns `first` on are the
// item's name, type, flags and value.
ItemInfo ItemOfRow(const Statement& row, int first) {
  ItemInfo item;
  auto name = row.Blob(first);
  item.name.assign(reinterpret_cast<const char*>(name.data()), name.size());
  item.type_code = static_cast<std::uint16_t>(row.Int(first + 1));
  item.flags = static_cast<std::uint16_t>(row.Int(first + 2));
  auto value = row.Blob(first + 3);
  item.value.assign(value.begin(), value.end());
  return item;
}

}  // namespace

Status LoadNote(PreparedStatements& db, NoteId id, Note* note, bool text_values_only) {
  // One statement, so the class and the items come from one snapshot even
  // while another process replaces the note. Values left out are not even
  // read from the file: a document's entry lists lie on pages of their own.
  auto query = db.Get(
      "SELECT n.note_class, i.name, i.type_code, i.flags, "
      "CASE WHEN ?2 OR i.type_code = ?3 THEN i.value ELSE x'' END "
      "FROM notes n LEFT JOIN items i ON i.note_id = n.note_id WHERE n.note_id = ?1 "
      "ORDER BY i.seq");
  query->Bind(1, id).Bind(2, text_values_only ? 0 : 1).Bind(3, kTypeText);
  Note loaded;
  loaded.id = id;
  int result = query->Step();
  if (result == SQLITE_DONE) return kErrNoteNotFound;
  for (; result == SQLITE_ROW; result = query->Step()) {
    loaded.note_class = static_cast<std::uint16_t>(query->Int(0));
    if (!query->IsNull(1)) loaded.items.push_back(ItemOfRow(*query, 1));
  }
  if (result != SQLITE_DONE) return StatusFromSqlite(result);
  *note = std::move(loaded);
  return 0;
}

Status LoadItems(PreparedStatements& db, Note* note) {
  note->items.clear();
  auto items = db.Get(
      "SELECT name, type_code, flags, value FROM items WHERE note_id = ?1 ORDER BY seq");
  items->Bind(1, note->id);
  int result;
  while ((result = items->Step()) == SQLITE_ROW) note->items.push_back(ItemOfRow(*items, 0));
  return result == SQLITE_DONE ? 0 : StatusFromSqlite(result);
}

Status SaveNote(PreparedStatements& db, Note* note) {
  WriteTransaction transaction(db.db());
  Status status = transaction.Begin();
  if (status != 0) return status;

  NoteId id = note->id;
  if (id == 0) {
    status = NextNoteId(db, &id);
    if (status != 0) return status;
    int result = db.Get("INSERT INTO notes (note_id, note_class) VALUES (?1, ?2)")
                     ->Bind(1, id)
                     .Bind(2, note->note_class)
                     .Run();
    if (result != SQLITE_DONE) return StatusFromSqlite(result);
  } else {
    int result = db.Get("SELECT 1 FROM notes WHERE note_id = ?1")->Bind(1, id).Step();
    if (result == SQLITE_DONE) return kErrNoteDeleted;
    if (result != SQLITE_ROW) return StatusFromSqlite(result);
  }

  status = WriteItems(db, id, note->items);
  if (status == 0) status = transaction.Commit();
  if (status == 0) note->id = id;
  return status;
}

Status DeleteNote(PreparedStatements& db, NoteId id) {
  WriteTransaction transaction(db.db());
  Status status = transaction.Begin();
  if (status != 0) return status;
  int result = db.Get("DELETE FROM notes WHERE note_id = ?1")->Bind(1, id).Run();
  if (result != SQLITE_DONE) return StatusFromSqlite(result);
  if (sqlite3_changes(db.db()) == 0) return kErrNoteNotFound;
  return transaction.Commit();
}

Status ListNoteIds(PreparedStatements& db, std::uint16_t note_class, std::vector<NoteId>* ids) {
  auto list = db.Get("SELECT note_id FROM notes WHERE note_class = ?1 ORDER BY note_id");
  list->Bind(1, note_class);
  std::vector<NoteId> found;
  int result;
  while ((result = list->Step()) == SQLITE_ROW) found.push_back(static_cast<NoteId>(list->Int(0)));
  if (result != SQLITE_DONE) return StatusFromSqlite(result);
  *ids = std::move(found);
  return 0;
}

Status ReadNoteTexts(PreparedStatements& db, std::uint16_t note_class,
                     std::span<const std::string> names, std::vector<NoteTexts>* notes) {
  // SQLite's lower() folds ASCII only, like EqualsIgnoreCase; the exact check
  // below also rejects names with bytes the text cast would hide.
  std::string sql =
      "SELECT n.note_id, i.name, i.value FROM notes n LEFT JOIN items i "
      "ON i.note_id = n.note_id AND i.type_code = ?1 AND lower(CAST(i.name AS TEXT)) IN (";
  for (std::size_t i = 0; i < names.size(); ++i) {
    sql += (i == 0 ? "?" : ", ?") + std::to_string(i + 3);
  }
  sql += names.empty() ? "NULL)" : ")";
  sql += " WHERE n.note_class = ?2 ORDER BY n.note_id, i.seq";

  auto query = db.Get(sql);
  query->Bind(1, kTypeText).Bind(2, note_class);
  for (std::size_t i = 0; i < names.size(); ++i) {
    query->Bind(static_cast<int>(i + 3), LowerAscii(names[i]));
  }
  std::vector<NoteTexts> found;
  int result;
  while ((result = query->Step()) == SQLITE_ROW) {
    auto id = static_cast<NoteId>(query->Int(0));
    if (found.empty() || found.back().id != id) {
      found.push_back({id, std::vector<std::optional<std::string>>(names.size())});
    }
    if (query->IsNull(1)) continue;
    auto name_bytes = query->Blob(1);
    std::string_view name(reinterpret_cast<const char*>(name_bytes.data()), name_bytes.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      auto& text = found.back().texts[i];
      if (text.has_value() || !EqualsIgnoreCase(name, names[i])) continue;
      auto value = query->Blob(2);
      auto end = std::find(value.begin(), value.end(), std::uint8_t{0});
      text.emplace(reinterpret_cast<const char*>(value.data()),
                   static_cast<std::size_t>(end - value.begin()));
    }
  }
  if (result != SQLITE_DONE) return StatusFromSqlite(result);
  *notes = std::move(found);
  return 0;
}

NoteTexts TextsOfNote(const Note& note, std::span<const std::string> names) {
  NoteTexts texts{note.id, std::vector<std::optional<std::string>>(names.size())};
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (const ItemInfo* item = FindTextItem(note, names[i])) texts.texts[i].emplace(TextOf(*item));
  }
  return texts;
}

}  // namespace notes::local
