#include "host/registry/data_paths.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

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
  // ...but never a shared sticky one like /tmp.
  std::string shared = root_ + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_TRUE(EnsurePrivateDirectory(shared, nullptr));
  EXPECT_EQ(Mode(shared), 01777u);
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
