#include "base/sqlite.h"

#include <errno.h>

#include <algorithm>

#include "base/win32_errors.h"
#include "base/win32_from_errno.h"

namespace quorvant {

Result<SqliteHandle> OpenSqlite(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  // Never through a symbolic link planted in place of the file.
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOFOLLOW, nullptr);
  SqliteHandle db(raw);
  if (rc != SQLITE_OK) return Outcome::Fail(rc::kGeneralError, Win32FromSqlite(db.get(), rc));
  sqlite3_extended_result_codes(db.get(), 1);
  sqlite3_busy_timeout(db.get(), kSqliteBusyTimeoutMs);
  return db;
}

int SqliteExecRetryingBusy(sqlite3* db, const char* sql) {
  int waited = 0;
  for (int delay = 1;; delay = std::min(delay * 2, 50)) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    const int primary = rc & 0xFF;
    if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) ||
        waited >= kSqliteBusyTimeoutMs) {
      return rc;
    }
    sqlite3_sleep(delay);
    waited += delay;
  }
}

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  rc_ = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  stmt_.reset(raw);
  if (rc_ == SQLITE_OK && !stmt_) rc_ = SQLITE_MISUSE;  // nothing but a comment
  if (rc_ != SQLITE_OK) stmt_.reset();
}

SqliteStatement& SqliteStatement::bind(int index, int64_t value) {
  if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_.get(), index, value);
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
  if (rc_ == SQLITE_OK) {
    rc_ = sqlite3_bind_text64(stmt_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8);
  }
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::span<const uint8_t> blob) {
  if (rc_ != SQLITE_OK) return *this;
  // A null pointer would bind SQL NULL.
  rc_ = blob.empty() ? sqlite3_bind_zeroblob(stmt_.get(), index, 0)
                     : sqlite3_bind_blob64(stmt_.get(), index, blob.data(), blob.size(),
                                           SQLITE_TRANSIENT);
  return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
  if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_null(stmt_.get(), index);
  return *this;
}

int SqliteStatement::step() { return rc_ != SQLITE_OK ? rc_ : sqlite3_step(stmt_.get()); }

void SqliteStatement::reset() {
  if (!stmt_) return;
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
  rc_ = SQLITE_OK;
}

int64_t SqliteStatement::columnInt(int column) const {
  return stmt_ ? sqlite3_column_int64(stmt_.get(), column) : 0;
}

std::string SqliteStatement::columnText(int column) const {
  if (!stmt_) return std::string();
  const auto* text = sqlite3_column_text(stmt_.get(), column);
  const int length = sqlite3_column_bytes(stmt_.get(), column);
  return text == nullptr ? std::string()
                         : std::string(reinterpret_cast<const char*>(text),
                                       static_cast<size_t>(length));
}

std::vector<uint8_t> SqliteStatement::columnBlob(int column) const {
  if (!stmt_) return {};
  const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_.get(), column));
  const int length = sqlite3_column_bytes(stmt_.get(), column);
  if (blob == nullptr || length <= 0) return {};
  return std::vector<uint8_t>(blob, blob + length);
}

bool SqliteStatement::columnIsNull(int column) const {
  return !stmt_ || sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
}

SqliteTransaction::~SqliteTransaction() {
  if (open_ && !sqlite3_get_autocommit(db_)) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

int SqliteTransaction::begin(bool write) {
  const int rc =
      sqlite3_exec(db_, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr);
  open_ = rc == SQLITE_OK;
  return rc;
}

int SqliteTransaction::commit() {
  const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) open_ = false;
  return rc;
}

SqliteFailure ClassifySqliteError(int rc) {
  // Extended codes are on everywhere; plain SQLITE_READONLY is a write the
  // file's permissions refuse, the other READONLY_* codes are I/O trouble.
  if (rc == SQLITE_READONLY) return SqliteFailure::kReadOnly;
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return SqliteFailure::kNone;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return SqliteFailure::kBusy;
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return SqliteFailure::kDenied;
    case SQLITE_CANTOPEN:
      return SqliteFailure::kCantOpen;
    case SQLITE_NOMEM:
      return SqliteFailure::kNoMemory;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
      return SqliteFailure::kCorrupt;
    case SQLITE_FULL:
      return SqliteFailure::kFull;
    case SQLITE_TOOBIG:
      return SqliteFailure::kTooBig;
    default:
      return SqliteFailure::kIo;
  }
}

uint32_t Win32FromFileErrno(int err) {
  // The registry's functions report few numbers for a file they cannot use:
  // the errno's own number narrowed to those.
  switch (Win32ErrorFromErrno(err)) {
    case win32::kErrorAccessDenied:
    case win32::kErrorWriteProtect:
      return win32::kErrorAccessDenied;
    case win32::kErrorNotEnoughMemory:
      return win32::kErrorOutofmemory;
    default:
      return win32::kErrorRegistryIoFailed;
  }
}

uint32_t Win32FromSqlite(sqlite3* db, int rc) {
  switch (ClassifySqliteError(rc)) {
    case SqliteFailure::kNone:
      return win32::kErrorSuccess;
    case SqliteFailure::kCorrupt:
      return win32::kErrorBaddb;
    case SqliteFailure::kNoMemory:
      return win32::kErrorOutofmemory;
    case SqliteFailure::kReadOnly:
    case SqliteFailure::kDenied:
      return win32::kErrorAccessDenied;
    case SqliteFailure::kTooBig:
      return win32::kErrorInvalidParameter;
    case SqliteFailure::kCantOpen:
      return Win32FromFileErrno(db != nullptr ? sqlite3_system_errno(db) : 0);
    case SqliteFailure::kBusy:
      // Another process kept its lock past the timeout: the store is in
      // use, not out of reach.
      return win32::kErrorBusy;
    case SqliteFailure::kFull:
    case SqliteFailure::kIo:
      break;
  }
  return win32::kErrorRegistryIoFailed;
}

}  // namespace quorvant
