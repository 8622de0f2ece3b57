#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/fake_services.h"
#include "engine/security_engine.h"

namespace quorvant {
namespace {

using testing::FakeServices;

// Expected digests come from OpenSSL, not from our engines.
std::u16string OpenSslHex(const EVP_MD* md, const std::string& bytes) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), out, &length, md, nullptr);
  std::u16string hex;
  const char* digits = "0123456789ABCDEF";
  for (unsigned int i = 0; i < length; ++i) {
    hex += static_cast<char16_t>(digits[out[i] >> 4]);
    hex += static_cast<char16_t>(digits[out[i] & 15]);
  }
  return hex;
}

std::string Utf16LeBytes(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

class ScriptedFilePicker final : public DialogHost {
 public:
  DialogOutcome outcome = DialogOutcome::kCancel;
  std::string path;
  OpenFileRequest seen;
  DialogOutcome openFile(const OpenFileRequest& request, std::string* out) override {
    seen = request;
    *out = path;
    return outcome;
  }
};

TEST(HashTest, AlgorithmAndTextFormFollowTheFlags) {
  struct Case {
    int32_t flags;
    std::u16string text;
    const EVP_MD* md;
    bool ansi;
  } cases[] = {
      {0x11, u"abc", EVP_md5(), true},
      {0x01, u"abc", EVP_md5(), false},
      {0x00, u"abc", EVP_sha1(), false},
      {0x02, u"abc", EVP_sha1(), false},
      {0x05, u"abc", EVP_sha1(), false},
      {0x06, u"abc", EVP_sha1(), false},
      {0x07, u"abc", EVP_sha1(), false},
      {0x03, u"abc", EVP_sha256(), false},
      {0x04, u"abc", EVP_sha512(), false},
      {0x14, u"abc", EVP_sha512(), true},
      {0x101, u"abc", EVP_md5(), false},  // other bits are ignored
      {static_cast<int32_t>(0x80000013), u"成功", EVP_sha256(), true},
      {0x03, u"成功", EVP_sha256(), false},
  };
  FakeServices fakes;
  auto engine = fakes.makeEngine();
  for (const Case& c : cases) {
    const std::string bytes =
        c.ansi ? (c.text == u"abc" ? std::string("abc") : std::string("\xA6\xA8\xA5\x5C"))
               : Utf16LeBytes(c.text);
    EXPECT_EQ(engine->Hash(c.text, c.flags), OpenSslHex(c.md, bytes)) << std::hex << c.flags;
    EXPECT_EQ(engine->GetErrorCode(), 0);
  }
}

TEST(HashTest, KnownAnswersForAbc) {
  FakeServices fakes;
  auto engine = fakes.makeEngine();
  EXPECT_EQ(engine->Hash(u"abc", 0x11), u"900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(engine->Hash(u"abc", 0x01), u"CE1473CF80C6B3FDA8E3DFC006ADC315");
}

TEST(HashTest, EmptyTextIs5005AndKeepsTheSystemError) {
  FakeServices fakes;
  fakes.moduleVersion->ok = false;
  fakes.moduleVersion->error = 5;
  auto engine = fakes.makeEngine();
  engine->GetVersion();
  EXPECT_EQ(engine->Hash(u"", 1), u"");
  EXPECT_EQ(engine->GetErrorCode(), 5005);
  EXPECT_EQ(engine->GetCapiErrorCode(), 5);
}

TEST(HashTest, WorksInProtectedMode) {
  FakeServices fakes;
  fakes.protectedMode->on = true;
  auto engine = fakes.makeEngine();
  EXPECT_EQ(engine->Hash(u"abc", 0x11), u"900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(engine->GetErrorCode(), 0);
}

class HashFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quorvant-hashfile-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
  }

  std::filesystem::path dir_;
};

TEST_F(HashFileTest, ResultCodes) {
  FakeServices fakes;
  auto engine = fakes.makeEngine();
  const std::string content = "hello, file\r\n";
  const std::string file = write("a.bin", content);
  const std::string empty = write("empty.bin", "");
  // A FIFO nobody writes to would block a reader that waits for a writer.
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string path;
    int32_t flags;
    int32_t code;
    std::u16string result;
  } cases[] = {
      {file, 3, 0, OpenSslHex(EVP_sha256(), content)},
      {file, 0x13, 0, OpenSslHex(EVP_sha256(), content)},  // 0x10 means nothing here
      {file, 1, 0, OpenSslHex(EVP_md5(), content)},
      {file, 0, 0, OpenSslHex(EVP_sha1(), content)},
      {file, 4, 0, OpenSslHex(EVP_sha512(), content)},
      {empty, 3, 1002, u""},
      {(dir_ / "missing").string(), 3, 5902, u""},
      {(dir_ / "missing" / "deeper").string(), 3, 5902, u""},
      {dir_.string(), 3, 1002, u""},  // a directory is no file to read
      {fifo, 3, 1002, u""},
      {"/dev/zero", 3, 1002, u""},    // a device never ends
  };
  for (const Case& c : cases) {
    EXPECT_EQ(engine->HashFile(Wide(c.path), c.flags), c.result) << c.path;
    EXPECT_EQ(engine->GetErrorCode(), c.code) << c.path;
  }
}

TEST_F(HashFileTest, UnreadableFileIs1002) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const std::string file = write("locked.bin", "x");
  ::chmod(file.c_str(), 0);
  FakeServices fakes;
  auto engine = fakes.makeEngine();
  EXPECT_EQ(engine->HashFile(Wide(file), 3), u"");
  EXPECT_EQ(engine->GetErrorCode(), 1002);
}

TEST_F(HashFileTest, NonAsciiNamesReachTheFileSystemAsUtf8) {
  const std::string content = "big5 name";
  write("\xE6\x88\x90\xE5\x8A\x9F.txt", content);  // 成功.txt in UTF-8
  FakeServices fakes;
  auto engine = fakes.makeEngine();
  const std::u16string name = Wide(dir_.string()) + u"/成功.txt";
  EXPECT_EQ(engine->HashFile(name, 1), OpenSslHex(EVP_md5(), content));
  EXPECT_EQ(engine->GetErrorCode(), 0);
}

TEST_F(HashFileTest, EmptyNameAsksForAFile) {
  const std::string content = "picked";
  const std::string file = write("picked.bin", content);
  auto picker = std::make_shared<ScriptedFilePicker>();
  FakeServices fakes;
  fakes.dialogs = picker;
  auto engine = fakes.makeEngine();

  picker->outcome = DialogOutcome::kOk;
  picker->path = file;
  EXPECT_EQ(engine->HashFile(u"", 3), OpenSslHex(EVP_sha256(), content));
  EXPECT_EQ(engine->GetErrorCode(), 0);
  EXPECT_EQ(picker->seen.title, "\xBD\xD0\xBF\xEF\xBE\xDC\xC0\xC9\xAE\xD7");  // 請選擇檔案
  EXPECT_EQ(picker->seen.filter, "All Files (*.*)|*.*||");
  EXPECT_EQ(picker->seen.defaultExtension, "*.*");

  for (DialogOutcome refused : {DialogOutcome::kCancel, DialogOutcome::kCannotCreate}) {
    picker->outcome = refused;
    EXPECT_EQ(engine->HashFile(u"", 3), u"");
    EXPECT_EQ(engine->GetErrorCode(), 5070);
  }
}

TEST_F(HashFileTest, NoDialogPossibleCountsAsNotConfirmed) {
  FakeServices fakes;  // the "none" host
  auto engine = fakes.makeEngine();
  EXPECT_EQ(engine->HashFile(u"", 3), u"");
  EXPECT_EQ(engine->GetErrorCode(), 5070);
}

// Files of 2 GiB and more are hashed while reading. A sparse file keeps the
// test quick; the expected digest is OpenSSL's over the same zero bytes.
TEST_F(HashFileTest, FilesBeyondTwoGibibytes) {
  const off_t size = (off_t{1} << 31) + 3;
  const std::string path = (dir_ / "sparse.bin").string();
  {
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
  }
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
  std::vector<unsigned char> zeros(1 << 20, 0);
  for (off_t left = size; left > 0;) {
    size_t n = static_cast<size_t>(std::min<off_t>(left, static_cast<off_t>(zeros.size())));
    EVP_DigestUpdate(ctx, zeros.data(), n);
    left -= static_cast<off_t>(n);
  }
  unsigned char out[32];
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx, out, &length);
  EVP_MD_CTX_free(ctx);
  std::u16string expected;
  const char* digits = "0123456789ABCDEF";
  for (unsigned char b : out) {
    expected += static_cast<char16_t>(digits[b >> 4]);
    expected += static_cast<char16_t>(digits[b & 15]);
  }

  FakeServices fakes;
  auto engine = fakes.makeEngine();
  EXPECT_EQ(engine->HashFile(Wide(path), 3), expected);
  EXPECT_EQ(engine->GetErrorCode(), 0);
}

}  // namespace
}  // namespace quorvant
