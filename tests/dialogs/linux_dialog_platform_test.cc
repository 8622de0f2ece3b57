// The Linux file checks behind the dialogs, on a scratch directory: above
// all, the export dialog's probe must never change a file that is there.
#include "dialogs/dialog_platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace quorvant {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class LinuxDialogPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/quorvant-dialogs-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
    platform_ = MakeLinuxDialogPlatform();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
    return (dir_ / name).string();
  }

  fs::path dir_;
  std::shared_ptr<DialogPlatform> platform_;
};

TEST_F(LinuxDialogPlatformTest, ProbeLeavesAnExistingFileAsItWas) {
  const std::string file = write("Alice.pfx", "the only copy of a key");
  struct stat before;
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));

  EXPECT_EQ(platform_->probeWritable(file), ProbeResult::kWritable);
  struct stat after;
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_EQ(Read(file), "the only copy of a key");
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(LinuxDialogPlatformTest, ProbeOfANewFileLeavesNothingBehind) {
  const fs::path file = dir_ / "new.pfx";
  EXPECT_EQ(platform_->probeWritable(file.string()), ProbeResult::kWritable);
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(LinuxDialogPlatformTest, ProbeRefusesWhatNoExportCanWrite) {
  fs::create_directory(dir_ / "sub");
  write("plain", "x");
  fs::create_symlink(dir_ / "nowhere" / "target", dir_ / "dangling.pfx");
  const std::string cases[] = {
      (dir_ / "sub").string(),             // a directory
      (dir_ / "plain" / "a.pfx").string(), // below a file
      (dir_ / "missing" / "a.pfx").string(),
      (dir_ / "dangling.pfx").string(),    // a link to nothing
      "",
  };
  for (const std::string& path : cases) {
    EXPECT_EQ(platform_->probeWritable(path), ProbeResult::kNotWritable) << path;
  }
  EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
}

TEST_F(LinuxDialogPlatformTest, FileAndDirectoryChecks) {
  const std::string file = write("a.pfx", "x");
  fs::create_directory(dir_ / "d");
  EXPECT_TRUE(platform_->fileExists(file));
  EXPECT_FALSE(platform_->fileExists((dir_ / "d").string()));
  EXPECT_FALSE(platform_->fileExists((dir_ / "none").string()));
  EXPECT_FALSE(platform_->fileExists(""));
  EXPECT_TRUE(platform_->directoryExists((dir_ / "d").string()));
  EXPECT_FALSE(platform_->directoryExists(file));

  EXPECT_TRUE(platform_->createDirectory((dir_ / "one").string()));
  EXPECT_FALSE(platform_->createDirectory((dir_ / "one").string()));
  EXPECT_FALSE(platform_->createDirectory((dir_ / "two" / "levels").string()));
  EXPECT_FALSE(platform_->createDirectory(""));
}

TEST_F(LinuxDialogPlatformTest, TemporaryCertificateReplacesANameNeverWritesThroughIt) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", (dir_.string() + "/").c_str(), 1);
  const std::string victim = write("victim", "keep me");
  fs::create_symlink(victim, dir_ / "temp.cer");

  std::string path;
  ASSERT_TRUE(platform_->writeTemporaryCertificate({0x30, 0x82, 0x00}, &path));
  EXPECT_EQ(path, (dir_ / "temp.cer").string());
  EXPECT_EQ(Read(dir_ / "temp.cer"), std::string("\x30\x82\x00", 3));
  EXPECT_FALSE(fs::is_symlink(dir_ / "temp.cer"));
  EXPECT_EQ(Read(victim), "keep me");
  ASSERT_TRUE(platform_->writeTemporaryCertificate({0x31}, &path));  // overwrites
  EXPECT_EQ(Read(dir_ / "temp.cer"), "\x31");

  if (old) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST_F(LinuxDialogPlatformTest, OpenerRunsXdgOpenInTheBackground) {
  fs::create_directory(dir_ / "bin");
  const fs::path record = dir_ / "opened";
  std::ofstream(dir_ / "bin" / "xdg-open") << "#!/bin/sh\nprintf '%s' \"$1\" > '"
                                           << record.string() << "'\n";
  fs::permissions(dir_ / "bin" / "xdg-open", fs::perms::owner_all);
  const std::string savedPath = std::getenv("PATH");
  setenv("PATH", ((dir_ / "bin").string() + ":" + savedPath).c_str(), 1);

  const std::string target = write("a b.cer", "x");
  EXPECT_TRUE(platform_->openWithDesktop(target));
  for (int i = 0; i < 500 && Read(record).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(Read(record), target);

  fs::remove(record);
  LinuxDialogPlatformOptions quiet;
  quiet.launchOpener = false;
  EXPECT_TRUE(MakeLinuxDialogPlatform(quiet)->openWithDesktop(target));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(record));
  setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
}  // namespace quorvant
