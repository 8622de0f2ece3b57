// The file reader over every kind of path a caller can name. Each case runs
// in a child process with an alarm and an address-space limit, so a read that
// blocks or that allocates the size of its input fails the test instead of
// hanging it or filling the machine.
#include "base/file_reader.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/win32_errors.h"

namespace quorvant {
namespace {

constexpr size_t kLimit = 1 << 20;

// What the child reports through its exit status.
enum Verdict : int { kRead = 0, kRefused = 1, kWrongError = 2, kWrongBytes = 3 };

class FileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qv-reader-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

// Runs the read in a child that may not block for long nor take much more
// memory than it holds already; the child's verdict, or -1 when it was
// killed (SIGALRM for a hang, SIGSEGV or SIGABRT for an allocation refused).
int ReadInChild(const std::string& osPath, size_t limit, uint32_t wantError,
                const std::string& wantBytes) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(5);
    // The child's current address space plus 64 MiB: far below what a
    // reader of /dev/zero or of the sparse file would take.
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
      std::fclose(statm);
    }
    const rlim_t cap = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (64u << 20);
    struct rlimit as = {cap, cap};
    ::setrlimit(RLIMIT_AS, &as);
    const Result<std::string> read = ReadRegularFile(osPath, limit);
    if (read.ok()) ::_exit(*read == wantBytes ? kRead : kWrongBytes);
    if (read.outcome().code() != rc::kFileUnreadable ||
        read.outcome().systemError() != wantError) {
      ::_exit(kWrongError);
    }
    ::_exit(kRefused);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(FileReaderTest, RefusesWhatIsNotASmallRegularFile) {
  std::ofstream(path("good.pem"), std::ios::binary) << "-----BEGIN CERTIFICATE-----\n";
  std::ofstream(path("empty.der"), std::ios::binary);
  std::ofstream(path("limit.der"), std::ios::binary) << std::string(kLimit, '\x30');
  // Sparse: a size over any limit without the disk it would take.
  std::ofstream(path("huge.der"), std::ios::binary);
  ASSERT_EQ(::truncate(path("huge.der").c_str(), off_t{600} << 20), 0);
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);  // never a writer
  ASSERT_EQ(::symlink("/dev/zero", path("zero-link").c_str()), 0);

  struct Case {
    const char* name;
    std::string path;
    int want;
    uint32_t error;
    std::string bytes;
  } cases[] = {
      {"good", path("good.pem"), kRead, 0, "-----BEGIN CERTIFICATE-----\n"},
      {"empty", path("empty.der"), kRead, 0, ""},
      {"exactly the limit", path("limit.der"), kRead, 0, std::string(kLimit, '\x30')},
      {"directory", dir_.string(), kRefused, win32::kErrorAccessDenied, ""},
      {"/dev/zero", "/dev/zero", kRefused, win32::kErrorHandleEof, ""},
      {"link to /dev/zero", path("zero-link"), kRefused, win32::kErrorHandleEof, ""},
      {"fifo without a writer", path("fifo"), kRefused, win32::kErrorHandleEof, ""},
      {"sparse 600 MiB", path("huge.der"), kRefused, win32::kErrorFileTooLarge, ""},
      {"missing", path("missing.der"), kRefused, win32::kErrorFileNotFound, ""},
      {"below a file", path("good.pem/x"), kRefused, win32::kErrorPathNotFound, ""},
      {"empty path", "", kRefused, win32::kErrorInvalidName, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadInChild(c.path, kLimit, c.error, c.bytes), c.want) << c.name;
  }
}

TEST_F(FileReaderTest, ReadsNoMoreThanTheSizeItWasOpenedWith) {
  std::ofstream(path("grows.txt"), std::ios::binary) << "abcd";
  Result<RegularFile> file = RegularFile::Open(path("grows.txt"), 8);
  ASSERT_TRUE(file.ok());
  std::ofstream(path("grows.txt"), std::ios::binary | std::ios::app) << std::string(64, 'x');
  std::string out(file->size(), '\0');
  ASSERT_TRUE(file->readInto({reinterpret_cast<uint8_t*>(out.data()), out.size()}).ok());
  EXPECT_EQ(out, "abcd");

  // Shrunk under the reader: the bytes it was promised are not there.
  Result<RegularFile> again = RegularFile::Open(path("grows.txt"), 1024);
  ASSERT_TRUE(again.ok());
  ASSERT_EQ(::truncate(path("grows.txt").c_str(), 2), 0);
  std::string shrunk(again->size(), '\0');
  const Outcome read = again->readInto({reinterpret_cast<uint8_t*>(shrunk.data()), shrunk.size()});
  EXPECT_EQ(read.code(), rc::kFileUnreadable);
  EXPECT_EQ(read.systemError(), win32::kErrorHandleEof);
}

}  // namespace
}  // namespace quorvant
