#include "host/registry/data_paths.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>

#include "base/user_messages.h"

namespace quorvant {
namespace {

EnvLookup FakeEnv(std::map<std::string, std::string> vars) {
  return
      [vars = std::move(vars)](const char* name) -> std::optional<std::string> {
        auto it = vars.find(name);
        if (it == vars.end()) return std::nullopt;
        return it->second;
      };
}

TEST(UserDataDirectoryTest, PrecedenceOfTheEnvironment) {
  struct Case {
    std::map<std::string, std::string> env;
    std::string expected;
  } cases[] = {
      {{{"QUORVANT_HOME", "/q"}, {"XDG_DATA_HOME", "/x"}, {"HOME", "/h"}},
       "/q"},
      {{{"QUORVANT_HOME", ""}, {"XDG_DATA_HOME", "/x"}, {"HOME", "/h"}},
       "/x/quorvant"},
      {{{"XDG_DATA_HOME", "/x/"}, {"HOME", "/h"}}, "/x/quorvant"},
      // XDG Base Directory: a relative XDG_DATA_HOME is ignored.
      {{{"XDG_DATA_HOME", "rel"}, {"HOME", "/h"}}, "/h/.local/share/quorvant"},
      {{{"XDG_DATA_HOME", ""}, {"HOME", "/home/u/"}},
       "/home/u/.local/share/quorvant"},
      {{{"HOME", "/家"}}, "/家/.local/share/quorvant"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UserDataDirectory(FakeEnv(c.env)), c.expected) << c.expected;
  }
}

TEST(UserDataDirectoryTest, WithoutHomeUsesThePasswordEntry) {
  struct passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  std::string home = pw->pw_dir;
  if (home != "/" && !home.empty() && home.back() == '/') home.pop_back();
  std::string expected =
      (home == "/" ? std::string() : home) + "/.local/share/quorvant";
  EXPECT_EQ(UserDataDirectory(FakeEnv({})), expected);
  EXPECT_EQ(UserDataDirectory(FakeEnv({{"HOME", ""}})), expected);
}

class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = ::testing::TempDir() + "qv_paths_XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    root_ = templ;
    oldMask_ = umask(0);
    umask(oldMask_);
  }
  void TearDown() override {
    umask(oldMask_);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  static mode_t Mode(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
  }
  std::string root_;
  mode_t oldMask_ = 0;
};

TEST_F(DirectoryTest, CreatesEveryLevelWithTheModeWhateverTheUmask) {
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
    umask(mask);
    std::string base = root_ + "/m" + std::to_string(mask);
    int err = -1;
    ASSERT_TRUE(EnsurePrivateDirectory(base + "/a/b/", &err)) << err;
    EXPECT_EQ(Mode(base), 0700u);
    EXPECT_EQ(Mode(base + "/a"), 0700u);
    EXPECT_EQ(Mode(base + "/a/b"), 0700u);
    ASSERT_TRUE(MakeDirectories(base + "/pub/x", 0755, &err)) << err;
    EXPECT_EQ(Mode(base + "/pub"), 0755u);
    EXPECT_EQ(Mode(base + "/pub/x"), 0755u);
  }
}

TEST_F(DirectoryTest, ExistingDirectories) {
  std::string dir = root_ + "/open";
  ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  // MakeDirectories leaves an existing directory alone...
  ASSERT_TRUE(MakeDirectories(dir, 0700, nullptr));
  EXPECT_EQ(Mode(dir), 0755u);
  // ...EnsurePrivateDirectory tightens one of ours...
  ASSERT_TRUE(EnsurePrivateDirectory(dir, nullptr));
  EXPECT_EQ(Mode(dir), 0700u);
  // ...but never a shared sticky one like /tmp, which others write to: it
  // is refused and left as it is.
  std::string shared = root_ + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_FALSE(EnsurePrivateDirectory(shared, nullptr));
  EXPECT_EQ(Mode(shared), 01777u);
}

// What another local user could plant or open up is refused with EACCES and
// a message naming the path; the user's own loose modes are tightened.
TEST_F(DirectoryTest, UnsafeDataDirectoriesAndFiles) {
  const bool root = geteuid() == 0;
  constexpr uid_t kOther = 65534;  // nobody
  const std::string victim = root_ + "/victim";
  std::ofstream(victim) << "someone else's";
  struct Case {
    const char* name;
    bool needsRoot;
    std::function<std::string(const std::string&)> setUp;  // the path to check
    std::function<bool(const std::string&, int*)> check;
    bool refused;
    mode_t modeAfter;  // 0: not looked at
  };
  auto dir = [](mode_t mode, uid_t owner = ~0u) {
    return [=](const std::string& p) {
      EXPECT_EQ(mkdir(p.c_str(), 0700), 0);
      EXPECT_EQ(chmod(p.c_str(), mode), 0);
      if (owner != ~0u) {
        EXPECT_EQ(chown(p.c_str(), owner, owner), 0);
      }
      return p;
    };
  };
  auto file = [](mode_t mode, uid_t owner = ~0u) {
    return [=](const std::string& p) {
      std::ofstream(p) << "data";
      EXPECT_EQ(chmod(p.c_str(), mode), 0);
      if (owner != ~0u) {
        EXPECT_EQ(chown(p.c_str(), owner, owner), 0);
      }
      return p;
    };
  };
  auto link = [&](const std::string& target) {
    return [=](const std::string& p) {
      EXPECT_EQ(symlink(target.c_str(), p.c_str()), 0);
      return p;
    };
  };
  auto privateDir = [](const std::string& p, int* err) { return EnsurePrivateDirectory(p, err); };
  auto machineDir = [](const std::string& p, int* err) { return EnsureMachineDirectory(p, err); };
  auto userFile = [](const std::string& p, int* err) {
    UniqueFd fd;
    return OpenDataFile(p, O_RDWR, 0600, DataOwner::kUser, &fd, err);
  };
  auto machineFile = [](const std::string& p, int* err) {
    UniqueFd fd;
    return OpenDataFile(p, O_RDONLY, 0, DataOwner::kUserOrRoot, &fd, err);
  };
  auto sideFiles = [](const std::string& p, int* err) {
    return CheckDatabaseSideFiles(p, DataOwner::kUser, err);
  };
  const Case cases[] = {
      {"own directory others may read", false, dir(0755), privateDir, false, 0700},
      {"own directory others may write", false, dir(0777), privateDir, true, 0777},
      {"group-writable directory", false, dir(0770), privateDir, true, 0770},
      {"link to a directory", false, link(root_), privateDir, true, 0},
      {"another user's directory", true, dir(0700, kOther), privateDir, true, 0},
      {"another user's machine directory", true, dir(0755, kOther), machineDir, true, 0},
      {"new file", false, [](const std::string& p) { return p; }, userFile, false, 0600},
      {"own file others may read", false, file(0644), userFile, false, 0600},
      {"own file others may write", false, file(0666), userFile, true, 0666},
      {"link planted as the file", false, link(victim), userFile, true, 0},
      {"a FIFO in its place", false,
       [](const std::string& p) {
         EXPECT_EQ(mkfifo(p.c_str(), 0600), 0);
         return p;
       },
       userFile, true, 0},
      {"another user's file", true, file(0600, kOther), userFile, true, 0},
      {"machine file of root", false, file(0644, root ? 0 : ~0u), machineFile, false, 0644},
      {"machine file others may write", false, file(0664), machineFile, true, 0},
      {"journal planted as a link", false,
       [&](const std::string& p) {
         std::ofstream(p) << "db";
         EXPECT_EQ(symlink(victim.c_str(), (p + "-wal").c_str()), 0);
         return p;
       },
       sideFiles, true, 0},
      {"own journals", false,
       [&](const std::string& p) {
         std::ofstream(p + "-shm") << "x";
         chmod((p + "-shm").c_str(), 0600);
         return p;
       },
       sideFiles, false, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsRoot && !root) continue;
    const std::string path = c.setUp(root_ + "/case" + std::to_string(n++));
    ScopedUserMessageCapture capture;
    int err = 0;
    const bool ok = c.check(path, &err);
    EXPECT_EQ(ok, !c.refused);
    if (c.refused) {
      EXPECT_EQ(err, EACCES);
      ASSERT_EQ(capture.messages().size(), 1u);
      EXPECT_NE(capture.messages()[0].find(path), std::string::npos) << capture.messages()[0];
    } else {
      EXPECT_TRUE(capture.messages().empty());
    }
    if (c.modeAfter != 0) {
      EXPECT_EQ(Mode(path), c.modeAfter);
    }
  }
  std::ifstream in(victim);
  std::string left((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(left, "someone else's");
}

TEST_F(DirectoryTest, Rejections) {
  std::string file = root_ + "/file";
  std::ofstream(file) << "x";
  struct Case {
    std::string path;
    int err;
  } cases[] = {
      {"", EINVAL},
      {file, ENOTDIR},
      {file + "/below", ENOTDIR},
  };
  for (const Case& c : cases) {
    int err = 0;
    EXPECT_FALSE(EnsurePrivateDirectory(c.path, &err)) << c.path;
    EXPECT_EQ(err, c.err) << c.path;
    err = 0;
    EXPECT_FALSE(MakeDirectories(c.path, 0755, &err)) << c.path;
    EXPECT_EQ(err, c.err) << c.path;
  }
}

}  // namespace
}  // namespace quorvant
