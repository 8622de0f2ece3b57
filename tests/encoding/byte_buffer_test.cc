#include "encoding/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace quorvant {
namespace {

// The content is always followed by two zero bytes.
void ExpectTerminated(const ByteBuffer& b) {
  EXPECT_EQ(b.data()[b.size()], 0);
  EXPECT_EQ(b.data()[b.size() + 1], 0);
}

TEST(ByteBufferTest, Allocate) {
  ByteBuffer b;
  ASSERT_TRUE(b.append("xyz", 3));
  for (const int32_t n : {0, -1}) {
    EXPECT_FALSE(b.allocate(n));
    EXPECT_TRUE(b.empty());
    EXPECT_STREQ(b.c_str(), "");
  }
  ASSERT_TRUE(b.allocate(5));
  EXPECT_EQ(b.size(), 5);
  for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(b.data()[i], 0);
  ExpectTerminated(b);
  ASSERT_TRUE(b.append("xyz", 3));
  EXPECT_EQ(b.size(), 8);
  EXPECT_EQ(std::memcmp(b.data() + 5, "xyz", 3), 0);
}

TEST(ByteBufferTest, Append) {
  ByteBuffer b;
  EXPECT_FALSE(b.append(nullptr, 3));
  EXPECT_FALSE(b.append("a", 0));
  EXPECT_TRUE(b.empty());
  std::string expected;
  // Many small appends cross several reallocations.
  for (int i = 0; i < 1000; ++i) {
    const char chunk[] = {static_cast<char>('a' + i % 26), static_cast<char>('A' + i % 26)};
    ASSERT_TRUE(b.append(chunk, 2));
    expected.append(chunk, 2);
    ExpectTerminated(b);
  }
  EXPECT_EQ(b.view(), expected);
  EXPECT_EQ(std::strlen(b.c_str()), expected.size());
  EXPECT_FALSE(b.append("z", -1));
  EXPECT_EQ(b.view(), expected);
}

// Appends within the reserved room never move the content.
TEST(ByteBufferTest, Reserve) {
  ByteBuffer b;
  EXPECT_FALSE(b.reserve(0));
  ASSERT_TRUE(b.append("ab", 2));
  ASSERT_TRUE(b.reserve(1000));
  EXPECT_STREQ(b.c_str(), "ab");
  const uint8_t* before = b.data();
  for (int i = 0; i < 499; ++i) ASSERT_TRUE(b.append("cd", 2));
  EXPECT_EQ(b.data(), before);
  EXPECT_EQ(b.size(), 1000);
  ExpectTerminated(b);
  EXPECT_TRUE(b.reserve(10));  // smaller than the content: nothing to do
  EXPECT_EQ(b.size(), 1000);
}

TEST(ByteBufferTest, AssignReversed) {
  ByteBuffer b;
  ASSERT_TRUE(b.assignReversed("\x01\x02\x03\x04", 4));
  EXPECT_EQ(b.view(), std::string_view("\x04\x03\x02\x01", 4));
  ExpectTerminated(b);
  EXPECT_FALSE(b.assignReversed(nullptr, 4));
  EXPECT_FALSE(b.assignReversed("a", 0));
}

TEST(ByteBufferTest, ClearAndMove) {
  ByteBuffer a;
  ASSERT_TRUE(a.append("hello", 5));
  ByteBuffer b = std::move(a);
  EXPECT_EQ(b.view(), "hello");
  EXPECT_TRUE(a.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty
  b.clear();
  EXPECT_EQ(b.size(), 0);
  EXPECT_STREQ(b.c_str(), "");
  ByteBuffer c;
  ASSERT_TRUE(c.append("x", 1));
  c = std::move(b);
  EXPECT_TRUE(c.empty());
}

}  // namespace
}  // namespace quorvant
