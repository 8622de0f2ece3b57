#include "platform/database/platform_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "host/registry/data_paths.h"
#include "base/unique_fd.h"
#include "base/win32_errors.h"

namespace quorvant {
namespace {

using win32::kErrorAccessDenied;
using win32::kErrorBaddb;
constexpr uint32_t kErrorIoFailed = win32::kErrorRegistryIoFailed;

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The file is made 0600 before SQLite opens it, whatever the umask; the
// journal files SQLite creates next to it take the same mode. What is
// there already must be the user's own regular file (data_paths.h).
bool CreatePrivateFile(const std::string& path, uint32_t* error) {
  UniqueFd fd;
  int err = 0;
  if (!OpenDataFile(path, O_RDWR, 0600, DataOwner::kUser, &fd, &err) ||
      !CheckDatabaseSideFiles(path, DataOwner::kUser, &err)) {
    *error = err == EACCES || err == EPERM ? kErrorAccessDenied : kErrorIoFailed;
    return false;
  }
  return true;
}

}  // namespace

PlatformDatabase::PlatformDatabase(ConstructionToken, SqliteHandle db, std::string path)
    : db_(std::move(db)), path_(std::move(path)) {}

std::string PlatformDatabase::DefaultPath() {
  const std::string dir = UserDataDirectory(ProcessEnvironment());
  return dir.empty() ? std::string() : dir + "/platform.db";
}

std::shared_ptr<PlatformDatabase> PlatformDatabase::Open(const std::string& path,
                                                         uint32_t* error) {
  *error = 0;
  if (path.empty()) {
    *error = kErrorIoFailed;
    return nullptr;
  }
  int err = 0;
  if (!EnsurePrivateDirectory(DirectoryOf(path), &err)) {
    *error = err == EACCES || err == EPERM ? kErrorAccessDenied : kErrorIoFailed;
    return nullptr;
  }
  if (!CreatePrivateFile(path, error)) return nullptr;
  Result<SqliteHandle> db =
      OpenSqlite(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX);
  if (!db.ok()) {
    *error = kErrorIoFailed;
    return nullptr;
  }
  // WAL with synchronous=NORMAL: a crash of the process never loses a commit
  // or corrupts the file; a power failure may lose the last commits.
  // secure_delete: the bytes of a deleted key are overwritten in the page
  // that held them, not left in free space (see checkpoint()).
  const int walRc = SqliteExecRetryingBusy(
      db->get(),
      "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; "
      "PRAGMA secure_delete=ON;");
  if (walRc != SQLITE_OK) {
    *error = ClassifySqliteError(walRc) == SqliteFailure::kCorrupt ? kErrorBaddb : kErrorIoFailed;
    return nullptr;
  }
  return std::make_shared<PlatformDatabase>(ConstructionToken(), std::move(*db), path);
}

std::shared_ptr<PlatformDatabase> PlatformDatabase::OpenInMemory(uint32_t* error) {
  *error = 0;
  sqlite3* raw = nullptr;
  // ":memory:" gives a new, unnamed database per connection, never shared
  // through the cache with another one.
  const int rc = sqlite3_open_v2(":memory:", &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                     SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_PRIVATECACHE,
                                 nullptr);
  SqliteHandle db(raw);
  if (rc != SQLITE_OK) {
    *error = kErrorIoFailed;
    return nullptr;
  }
  sqlite3_extended_result_codes(db.get(), 1);
  // Key bytes freed by deletes are overwritten rather than left in pages.
  if (sqlite3_exec(db.get(), "PRAGMA foreign_keys=ON; PRAGMA secure_delete=ON;", nullptr,
                   nullptr, nullptr) != SQLITE_OK) {
    *error = kErrorIoFailed;
    return nullptr;
  }
  return std::make_shared<PlatformDatabase>(ConstructionToken(), std::move(db), std::string());
}

bool PlatformDatabase::ensureSchema(std::string_view name, std::string_view statements) {
  const std::string sql(statements);
  return runOnce(name, [&] {
    return writeTransaction([&] {
      return sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    });
  });
}

bool PlatformDatabase::runOnce(std::string_view name, const std::function<bool()>& work) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (std::find(done_.begin(), done_.end(), name) != done_.end()) return true;
  bool ok = false;
  try {
    ok = work();
    if (ok) done_.emplace_back(name);
  } catch (...) {
    ok = false;
  }
  return ok;
}

void PlatformDatabase::checkpoint() {
  if (inMemory()) return;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  static_cast<void>(sqlite3_wal_checkpoint_v2(db_.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE,
                                              nullptr, nullptr));
}

bool PlatformDatabase::writeTransaction(const std::function<bool()>& work) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SqliteTransaction transaction(db_.get());
  if (transaction.begin(/*write=*/true) != SQLITE_OK) return false;
  bool ok = false;
  try {
    ok = work();
  } catch (...) {
    ok = false;
  }
  return ok && transaction.commit() == SQLITE_OK;
}

}  // namespace quorvant
