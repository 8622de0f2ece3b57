#include "platform/platform_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "host/data_paths.h"
#include "base/unique_fd.h"

namespace quorvant {
namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorBadDb = 1009;
constexpr uint32_t kErrorIoFailed = 1016;

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The file is made 0600 before SQLite opens it, whatever the umask; the
// journal files SQLite creates next to it take the same mode.
bool CreatePrivateFile(const std::string& path, uint32_t* error) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) {
    *error = errno == EACCES || errno == EPERM ? kErrorAccessDenied : kErrorIoFailed;
    return false;
  }
  struct stat st{};
  if (::fstat(fd.get(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
    ::fchmod(fd.get(), 0600);
  }
  return true;
}

}  // namespace

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) ==
      SQLITE_OK) {
    stmt_.reset(raw);
  } else {
    sqlite3_finalize(raw);
  }
}

SqliteStatement& SqliteStatement::bind(int index, int64_t value) {
  if (stmt_) sqlite3_bind_int64(stmt_.get(), index, value);
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
  if (stmt_) {
    sqlite3_bind_text(stmt_.get(), index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
  }
  return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::span<const uint8_t> blob) {
  if (stmt_) {
    // A zero-length blob is still a blob, not NULL.
    static const uint8_t kEmpty = 0;
    sqlite3_bind_blob(stmt_.get(), index, blob.empty() ? &kEmpty : blob.data(),
                      static_cast<int>(blob.size()), SQLITE_TRANSIENT);
  }
  return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
  if (stmt_) sqlite3_bind_null(stmt_.get(), index);
  return *this;
}

int SqliteStatement::step() { return stmt_ ? sqlite3_step(stmt_.get()) : SQLITE_MISUSE; }

void SqliteStatement::reset() {
  if (stmt_) {
    sqlite3_reset(stmt_.get());
    sqlite3_clear_bindings(stmt_.get());
  }
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
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  SqliteHandle db(raw);
  if (rc != SQLITE_OK) {
    *error = kErrorIoFailed;
    return nullptr;
  }
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  sqlite3_extended_result_codes(db.get(), 1);
  // WAL with synchronous=NORMAL: a crash of the process never loses a commit
  // or corrupts the file; a power failure may lose the last commits.
  // The switch to WAL can report "locked" at once while another process
  // opens the same new file; retry it for the busy timeout.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    const int walRc =
        sqlite3_exec(db.get(), "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;", nullptr,
                     nullptr, nullptr);
    if (walRc == SQLITE_OK) break;
    if ((walRc & 0xFF) == SQLITE_NOTADB || (walRc & 0xFF) == SQLITE_CORRUPT) {
      *error = kErrorBadDb;
      return nullptr;
    }
    if (((walRc & 0xFF) != SQLITE_BUSY && (walRc & 0xFF) != SQLITE_LOCKED) ||
        std::chrono::steady_clock::now() > deadline) {
      *error = kErrorIoFailed;
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return std::make_shared<PlatformDatabase>(ConstructionToken(), std::move(db), path);
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
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (std::find(schemas_.begin(), schemas_.end(), name) != schemas_.end()) return true;
  const std::string sql(statements);
  const bool ok = writeTransaction([&] {
    return sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  });
  if (ok) schemas_.emplace_back(name);
  return ok;
}

bool PlatformDatabase::writeTransaction(const std::function<bool()>& work) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return false;
  }
  bool ok = false;
  try {
    ok = work();
  } catch (...) {
    ok = false;
  }
  if (ok && sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
    return true;
  }
  sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

}  // namespace quorvant
