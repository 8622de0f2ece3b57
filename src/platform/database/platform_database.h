// The per-user database behind the certificate stores and the key
// containers: <data dir>/platform.db, 0600 in a 0700 directory, WAL journal,
// one BEGIN IMMEDIATE transaction per change so concurrent writers in other
// processes lose nothing.
//
// Each part of the platform layer creates its own tables (CREATE TABLE IF NOT
// EXISTS) through ensureSchema() the first time it uses the database.
#ifndef QUORVANT_PLATFORM_PLATFORM_DATABASE_H_
#define QUORVANT_PLATFORM_PLATFORM_DATABASE_H_

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/sqlite.h"

namespace quorvant {

class PlatformDatabase {
  struct ConstructionToken {};

 public:
  // Through Open() only.
  PlatformDatabase(ConstructionToken, SqliteHandle db, std::string path);

  // Opens (creating when missing) the database at `path`. Nothing when it
  // cannot be opened; *error then holds a Win32 error number (1016 for I/O,
  // 1009 for a file that is not a database, 5 for permissions).
  static std::shared_ptr<PlatformDatabase> Open(const std::string& path, uint32_t* error);
  // A private database that lives in this process's memory only, for key
  // containers that must never reach a disk: those of a PFX file opened for
  // one operation. Every holder of the pointer sees the same containers;
  // they vanish with the last one. path() is empty.
  static std::shared_ptr<PlatformDatabase> OpenInMemory(uint32_t* error);
  bool inMemory() const { return path_.empty(); }
  // <UserDataDirectory>/platform.db.
  static std::string DefaultPath();

  sqlite3* handle() const { return db_.get(); }
  const std::string& path() const { return path_; }

  // Runs `statements` (a batch of CREATE ... IF NOT EXISTS) once per
  // connection for the given schema name.
  bool ensureSchema(std::string_view name, std::string_view statements);
  // Runs `work` once per connection for `name` (until it returns true).
  bool runOnce(std::string_view name, const std::function<bool()>& work);

  // Copies the journal into the database and empties it (a TRUNCATE
  // checkpoint), so bytes that a change overwrote (with secure_delete, the
  // bytes of a deleted key) remain in neither file. Best effort: a reader of
  // another process holding an old snapshot keeps the journal as it is
  // until a later checkpoint. Nothing for an in-memory database.
  void checkpoint();

  // Runs `work` inside BEGIN IMMEDIATE ... COMMIT, retrying while another
  // process holds the write lock (up to the busy timeout). `work` returns
  // false to roll back. Returns false when the transaction did not commit.
  bool writeTransaction(const std::function<bool()>& work);

  // One thread at a time per connection.
  std::recursive_mutex& mutex() { return mutex_; }

 private:
  SqliteHandle db_;
  std::string path_;
  std::vector<std::string> done_;  // names runOnce has run
  std::recursive_mutex mutex_;
};

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_PLATFORM_DATABASE_H_
