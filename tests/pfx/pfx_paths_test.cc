#include "pfx/pfx_paths.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "pfx/pfx_files.h"

namespace quorvant {
namespace {

TEST(PfxPathsTest, NamesStayInTheirFolder) {
  struct Case {
    const char* defaultName;
    const char* commonName;
    const char* expected;
  } cases[] = {
      {"", "Alice Chen", "Alice Chen.pfx"},
      {"Backup", "Alice", "Backup.pfx"},
      {"BACKUP.PFX", "Alice", "BACKUP.PFX"},      // ".pfx" found without regard to case
      {"", "../../etc/passwd", ".._.._etc_passwd.pfx"},
      {"", "..", "0A1B.pfx"},                     // nothing but dots: the serial
      {"", "", "0A1B.pfx"},
      {"", "a\nb\x7F" "c\\d", "a_b_c_d.pfx"},
      {"sub/dir", "Alice", "sub_dir.pfx"},
      {"..", "Alice", "...pfx"},                  // "..pfx" appended: no longer a parent
      {"", "\xA4\xA4\xA4\xE5", "\xA4\xA4\xA4\xE5.pfx"},  // Big5 text passes whole
      {"", "\xA4/", "\xA4_.pfx"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExportFileName(c.defaultName, c.commonName, "0A1B"), c.expected)
        << c.defaultName << " / " << c.commonName;
  }
  EXPECT_EQ(SafeFileName("..", ""), "_");
}

class ReplaceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quorvant-replace-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  static std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir_),
                                             std::filesystem::directory_iterator()));
  }
  std::filesystem::path dir_;
};

TEST_F(ReplaceFileTest, KeepsModeFollowsLinksAndObeysTheCheck) {
  const auto target = dir_ / "a.pfx";
  const auto link = dir_ / "link.pfx";
  std::ofstream(target, std::ios::binary) << "old";
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  std::filesystem::create_symlink(target, link);
  ByteBuffer data;
  ASSERT_TRUE(data.append("new", 3));
  uint32_t error = 0;

  // A check that refuses leaves everything as it was.
  EXPECT_FALSE(ReplaceWholeFile(link.string(), data, [](const ByteBuffer&) { return 13u; },
                                &error));
  EXPECT_EQ(error, 13u);
  EXPECT_EQ(Slurp(target), "old");
  EXPECT_EQ(Entries(), 2u);

  std::string seen;
  ASSERT_TRUE(ReplaceWholeFile(link.string(), data,
                               [&](const ByteBuffer& back) {
                                 seen.assign(back.view());
                                 return 0u;
                               },
                               &error))
      << error;
  EXPECT_EQ(seen, "new") << "the check sees what the disk gives back";
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Slurp(target), "new");
  struct stat st{};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(), 2u);

  // A new file is private; a folder is never replaced.
  ASSERT_TRUE(ReplaceWholeFile((dir_ / "new.pfx").string(), data, nullptr, &error));
  ASSERT_EQ(::stat((dir_ / "new.pfx").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(ReplaceWholeFile(dir_.string(), data, nullptr, &error));
}

// A process killed after the new bytes reached the disk but before the
// rename leaves the old file whole (a stray temporary beside it at worst).
TEST_F(ReplaceFileTest, KilledWriterLeavesTheOldFile) {
  const auto target = dir_ / "a.pfx";
  const std::string old(3000, 'o');
  std::ofstream(target, std::ios::binary) << old;
  const pid_t child = ::fork();
  if (child == 0) {
    ByteBuffer data;
    (void)data.allocate(8000);
    uint32_t error = 0;
    (void)ReplaceWholeFile(target.string(), data,
                           [](const ByteBuffer&) -> uint32_t {
                             ::raise(SIGKILL);
                             return 0;
                           },
                           &error);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(Slurp(target), old);
}

TEST_F(ReplaceFileTest, ExportFolderRule) {
  std::ofstream(dir_ / "file") << "x";
  struct Case {
    std::filesystem::path folder;
    int32_t code;
  } cases[] = {
      {dir_, 0},
      {dir_ / "new", 0},              // one level is made
      {dir_ / "file", 1001},          // names a file
      {dir_ / "x" / "y", 1001},       // two levels missing
      {"", 1001},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EnsureExportDirectory(c.folder.string()).code(), c.code) << c.folder;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "new"));
}

}  // namespace
}  // namespace quorvant
