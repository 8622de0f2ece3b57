// The registry on SQLite: one database file per root (hive).
//
// Schema: reg_keys is the tree, row 1 the hive's root; reg_values hangs off
// it. Both tables keep the spelling a name was created with next to its
// folded form (registry_names.h), which is what lookups and uniqueness use.
// Enumeration follows creation order: keys by id, values by rowid (an update
// is an upsert, so a replaced value keeps its rowid and its place).
//
// Concurrency: the file is the only shared state. Every change runs in one
// BEGIN IMMEDIATE transaction, which takes the write lock up front (waiting
// up to kSqliteBusyTimeoutMs) so two writers never deadlock upgrading read locks;
// multi-step reads run in one read transaction so they see one snapshot.
#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <unordered_set>
#include <utility>

#include "host/registry/data_paths.h"
#include "host/registry/registry.h"
#include "host/registry/registry_names.h"
#include "base/sqlite.h"
#include "base/unique_fd.h"

namespace quorvant {
namespace {

using Components = std::vector<std::string>;

constexpr int64_t kRootId = 1;
// PRAGMA application_id marks the file as ours ("QVRG"), so another
// program's SQLite database is reported as damaged, not silently extended.
constexpr int64_t kApplicationId = 0x51565247;
constexpr int64_t kSchemaVersion = 1;

constexpr const char kSchema[] =
    "CREATE TABLE reg_keys("
    "  id INTEGER PRIMARY KEY,"
    "  parent INTEGER REFERENCES reg_keys(id),"
    "  name TEXT NOT NULL,"
    "  fold TEXT NOT NULL,"
    "  UNIQUE(parent, fold));"
    "CREATE TABLE reg_values("
    "  key INTEGER NOT NULL REFERENCES reg_keys(id),"
    "  name TEXT NOT NULL,"
    "  fold TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key, fold));"
    "INSERT INTO reg_keys(id, parent, name, fold) VALUES(1, NULL, '', '');";

// The key and everything below it, for the two deletes of deleteTree.
constexpr const char kSubtree[] =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
    "SELECT k.id FROM reg_keys k JOIN sub ON k.parent = sub.id) ";

enum class HiveKind { kUser, kMachine };

struct Subkey {
  std::string name;
  std::string fold;
};

// One database file. Not thread-safe: SqliteRegistry serialises calls.
class Hive {
 public:
  Hive(std::string path, HiveKind kind, bool writable, int busyTimeoutMs)
      : path_(std::move(path)), kind_(kind), writable_(writable), busyTimeoutMs_(busyTimeoutMs) {}
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  uint32_t keyExists(const Components& key) {
    return read(key, reg::kErrSuccess, [](int64_t) { return 0u; });
  }

  uint32_t createKey(const Components& key) {
    return write([&] {
      int64_t id = 0;
      return walk(key, /*create=*/true, &id);
    });
  }

  uint32_t queryValue(const Components& key, std::string_view name,
                      RegValue* out) {
    std::string fold = FoldName(name);
    return read(key, reg::kErrFileNotFound, [&](int64_t id) -> uint32_t {
      SqliteStatement q(db_.get(),
              "SELECT type, data FROM reg_values WHERE key = ? AND fold = ?");
      int rc = q.bind(1, id).bind(2, fold).step();
      if (rc == SQLITE_DONE) return reg::kErrFileNotFound;
      if (rc != SQLITE_ROW) return error(rc);
      if (out != nullptr) {
        out->type = static_cast<uint32_t>(q.columnInt(0));
        out->data = q.columnBlob(1);
      }
      return reg::kErrSuccess;
    });
  }

  uint32_t setValue(const Components& key, std::string_view name, uint32_t type,
                    std::span<const uint8_t> data) {
    std::string fold = FoldName(name);
    return write([&]() -> uint32_t {
      int64_t id = 0;
      if (uint32_t err = walk(key, /*create=*/false, &id)) return err;
      SqliteStatement q(db_.get(),
              "INSERT INTO reg_values(key, name, fold, type, data) "
              "VALUES(?, ?, ?, ?, ?) ON CONFLICT(key, fold) DO UPDATE SET "
              "type = excluded.type, data = excluded.data");
      return stepDone(
          q.bind(1, id).bind(2, name).bind(3, fold).bind(4, int64_t{type}).bind(5, data));
    });
  }

  uint32_t deleteValue(const Components& key, std::string_view name) {
    std::string fold = FoldName(name);
    return write([&]() -> uint32_t {
      int64_t id = 0;
      if (uint32_t err = walk(key, /*create=*/false, &id)) return err;
      SqliteStatement q(db_.get(), "DELETE FROM reg_values WHERE key = ? AND fold = ?");
      if (uint32_t err = stepDone(q.bind(1, id).bind(2, fold))) return err;
      return sqlite3_changes(db_.get()) == 0 ? reg::kErrFileNotFound
                                             : reg::kErrSuccess;
    });
  }

  uint32_t enumSubkey(const Components& key, uint32_t index,
                      std::string* name) {
    return read(key, reg::kErrNoMoreItems, [&](int64_t id) -> uint32_t {
      SqliteStatement q(db_.get(),
              "SELECT name FROM reg_keys WHERE parent = ? ORDER BY id "
              "LIMIT 1 OFFSET ?");
      int rc = q.bind(1, id).bind(2, int64_t{index}).step();
      if (rc == SQLITE_DONE) return reg::kErrNoMoreItems;
      if (rc != SQLITE_ROW) return error(rc);
      *name = q.columnText(0);
      return reg::kErrSuccess;
    });
  }

  uint32_t listSubkeys(const Components& key, std::vector<Subkey>* out) {
    out->clear();
    return read(key, reg::kErrSuccess, [&](int64_t id) -> uint32_t {
      SqliteStatement q(db_.get(),
              "SELECT name, fold FROM reg_keys WHERE parent = ? ORDER BY id");
      q.bind(1, id);
      int rc;
      while ((rc = q.step()) == SQLITE_ROW) {
        out->push_back(Subkey{q.columnText(0), q.columnText(1)});
      }
      return rc == SQLITE_DONE ? reg::kErrSuccess : error(rc);
    });
  }

  uint32_t enumValue(const Components& key, uint32_t index, std::string* name,
                     RegValue* value) {
    return read(key, reg::kErrNoMoreItems, [&](int64_t id) -> uint32_t {
      SqliteStatement q(db_.get(),
              "SELECT name, type, data FROM reg_values WHERE key = ? "
              "ORDER BY rowid LIMIT 1 OFFSET ?");
      int rc = q.bind(1, id).bind(2, int64_t{index}).step();
      if (rc == SQLITE_DONE) return reg::kErrNoMoreItems;
      if (rc != SQLITE_ROW) return error(rc);
      *name = q.columnText(0);
      if (value != nullptr) {
        value->type = static_cast<uint32_t>(q.columnInt(1));
        value->data = q.columnBlob(2);
      }
      return reg::kErrSuccess;
    });
  }

  // The caller has refused the hive's root key already.
  uint32_t deleteKey(const Components& key, bool tree) {
    return write([&]() -> uint32_t {
      int64_t id = 0;
      if (uint32_t err = walk(key, /*create=*/false, &id)) return err;
      if (!tree) {
        SqliteStatement child(db_.get(), "SELECT 1 FROM reg_keys WHERE parent = ?");
        int rc = child.bind(1, id).step();
        if (rc == SQLITE_ROW) return reg::kErrAccessDenied;
        if (rc != SQLITE_DONE) return error(rc);
      }
      SqliteStatement values(db_.get(), std::string(kSubtree) +
                                  "DELETE FROM reg_values WHERE key IN sub");
      if (uint32_t err = stepDone(values.bind(1, id))) return err;
      SqliteStatement keys(db_.get(), std::string(kSubtree) +
                                "DELETE FROM reg_keys WHERE id IN sub");
      return stepDone(keys.bind(1, id));
    });
  }

 private:
  // Runs fn(keyId) inside a read transaction. When the file does not exist
  // (or was never initialised), the user's hive answers as an empty root:
  // `emptyRoot` for the root itself, kErrFileNotFound below it; the machine's
  // hive answers kErrFileNotFound for every key.
  template <typename Fn>
  uint32_t read(const Components& key, uint32_t emptyRoot, Fn&& fn) {
    bool absent = false;
    if (uint32_t err = connect(/*forWrite=*/false, &absent)) return err;
    if (absent) {
      return (kind_ == HiveKind::kUser && key.empty()) ? emptyRoot
                                                       : reg::kErrFileNotFound;
    }
    SqliteTransaction txn(db_.get());
    if (int rc = txn.begin(/*write=*/false)) return error(rc);
    int64_t id = 0;
    if (uint32_t err = walk(key, /*create=*/false, &id)) return err;
    return fn(id);
  }

  // Runs fn() inside a write transaction and commits when it returns 0.
  template <typename Fn>
  uint32_t write(Fn&& fn) {
    if (!writable_) return reg::kErrAccessDenied;
    bool absent = false;
    if (uint32_t err = connect(/*forWrite=*/true, &absent)) return err;
    SqliteTransaction txn(db_.get());
    if (int rc = txn.begin(/*write=*/true)) return error(rc);
    if (uint32_t err = fn()) return err;
    if (int rc = txn.commit()) return error(rc);
    return reg::kErrSuccess;
  }

  // Finds the key (or creates its missing levels) inside a transaction.
  uint32_t walk(const Components& key, bool create, int64_t* id) {
    int64_t current = kRootId;
    for (const std::string& part : key) {
      std::string fold = FoldName(part);
      SqliteStatement find(db_.get(),
                 "SELECT id FROM reg_keys WHERE parent = ? AND fold = ?");
      int rc = find.bind(1, current).bind(2, fold).step();
      if (rc == SQLITE_ROW) {
        current = find.columnInt(0);
        continue;
      }
      if (rc != SQLITE_DONE) return error(rc);
      if (!create) return reg::kErrFileNotFound;
      SqliteStatement insert(db_.get(),
                   "INSERT INTO reg_keys(parent, name, fold) VALUES(?, ?, ?)");
      if (uint32_t err = stepDone(insert.bind(1, current).bind(2, part).bind(3, fold))) {
        return err;
      }
      current = sqlite3_last_insert_rowid(db_.get());
    }
    *id = current;
    return reg::kErrSuccess;
  }

  uint32_t stepDone(SqliteStatement& q) {
    int rc = q.step();
    return rc == SQLITE_DONE ? reg::kErrSuccess : error(rc);
  }
  uint32_t error(int rc) const { return Win32FromSqlite(db_.get(), rc); }

  // Makes db_ usable, or sets *absent when a read finds no database.
  uint32_t connect(bool forWrite, bool* absent) {
    if (db_ && owner_ != getpid()) {
      // Inherited across fork(): the connection is the parent's. Closing it
      // would release the parent's POSIX locks on the file, so it is
      // abandoned and this process opens its own.
      static_cast<void>(db_.release());
    }
    if (db_) return reg::kErrSuccess;
    if (path_.empty()) {
      if (forWrite) return reg::kErrRegistryIoFailed;
      *absent = true;
      return reg::kErrSuccess;
    }
    if (forWrite) {
      if (uint32_t err = createFile()) return err;
    } else {
      UniqueFd existing;
      int err = 0;
      if (!OpenDataFile(path_, O_RDONLY, 0, owner(), &existing, &err)) {
        if (err != ENOENT && err != ENOTDIR) return Win32FromFileErrno(err);
        *absent = true;
        return reg::kErrSuccess;
      }
    }
    if (int err = 0; !CheckDatabaseSideFiles(path_, owner(), &err)) {
      return Win32FromFileErrno(err);
    }
    // The file exists now, so SQLite is not asked to create it: it would do
    // so with the umask's permissions.
    const int flags = (writable_ ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) |
                      SQLITE_OPEN_NOMUTEX;
    Result<SqliteHandle> opened = OpenSqlite(path_, flags);
    if (!opened.ok()) return opened.outcome().systemError();
    SqliteHandle db = std::move(*opened);
    sqlite3_busy_timeout(db.get(), busyTimeoutMs_);
    bool initialised = false;
    if (uint32_t err = configure(db.get(), &initialised)) return err;
    if (!initialised) {
      // Read-only and still empty: as good as absent. Not kept, so a later
      // call sees the database once its owner has created it.
      *absent = true;
      return reg::kErrSuccess;
    }
    db_ = std::move(db);
    owner_ = getpid();
    return reg::kErrSuccess;
  }

  // Creates the directory and an empty file with this hive's permissions,
  // or checks the ones there. SQLite creates -wal, -shm and -journal with
  // the permissions of the main file, so those follow.
  uint32_t createFile() {
    const bool user = kind_ == HiveKind::kUser;
    size_t slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0) {
      std::string dir = path_.substr(0, slash);
      int err = 0;
      bool ok = user ? EnsurePrivateDirectory(dir, &err) : EnsureMachineDirectory(dir, &err);
      if (!ok) return Win32FromFileErrno(err);
    }
    UniqueFd file;
    int err = 0;
    if (!OpenDataFile(path_, O_RDWR, user ? 0600 : 0644, owner(), &file, &err)) {
      return Win32FromFileErrno(err);
    }
    return reg::kErrSuccess;
  }

  DataOwner owner() const {
    return kind_ == HiveKind::kUser ? DataOwner::kUser : DataOwner::kUserOrRoot;
  }

  static uint32_t PragmaInt(sqlite3* db, const char* sql, int64_t* out) {
    SqliteStatement q(db, sql);
    int rc = q.step();
    if (rc != SQLITE_ROW) return Win32FromSqlite(db, rc);
    *out = q.columnInt(0);
    return reg::kErrSuccess;
  }

  // Journal mode, then the schema: checked, or created in an empty file.
  uint32_t configure(sqlite3* db, bool* initialised) {
    *initialised = false;
    if (writable_) {
      const char* setup =
          kind_ == HiveKind::kUser
              // NORMAL in WAL mode loses at most the last commits on power
              // failure, never consistency.
              ? "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
              : "PRAGMA journal_mode=DELETE;";
      int rc = SqliteExecRetryingBusy(db, setup);
      if (rc != SQLITE_OK) return Win32FromSqlite(db, rc);
    }
    int64_t app = 0;
    if (uint32_t err = PragmaInt(db, "PRAGMA application_id", &app)) {
      return err;
    }
    if (app == kApplicationId) return CheckVersion(db, initialised);
    if (app != 0) return reg::kErrBadDb;
    // Not marked: either new (no tables) or someone else's database. The
    // check is repeated under the write lock, since another process may be
    // creating the schema right now.
    SqliteTransaction txn(db);
    if (writable_) {
      if (int rc = txn.begin(/*write=*/true)) return Win32FromSqlite(db, rc);
      if (uint32_t err = PragmaInt(db, "PRAGMA application_id", &app)) {
        return err;
      }
      if (app == kApplicationId) return CheckVersion(db, initialised);
      if (app != 0) return reg::kErrBadDb;
    }
    int64_t tables = 0;
    if (uint32_t err =
            PragmaInt(db, "SELECT count(*) FROM sqlite_master", &tables)) {
      return err;
    }
    if (tables != 0) return reg::kErrBadDb;
    if (!writable_) return reg::kErrSuccess;
    const std::string marks =
        "PRAGMA application_id = " + std::to_string(kApplicationId) +
        "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
    int rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_exec(db, marks.c_str(), nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK) rc = txn.commit();
    if (rc != SQLITE_OK) return Win32FromSqlite(db, rc);
    *initialised = true;
    return reg::kErrSuccess;
  }

  static uint32_t CheckVersion(sqlite3* db, bool* initialised) {
    int64_t version = 0;
    if (uint32_t err = PragmaInt(db, "PRAGMA user_version", &version)) {
      return err;
    }
    if (version != kSchemaVersion) return reg::kErrBadDb;
    *initialised = true;
    return reg::kErrSuccess;
  }

  const std::string path_;
  const HiveKind kind_;
  const bool writable_;
  const int busyTimeoutMs_;
  SqliteHandle db_;
  pid_t owner_ = 0;
};

Components Prefixed(const Components& key) {
  Components out{"Software", "Classes"};
  out.insert(out.end(), key.begin(), key.end());
  return out;
}

class SqliteRegistry final : public Registry {
 public:
  explicit SqliteRegistry(const RegistryPaths& paths)
      : user_(paths.currentUser, HiveKind::kUser, true, paths.busyTimeoutMs),
        machine_(paths.localMachine, HiveKind::kMachine, paths.machineWritable,
                 paths.busyTimeoutMs) {}

  uint32_t createKey(RegRoot root, std::string_view path) override {
    return run(path, [&](const Components& key) {
      if (root == RegRoot::kClassesRoot) return user_.createKey(Prefixed(key));
      return hive(root).createKey(key);
    });
  }

  uint32_t keyExists(RegRoot root, std::string_view path) override {
    return run(path, [&](const Components& key) -> uint32_t {
      if (root != RegRoot::kClassesRoot) return hive(root).keyExists(key);
      if (key.empty()) return reg::kErrSuccess;  // HKCR always opens
      Hive* found = nullptr;
      return classesKey(key, &found);
    });
  }

  uint32_t queryValue(RegRoot root, std::string_view path,
                      std::string_view name, RegValue* out) override {
    if (uint32_t err = CheckValueName(name)) return err;
    return run(path, [&](const Components& key) -> uint32_t {
      if (root != RegRoot::kClassesRoot) {
        return hive(root).queryValue(key, name, out);
      }
      Hive* found = nullptr;
      if (uint32_t err = classesKey(key, &found)) return err;
      return found->queryValue(Prefixed(key), name, out);
    });
  }

  uint32_t setValue(RegRoot root, std::string_view path, std::string_view name,
                    uint32_t type, std::span<const uint8_t> data) override {
    if (uint32_t err = CheckValueName(name)) return err;
    if (data.size() > reg::kMaxValueBytes) return reg::kErrInvalidParameter;
    return run(path, [&](const Components& key) {
      if (root == RegRoot::kClassesRoot) {
        return user_.setValue(Prefixed(key), name, type, data);
      }
      return hive(root).setValue(key, name, type, data);
    });
  }

  uint32_t deleteValue(RegRoot root, std::string_view path,
                       std::string_view name) override {
    if (uint32_t err = CheckValueName(name)) return err;
    return run(path, [&](const Components& key) {
      if (root == RegRoot::kClassesRoot) {
        return user_.deleteValue(Prefixed(key), name);
      }
      return hive(root).deleteValue(key, name);
    });
  }

  uint32_t enumSubkey(RegRoot root, std::string_view path, uint32_t index,
                      std::string* name) override {
    if (name == nullptr) return reg::kErrInvalidParameter;
    return run(path, [&](const Components& key) -> uint32_t {
      if (root != RegRoot::kClassesRoot) {
        return hive(root).enumSubkey(key, index, name);
      }
      std::vector<Subkey> merged;
      if (uint32_t err = classesSubkeys(key, &merged)) return err;
      if (index >= merged.size()) return reg::kErrNoMoreItems;
      *name = std::move(merged[index].name);
      return reg::kErrSuccess;
    });
  }

  uint32_t enumValue(RegRoot root, std::string_view path, uint32_t index,
                     std::string* name, RegValue* value) override {
    if (name == nullptr) return reg::kErrInvalidParameter;
    return run(path, [&](const Components& key) -> uint32_t {
      if (root != RegRoot::kClassesRoot) {
        return hive(root).enumValue(key, index, name, value);
      }
      Hive* found = nullptr;
      if (uint32_t err = classesKey(key, &found)) return err;
      uint32_t err = found->enumValue(Prefixed(key), index, name, value);
      // An HKCR root with no Software\Classes on either side is empty.
      return (err == reg::kErrFileNotFound && key.empty())
                 ? reg::kErrNoMoreItems
                 : err;
    });
  }

  uint32_t deleteKey(RegRoot root, std::string_view path) override {
    return remove(root, path, /*tree=*/false);
  }

  uint32_t deleteTree(RegRoot root, std::string_view path) override {
    return remove(root, path, /*tree=*/true);
  }

 private:
  // Parses the path, serialises access, and keeps every exception inside.
  template <typename Fn>
  uint32_t run(std::string_view path, Fn&& fn) {
    try {
      Components key;
      if (uint32_t err = SplitKeyPath(path, &key)) return err;
      std::lock_guard<std::mutex> lock(mu_);
      return fn(key);
    } catch (const std::bad_alloc&) {
      return reg::kErrOutOfMemory;
    } catch (...) {
      return reg::kErrRegistryIoFailed;
    }
  }

  uint32_t remove(RegRoot root, std::string_view path, bool tree) {
    return run(path, [&](const Components& key) {
      if (key.empty()) return reg::kErrAccessDenied;
      if (root == RegRoot::kClassesRoot) {
        return user_.deleteKey(Prefixed(key), tree);
      }
      return hive(root).deleteKey(key, tree);
    });
  }

  Hive& hive(RegRoot root) {
    return root == RegRoot::kLocalMachine ? machine_ : user_;
  }

  // The hive that answers for HKCR\key: the user's when the key exists
  // there, else the machine's. The root of HKCR falls back to the user's
  // side even when neither has Software\Classes.
  uint32_t classesKey(const Components& key, Hive** found) {
    Components full = Prefixed(key);
    uint32_t err = user_.keyExists(full);
    if (err == reg::kErrSuccess) {
      *found = &user_;
      return err;
    }
    if (err != reg::kErrFileNotFound) return err;
    err = machine_.keyExists(full);
    if (err == reg::kErrSuccess) {
      *found = &machine_;
      return err;
    }
    if (err == reg::kErrFileNotFound && key.empty()) {
      *found = &user_;
      return reg::kErrSuccess;
    }
    return err;
  }

  // The user's subkeys, then those of the machine that the user lacks.
  uint32_t classesSubkeys(const Components& key, std::vector<Subkey>* out) {
    Components full = Prefixed(key);
    std::vector<Subkey> machine;
    uint32_t userErr = user_.listSubkeys(full, out);
    if (userErr != reg::kErrSuccess && userErr != reg::kErrFileNotFound) {
      return userErr;
    }
    uint32_t machineErr = machine_.listSubkeys(full, &machine);
    if (machineErr != reg::kErrSuccess && machineErr != reg::kErrFileNotFound) {
      return machineErr;
    }
    if (userErr != reg::kErrSuccess && machineErr != reg::kErrSuccess &&
        !key.empty()) {
      return reg::kErrFileNotFound;
    }
    std::unordered_set<std::string> seen;
    for (const Subkey& s : *out) seen.insert(s.fold);
    for (Subkey& s : machine) {
      if (seen.insert(s.fold).second) out->push_back(std::move(s));
    }
    return reg::kErrSuccess;
  }

  std::mutex mu_;
  Hive user_;
  Hive machine_;
};

}  // namespace

std::unique_ptr<Registry> OpenSqliteRegistry(const RegistryPaths& paths) {
  try {
    return std::make_unique<SqliteRegistry>(paths);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace quorvant
