#include "notes/local/sqlite_util.h"

#include <climits>

#include "notes/status_codes.h"

namespace notes::local {

Status StatusFromSqlite(int result_code) {
  switch (result_code & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return 0;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kErrDatabaseLocked;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return kErrDatabaseIo;
    case SQLITE_FULL:
      return kErrDiskFull;
    case SQLITE_READONLY:
      return kErrReadOnly;
    case SQLITE_CORRUPT:
      return kErrDatabaseCorrupt;
    case SQLITE_NOTADB:
      return kErrNotADatabase;
    case SQLITE_NOMEM:
      return kErrOutOfMemory;
    case SQLITE_TOOBIG:
      return kErrValueTooLarge;
    default:
      return kErrDatabaseFailed;
  }
}

Statement::Statement(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  error_ = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
  statement_.reset(statement);
  if (error_ == SQLITE_OK && statement == nullptr) error_ = SQLITE_MISUSE;
  prepare_error_ = error_;
}

void Statement::Reset() {
  error_ = prepare_error_;
  if (error_ != SQLITE_OK) return;
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
}

Statement& Statement::Bind(int index, std::int64_t value) {
  if (error_ == SQLITE_OK) error_ = sqlite3_bind_int64(statement_.get(), index, value);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (error_ != SQLITE_OK) return *this;
  if (text.size() > INT_MAX) {
    error_ = SQLITE_TOOBIG;
    return *this;
  }
  error_ = sqlite3_bind_text(statement_.get(), index, text.data(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT);
  return *this;
}

// Binds a zero-length value as an empty blob, not NULL, so that every stored
// value reads back as bytes.
Statement& Statement::BindBlob(int index, std::span<const std::uint8_t> bytes) {
  if (error_ != SQLITE_OK) return *this;
  if (bytes.size() > INT_MAX) {
    error_ = SQLITE_TOOBIG;
    return *this;
  }
  if (bytes.empty()) {
    error_ = sqlite3_bind_zeroblob(statement_.get(), index, 0);
  } else {
    error_ = sqlite3_bind_blob(statement_.get(), index, bytes.data(),
                               static_cast<int>(bytes.size()), SQLITE_STATIC);
  }
  return *this;
}

int Statement::Step() {
  if (error_ != SQLITE_OK) return error_;
  int result = sqlite3_step(statement_.get());
  if (result != SQLITE_ROW && result != SQLITE_DONE) error_ = result;
  return result;
}

int Statement::Run() {
  int result = Step();
  while (result == SQLITE_ROW) result = Step();
  return result;
}

std::int64_t Statement::Int(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

std::span<const std::uint8_t> Statement::Blob(int column) const {
  const void* data = sqlite3_column_blob(statement_.get(), column);
  int size = sqlite3_column_bytes(statement_.get(), column);
  if (data == nullptr || size <= 0) return {};
  return {static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
}

std::string_view Statement::Text(int column) const {
  const unsigned char* data = sqlite3_column_text(statement_.get(), column);
  int size = sqlite3_column_bytes(statement_.get(), column);
  if (data == nullptr || size <= 0) return {};
  return {reinterpret_cast<const char*>(data), static_cast<std::size_t>(size)};
}

bool Statement::IsNull(int column) const {
  return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL;
}

PreparedStatements::Loan PreparedStatements::Get(std::string_view sql) {
  auto found = statements_.find(sql);
  if (found == statements_.end()) {
    found = statements_.emplace(std::string(sql), nullptr).first;
  }
  if (found->second == nullptr || !found->second->Prepared()) {
    found->second = std::make_unique<Statement>(db_, sql);
  }
  return Loan(found->second.get());
}

Status Execute(sqlite3* db, const char* sql) {
  return StatusFromSqlite(sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

WriteTransaction::~WriteTransaction() {
  if (!open_) return;
  sqlite3_exec(db_, joined_ ? "ROLLBACK TO inner; RELEASE inner" : "ROLLBACK", nullptr, nullptr,
               nullptr);
}

Status WriteTransaction::Begin() {
  joined_ = sqlite3_get_autocommit(db_) == 0;
  Status status = Execute(db_, joined_ ? "SAVEPOINT inner" : "BEGIN IMMEDIATE");
  open_ = status == 0;
  return status;
}

Status WriteTransaction::Commit() {
  if (joined_) {
    Status status = Execute(db_, "RELEASE inner");
    open_ = status != 0;
    return status;
  }
  Status status = Execute(db_, "COMMIT");
  // A failed COMMIT may leave the transaction open; the destructor rolls it back.
  open_ = status != 0 && sqlite3_get_autocommit(db_) == 0;
  return status;
}

}  // namespace notes::local
