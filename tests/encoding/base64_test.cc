#include "encoding/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encoding/base64_reference.h"
#include "encoding/encoding_test_util.h"

namespace quorvant {
namespace {

using test_support::Bytes;
using test_support::FakeDer;
using test_support::OpenSslBase64;
using test_support::OpenSslPem;
using test_support::RandomBytes;
using test_support::ReferenceBase64Decode;
using test_support::WithCrLf;

std::vector<uint8_t> ToVector(const ByteBuffer& b) {
  return std::vector<uint8_t>(b.bytes().begin(), b.bytes().end());
}

std::string Encode(const std::vector<uint8_t>& data) {
  ByteBuffer out;
  EXPECT_TRUE(Base64Encode(data.data(), static_cast<int32_t>(data.size()), out));
  EXPECT_EQ(std::strlen(out.c_str()), static_cast<size_t>(out.size()));
  return std::string(out.view());
}

// RFC 4648 section 10.
struct Rfc4648Vector {
  const char* plain;
  const char* base64;
};
constexpr Rfc4648Vector kRfc4648[] = {
    {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
};

TEST(Base64Test, Rfc4648VectorsBothWays) {
  for (const auto& v : kRfc4648) {
    SCOPED_TRACE(v.plain);
    EXPECT_EQ(Encode(Bytes(v.plain)), v.base64);
    ByteBuffer out;
    ASSERT_TRUE(Base64Decode(v.base64, out));
    EXPECT_EQ(out.view(), v.plain);
  }
}

TEST(Base64Test, EncodeRejectsNothingToEncodeAndClearsTheDestination) {
  const uint8_t byte = 1;
  ByteBuffer out;
  ASSERT_TRUE(out.append("old", 3));
  EXPECT_FALSE(Base64Encode(&byte, 0, out));
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(out.append("old", 3));
  EXPECT_FALSE(Base64Encode(nullptr, 5, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(Base64Encode(&byte, -1, out));
  EXPECT_STREQ(out.c_str(), "");
}

struct DecodeCase {
  const char* name;
  const char* text;
  bool ok;
  std::vector<uint8_t> bytes;
};

TEST(Base64Test, DecodeLenientForms) {
  const DecodeCase cases[] = {
      {"plain", "YWJj", true, Bytes("abc")},
      {"trailing CR LF", "YWJj\r\n", true, Bytes("abc")},
      {"unpadded two bytes", "YWI", true, Bytes("ab")},
      {"padded two bytes", "YWI=", true, Bytes("ab")},
      {"unpadded one byte", "YQ", true, Bytes("a")},
      {"spaces and breaks inside groups", " Y W\r\nJ\nj ", true, Bytes("abc")},
      {"groups go on after padding", "YQ==YWJj", true, Bytes("aabc")},
      {"padding in third place ends the group", "YQ=j", true, Bytes("a")},
      {"lone character", "Y", true, {0x60}},
      {"only skipped characters", " \r\n ", true, {}},
      {"empty", "", false, {}},
      {"dashes without a closing run", "YWJj----", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ByteBuffer out;
    ASSERT_TRUE(out.append("old", 3));
    EXPECT_EQ(Base64Decode(c.text, out), c.ok);
    EXPECT_EQ(ToVector(out), c.bytes);
  }
  ByteBuffer out;
  EXPECT_FALSE(Base64Decode(nullptr, out));
}

TEST(Base64Test, DecodeNeverRejectsACharacter) {
  for (const char* text : {"!!!!", "YW\tJj", "\x80\xff", "YW.j", "====", "é"}) {
    SCOPED_TRACE(text);
    ByteBuffer out;
    EXPECT_TRUE(Base64Decode(text, out));
    EXPECT_FALSE(out.empty());
  }
}

TEST(Base64Test, DecodeArmour) {
  std::mt19937 rng(7);
  const std::vector<uint8_t> der = FakeDer(rng, 700);
  const std::string pem = OpenSslPem("CERTIFICATE", der);
  ASSERT_FALSE(pem.empty());
  const std::string body = pem.substr(pem.find('\n') + 1,
                                      pem.find("-----END") - pem.find('\n') - 1);

  struct Case {
    const char* name;
    std::string text;
    bool ok;
    bool givesDer;
  };
  const Case cases[] = {
      {"LF lines", pem, true, true},
      {"CR LF lines", WithCrLf(pem), true, true},
      {"any marker words",
       "-----BEGIN SOMETHING ELSE-----\r\n" + body + "-----END OTHER-----\r\n", true,
       true},
      {"four dashes are enough", "----X----\n" + body + "----Y----", true, true},
      {"no line end after the closing line", "-----BEGIN A-----\n" + body + "-----END A-----",
       true, true},
      {"blank line before the dashes", "\r\n" + WithCrLf(pem), true, false},
      {"space before the dashes", " " + pem, true, false},
      {"no closing line", "-----BEGIN CERTIFICATE-----\r\n" + WithCrLf(body), false,
       false},
      {"opening line never closed", "-----BEGIN CERTIFICATE\r\n" + body, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ByteBuffer out;
    EXPECT_EQ(Base64Decode(c.text.c_str(), out), c.ok);
    EXPECT_EQ(ToVector(out) == der, c.givesDer);
  }
}

// Text from an alphabet biased towards the interesting characters: the
// table, padding, the skipped characters, dashes and arbitrary bytes.
std::string RandomBase64ishText(std::mt19937& rng, int maxLength) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::uniform_int_distribution<int> length(0, maxLength);
  std::uniform_int_distribution<int> kind(0, 99);
  std::uniform_int_distribution<int> letter(0, 63);
  std::uniform_int_distribution<int> anyByte(1, 255);
  std::string text;
  const int n = length(rng);
  for (int i = 0; i < n; ++i) {
    const int k = kind(rng);
    if (k < 55) {
      text += kAlphabet[letter(rng)];
    } else if (k < 65) {
      text += '=';
    } else if (k < 70) {
      text += '\r';
    } else if (k < 75) {
      text += '\n';
    } else if (k < 80) {
      text += ' ';
    } else if (k < 90) {
      text += '-';
    } else {
      text += static_cast<char>(anyByte(rng));
    }
  }
  return text;
}

// Half the texts are framed like armour, with the usual slips: something
// before the opening dashes, short dash runs, no closing line.
std::string RandomDecoderInput(std::mt19937& rng) {
  std::uniform_int_distribution<int> coin(0, 1);
  std::uniform_int_distribution<int> dashes(2, 6);
  if (coin(rng) == 0) return RandomBase64ishText(rng, 120);
  std::string text;
  if (coin(rng) == 0 && coin(rng) == 0) text += RandomBase64ishText(rng, 3);
  text += std::string(static_cast<size_t>(dashes(rng)), '-');
  text += RandomBase64ishText(rng, 12);
  text += std::string(static_cast<size_t>(dashes(rng)), '-');
  text += coin(rng) ? "\r\n" : "\n";
  text += RandomBase64ishText(rng, 100);
  if (coin(rng) || coin(rng)) {
    text += std::string(static_cast<size_t>(dashes(rng)), '-');
    text += RandomBase64ishText(rng, 20);
  }
  return text;
}

TEST(Base64Test, DecodeMatchesReferenceOnArbitraryText) {
  std::mt19937 rng(20130624);
  int armouredOk = 0;
  int armouredFailed = 0;
  for (int i = 0; i < 40000; ++i) {
    const std::string text = RandomDecoderInput(rng);
    std::vector<uint8_t> expected;
    const bool expectedOk = ReferenceBase64Decode(text.c_str(), expected);
    if (text.find("----") != std::string::npos) ++(expectedOk ? armouredOk : armouredFailed);
    ByteBuffer out;
    ASSERT_EQ(Base64Decode(text.c_str(), out), expectedOk) << '"' << text << '"';
    ASSERT_EQ(ToVector(out), expected) << '"' << text << '"';
  }
  // Both outcomes of the armour rules were exercised.
  EXPECT_GT(armouredOk, 2000);
  EXPECT_GT(armouredFailed, 2000);
}

TEST(Base64Test, AgreesWithOpenSsl) {
  std::mt19937 rng(4648);
  std::vector<size_t> lengths;
  for (size_t n = 1; n <= 100; ++n) lengths.push_back(n);
  lengths.push_back(3 * 1024 * 1024 + 1);  // a multi-megabyte signed message
  for (const size_t n : lengths) {
    SCOPED_TRACE(n);
    const std::vector<uint8_t> data = RandomBytes(rng, n);
    const std::string expected = OpenSslBase64(data);
    ASSERT_EQ(Encode(data), expected);

    ByteBuffer out;
    ASSERT_TRUE(Base64Decode(expected.c_str(), out));
    ASSERT_EQ(ToVector(out), data);

    // EVP_DecodeBlock keeps the padding's zero bytes; compare the rest.
    std::vector<uint8_t> back(expected.size());
    const int m = EVP_DecodeBlock(back.data(),
                                  reinterpret_cast<const unsigned char*>(expected.data()),
                                  static_cast<int>(expected.size()));
    ASSERT_GE(m, static_cast<int>(n));
    back.resize(n);
    ASSERT_EQ(back, data);
  }
}

TEST(Base64Test, DecodesOpenSslLineBrokenOutput) {
  std::mt19937 rng(1421);
  for (const size_t n : {1u, 47u, 48u, 49u, 1000u, 65536u}) {
    SCOPED_TRACE(n);
    const std::vector<uint8_t> data = RandomBytes(rng, n);
    // EVP_EncodeUpdate breaks lines every 64 characters with LF.
    std::unique_ptr<EVP_ENCODE_CTX, decltype(&EVP_ENCODE_CTX_free)> ctx(
        EVP_ENCODE_CTX_new(), &EVP_ENCODE_CTX_free);
    ASSERT_TRUE(ctx);
    std::string text(n * 2 + 100, '\0');
    int written = 0;
    int last = 0;
    EVP_EncodeInit(ctx.get());
    ASSERT_EQ(EVP_EncodeUpdate(ctx.get(), reinterpret_cast<unsigned char*>(text.data()),
                               &written, data.data(), static_cast<int>(n)),
              1);
    EVP_EncodeFinal(ctx.get(), reinterpret_cast<unsigned char*>(text.data()) + written,
                    &last);
    text.resize(static_cast<size_t>(written + last));
    for (const std::string& form : {text, WithCrLf(text)}) {
      ByteBuffer out;
      ASSERT_TRUE(Base64Decode(form.c_str(), out));
      EXPECT_EQ(ToVector(out), data);
    }
  }
}

}  // namespace
}  // namespace quorvant
