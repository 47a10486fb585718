#include "notes/local/database_file.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "notes/status_codes.h"

namespace notes::local {
namespace {

constexpr const char* kCreateSchema =
    "CREATE TABLE notes ("
    "  note_id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  note_class INTEGER NOT NULL);"
    "CREATE TABLE items ("
    "  note_id INTEGER NOT NULL REFERENCES notes(note_id) ON DELETE CASCADE,"
    "  seq INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  type_code INTEGER NOT NULL,"
    "  flags INTEGER NOT NULL,"
    "  value BLOB NOT NULL,"
    "  PRIMARY KEY (note_id, seq)) WITHOUT ROWID;"
    "CREATE INDEX notes_by_class ON notes(note_class, note_id);";

// SQLite calls a database it cannot open, or whose WAL files (-wal, -shm)
// it cannot make beside it, "cannot open" or an I/O error, whatever the
// cause. A full disk and a file, folder or file system that may not be
// written are told apart, so that the message says what to fix: by the error
// of the system call that failed, or by SQLite having fallen back to reading
// a file it was asked to open for writing.
Status OpenFailure(sqlite3* db, Status status) {
  if (status != kErrDatabaseIo || db == nullptr) return status;
  const int error = sqlite3_system_errno(db);
  if (error == ENOSPC || error == EDQUOT) return kErrDiskFull;
  if (error == EROFS || error == EACCES || error == EPERM || sqlite3_db_readonly(db, "main") == 1)
    return kErrReadOnly;
  return status;
}

Status OpenConnection(const std::filesystem::path& file, int flags, int lock_timeout_ms,
                      Connection* connection) {
  sqlite3* db = nullptr;
  int result = sqlite3_open_v2(file.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  Connection opened(db);
  if (result != SQLITE_OK) return OpenFailure(db, StatusFromSqlite(result));
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, lock_timeout_ms);
  *connection = std::move(opened);
  return 0;
}

Status ReadPragma(sqlite3* db, const char* sql, std::int64_t* value) {
  Statement pragma(db, sql);
  int result = pragma.Step();
  if (result != SQLITE_ROW) return StatusFromSqlite(result);
  *value = pragma.Int(0);
  return 0;
}

// Reads only: a file that is not ours is never written to.
Status VerifySchema(sqlite3* db) {
  std::int64_t application_id = 0;
  Status status = ReadPragma(db, "PRAGMA application_id", &application_id);
  if (status != 0) return status;
  if (application_id != kApplicationId) return kErrNotADatabase;
  std::int64_t version = 0;
  status = ReadPragma(db, "PRAGMA user_version", &version);
  if (status != 0) return status;
  if (version > kSchemaVersion) return kErrDatabaseVersion;
  if (version < 1) return kErrNotADatabase;
  std::int64_t tables = 0;
  status = ReadPragma(db,
                      "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND "
                      "name IN ('notes', 'items')",
                      &tables);
  if (status != 0) return status;
  return tables == 2 ? 0 : kErrNotADatabase;
}

// Durability. Every connection writes ahead (WAL) with synchronous=NORMAL: a
// commit goes into the WAL without waiting for the disk, and the WAL is
// flushed to disk before each checkpoint (SQLite runs one whenever the WAL
// passes kCheckpointPages pages, and the runtime runs one when it closes a
// database).
// - A crash of the process, however abrupt, loses nothing committed: the
//   operating system still holds the WAL, and the next open recovers it.
// - The file is consistent after any failure, power loss included: every
//   note is either as before or as saved, never half of it.
// - Only a power loss or a crash of the operating system can lose commits,
//   those since the last checkpoint; the database then holds an earlier
//   consistent state. For busy-time documents that is the busy time of the
//   previous run, written again by the next run; a closed database (the end
//   of a run, an admin command) has been checkpointed.
// synchronous=FULL would flush the WAL at every commit instead: a harvest
// commits once per user (the old document's delete goes in the same commit
// as the new one's save), and at some 4 ms per flush on a virtual disk, 5 to
// 10 ms on ordinary ones, the flushes alone would cost ten times the rest of
// the run's own work, for no more than keeping the last few hundred
// replacements through a power loss, which the next run makes again.
//
// A user's replacement writes some 17 pages to the WAL, so SQLite's default
// of a checkpoint every 1,000 pages meant two flushes every 60 users, a
// good part of a run's time when the server answers at once. kCheckpointPages
// flushes every 600 users or so; the WAL file grows to some 40 MB while a
// database is open. A power loss may then roll the database back by up to a
// few hundred users' commits, always to a state it once was in: those users
// have their previous documents again, since a delete is never committed
// without the save that replaces it.
//
// secure_delete=FAST: SQLite as some systems build it overwrites every freed
// page with zeros, which writes each freed page to the WAL once more; FAST
// still clears deleted content on the pages a change writes anyway.
constexpr int kCheckpointPages = 10'000;

Status ConfigureConnection(sqlite3* db) {
  Statement journal(db, "PRAGMA journal_mode=WAL");
  int result = journal.Step();
  if (result != SQLITE_ROW) return StatusFromSqlite(result);
  if (journal.Text(0) != "wal") return kErrDatabaseFailed;
  char pragmas[160];
  std::snprintf(pragmas, sizeof pragmas,
                "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; PRAGMA secure_delete=FAST; "
                "PRAGMA wal_autocheckpoint=%d",
                kCheckpointPages);
  return Execute(db, pragmas);
}

Status StatusForMissing(const std::filesystem::path& file) {
  std::error_code error;
  auto file_status = std::filesystem::status(file, error);
  if (!std::filesystem::exists(file_status)) return kErrDatabaseNotFound;
  if (!std::filesystem::is_regular_file(file_status)) return kErrNotADatabase;
  return 0;
}

}  // namespace

Status OpenDatabaseFile(const std::filesystem::path& file, int lock_timeout_ms,
                        Connection* connection) {
  Status status = StatusForMissing(file);
  if (status != 0) return status;
  Connection opened;
  status = OpenConnection(file, SQLITE_OPEN_READWRITE, lock_timeout_ms, &opened);
  if (status == 0) status = VerifySchema(opened.get());
  if (status == 0) status = ConfigureConnection(opened.get());
  if (status != 0) return OpenFailure(opened.get(), status);
  *connection = std::move(opened);
  return 0;
}

Status CreateDatabaseFile(const std::filesystem::path& file, int lock_timeout_ms) {
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  if (error) return kErrDatabaseIo;
  // Exclusive creation: of two processes creating the same database, one
  // gets kErrDatabaseExists instead of both writing the schema.
  std::FILE* created = std::fopen(file.c_str(), "wx");
  if (created == nullptr) {
    return std::filesystem::exists(file, error) ? kErrDatabaseExists : kErrDatabaseIo;
  }
  std::fclose(created);

  Connection connection;
  Status status = OpenConnection(file, SQLITE_OPEN_READWRITE, lock_timeout_ms, &connection);
  if (status == 0) status = ConfigureConnection(connection.get());
  if (status == 0) {
    WriteTransaction transaction(connection.get());
    status = transaction.Begin();
    if (status == 0) status = Execute(connection.get(), kCreateSchema);
    if (status == 0) {
      char pragmas[96];
      std::snprintf(pragmas, sizeof pragmas, "PRAGMA application_id=%d; PRAGMA user_version=%d",
                    static_cast<int>(kApplicationId), static_cast<int>(kSchemaVersion));
      status = Execute(connection.get(), pragmas);
    }
    if (status == 0) status = transaction.Commit();
  }
  if (status != 0) {
    connection.reset();
    std::filesystem::remove(file, error);
    for (const char* suffix : {"-wal", "-shm"}) {
      std::filesystem::remove(file.string() + suffix, error);
    }
  }
  return status;
}

Status CheckDatabaseFile(const std::filesystem::path& file, int lock_timeout_ms,
                         std::vector<std::string>* problems) {
  Status status = StatusForMissing(file);
  if (status != 0) return status;
  Connection connection;
  status = OpenConnection(file, SQLITE_OPEN_READONLY, lock_timeout_ms, &connection);
  if (status != 0) return status;
  sqlite3* db = connection.get();

  Statement integrity(db, "PRAGMA integrity_check");
  int result;
  while ((result = integrity.Step()) == SQLITE_ROW) {
    if (integrity.Text(0) != "ok")
      problems->push_back("integrity: " + std::string(integrity.Text(0)));
  }
  if (result != SQLITE_DONE) {
    status = StatusFromSqlite(result);
    if (status == kErrNotADatabase) problems->push_back("the file is not a SQLite database");
    return status;
  }

  status = VerifySchema(db);
  if (status == kErrNotADatabase || status == kErrDatabaseVersion) {
    problems->push_back("not a database of this runtime (application id, version or tables)");
    return 0;
  }
  if (status != 0) return status;

  Statement foreign(db, "PRAGMA foreign_key_check");
  while ((result = foreign.Step()) == SQLITE_ROW) {
    problems->push_back("item of a missing note in table " + std::string(foreign.Text(0)));
  }
  if (result != SQLITE_DONE) return StatusFromSqlite(result);

  Statement ids(db,
                "SELECT note_id, note_class FROM notes WHERE note_id < 1 OR "
                "note_id > 2147483647 OR note_class NOT IN (1, 8)");
  while ((result = ids.Step()) == SQLITE_ROW) {
    problems->push_back("note " + std::to_string(ids.Int(0)) + " has an invalid id or class " +
                        std::to_string(ids.Int(1)));
  }
  return StatusFromSqlite(result);
}

}  // namespace notes::local
