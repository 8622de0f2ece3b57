// The SQLite layer against real database files: how failures surface, what
// an empty blob is, what an unfinished transaction leaves, and the numbers
// stores report for files that are not databases or cannot be opened.
#include "base/sqlite.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/win32_errors.h"

namespace quorvant {
namespace {

class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qv-sqlite-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  SqliteHandle Open(const std::string& name) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path).close();  // the stores create their files themselves
    Result<SqliteHandle> db = OpenSqlite(path, SQLITE_OPEN_READWRITE);
    EXPECT_TRUE(db.ok());
    return db.ok() ? std::move(*db) : SqliteHandle();
  }

  std::filesystem::path dir_;
};

TEST_F(SqliteTest, PrepareAndBindFailuresSurfaceThroughStep) {
  SqliteHandle db = Open("a.db");
  ASSERT_EQ(sqlite3_exec(db.get(), "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
  struct Case {
    const char* sql;
    int bindIndex;
    int expected;
  } cases[] = {
      {"SELEC x FROM t", 1, SQLITE_ERROR},         // does not prepare
      {"SELECT x FROM t WHERE x = ?1", 2, SQLITE_RANGE},  // no such parameter
      {"SELECT x FROM t WHERE x = ?1", 1, SQLITE_DONE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    SqliteStatement statement(db.get(), c.sql);
    EXPECT_EQ(statement.bind(c.bindIndex, int64_t{1}).step(), c.expected);
  }
  EXPECT_EQ(Win32FromSqlite(db.get(), SQLITE_ERROR), win32::kErrorRegistryIoFailed);
}

TEST_F(SqliteTest, AnEmptyBlobIsABlobAndAnUncommittedTransactionRollsBack) {
  SqliteHandle db = Open("b.db");
  ASSERT_EQ(sqlite3_exec(db.get(), "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
  {
    SqliteTransaction transaction(db.get());
    ASSERT_EQ(transaction.begin(/*write=*/true), SQLITE_OK);
    SqliteStatement insert(db.get(), "INSERT INTO t VALUES(?1)");
    ASSERT_EQ(insert.bind(1, std::span<const uint8_t>()).step(), SQLITE_DONE);
    ASSERT_EQ(transaction.commit(), SQLITE_OK);
  }
  {
    SqliteTransaction abandoned(db.get());
    ASSERT_EQ(abandoned.begin(/*write=*/true), SQLITE_OK);
    SqliteStatement insert(db.get(), "INSERT INTO t VALUES(2)");
    ASSERT_EQ(insert.step(), SQLITE_DONE);
  }
  SqliteStatement select(db.get(), "SELECT x, typeof(x) FROM t");
  ASSERT_EQ(select.step(), SQLITE_ROW);
  EXPECT_FALSE(select.columnIsNull(0));
  EXPECT_EQ(select.columnText(1), "blob");
  EXPECT_TRUE(select.columnBlob(0).empty());
  EXPECT_EQ(select.step(), SQLITE_DONE);  // the abandoned row is gone
}

TEST_F(SqliteTest, FilesThatAreNotDatabasesOrCannotBeOpened) {
  const std::string text = (dir_ / "notes.txt").string();
  std::ofstream(text) << std::string(4096, 'x');
  Result<SqliteHandle> notes = OpenSqlite(text, SQLITE_OPEN_READWRITE);
  ASSERT_TRUE(notes.ok());  // SQLite reads the header only when asked
  const int rc = SqliteExecRetryingBusy(notes->get(), "PRAGMA journal_mode=WAL");
  EXPECT_EQ(ClassifySqliteError(rc), SqliteFailure::kCorrupt);
  EXPECT_EQ(Win32FromSqlite(notes->get(), rc), win32::kErrorBaddb);

  Result<SqliteHandle> missing =
      OpenSqlite((dir_ / "no" / "such.db").string(), SQLITE_OPEN_READWRITE);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.outcome().systemError(), win32::kErrorRegistryIoFailed);

  // Plain SQLITE_READONLY is a refused write; its extended forms are I/O.
  EXPECT_EQ(ClassifySqliteError(SQLITE_READONLY), SqliteFailure::kReadOnly);
  EXPECT_EQ(ClassifySqliteError(SQLITE_READONLY_DBMOVED), SqliteFailure::kIo);
  EXPECT_EQ(ClassifySqliteError(SQLITE_BUSY_SNAPSHOT), SqliteFailure::kBusy);
}

}  // namespace
}  // namespace quorvant
