#include "pfx/pfx_files.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/pkcs12/pkcs12.h"

namespace quorvant {
namespace {

TEST(PfxFilesTest, JoinRule) {
  struct Case {
    const char* folder;
    const char* name;
    const char* path;
  } cases[] = {
      {"/home/user", "a.pfx", "/home/user/a.pfx"},
      {"/", "a.pfx", "/a.pfx"},          // the root joins without a second "/"
      {"", "a.pfx", "a.pfx"},
      {"d", "a.pfx", "da.pfx"},          // one character counts as a root
      {"/tmp/", "a.pfx", "/tmp//a.pfx"},  // the rule is by length, as it always was
  };
  for (const Case& c : cases) EXPECT_EQ(JoinPfxPath(c.folder, c.name), c.path);
}

class PfxFilesIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quorvant-pfxfiles-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const char* name) { return (dir_ / name).string(); }
  static std::string Slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::filesystem::path dir_;
};

TEST_F(PfxFilesIoTest, ReadResults) {
  std::ofstream(path("data.bin"), std::ios::binary) << std::string("\x30\x82\x00\x01", 4);
  std::ofstream(path("empty.bin"), std::ios::binary);
  ByteBuffer buffer;
  uint32_t error = 0;
  ASSERT_TRUE(ReadWholeFile(path("data.bin"), &buffer, &error, kPfxMaxFileSize));
  EXPECT_EQ(buffer.view(), std::string("\x30\x82\x00\x01", 4));
  struct Case {
    std::string path;
    uint32_t error;
  } failures[] = {
      {"", 123}, {path("missing.bin"), 2}, {path("empty.bin"), 38}, {dir_.string(), 5},
      {path("missing/deeper.bin"), 2},
  };
  for (const Case& c : failures) {
    EXPECT_FALSE(ReadWholeFile(c.path, &buffer, &error, kPfxMaxFileSize)) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
    EXPECT_TRUE(buffer.empty());
  }
}

TEST_F(PfxFilesIoTest, WriteReplacesAndIsPrivate) {
  ByteBuffer data;
  ASSERT_TRUE(data.append("new contents", 12));
  uint32_t error = 0;
  std::ofstream(path("out.pfx"), std::ios::binary) << "old";
  ASSERT_TRUE(WriteWholeFile(path("out.pfx"), data, &error)) << error;
  EXPECT_EQ(Slurp(path("out.pfx")), "new contents");
  struct stat st{};
  ASSERT_EQ(::stat(path("out.pfx").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                          std::filesystem::directory_iterator()), 1)
      << "no temporary file is left behind";
  EXPECT_FALSE(WriteWholeFile(path("missing/out.pfx"), data, &error));
  EXPECT_EQ(error, 2u);
  // Non-ASCII names reach the file system as UTF-8.
  ASSERT_TRUE(WriteWholeFile((dir_ / "").string() + "\xA6\xA8.pfx", data, &error));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "\xE6\x88\x90.pfx"));
}

// A write that fails half-way (the file-size limit stands in for a full
// disk) leaves the old file byte for byte as it was.
TEST_F(PfxFilesIoTest, FailedWriteKeepsTheOldFile) {
  const std::string target = path("keep.pfx");
  const std::string old(5000, 'o');
  std::ofstream(target, std::ios::binary) << old;
  pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {1024, 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ByteBuffer data;
    (void)data.allocate(4096);
    uint32_t error = 0;
    const bool ok = WriteWholeFile(target, data, &error);
    ::_exit(!ok && error != 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Slurp(target), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                          std::filesystem::directory_iterator()), 1);
}

TEST_F(PfxFilesIoTest, Delete) {
  std::ofstream(path("gone.pfx")) << "x";
  uint32_t error = 0;
  EXPECT_TRUE(DeleteWholeFile(path("gone.pfx"), &error));
  EXPECT_FALSE(DeleteWholeFile(path("gone.pfx"), &error));
  EXPECT_EQ(error, 2u);
  EXPECT_FALSE(DeleteWholeFile("", &error));
}

}  // namespace
}  // namespace quorvant
