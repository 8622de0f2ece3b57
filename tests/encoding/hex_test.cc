#include "encoding/hex.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encoding/encoding_test_util.h"

namespace quorvant {
namespace {

using test_support::Bytes;
using test_support::RandomBytes;

std::vector<uint8_t> ToVector(const ByteBuffer& b) {
  return std::vector<uint8_t>(b.bytes().begin(), b.bytes().end());
}

// RFC 4648 section 10, base16.
TEST(HexTest, Rfc4648VectorsBothWays) {
  const std::pair<const char*, const char*> vectors[] = {
      {"f", "66"},         {"fo", "666F"},         {"foo", "666F6F"},
      {"foob", "666F6F62"}, {"fooba", "666F6F6261"}, {"foobar", "666F6F626172"},
  };
  for (const auto& [plain, hex] : vectors) {
    SCOPED_TRACE(plain);
    ByteBuffer out;
    ASSERT_TRUE(HexEncode(plain, static_cast<int32_t>(std::strlen(plain)), out));
    EXPECT_EQ(out.view(), hex);
    ASSERT_TRUE(HexDecode(hex, out));
    EXPECT_EQ(out.view(), plain);
  }
}

TEST(HexTest, EncodeAndDecodeSmallCases) {
  const uint8_t bytes[] = {0x0A, 0xFF};
  ByteBuffer out;
  ASSERT_TRUE(HexEncode(bytes, 2, out));
  EXPECT_STREQ(out.c_str(), "0AFF");
  for (const char* text : {"0aff", "0AFF", "0aFf"}) {
    ASSERT_TRUE(HexDecode(text, out));
    EXPECT_EQ(ToVector(out), (std::vector<uint8_t>{0x0A, 0xFF}));
  }
  const std::vector<uint8_t> digest(20, 0xAB);
  ASSERT_TRUE(HexEncode(digest.data(), 20, out));
  EXPECT_EQ(out.size(), 40);
}

constexpr uint8_t kOneByte[] = {1};

TEST(HexTest, FailuresLeaveAnEmptyDestination) {
  struct Case {
    const char* name;
    bool (*run)(ByteBuffer&);
  };
  const Case cases[] = {
      {"encode nothing", [](ByteBuffer& o) { return HexEncode(kOneByte, 0, o); }},
      {"encode absent", [](ByteBuffer& o) { return HexEncode(nullptr, 4, o); }},
      {"encode negative count", [](ByteBuffer& o) { return HexEncode(kOneByte, -2, o); }},
      {"decode absent", [](ByteBuffer& o) { return HexDecode(nullptr, o); }},
      {"decode empty", [](ByteBuffer& o) { return HexDecode("", o); }},
      {"decode odd length", [](ByteBuffer& o) { return HexDecode("0AF", o); }},
      {"decode one character", [](ByteBuffer& o) { return HexDecode("A", o); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ByteBuffer out;
    ASSERT_TRUE(out.append("old", 3));
    EXPECT_FALSE(c.run(out));
    EXPECT_TRUE(out.empty());
  }
}

TEST(HexTest, DecodeNeverRejectsACharacter) {
  for (const char* text : {"ZZ", "  ", "0x", "\x80\xff", "-1", "g0"}) {
    SCOPED_TRACE(text);
    ByteBuffer out;
    EXPECT_TRUE(HexDecode(text, out));
    EXPECT_EQ(out.size(), 1);
  }
}

TEST(HexTest, AgreesWithOpenSsl) {
  std::mt19937 rng(16);
  std::bernoulli_distribution lower(0.5);
  for (size_t n = 1; n <= 300; n += 7) {
    SCOPED_TRACE(n);
    const std::vector<uint8_t> data = RandomBytes(rng, n);
    // OPENSSL_buf2hexstr_ex with no separator writes upper-case digits.
    std::string expected(2 * n + 1, '\0');
    size_t written = 0;
    ASSERT_EQ(OPENSSL_buf2hexstr_ex(expected.data(), expected.size(), &written,
                                    data.data(), n, '\0'),
              1);
    expected.resize(written - 1);  // the count includes the terminator

    ByteBuffer out;
    ASSERT_TRUE(HexEncode(data.data(), static_cast<int32_t>(n), out));
    ASSERT_EQ(out.view(), expected);

    std::string mixed = expected;
    for (char& c : mixed) {
      if (lower(rng)) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::vector<uint8_t> parsed(n);
    size_t parsedLength = 0;
    ASSERT_EQ(OPENSSL_hexstr2buf_ex(parsed.data(), n, &parsedLength, mixed.c_str(), '\0'), 1);
    ASSERT_EQ(parsedLength, n);
    ASSERT_TRUE(HexDecode(mixed.c_str(), out));
    ASSERT_EQ(ToVector(out), parsed);
  }
}

}  // namespace
}  // namespace quorvant
