// Owners of SQLite connections and prepared statements, shared by every
// SQLite-backed store (the registry, the certificate stores and keys).
#ifndef QUORVANT_BASE_SQLITE_HANDLE_H_
#define QUORVANT_BASE_SQLITE_HANDLE_H_

#include <sqlite3.h>

#include <memory>

namespace quorvant {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct SqliteStatementFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatementHandle = std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer>;

}  // namespace quorvant

#endif  // QUORVANT_BASE_SQLITE_HANDLE_H_
