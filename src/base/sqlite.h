// The component's one SQLite layer, shared by every SQLite-backed store (the
// registry's hives, the certificate stores and key containers): opening a
// connection, prepared statements, transactions, waiting out other
// processes' locks, and reading SQLite's failures.
#ifndef QUORVANT_BASE_SQLITE_H_
#define QUORVANT_BASE_SQLITE_H_

#include <sqlite3.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"
#include "base/sqlite_handle.h"

namespace quorvant {

// How long a store waits for another connection's lock before it gives up.
inline constexpr int kSqliteBusyTimeoutMs = 10000;

// Opens an existing database file (the stores create their files
// themselves, with their own permissions, before SQLite sees them) with
// extended result codes and the busy timeout. `flags` are sqlite3_open_v2's.
// On failure the outcome's system error is Win32FromSqlite's number.
Result<SqliteHandle> OpenSqlite(const std::string& path, int flags);

// Runs `sql` with sqlite3_exec, retrying for the busy timeout while another
// connection holds a lock. Changing the journal mode needs an exclusive
// lock, and SQLite reports SQLITE_BUSY (or SQLITE_LOCKED) for it at once
// instead of calling the busy handler: processes opening a new file
// together collide there.
int SqliteExecRetryingBusy(sqlite3* db, const char* sql);

// A prepared statement with typed binding (parameters count from 1) and
// reading. A failure to prepare or bind is kept and returned by step(), so
// a chain of binds needs one check.
class SqliteStatement {
 public:
  SqliteStatement() = default;
  SqliteStatement(sqlite3* db, std::string_view sql);
  bool valid() const { return stmt_ != nullptr; }

  SqliteStatement& bind(int index, int64_t value);
  SqliteStatement& bind(int index, std::string_view text);
  // An empty span binds a zero-length blob, never NULL.
  SqliteStatement& bind(int index, std::span<const uint8_t> blob);
  SqliteStatement& bindNull(int index);
  // SQLITE_ROW, SQLITE_DONE or an error code (also one from prepare or bind).
  int step();
  // Ready to run again, with no parameters bound.
  void reset();

  int64_t columnInt(int column) const;
  std::string columnText(int column) const;
  std::vector<uint8_t> columnBlob(int column) const;
  bool columnIsNull(int column) const;

 private:
  SqliteStatementHandle stmt_;
  int rc_ = SQLITE_MISUSE;
};

// One transaction; rolled back when it goes out of scope uncommitted.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(sqlite3* db) : db_(db) {}
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;
  ~SqliteTransaction();

  // BEGIN IMMEDIATE for a write (the write lock is taken up front, waiting
  // for the busy timeout, so two writers never deadlock upgrading read
  // locks), BEGIN for a read. SQLITE_OK or the error.
  int begin(bool write);
  int commit();

 private:
  sqlite3* const db_;
  bool open_ = false;
};

// What went wrong, in the terms each store maps to its own error numbers.
enum class SqliteFailure {
  kNone,      // SQLITE_OK, SQLITE_ROW, SQLITE_DONE
  kBusy,      // another connection holds the lock past the timeout
  kReadOnly,  // a write the file's permissions refuse (plain SQLITE_READONLY)
  kDenied,    // SQLITE_PERM, SQLITE_AUTH
  kCantOpen,  // the file cannot be opened; the system errno tells why
  kNoMemory,
  kCorrupt,   // SQLITE_CORRUPT, SQLITE_NOTADB, SQLITE_FORMAT
  kFull,
  kTooBig,
  kIo,        // everything else
};
SqliteFailure ClassifySqliteError(int rc);

// The Win32 number a file-backed store reports for an errno: the errno's
// number (Win32ErrorFromErrno) narrowed to those the registry reports: 5 for
// permissions (a read-only file system included), 14 for memory, 1016
// (ERROR_REGISTRY_IO_FAILED) otherwise.
uint32_t Win32FromFileErrno(int err);
// The Win32 number for a SQLite result code: 0 for success, 1009 for a file
// that is not the store's database, 5 for a refused write, 14 for memory,
// 87 for an oversized value, 170 (ERROR_BUSY) for a lock another process
// held past the busy timeout, the errno's number for a file that cannot be
// opened (db may be null), 1016 for other trouble.
uint32_t Win32FromSqlite(sqlite3* db, int rc);

}  // namespace quorvant

#endif  // QUORVANT_BASE_SQLITE_H_
