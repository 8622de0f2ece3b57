#include "host/registry/registry.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "base/user_messages.h"
#include "host/registry/registry_names.h"
#include "support/join.h"

namespace quorvant {
namespace {

constexpr RegRoot kHkcu = RegRoot::kCurrentUser;
constexpr RegRoot kHklm = RegRoot::kLocalMachine;
constexpr RegRoot kHkcr = RegRoot::kClassesRoot;

std::vector<uint8_t> Bytes(std::string_view s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

mode_t Mode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Runs fn in a forked child and gives its result (fn's return value, or -1
// when the child did not exit normally). The child leaves with _exit, so
// nothing of the parent's (gtest, connections) is torn down twice.
int InChild(const std::function<int()>& fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RegistryNamesTest, SplitKeyPath) {
  const std::string longest(reg::kMaxKeyNameUnits, 'k');
  std::string wide;  // 255 characters of three UTF-8 bytes each
  for (size_t i = 0; i < reg::kMaxKeyNameUnits; ++i) wide += "鍵";
  auto levels = [](size_t n) {
    std::string path = "k";
    for (size_t i = 1; i < n; ++i) path += "\\k";
    return path;
  };
  const std::vector<std::string> deepest(reg::kMaxKeyDepth, "k");
  struct Case {
    std::string path;
    uint32_t err;
    std::vector<std::string> parts;
  } cases[] = {
      {"", 0, {}},
      {"a", 0, {"a"}},
      {"Software\\MORL\\QuorvantATL", 0, {"Software", "MORL", "QuorvantATL"}},
      {"a\\", 0, {"a"}},
      {"a b\\.\\..", 0, {"a b", ".", ".."}},
      {longest, 0, {longest}},
      {wide, 0, {wide}},
      {"\\", reg::kErrBadPathname, {}},
      {"\\a", reg::kErrBadPathname, {}},
      {"a\\\\b", reg::kErrBadPathname, {}},
      {"a\\\\", reg::kErrBadPathname, {}},
      {longest + "k", reg::kErrInvalidParameter, {}},
      {wide + "鍵", reg::kErrInvalidParameter, {}},
      {std::string("a\0b", 3), reg::kErrInvalidParameter, {}},
      {levels(reg::kMaxKeyDepth), 0, deepest},
      {levels(reg::kMaxKeyDepth) + "\\", 0, deepest},
      {levels(reg::kMaxKeyDepth + 1), reg::kErrInvalidParameter, {}},
      {levels(1000000), reg::kErrInvalidParameter, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> parts{"stale"};
    EXPECT_EQ(SplitKeyPath(c.path, &parts), c.err) << c.path;
    if (c.err == 0) {
      EXPECT_EQ(parts, c.parts) << c.path;
    }
  }
  EXPECT_EQ(CheckValueName(std::string(reg::kMaxValueNameUnits, 'v')), 0u);
  EXPECT_EQ(CheckValueName(std::string(reg::kMaxValueNameUnits + 1, 'v')),
            reg::kErrInvalidParameter);
  EXPECT_EQ(CheckValueName(std::string("a\0", 2)), reg::kErrInvalidParameter);
}

TEST(RegistryNamesTest, FoldName) {
  struct Case {
    std::string a, b;
    bool same;
  } cases[] = {
      {"Software", "SOFTWARE", true},
      {"ärger", "ÄRGER", true},
      {"Ωmega", "ωMEGA", true},
      {"憑證", "憑證", true},
      {"a", "b", false},
      {"ß", "SS", false},  // simple mapping only, as the registry does
      {"\xff\xfe", "\xff\xfe", true},
      {"\xff", "\xfe", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FoldName(c.a) == FoldName(c.b), c.same) << c.a << " " << c.b;
  }
  // Invalid bytes are kept as they are.
  EXPECT_EQ(FoldName(std::string("\xff") + "a"), std::string("\xff") + "A");
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = ::testing::TempDir() + "qv_reg_XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    paths_.currentUser = dir_ + "/user/registry.db";
    paths_.localMachine = dir_ + "/machine/hklm.db";
    paths_.machineWritable = true;
    reg_ = OpenSqliteRegistry(paths_);
    ASSERT_NE(reg_, nullptr);
  }
  void TearDown() override {
    reg_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  uint32_t setString(RegRoot root, std::string_view key, std::string_view name,
                     std::string_view text) {
    if (uint32_t err = reg_->createKey(root, key)) return err;
    return reg_->setValue(root, key, name, reg::kSz, Bytes(text));
  }
  // The value's data as text, or "<error N>".
  std::string getString(RegRoot root, std::string_view key,
                        std::string_view name, Registry* r = nullptr) {
    RegValue v;
    uint32_t err = (r ? r : reg_.get())->queryValue(root, key, name, &v);
    if (err != 0) return "<error " + std::to_string(err) + ">";
    return std::string(v.data.begin(), v.data.end());
  }
  std::vector<std::string> subkeys(RegRoot root, std::string_view key,
                                   uint32_t* end = nullptr) {
    std::vector<std::string> names;
    std::string name;
    uint32_t err;
    while ((err = reg_->enumSubkey(root, key, names.size(), &name)) == 0) {
      names.push_back(name);
    }
    if (end) *end = err;
    return names;
  }
  std::vector<std::string> valueNames(RegRoot root, std::string_view key) {
    std::vector<std::string> names;
    std::string name;
    while (reg_->enumValue(root, key, names.size(), &name, nullptr) == 0) {
      names.push_back(name);
    }
    return names;
  }

  std::string dir_;
  RegistryPaths paths_;
  std::unique_ptr<Registry> reg_;
};

TEST_F(RegistryTest, EveryValueTypeRoundTrips) {
  std::vector<uint8_t> large(70000);
  for (size_t i = 0; i < large.size(); ++i) large[i] = uint8_t(i * 7 + 1);
  struct Case {
    const char* name;
    uint32_t type;
    std::vector<uint8_t> data;
  } cases[] = {
      {"none", reg::kNone, {}},
      {"sz", reg::kSz, Bytes("QuorvantATL")},
      {"sz-nul-inside", reg::kSz, Bytes(std::string_view("a\0b\0", 4))},
      {"big5", reg::kSz, {0xA4, 0xA4, 0xA4, 0xE5}},
      {"expand", reg::kExpandSz, Bytes("%HOME%\\x")},
      {"binary", reg::kBinary, large},
      {"dword", reg::kDword, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"multi", reg::kMultiSz, Bytes(std::string_view("a\0bc\0\0", 6))},
      {"qword", reg::kQword, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"odd-type", 0x12345678, {0}},
      {"empty-sz", reg::kSz, {}},
  };
  for (RegRoot root : {kHkcu, kHklm}) {
    ASSERT_EQ(reg_->createKey(root, "Types"), 0u);
    for (const Case& c : cases) {
      ASSERT_EQ(reg_->setValue(root, "Types", c.name, c.type, c.data), 0u);
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
      const Case& c = cases[i];
      RegValue v;
      ASSERT_EQ(reg_->queryValue(root, "Types", c.name, &v), 0u) << c.name;
      EXPECT_EQ(v.type, c.type) << c.name;
      EXPECT_EQ(v.data, c.data) << c.name;
      std::string name;
      RegValue e;
      ASSERT_EQ(reg_->enumValue(root, "Types", i, &name, &e), 0u);
      EXPECT_EQ(name, c.name);
      EXPECT_EQ(e.data, c.data) << c.name;
    }
  }
  EXPECT_EQ(reg_->setValue(kHkcu, "Types", "huge", reg::kBinary,
                           std::vector<uint8_t>(reg::kMaxValueBytes + 1)),
            reg::kErrInvalidParameter);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  ASSERT_EQ(setString(kHkcu, "Software\\MORL\\", "", "default"), 0u);
  ASSERT_EQ(reg_->createKey(kHkcu, "SOFTWARE\\morl\\Ärger"), 0u);
  EXPECT_EQ(reg_->keyExists(kHkcu, "software\\Morl\\äRGER"), 0u);
  EXPECT_EQ(subkeys(kHkcu, ""), std::vector<std::string>{"Software"});
  EXPECT_EQ(subkeys(kHkcu, "SOFTWARE"), std::vector<std::string>{"MORL"});
  EXPECT_EQ(getString(kHkcu, "software\\morl", ""), "default");

  // Values: one name whatever the case; an update keeps name and position.
  ASSERT_EQ(setString(kHkcu, "k", "First", "1"), 0u);
  ASSERT_EQ(setString(kHkcu, "k", "Second", "2"), 0u);
  ASSERT_EQ(reg_->setValue(kHkcu, "K", "FIRST", reg::kDword,
                           std::vector<uint8_t>{7, 0, 0, 0}),
            0u);
  EXPECT_EQ(valueNames(kHkcu, "k"),
            (std::vector<std::string>{"First", "Second"}));
  RegValue v;
  ASSERT_EQ(reg_->queryValue(kHkcu, "k", "first", &v), 0u);
  EXPECT_EQ(v.type, reg::kDword);
  EXPECT_EQ(v.data, (std::vector<uint8_t>{7, 0, 0, 0}));
  // The empty name is the default value, distinct from every other.
  ASSERT_EQ(setString(kHkcu, "k", "", "dflt"), 0u);
  EXPECT_EQ(valueNames(kHkcu, "k"),
            (std::vector<std::string>{"First", "Second", ""}));
  EXPECT_EQ(reg_->queryValue(kHkcu, "k", "", nullptr), 0u);
}

TEST_F(RegistryTest, NestedKeysAndEnumeration) {
  ASSERT_EQ(reg_->createKey(kHkcu, "a\\b\\c"), 0u);
  for (const char* path : {"a", "a\\b", "a\\b\\c", "A\\B\\C\\"}) {
    EXPECT_EQ(reg_->keyExists(kHkcu, path), 0u) << path;
  }
  // Creation order, not alphabetical.
  for (const char* name : {"zeta", "Alpha", "mid"}) {
    ASSERT_EQ(reg_->createKey(kHkcu, std::string("list\\") + name), 0u);
  }
  ASSERT_EQ(reg_->createKey(kHkcu, "list\\ALPHA"), 0u);  // already there
  uint32_t end = 0;
  EXPECT_EQ(subkeys(kHkcu, "list", &end),
            (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  EXPECT_EQ(end, reg::kErrNoMoreItems);
  std::string name;
  EXPECT_EQ(reg_->enumSubkey(kHkcu, "list", 1000, &name), reg::kErrNoMoreItems);
  EXPECT_EQ(reg_->enumSubkey(kHkcu, "list\\zeta", 0, &name),
            reg::kErrNoMoreItems);
  EXPECT_EQ(reg_->enumValue(kHkcu, "list", 0, &name, nullptr),
            reg::kErrNoMoreItems);
}

TEST_F(RegistryTest, RejectionsAndMissingThings) {
  ASSERT_EQ(setString(kHkcu, "here", "v", "x"), 0u);
  std::string name;
  RegValue v;
  struct Case {
    const char* what;
    uint32_t got;
    uint32_t want;
  } cases[] = {
      {"query in missing key", reg_->queryValue(kHkcu, "gone", "v", &v), 2},
      {"query missing value", reg_->queryValue(kHkcu, "here", "w", &v), 2},
      {"set in missing key",
       reg_->setValue(kHkcu, "gone", "v", reg::kSz, Bytes("x")), 2},
      {"delete missing value", reg_->deleteValue(kHkcu, "here", "w"), 2},
      {"delete value of missing key", reg_->deleteValue(kHkcu, "gone", "v"), 2},
      {"enum missing key", reg_->enumSubkey(kHkcu, "gone", 0, &name), 2},
      {"delete missing tree", reg_->deleteTree(kHkcu, "gone"), 2},
      {"exists missing", reg_->keyExists(kHkcu, "here\\gone"), 2},
      {"leading backslash", reg_->createKey(kHkcu, "\\here"), 161},
      {"empty component", reg_->keyExists(kHkcu, "a\\\\b"), 161},
      {"null enum name", reg_->enumSubkey(kHkcu, "", 0, nullptr), 87},
      {"null enum value name", reg_->enumValue(kHkcu, "", 0, nullptr, &v), 87},
      {"NUL in value name",
       reg_->setValue(kHkcu, "here", std::string("a\0", 2), 1,
                      std::span<const uint8_t>()),
       87},
      {"delete root tree", reg_->deleteTree(kHkcu, ""), 5},
      {"delete root key", reg_->deleteKey(kHkcr, ""), 5},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  // A rejected write changed nothing.
  EXPECT_EQ(subkeys(kHkcu, ""), std::vector<std::string>{"here"});
}

TEST_F(RegistryTest, DeleteValueKeyAndTree) {
  ASSERT_EQ(setString(kHkcu, "a\\b\\c", "deep", "1"), 0u);
  ASSERT_EQ(setString(kHkcu, "a\\b", "mid", "2"), 0u);
  ASSERT_EQ(setString(kHkcu, "a\\d", "side", "3"), 0u);
  ASSERT_EQ(setString(kHkcu, "a\\d", "other", "4"), 0u);

  EXPECT_EQ(reg_->deleteValue(kHkcu, "A\\D", "SIDE"), 0u);
  EXPECT_EQ(valueNames(kHkcu, "a\\d"), std::vector<std::string>{"other"});

  EXPECT_EQ(reg_->deleteKey(kHkcu, "a\\b"), reg::kErrAccessDenied);
  EXPECT_EQ(reg_->deleteTree(kHkcu, "a\\B"), 0u);
  EXPECT_EQ(reg_->keyExists(kHkcu, "a\\b"), 2u);
  EXPECT_EQ(reg_->keyExists(kHkcu, "a\\b\\c"), 2u);
  EXPECT_EQ(subkeys(kHkcu, "a"), std::vector<std::string>{"d"});
  // Recreated keys come back empty: the values went with the tree.
  ASSERT_EQ(reg_->createKey(kHkcu, "a\\b\\c"), 0u);
  EXPECT_EQ(valueNames(kHkcu, "a\\b\\c"), std::vector<std::string>{});
  EXPECT_EQ(valueNames(kHkcu, "a\\b"), std::vector<std::string>{});

  EXPECT_EQ(reg_->deleteKey(kHkcu, "a\\d"), 0u);
  EXPECT_EQ(reg_->keyExists(kHkcu, "a\\d"), 2u);
  EXPECT_EQ(reg_->deleteKey(kHkcu, "a\\d"), 2u);
}

TEST_F(RegistryTest, ClassesRootMergesUserOverMachine) {
  ASSERT_EQ(setString(kHklm, "Software\\Classes\\CLSID\\{X}", "", "machine"),
            0u);
  ASSERT_EQ(setString(kHklm, "Software\\Classes\\CLSID\\{X}", "Extra", "m"),
            0u);
  ASSERT_EQ(setString(kHklm, "Software\\Classes\\OnlyMachine", "", "m"), 0u);
  ASSERT_EQ(setString(kHkcu, "Software\\Classes\\clsid\\{x}", "", "user"), 0u);
  ASSERT_EQ(setString(kHkcu, "Software\\Classes\\OnlyUser", "", "u"), 0u);

  EXPECT_EQ(getString(kHkcr, "CLSID\\{X}", ""), "user");
  // A key is taken whole from one side: no value-by-value fall-through.
  EXPECT_EQ(getString(kHkcr, "CLSID\\{X}", "Extra"), "<error 2>");
  EXPECT_EQ(getString(kHkcr, "OnlyMachine", ""), "m");
  EXPECT_EQ(reg_->keyExists(kHkcr, "onlymachine"), 0u);
  EXPECT_EQ(reg_->keyExists(kHkcr, "Nowhere"), 2u);
  EXPECT_EQ(subkeys(kHkcr, ""),
            (std::vector<std::string>{"clsid", "OnlyUser", "OnlyMachine"}));

  // Changes land in the user's Software\Classes only.
  ASSERT_EQ(setString(kHkcr, "New\\Sub", "v", "n"), 0u);
  EXPECT_EQ(getString(kHkcu, "Software\\Classes\\New\\Sub", "v"), "n");
  EXPECT_EQ(reg_->keyExists(kHklm, "Software\\Classes\\New"), 2u);
  EXPECT_EQ(reg_->setValue(kHkcr, "OnlyMachine", "v", reg::kSz, Bytes("x")),
            2u);
  EXPECT_EQ(reg_->deleteTree(kHkcr, "CLSID\\{X}"), 0u);
  EXPECT_EQ(getString(kHkcr, "CLSID\\{X}", ""), "machine");
  EXPECT_EQ(reg_->deleteTree(kHkcr, "OnlyMachine"), 2u);
  EXPECT_EQ(getString(kHklm, "Software\\Classes\\CLSID\\{X}", ""), "machine");
}

TEST_F(RegistryTest, AbsentFilesAreReadWithoutBeingCreated) {
  std::string name;
  EXPECT_EQ(reg_->keyExists(kHkcu, ""), 0u);
  EXPECT_EQ(reg_->keyExists(kHkcu, "x"), 2u);
  EXPECT_EQ(reg_->enumSubkey(kHkcu, "", 0, &name), reg::kErrNoMoreItems);
  EXPECT_EQ(reg_->queryValue(kHkcu, "", "", nullptr), 2u);
  // No machine registry installed: even its root is missing.
  EXPECT_EQ(reg_->keyExists(kHklm, ""), 2u);
  EXPECT_EQ(reg_->queryValue(kHklm, "Software", "v", nullptr), 2u);
  EXPECT_EQ(reg_->enumSubkey(kHklm, "", 0, &name), 2u);
  EXPECT_EQ(reg_->keyExists(kHkcr, ""), 0u);
  EXPECT_EQ(reg_->enumSubkey(kHkcr, "", 0, &name), reg::kErrNoMoreItems);
  EXPECT_EQ(reg_->enumValue(kHkcr, "", 0, &name, nullptr),
            reg::kErrNoMoreItems);
  EXPECT_FALSE(Exists(dir_ + "/user"));
  EXPECT_FALSE(Exists(dir_ + "/machine"));

  // Nowhere to keep the user's file: reads see an empty root, writes fail.
  auto homeless = OpenSqliteRegistry(RegistryPaths{});
  EXPECT_EQ(homeless->keyExists(kHkcu, ""), 0u);
  EXPECT_EQ(homeless->createKey(kHkcu, "x"), reg::kErrRegistryIoFailed);
}

TEST_F(RegistryTest, FilePermissionsDoNotDependOnTheUmask) {
  mode_t old = umask(0);
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
    umask(mask);
    RegistryPaths paths;
    std::string base = dir_ + "/u" + std::to_string(mask);
    paths.currentUser = base + "/user/registry.db";
    paths.localMachine = base + "/var/lib/quorvant/hklm.db";
    paths.machineWritable = true;
    auto r = OpenSqliteRegistry(paths);
    ASSERT_EQ(r->createKey(kHkcu, "k"), 0u);
    ASSERT_EQ(r->createKey(kHklm, "k"), 0u);
    // The connection is still open, so the WAL files exist.
    for (const char* suffix : {"", "-wal", "-shm"}) {
      EXPECT_EQ(Mode(paths.currentUser + suffix), 0600u) << suffix << mask;
    }
    EXPECT_EQ(Mode(base + "/user"), 0700u);
    EXPECT_EQ(Mode(paths.localMachine), 0644u);
    EXPECT_FALSE(Exists(paths.localMachine + "-wal"));
    EXPECT_EQ(Mode(base + "/var/lib/quorvant"), 0755u);
  }
  umask(old);
  // A user file left open to others is tightened when next written.
  reg_.reset();
  std::filesystem::create_directories(dir_ + "/user");
  std::ofstream(paths_.currentUser).close();
  ASSERT_EQ(chmod(paths_.currentUser.c_str(), 0644), 0);
  reg_ = OpenSqliteRegistry(paths_);
  ASSERT_EQ(reg_->createKey(kHkcu, "k"), 0u);
  EXPECT_EQ(Mode(paths_.currentUser), 0600u);
}

// A home another user opened up, or a link planted where the file goes:
// nothing is written there, each write fails with access denied, and the
// file the link points at is left as it was.
TEST_F(RegistryTest, UnsafeHomeIsRefused) {
  const std::string victim = dir_ + "/victim.db";
  std::ofstream(victim) << "someone else's";
  struct Case {
    const char* name;
    std::function<void(const std::string& home)> setUp;
  } cases[] = {
      {"world-writable home",
       [](const std::string& home) {
         ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
         ASSERT_EQ(chmod(home.c_str(), 0777), 0);
         if (geteuid() == 0) {
           ASSERT_EQ(chown(home.c_str(), 65534, 65534), 0);
         }
       }},
      {"database open to others",
       [](const std::string& home) {
         ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
         std::ofstream(home + "/registry.db").close();
         ASSERT_EQ(chmod((home + "/registry.db").c_str(), 0666), 0);
       }},
      {"link planted as the database",
       [&](const std::string& home) {
         ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
         ASSERT_EQ(symlink(victim.c_str(), (home + "/registry.db").c_str()), 0);
       }},
      {"link planted as its journal",
       [&](const std::string& home) {
         ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
         ASSERT_EQ(symlink(victim.c_str(), (home + "/registry.db-wal").c_str()), 0);
       }},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string home = dir_ + "/home" + std::to_string(n++);
    c.setUp(home);
    RegistryPaths paths;
    paths.currentUser = home + "/registry.db";
    ScopedUserMessageCapture quiet;
    auto r = OpenSqliteRegistry(paths);
    EXPECT_EQ(r->createKey(kHkcu, "Software\\Secret"), reg::kErrAccessDenied);
    EXPECT_NE(r->queryValue(kHkcu, "Software\\Secret", "v", nullptr), 0u);
    EXPECT_FALSE(quiet.messages().empty());
  }
  std::ifstream in(victim);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "someone else's");
}

// Another process holding the write lock past the timeout makes a change
// fail as busy, never as a permission problem; once it lets go, the change
// goes through.
TEST_F(RegistryTest, LockHeldByAnotherProcessIsBusyNotDenied) {
  ASSERT_EQ(reg_->createKey(kHkcu, "k"), 0u);
  RegistryPaths paths = paths_;
  paths.busyTimeoutMs = 100;
  auto waiting = OpenSqliteRegistry(paths);
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(paths_.currentUser.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(waiting->createKey(kHkcu, "k\\busy"), win32::kErrorBusy);
  ASSERT_EQ(sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(holder);
  EXPECT_EQ(waiting->createKey(kHkcu, "k\\busy"), 0u);
}

TEST_F(RegistryTest, MachineRootIsReadOnlyForOthers) {
  ASSERT_EQ(setString(kHklm, "Software\\Vendor", "Setting", "machine-wide"),
            0u);
  reg_.reset();  // close, so only the main file remains
  const std::string before = ReadFile(paths_.localMachine);

  RegistryPaths userPaths = paths_;
  userPaths.machineWritable = false;
  auto user = OpenSqliteRegistry(userPaths);
  EXPECT_EQ(getString(kHklm, "software\\vendor", "setting", user.get()),
            "machine-wide");
  struct Case {
    const char* what;
    uint32_t got;
  } writes[] = {
      {"createKey", user->createKey(kHklm, "Software\\New")},
      {"setValue", user->setValue(kHklm, "Software\\Vendor", "Setting",
                                  reg::kSz, Bytes("x"))},
      {"deleteValue", user->deleteValue(kHklm, "Software\\Vendor", "Setting")},
      {"deleteKey", user->deleteKey(kHklm, "Software\\Vendor")},
      {"deleteTree", user->deleteTree(kHklm, "Software")},
  };
  for (const Case& c : writes) {
    EXPECT_EQ(c.got, reg::kErrAccessDenied) << c.what;
  }
  user.reset();
  EXPECT_EQ(ReadFile(paths_.localMachine), before);
  EXPECT_FALSE(Exists(paths_.localMachine + "-journal"));

  // A missing machine file is just missing for a reader, not created.
  userPaths.localMachine = dir_ + "/nowhere/hklm.db";
  user = OpenSqliteRegistry(userPaths);
  EXPECT_EQ(user->keyExists(kHklm, ""), 2u);
  EXPECT_EQ(user->createKey(kHklm, "x"), reg::kErrAccessDenied);
  EXPECT_FALSE(Exists(dir_ + "/nowhere"));
}

TEST_F(RegistryTest, AnotherUserReadsTheMachineFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  ASSERT_EQ(setString(kHklm, "Software\\Vendor", "Setting", "for all"), 0u);
  reg_.reset();
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);  // mkdtemp made it 0700
  RegistryPaths others;
  others.localMachine = paths_.localMachine;
  int rc = InChild([&] {
    if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0) {
      return 10;
    }
    // Really unprivileged: the file itself refuses writing.
    if (open(others.localMachine.c_str(), O_RDWR) >= 0) return 11;
    others.machineWritable =
        DefaultRegistryPaths(ProcessEnvironment()).machineWritable;
    if (others.machineWritable) return 12;
    auto r = OpenSqliteRegistry(others);
    RegValue v;
    if (r->queryValue(kHklm, "Software\\Vendor", "Setting", &v) != 0) {
      return 13;
    }
    if (std::string(v.data.begin(), v.data.end()) != "for all") return 14;
    if (r->setValue(kHklm, "Software\\Vendor", "Setting", reg::kSz,
                    std::span<const uint8_t>()) != reg::kErrAccessDenied) {
      return 15;
    }
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

TEST_F(RegistryTest, DamagedFilesGiveAnErrorCode) {
  // A registry big enough to span many pages, closed (WAL checkpointed).
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(setString(kHkcu, Join("k", std::to_string(i), std::string(100, 'x')),
                        "v", std::string(50, 'd')),
              0u);
  }
  reg_.reset();
  const std::string good = ReadFile(paths_.currentUser);
  ASSERT_GT(good.size(), 16384u);

  std::string garbage(8192, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = char(i * 131 + 7);
  std::string foreign = dir_ + "/foreign.db";
  std::string future = dir_ + "/future.db";
  // The store marks its files with application_id "QVRG" and user_version 1.
  const uint32_t ours = uint32_t('Q') << 24 | 'V' << 16 | 'R' << 8 | 'G';
  const std::string newer = "PRAGMA application_id = " + std::to_string(ours) +
                            "; PRAGMA user_version = 2; CREATE TABLE t(x);";
  for (auto [path, sql] :
       {std::pair{foreign, "CREATE TABLE t(x); INSERT INTO t VALUES(1);"},
        std::pair{future, newer.c_str()}}) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  struct Case {
    const char* what;
    std::string content;
  } cases[] = {
      {"garbage", garbage},
      {"truncated", good.substr(0, 8192)},
      {"another program's database", ReadFile(foreign)},
      {"newer schema", ReadFile(future)},
  };
  for (const Case& c : cases) {
    for (bool writable : {true, false}) {
      RegistryPaths paths = paths_;
      paths.machineWritable = writable;
      for (std::string file : {paths.currentUser, paths.localMachine}) {
        std::filesystem::create_directories(
            std::filesystem::path(file).parent_path());
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.content;
      }
      auto r = OpenSqliteRegistry(paths);
      for (RegRoot root : {kHkcu, kHklm, kHkcr}) {
        // Walking every key must stop at the damage, not run clean.
        std::string name;
        uint32_t err = 0;
        for (uint32_t i = 0; err == 0; ++i) {
          err = r->enumSubkey(root, "", i, &name);
        }
        EXPECT_EQ(err, reg::kErrBadDb) << c.what << int(root);
        uint32_t write = r->setValue(root, "k1" + std::string(100, 'x'), "v",
                                     reg::kSz, Bytes("x"));
        EXPECT_TRUE(
            write == reg::kErrBadDb ||
            (write == reg::kErrAccessDenied && root == kHklm && !writable))
            << c.what << " " << write;
      }
    }
  }
}

TEST_F(RegistryTest, AnotherProcessSeesTheChanges) {
  ASSERT_EQ(setString(kHkcu, "Shared", "parent", "p"), 0u);
  int rc = InChild([&] {
    // A fresh registry object in the child...
    auto own = OpenSqliteRegistry(paths_);
    RegValue v;
    if (own->queryValue(kHkcu, "Shared", "parent", &v) != 0) return 1;
    if (std::string(v.data.begin(), v.data.end()) != "p") return 2;
    // ...and the inherited one, which must not reuse the parent's handle.
    if (reg_->setValue(kHkcu, "Shared", "child", reg::kSz, Bytes("c")) != 0) {
      return 3;
    }
    return 0;
  });
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(getString(kHkcu, "Shared", "child"), "c");
  EXPECT_EQ(setString(kHkcu, "Shared", "after", "a"), 0u);
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
  // Processes start together on files that do not exist yet, so creating
  // the file and its schema races too.
  constexpr int kProcesses = 8;
  constexpr int kWrites = 50;
  constexpr int kThreads = 4;
  struct Load {
    RegRoot root;
    int processes, writes;
  } loads[] = {{kHkcu, kProcesses, kWrites}, {kHklm, 4, 20}};
  for (const Load& load : loads) {
    reg_.reset();  // nothing open across fork
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < load.processes; ++p) {
      pid_t pid = fork();
      if (pid == 0) {
        close(gate[1]);
        char c;
        static_cast<void>(read(gate[0], &c, 1));  // EOF when all are forked
        auto r = OpenSqliteRegistry(paths_);
        int failures = 0;
        for (int i = 0; i < load.writes; ++i) {
          std::string key = "Stress\\P" + std::to_string(p % 3);
          std::string name = Join("p", std::to_string(p), "_", std::to_string(i));
          failures += r->createKey(load.root, key) != 0;
          failures += r->setValue(load.root, key, name, reg::kSz,
                                  Bytes(name + "!")) != 0;
        }
        _exit(failures > 0 ? 1 : 0);
      }
      ASSERT_GT(pid, 0);
      children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    reg_ = OpenSqliteRegistry(paths_);
    size_t total = 0;
    for (int k = 0; k < 3; ++k) {
      total += valueNames(load.root, "Stress\\P" + std::to_string(k)).size();
    }
    EXPECT_EQ(total, size_t(load.processes * load.writes));
    for (int p = 0; p < load.processes; ++p) {
      std::string key = "Stress\\P" + std::to_string(p % 3);
      std::string name =
          "p" + std::to_string(p) + "_" + std::to_string(load.writes - 1);
      EXPECT_EQ(getString(load.root, key, name), name + "!");
    }
  }

  // Threads sharing one object.
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kWrites; ++i) {
        std::string name = std::to_string(t) + "_" + std::to_string(i);
        EXPECT_EQ(setString(kHkcu, "Threads", name, name), 0u);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(valueNames(kHkcu, "Threads").size(), size_t(kThreads * kWrites));
}

TEST(DefaultRegistryPathsTest, FromTheEnvironment) {
  auto env = [](std::map<std::string, std::string> vars) -> EnvLookup {
    return [vars](const char* name) -> std::optional<std::string> {
      auto it = vars.find(name);
      if (it == vars.end()) return std::nullopt;
      return it->second;
    };
  };
  RegistryPaths p = DefaultRegistryPaths(env({{"QUORVANT_HOME", "/q"}}));
  EXPECT_EQ(p.currentUser, "/q/registry.db");
  EXPECT_EQ(p.localMachine, "/var/lib/quorvant/machine-registry.db");
  EXPECT_EQ(p.machineWritable, geteuid() == 0);
  p = DefaultRegistryPaths(
      env({{"HOME", "/h"}, {"QUORVANT_HKLM_DB", "/t/m.db"}}));
  EXPECT_EQ(p.currentUser, "/h/.local/share/quorvant/registry.db");
  EXPECT_EQ(p.localMachine, "/t/m.db");
  p = DefaultRegistryPaths(env({{"HOME", "/h"}, {"QUORVANT_HKLM_DB", ""}}));
  EXPECT_EQ(p.localMachine, "/var/lib/quorvant/machine-registry.db");
}

}  // namespace
}  // namespace quorvant
