// SymEncrypt and SymDecrypt against `openssl enc` (CBC, zero IV, PKCS #5
// padding), and every result code of the two operations.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "base/result_codes.h"
#include "crypt/crypt_test_util.h"
#include "base/win32_errors.h"
#include "encoding/code_page.h"
#include "engine/fake_services.h"
#include "engine/security_engine.h"

namespace quorvant {
namespace {

using testing::FakeServices;
using testing::RunCommand;
using testing::TestDirectory;
using testing::Utf16Le;

constexpr int32_t kAnsi = 0x800;

struct Cipher {
  const char* name;
  int32_t iAlgorithm;
  const char* keyHex;
  const char* openssl;  // the enc cipher option
};

constexpr Cipher kCiphers[] = {
    {"DES", 1, "133457799BBCDFF1", "-des-cbc -provider legacy -provider default"},
    {"two-key Triple-DES", 0, "0123456789ABCDEFFEDCBA9876543210", "-des-ede-cbc"},
    {"three-key Triple-DES", 0, "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567",
     "-des-ede3-cbc"},
};

class SymmetricTest : public ::testing::Test {
 protected:
  // What `openssl enc` makes of `bytes`, as one line of Base64.
  std::u16string OpensslEncrypt(const Cipher& cipher, const std::string& bytes) {
    const std::string path = dir_.path() + "/plain";
    std::ofstream(path, std::ios::binary) << bytes;
    const std::string command = std::string("openssl enc ") + cipher.openssl + " -K " +
                                cipher.keyHex + " -iv 0000000000000000 -in " + path +
                                " | base64 -w0";
    return WideFromUtf8(RunCommand(command));
  }

  TestDirectory dir_;
  FakeServices fakes_;
  std::unique_ptr<SecurityEngine> engine_ = fakes_.makeEngine();
};

// Every length from 0 to 64 bytes in both text forms, and Chinese text,
// whose code-page form is Big5 (bytes from iconv).
TEST_F(SymmetricTest, MatchesOpensslEncAndDecryptsBack) {
  const std::u16string chinese = u"中文測試";
  const std::string chineseBig5 = "\xA4\xA4\xA4\xE5\xB4\xFA\xB8\xD5";
  for (const Cipher& cipher : kCiphers) {
    SCOPED_TRACE(cipher.name);
    const std::u16string key = WideFromUtf8(cipher.keyHex);
    struct Sample {
      std::u16string text;
      int32_t flags;
      std::string bytes;
    };
    std::vector<Sample> samples;
    for (int n = 1; n <= 64; ++n) {
      std::u16string text;
      for (int i = 0; i < n; ++i) text += static_cast<char16_t>(u'!' + (i * 7) % 90);
      samples.push_back({text, kAnsi, Utf8FromWide(text)});
      if (n <= 32) samples.push_back({text, 0, Utf16Le(text)});
    }
    samples.push_back({chinese, kAnsi, chineseBig5});
    samples.push_back({chinese, 0, Utf16Le(chinese)});
    for (const Sample& s : samples) {
      SCOPED_TRACE(::testing::Message() << s.bytes.size() << " bytes, flags " << s.flags);
      const std::u16string cipherText = engine_->SymEncrypt(s.text, key, cipher.iAlgorithm, s.flags);
      ASSERT_EQ(engine_->GetErrorCode(), 0);
      EXPECT_EQ(cipherText, OpensslEncrypt(cipher, s.bytes));
      EXPECT_EQ(engine_->SymDecrypt(cipherText, key, cipher.iAlgorithm, s.flags), s.text);
      EXPECT_EQ(engine_->GetErrorCode(), 0);
    }
  }
}

TEST_F(SymmetricTest, TwoKeyTripleDesIsThreeKeyWithK1Repeated) {
  const std::u16string k1k2 = u"0123456789ABCDEFFEDCBA9876543210";
  EXPECT_EQ(engine_->SymEncrypt(u"abcdefgh", k1k2, 0, kAnsi),
            engine_->SymEncrypt(u"abcdefgh", k1k2 + u"0123456789ABCDEF", 0, kAnsi));
}

TEST_F(SymmetricTest, TextFormsDoNotMix) {
  const std::u16string key = u"133457799BBCDFF1";
  const std::u16string c = engine_->SymEncrypt(u"abcdefgh", key, 1, kAnsi);
  EXPECT_NE(engine_->SymDecrypt(c, key, 1, 0), u"abcdefgh");
}

TEST_F(SymmetricTest, FailuresGiveTheirCodesAndEmptyText) {
  const std::u16string des = u"133457799BBCDFF1";
  // A valid ciphertext under `des`, and the same under another key.
  const std::u16string good = engine_->SymEncrypt(u"secret text", des, 1, 0);
  ASSERT_FALSE(good.empty());
  struct Case {
    const char* name;
    bool decrypt;
    std::u16string text;
    std::u16string key;
    int32_t iAlgorithm;
    bool protectedMode;
    int32_t code;
    uint32_t systemError;
  };
  const Case cases[] = {
      {"empty text", false, u"", des, 1, false, rc::kBadArgument, 0},
      {"empty key", false, u"x", u"", 1, false, rc::kBadArgument, 0},
      {"odd key text", false, u"x", u"133457799BBCDFF", 1, false, rc::kBadArgument, 0},
      {"unknown algorithm", false, u"x", des, 2, false, rc::kBadCipherAlgorithm, 0},
      {"DES with 16 bytes", false, u"x", des + des, 1, false, rc::kBadCipherKeyLength, 0},
      {"Triple-DES with 8 bytes", false, u"x", des, 0, false, rc::kBadCipherKeyLength, 0},
      {"protected mode", false, u"x", des, 1, true, rc::kProtectedMode, 0},
      // Protected mode comes first for encryption, after the arguments for
      // decryption.
      {"protected, odd key", false, u"x", u"ABC", 1, true, rc::kProtectedMode, 0},
      {"decrypt empty text", true, u"", des, 1, false, rc::kBadArgument, 0},
      {"unclosed armour", true, u"-----BEGIN X-----\nAAAA", des, 1, false, rc::kBadCipherText, 0},
      {"decrypt odd key", true, good, u"ABC", 1, false, rc::kBadArgument, 0},
      {"decrypt protected, odd key", true, good, u"ABC", 1, true, rc::kBadArgument, 0},
      {"decrypt protected", true, good, des, 1, true, rc::kProtectedMode, 0},
      {"decrypt unknown algorithm", true, good, des, 7, false, rc::kBadCipherAlgorithm, 0},
      {"decrypt key length", true, good, des + des, 1, false, rc::kBadCipherKeyLength, 0},
      {"decodes to nothing", true, u"   ", des, 1, false, rc::kDecryptFailed, 0},
      {"wrong key", true, good, u"0123456789ABCDEF", 1, false, rc::kDecryptFailed,
       win32::kNteBadData},
      {"not whole blocks", true, u"AAAAAAAAAAAAAAAA", des, 1, false, rc::kDecryptFailed,
       win32::kNteBadData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServices fakes;
    fakes.protectedMode->on = c.protectedMode;
    auto engine = fakes.makeEngine();
    const std::u16string out = c.decrypt ? engine->SymDecrypt(c.text, c.key, c.iAlgorithm, 0)
                                         : engine->SymEncrypt(c.text, c.key, c.iAlgorithm, 0);
    EXPECT_EQ(engine->GetErrorCode(), c.code);
    EXPECT_EQ(static_cast<uint32_t>(engine->GetCapiErrorCode()), c.systemError);
    EXPECT_TRUE(out.empty());
  }
}

// The wrong-key case: every flipped byte of the last block damages the
// padding, and no such text comes back as success.
TEST_F(SymmetricTest, DamagedTextNeverDecryptsToGarbage) {
  const std::u16string key = u"0123456789ABCDEFFEDCBA987654321089ABCDEF01234567";
  const std::u16string good = engine_->SymEncrypt(u"abcdefgh", key, 0, kAnsi);
  ASSERT_EQ(good.size(), 24u);  // 16 bytes of ciphertext
  const std::u16string bad = good.substr(0, 12) + u"AAAAAAAAAAAA";
  EXPECT_TRUE(engine_->SymDecrypt(bad, key, 0, kAnsi).empty());
  EXPECT_EQ(engine_->GetErrorCode(), rc::kDecryptFailed);
}

}  // namespace
}  // namespace quorvant
