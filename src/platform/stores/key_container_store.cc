#include "platform/stores/key_container_store.h"

#include <fcntl.h>
#include <string.h>  // explicit_bzero
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <mutex>
#include <utility>
#include <vector>

#include "base/unique_fd.h"
#include "base/win32_errors.h"

namespace quorvant {
namespace {

constexpr char kSchemaName[] = "key_containers";
// AUTOINCREMENT: an id is never given out twice, so a context whose
// container was deleted cannot reach the keys of a later container that
// happens to get the same name.
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS key_containers("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  name TEXT NOT NULL,"
    "  fold TEXT NOT NULL UNIQUE,"
    "  provider TEXT NOT NULL,"
    "  created INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS container_keys("
    "  container INTEGER NOT NULL REFERENCES key_containers(id) ON DELETE CASCADE,"
    "  key_spec INTEGER NOT NULL,"
    "  flags INTEGER NOT NULL,"
    "  blob BLOB NOT NULL,"
    "  PRIMARY KEY(container, key_spec));"
    // Containers a process made for the moment (the keys of a PFX file
    // being imported) and removes again when done: the process by its id
    // and start time, so a sweep can tell a live owner from a dead one
    // whose id has been given out again.
    "CREATE TABLE IF NOT EXISTS temporary_containers("
    "  container INTEGER PRIMARY KEY REFERENCES key_containers(id) ON DELETE CASCADE,"
    "  pid INTEGER NOT NULL,"
    "  started INTEGER NOT NULL);";
constexpr char kSweepName[] = "key_containers.sweep";

// Container names compare without regard to ASCII case; other bytes (UTF-8
// sequences included) compare exactly.
std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// When the process started, in clock ticks since boot (the 22nd field of
// /proc/PID/stat); nothing when there is no such process.
std::optional<int64_t> ProcessStartTime(int64_t pid) {
  char path[40];
  std::snprintf(path, sizeof(path), "/proc/%lld/stat", static_cast<long long>(pid));
  UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  char text[1024];
  ssize_t length;
  do {
    length = ::read(fd.get(), text, sizeof(text) - 1);
  } while (length < 0 && errno == EINTR);
  if (length <= 0) return std::nullopt;
  text[length] = '\0';
  // The command name in parentheses may hold spaces and parentheses itself:
  // the fields that follow start after the last ')'.
  const char* field = std::strrchr(text, ')');
  if (field == nullptr) return std::nullopt;
  for (int skip = 0; skip < 20; ++skip) {  // state (3rd) ... starttime (22nd)
    field = std::strchr(field + 1, ' ');
    if (field == nullptr) return std::nullopt;
  }
  char* end = nullptr;
  const long long started = std::strtoll(field + 1, &end, 10);
  if (end == field + 1) return std::nullopt;
  return started;
}

// Not cached: a child after fork() has an id and start time of its own.
int64_t OwnStartTime() { return ProcessStartTime(::getpid()).value_or(0); }

}  // namespace

KeyContainerStore::KeyContainerStore(std::shared_ptr<PlatformDatabase> db) : db_(std::move(db)) {}

uint32_t KeyContainerStore::MapSqliteError(int rc) {
  switch (ClassifySqliteError(rc)) {
    case SqliteFailure::kNone:
      return 0;
    case SqliteFailure::kBusy:
      return win32::kErrorBusy;
    case SqliteFailure::kReadOnly:
    case SqliteFailure::kDenied:
    case SqliteFailure::kCantOpen:
      return win32::kNtePerm;
    case SqliteFailure::kNoMemory:
      return win32::kNteNoMemory;
    default:
      return win32::kNteFail;
  }
}

uint32_t KeyContainerStore::lastError() const {
  const uint32_t error = MapSqliteError(sqlite3_extended_errcode(db_->handle()));
  return error != 0 ? error : win32::kNteFail;
}

uint32_t KeyContainerStore::prepare() {
  if (!db_->ensureSchema(kSchemaName, kSchema)) return lastError();
  // Once per connection: the containers a crashed process left behind go.
  // A failure here leaves them for the next connection and fails nothing.
  if (!db_->inMemory()) static_cast<void>(db_->runOnce(kSweepName, [&] {
    sweepTemporary();
    return true;
  }));
  return 0;
}

uint32_t KeyContainerStore::markTemporary(std::string_view name) {
  const int64_t marks[] = {static_cast<int64_t>(::getpid()), OwnStartTime()};
  return changeNamedContainer(
      "INSERT OR REPLACE INTO temporary_containers(container, pid, started) "
      "SELECT id, ?2, ?3 FROM key_containers WHERE fold = ?1",
      name, marks);
}

uint32_t KeyContainerStore::changeNamedContainer(const char* sql, std::string_view name,
                                                 std::span<const int64_t> more) {
  uint32_t error = 0;
  const bool ok = db_->writeTransaction([&] {
    SqliteStatement change(db_->handle(), sql);
    change.bind(1, Fold(name));
    for (size_t i = 0; i < more.size(); ++i) change.bind(static_cast<int>(i) + 2, more[i]);
    const int rc = change.step();
    if (rc != SQLITE_DONE) {
      error = MapSqliteError(rc);
      return false;
    }
    if (sqlite3_changes(db_->handle()) == 0) {
      error = win32::kNteBadKeyset;
      return false;
    }
    return true;
  });
  return ok ? 0 : (error != 0 ? error : lastError());
}

uint32_t KeyContainerStore::keep(std::string_view name) {
  uint32_t error = 0;
  const bool ok = db_->writeTransaction([&] {
    SqliteStatement del(db_->handle(),
                        "DELETE FROM temporary_containers WHERE container = "
                        "(SELECT id FROM key_containers WHERE fold = ?1)");
    const int rc = del.bind(1, Fold(name)).step();
    if (rc == SQLITE_DONE) return true;
    error = MapSqliteError(rc);
    return false;
  });
  return ok ? 0 : (error != 0 ? error : lastError());
}

int KeyContainerStore::sweepTemporary() {
  struct Mark {
    int64_t container, pid, started;
  };
  std::vector<Mark> dead;
  {
    std::lock_guard<std::recursive_mutex> lock(db_->mutex());
    SqliteStatement select(db_->handle(),
                           "SELECT container, pid, started FROM temporary_containers");
    while (select.step() == SQLITE_ROW) {
      const Mark mark{select.columnInt(0), select.columnInt(1), select.columnInt(2)};
      if (ProcessStartTime(mark.pid) != std::optional<int64_t>(mark.started)) {
        dead.push_back(mark);
      }
    }
  }
  if (dead.empty()) return 0;
  int removed = 0;
  const bool ok = db_->writeTransaction([&] {
    // Only marks unchanged since they were read: a live process may have
    // taken over a container (kept it) meanwhile.
    SqliteStatement del(db_->handle(),
                        "DELETE FROM key_containers WHERE id = ?1 AND id IN "
                        "(SELECT container FROM temporary_containers "
                        " WHERE container = ?1 AND pid = ?2 AND started = ?3)");
    for (const Mark& mark : dead) {
      del.reset();
      if (del.bind(1, mark.container).bind(2, mark.pid).bind(3, mark.started).step() !=
          SQLITE_DONE) {
        return false;
      }
      removed += sqlite3_changes(db_->handle());
    }
    return true;
  });
  if (!ok) return 0;
  if (removed > 0) db_->checkpoint();
  return removed;
}

uint32_t KeyContainerStore::create(std::string_view name, std::string_view provider,
                                   Container* out) {
  uint32_t error = 0;
  int64_t id = 0;
  const bool ok = db_->writeTransaction([&] {
    SqliteStatement insert(db_->handle(),
                           "INSERT INTO key_containers(name, fold, provider, created) "
                           "VALUES(?1, ?2, ?3, ?4)");
    const int rc = insert.bind(1, name)
                       .bind(2, Fold(name))
                       .bind(3, provider)
                       .bind(4, static_cast<int64_t>(std::time(nullptr)))
                       .step();
    if (rc == SQLITE_DONE) {
      id = sqlite3_last_insert_rowid(db_->handle());
      return true;
    }
    error = (rc & 0xFF) == SQLITE_CONSTRAINT ? win32::kNteExists : MapSqliteError(rc);
    return false;
  });
  if (!ok) return error != 0 ? error : lastError();
  out->id = id;
  out->name = std::string(name);
  out->provider = std::string(provider);
  return 0;
}

uint32_t KeyContainerStore::open(std::string_view name, Container* out) {
  std::lock_guard<std::recursive_mutex> lock(db_->mutex());
  SqliteStatement select(db_->handle(),
                         "SELECT id, name, provider FROM key_containers WHERE fold = ?1");
  const int rc = select.bind(1, Fold(name)).step();
  if (rc == SQLITE_DONE) return win32::kNteBadKeyset;
  if (rc != SQLITE_ROW) return lastError();
  out->id = select.columnInt(0);
  out->name = select.columnText(1);
  out->provider = select.columnText(2);
  return 0;
}

uint32_t KeyContainerStore::remove(std::string_view name) {
  if (const uint32_t error = changeNamedContainer(
          "DELETE FROM key_containers WHERE fold = ?1", name, {})) {
    return error;
  }
  // The deleted key's bytes are overwritten in the database (secure_delete)
  // once the change reaches it, and the journal that still holds them is
  // emptied.
  db_->checkpoint();
  return 0;
}

uint32_t KeyContainerStore::putKey(int64_t container, uint32_t keySpec, uint32_t flags,
                                   std::span<const uint8_t> blob) {
  uint32_t error = 0;
  const bool ok = db_->writeTransaction([&] {
    SqliteStatement upsert(db_->handle(),
                           "INSERT INTO container_keys(container, key_spec, flags, blob) "
                           "VALUES(?1, ?2, ?3, ?4) ON CONFLICT(container, key_spec) "
                           "DO UPDATE SET flags = excluded.flags, blob = excluded.blob");
    const int rc = upsert.bind(1, container)
                       .bind(2, static_cast<int64_t>(keySpec))
                       .bind(3, static_cast<int64_t>(flags))
                       .bind(4, blob)
                       .step();
    if (rc == SQLITE_DONE) return true;
    // The only constraint that can fail is the container reference.
    error = (rc & 0xFF) == SQLITE_CONSTRAINT ? win32::kNteBadKeyset : MapSqliteError(rc);
    return false;
  });
  return ok ? 0 : (error != 0 ? error : lastError());
}

uint32_t KeyContainerStore::getKey(int64_t container, uint32_t keySpec, StoredKey* out) {
  std::lock_guard<std::recursive_mutex> lock(db_->mutex());
  SqliteStatement select(db_->handle(),
                         "SELECT flags, blob FROM container_keys "
                         "WHERE container = ?1 AND key_spec = ?2");
  const int rc = select.bind(1, container).bind(2, static_cast<int64_t>(keySpec)).step();
  if (rc == SQLITE_ROW) {
    out->flags = static_cast<uint32_t>(select.columnInt(0));
    std::vector<uint8_t> blob = select.columnBlob(1);
    const bool copied = out->blob.append(blob);
    explicit_bzero(blob.data(), blob.size());
    return copied ? 0 : win32::kNteKeysetEntryBad;
  }
  if (rc != SQLITE_DONE) return lastError();
  SqliteStatement exists(db_->handle(), "SELECT 1 FROM key_containers WHERE id = ?1");
  const int existsRc = exists.bind(1, container).step();
  if (existsRc == SQLITE_ROW) return win32::kNteNoKey;
  return existsRc == SQLITE_DONE ? win32::kNteBadKeyset : lastError();
}

}  // namespace quorvant
