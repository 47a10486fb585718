// Thin RAII wrappers over the SQLite C interface, and the mapping of SQLite
// result codes onto the runtime's statuses. Only notes/local/ includes this.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "notes/notes.h"

namespace notes::local {

struct ConnectionCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

// The runtime status for a SQLite result code (primary or extended).
Status StatusFromSqlite(int result_code);

// One prepared statement. A failed Prepare or Bind is remembered and returned
// by the next Step, so a sequence of binds needs one check.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindBlob(int index, std::span<const std::uint8_t> bytes);

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  // Steps to the end; SQLITE_DONE or an error code.
  int Run();

  // Makes the statement ready to run again, its bindings cleared; a failed
  // Prepare stays failed.
  void Reset();
  bool Prepared() const { return prepare_error_ == SQLITE_OK; }

  std::int64_t Int(int column) const;
  std::span<const std::uint8_t> Blob(int column) const;
  std::string_view Text(int column) const;
  bool IsNull(int column) const;

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  std::unique_ptr<sqlite3_stmt, Finalizer> statement_;
  int prepare_error_ = SQLITE_OK;
  int error_ = SQLITE_OK;
};

// The statements of one connection, each prepared once and reused: parsing
// and planning cost more than running the small statements of a note save.
// A statement is lent out ready to bind and reset when the loan ends, so no
// finished or abandoned query keeps a read transaction open.
class PreparedStatements {
 public:
  explicit PreparedStatements(sqlite3* db) : db_(db) {}
  PreparedStatements(const PreparedStatements&) = delete;
  PreparedStatements& operator=(const PreparedStatements&) = delete;

  class Loan {
   public:
    explicit Loan(Statement* statement) : statement_(statement) {}
    ~Loan() { statement_->Reset(); }
    Loan(const Loan&) = delete;
    Loan& operator=(const Loan&) = delete;
    Statement& operator*() const { return *statement_; }
    Statement* operator->() const { return statement_; }

   private:
    Statement* statement_;
  };

  // The statement for `sql`, prepared on first use (and again after a failed
  // prepare, which may have been a passing lock).
  Loan Get(std::string_view sql);

  sqlite3* db() const { return db_; }

 private:
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>()(text);
    }
  };

  sqlite3* db_;
  std::unordered_map<std::string, std::unique_ptr<Statement>, TextHash, std::equal_to<>>
      statements_;
};

// Runs SQL text without results (several statements allowed); a status.
Status Execute(sqlite3* db, const char* sql);

// A write transaction that rolls back unless committed. BEGIN IMMEDIATE takes
// the write lock at once, so waiting for another process happens here, bounded
// by the busy timeout, and never halfway through the changes. Begun while the
// connection already has a transaction open, it is a savepoint in that one:
// its changes are undone unless committed, and once committed they are made
// durable, or undone, with the outer transaction.
class WriteTransaction {
 public:
  explicit WriteTransaction(sqlite3* db) : db_(db) {}
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  Status Begin();
  Status Commit();

 private:
  sqlite3* db_;
  bool open_ = false;
  bool joined_ = false;
};

}  // namespace notes::local
