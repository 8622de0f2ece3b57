// What the key database leaves on disk: nothing of a deleted key, nothing of
// a crashed process's temporary containers, nothing through a path another
// user planted.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "base/user_messages.h"
#include "base/win32_errors.h"
#include "platform/stores/key_container_store.h"
#include "platform/database/platform_database.h"

namespace quorvant {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

class KeyResidueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv-residue-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "platform.db").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::shared_ptr<PlatformDatabase> open() {
    uint32_t error = 0;
    auto db = PlatformDatabase::Open(path_, &error);
    EXPECT_NE(db, nullptr) << error;
    return db;
  }
  // Every file of the data directory that holds `bytes`.
  std::vector<std::string> filesHolding(const std::string& bytes) const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      if (Slurp(entry.path()).find(bytes) != std::string::npos) {
        found.push_back(entry.path().filename().string());
      }
    }
    return found;
  }

  fs::path dir_;
  std::string path_;
};

// A recognisable stand-in for key bytes, unlikely anywhere by chance.
std::vector<uint8_t> Marker(char tag) {
  std::vector<uint8_t> bytes(96);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(tag * 31 + i * 7);
  return bytes;
}

std::string AsText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST_F(KeyResidueTest, DeletedKeysLeaveNoBytesInTheDatabaseOrItsJournal) {
  auto db = open();
  auto other = open();  // another process's idle connection keeps the journal alive
  KeyContainerStore store(db);
  ASSERT_EQ(store.prepare(), 0u);
  KeyContainerStore otherStore(other);
  ASSERT_EQ(otherStore.prepare(), 0u);
  const auto kept = Marker('k');
  const auto removed = Marker('r');
  KeyContainerStore::Container a, b;
  ASSERT_EQ(store.create("kept", "p", &a), 0u);
  ASSERT_EQ(store.putKey(a.id, 1, 0, kept), 0u);
  ASSERT_EQ(store.create("removed", "p", &b), 0u);
  ASSERT_EQ(store.putKey(b.id, 1, 0, removed), 0u);
  ASSERT_FALSE(filesHolding(AsText(removed)).empty());  // the check can see it

  ASSERT_EQ(store.remove("removed"), 0u);
  EXPECT_EQ(filesHolding(AsText(removed)), std::vector<std::string>());
  // The other key is still there and readable from the other connection.
  KeyContainerStore::StoredKey key;
  ASSERT_EQ(otherStore.getKey(a.id, 1, &key), 0u);
  EXPECT_EQ(std::vector<uint8_t>(key.blob.data(), key.blob.data() + key.blob.size()), kept);
}

TEST_F(KeyResidueTest, SweepRemovesTheTemporaryContainersOfDeadProcessesOnly) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);  // its id now names no process
  {
    auto db = open();
    KeyContainerStore store(db);
    ASSERT_EQ(store.prepare(), 0u);
    for (const char* name : {"dead", "reused", "live", "kept", "plain"}) {
      KeyContainerStore::Container c;
      ASSERT_EQ(store.create(name, "p", &c), 0u);
      ASSERT_EQ(store.putKey(c.id, 1, 0, Marker(name[0])), 0u);
    }
    ASSERT_EQ(store.markTemporary("live"), 0u);
    ASSERT_EQ(store.markTemporary("kept"), 0u);
    ASSERT_EQ(store.keep("kept"), 0u);
    EXPECT_EQ(store.markTemporary("missing"), win32::kNteBadKeyset);
    // Marks as a crashed process leaves them: one whose id is free, one
    // whose id a later process (this one) was given.
    ASSERT_EQ(sqlite3_exec(db->handle(),
                           ("INSERT INTO temporary_containers SELECT id, " +
                            std::to_string(child) +
                            ", 1 FROM key_containers WHERE fold = 'dead';"
                            "INSERT INTO temporary_containers SELECT id, " +
                            std::to_string(getpid()) +
                            ", -5 FROM key_containers WHERE fold = 'reused';")
                               .c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
  auto later = open();
  KeyContainerStore store(later);
  ASSERT_EQ(store.prepare(), 0u);  // the sweep runs here
  struct {
    const char* name;
    bool survives;
  } expected[] = {{"dead", false}, {"reused", false}, {"live", true}, {"kept", true},
                  {"plain", true}};
  for (const auto& e : expected) {
    KeyContainerStore::Container c;
    EXPECT_EQ(store.open(e.name, &c) == 0, e.survives) << e.name;
    EXPECT_EQ(filesHolding(AsText(Marker(e.name[0]))).empty(), !e.survives) << e.name;
  }
}

TEST_F(KeyResidueTest, UnsafeDirectoryOrPlantedFilesAreRefused) {
  const std::string victim = (dir_ / "victim").string();
  std::ofstream(victim) << "someone else's";
  struct Case {
    const char* name;
    std::function<void(const fs::path& home)> setUp;
  } cases[] = {
      {"home others may write",
       [](const fs::path& home) {
         fs::create_directory(home);
         fs::permissions(home, fs::perms::all);
       }},
      {"database owned by another user",
       [](const fs::path& home) {
         fs::create_directory(home);
         std::ofstream(home / "platform.db").close();
         if (geteuid() == 0) {
           ASSERT_EQ(chown((home / "platform.db").c_str(), 65534, 65534), 0);
         } else {
           fs::permissions(home / "platform.db", fs::perms::all);  // 0666 stands in
         }
       }},
      {"link planted as the database",
       [&](const fs::path& home) {
         fs::create_directory(home);
         fs::create_symlink(victim, home / "platform.db");
       }},
      {"link planted as the shared-memory index",
       [&](const fs::path& home) {
         fs::create_directory(home);
         fs::create_symlink(victim, home / "platform.db-shm");
       }},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path home = dir_ / ("home" + std::to_string(n++));
    c.setUp(home);
    ScopedUserMessageCapture capture;
    uint32_t error = 0;
    EXPECT_EQ(PlatformDatabase::Open((home / "platform.db").string(), &error), nullptr);
    EXPECT_EQ(error, win32::kErrorAccessDenied);
    ASSERT_FALSE(capture.messages().empty());
    EXPECT_NE(capture.messages()[0].find(home.string()), std::string::npos);
  }
  EXPECT_EQ(Slurp(victim), "someone else's");
}

}  // namespace
}  // namespace quorvant
