#include "encoding/code_page.h"

#include <gtest/gtest.h>

namespace quorvant {
namespace {

// Expected bytes are Windows code page 950 as published in the platform's
// own table (bestfit950.txt / cp950.txt), not ICU's output.
struct WideCase {
  const char* name;
  std::u16string wide;
  std::string narrow;
};

TEST(CodePageTest, WideToCodePage950) {
  ASSERT_EQ(ActiveCodePage(), 950u);
  const WideCase cases[] = {
      {"ASCII", u"abc", "abc"},
      {"Big5 text", u"成功", "\xA6\xA8\xA5\x5C"},
      {"trail byte 0x5C kept", u"功能", "\xA5\x5C\xAF\xE0"},
      {"box drawing U+2550 (glibc differs)", u"\u2550", "\xF9\xF9"},
      {"U+2027 hyphenation point", u"\u2027", "\xA1\x45"},
      {"U+FFE3 fullwidth macron", u"\uFFE3", "\xA1\xC3"},
      {"private use at 0xC6A1 (glibc maps to U+2460)", u"\uF6B1", "\xC6\xA1"},
      {"best fit: middle dot", u"\u00B7", "\xA1\x50"},
      {"unmappable Thai becomes ?", u"\u0E01", "?"},
      {"lone surrogate becomes ?", std::u16string(1, char16_t(0xD800)), "?"},
      {"empty", u"", ""},
  };
  for (const WideCase& c : cases) {
    std::string out;
    uint32_t error = 99;
    ASSERT_TRUE(NarrowFromWide(c.wide, &out, &error)) << c.name;
    EXPECT_EQ(out, c.narrow) << c.name;
    EXPECT_EQ(error, 0u) << c.name;
  }
}

TEST(CodePageTest, CodePage950ToWide) {
  const WideCase cases[] = {
      {"Big5 text", u"成功", "\xA6\xA8\xA5\x5C"},
      {"0xC6A1 is private use", u"\uF6B1", "\xC6\xA1"},
      {"0xF9F9", u"\u2550", "\xF9\xF9"},
      {"single 0xFF", u"\uF8F8", "\xFF"},
      {"embedded zero kept", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const WideCase& c : cases) {
    std::u16string out;
    ASSERT_TRUE(WideFromNarrow(c.narrow, &out)) << c.name;
    EXPECT_EQ(out, c.wide) << c.name;
  }
}

TEST(CodePageTest, InterfaceTextOfAbsentAndEmpty) {
  EXPECT_EQ(ToInterfaceText(static_cast<const char*>(nullptr)), u"");
  EXPECT_EQ(ToInterfaceText(""), u"");
  EXPECT_EQ(ToInterfaceText("\xA6\xA8\xA5\x5C(0)"), u"成功(0)");
}

TEST(CodePageTest, OtherCodePagesCanBeChosen) {
  EXPECT_FALSE(SetActiveCodePage(12345));
  EXPECT_EQ(ActiveCodePage(), 950u);
  ASSERT_TRUE(SetActiveCodePage(1252));
  EXPECT_EQ(ToNarrow(u"\u00E9\u20AC"), "\xE9\x80");
  ASSERT_TRUE(SetActiveCodePage(65001));
  EXPECT_EQ(ToNarrow(u"成"), "\xE6\x88\x90");
  ASSERT_TRUE(SetActiveCodePage(950));
  EXPECT_EQ(ToNarrow(u"成"), "\xA6\xA8");
}

TEST(CodePageTest, OsTextIsUtf8) {
  EXPECT_EQ(OsPathFromNarrow("/tmp/\xA6\xA8"), "/tmp/\xE6\x88\x90");
  EXPECT_EQ(NarrowFromOsText("/tmp/\xE6\x88\x90"), "/tmp/\xA6\xA8");
  EXPECT_EQ(Utf8FromWide(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quorvant
