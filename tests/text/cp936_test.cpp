#include "text/cp936.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tavrolin::cp936 {
namespace {

using namespace std::string_view_literals;

std::string Hex(std::u16string_view units) {
  std::string out;
  char buffer[8];
  for (char16_t u : units) {
    std::snprintf(buffer, sizeof buffer, "%s%04X", out.empty() ? "" : " ", unsigned{u});
    out += buffer;
  }
  return out;
}

std::string Hex(std::string_view bytes) {
  std::string out;
  char buffer[8];
  for (unsigned char b : bytes) {
    std::snprintf(buffer, sizeof buffer, "%s%02X", out.empty() ? "" : " ", unsigned{b});
    out += buffer;
  }
  return out;
}

TEST(Cp936ToUtf16Test, WindowsTable) {
  struct Case {
    std::string_view bytes;
    std::u16string_view expected;
  };
  for (const Case& c : std::vector<Case>{
           {"", u""},
           {"abc", u"abc"},
           {"\x80", u"\u20AC"},  // Windows' euro sign, not a lead byte
           {"\xFF", u"\uF8F5"},
           {"\xD6\xD0\xCE\xC4", u"中文"},
           {"\x88\xD2", u"\u5803"},  // GBK-only: a strict GB2312 table would garble it
           {"\xE9\x46", u"\u9555"},  // second byte is a letter
           {"\xA1\xA1", u"\u3000"},
           {"\x00\x61"sv, u"\0a"sv},
       }) {
    EXPECT_EQ(Hex(ToUtf16(c.bytes)), Hex(c.expected)) << Hex(c.bytes);
  }
}

TEST(Cp936ToUtf16Test, InvalidBytesBecomeReplacementCharacter) {
  struct Case {
    std::string_view bytes;
    std::u16string_view expected;
  };
  for (const Case& c : std::vector<Case>{
           {"a\xB0", u"a\uFFFD"},    // lone lead byte at the end
           {"\x81 x", u"\uFFFD x"},  // a bad second byte is kept as itself
           {"\x81\x7F", u"\uFFFD\x7F"},
           {"\xB0\xB0\xB0", u"\u978D\uFFFD"},
       }) {
    EXPECT_EQ(Hex(ToUtf16(c.bytes)), Hex(c.expected)) << Hex(c.bytes);
  }
}

// Every one- and two-byte sequence: never U+001A (ICU's one-byte substitute) and
// never more than one unit per byte; every character that decodes encodes back.
TEST(Cp936ToUtf16Test, WholeTableDecodesAndRoundTrips) {
  int decoded = 0;
  for (int lead = 0; lead < 256; ++lead) {
    for (int trail = -1; trail < 256; ++trail) {
      std::string bytes(1, static_cast<char>(lead));
      if (trail >= 0) bytes += static_cast<char>(trail);
      std::u16string units = ToUtf16(bytes);
      ASSERT_LE(units.size(), bytes.size()) << Hex(bytes);
      ASSERT_FALSE(lead != 0x1A && trail != 0x1A && units.find(u'\x1A') != std::u16string::npos)
          << Hex(bytes);
      if (lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F) {
        ASSERT_EQ(units.size(), 1u) << Hex(bytes);
        if (units[0] != u'\uFFFD') {
          ASSERT_EQ(Hex(FromUtf16(units)), Hex(bytes));
          ++decoded;
        }
      }
    }
  }
  EXPECT_GT(decoded, 21000);  // GBK's 21886 characters plus user-defined areas
}

TEST(Cp936FromUtf16Test, MissingCharactersBecomeQuestionMark) {
  struct Case {
    std::u16string_view units;
    std::string_view expected;
  };
  const char16_t lone_high[] = {0xD83D, u'x'};
  const char16_t lone_low[] = {u'x', 0xDE00};
  const char16_t high_at_end[] = {u'x', 0xD83D};
  for (const Case& c : std::vector<Case>{
           {u"", ""},
           {u"\u20AC", "\x80"},
           {u"\uF8F5", "\xFF"},
           {u"\u5803\u00E9", "\x88\xD2\xA8\xA6"},
           {u"a\u2022b", "a?b"},
           {u"\U0001F600", "?"},  // one '?' for the pair, not two
           {u"\uFFFD", "?"},
           {std::u16string_view(lone_high, 2), "?x"},
           {std::u16string_view(lone_low, 2), "x?"},
           {std::u16string_view(high_at_end, 2), "x?"},
           {u"\0a"sv, "\0a"sv},
       }) {
    EXPECT_EQ(Hex(FromUtf16(c.units)), Hex(c.expected)) << Hex(c.units);
  }
}

TEST(Cp936FromUtf16Test, PrecomposesWhere936HasTheCharacter) {
  struct Case {
    std::u16string_view units;
    std::string_view expected;
  };
  for (const Case& c : std::vector<Case>{
           {u"e\u0301", "\xA8\xA6"},          // \u00E9
           {u"u\u0308\u0301x", "\xA8\xB6x"},  // \u00FC, then \u01D8
           {u"q\u0301", "q?"},                // no precomposed character
           {u"\u0301e", "?e"},                // a mark with nothing before it
           {u"\u4E2D\u0301", "\xD6\xD0?"},
           {u"\U0001F600\u0301", "??"},
           {u"abc", "abc"},
       }) {
    EXPECT_EQ(Hex(FromUtf16Precomposed(c.units)), Hex(c.expected)) << Hex(c.units);
  }
  // The plain conversion keeps marks apart.
  EXPECT_EQ(FromUtf16(u"e\u0301"), "e?");
}

// The compiler turns narrow literals into GB18030, which has GBK's bytes for every
// GBK character; ICU must agree. (Not for the euro sign: GB18030 writes A2 E3,
// Windows' 936 has 80, so no literal of ours holds one.)
TEST(Cp936Utf8Test, AgreesWithCompiledLiterals) {
  EXPECT_EQ(Hex(FromUtf8(reinterpret_cast<const char*>(u8"提取 #引号 镕 ；·—"))),
            Hex("提取 #引号 镕 ；·—"));
  EXPECT_EQ(ToUtf8("未获得原始ID"), reinterpret_cast<const char*>(u8"未获得原始ID"));
  EXPECT_EQ(ToUtf8(""), "");
  EXPECT_EQ(FromUtf8(""), "");
  EXPECT_EQ(FromUtf8("a\xC3(b"), "a?(b");  // invalid UTF-8 is one missing character
  EXPECT_EQ(ToUtf8("a\xB0"), reinterpret_cast<const char*>(u8"a\uFFFD"));
}

TEST(Cp936ToUtf16Test, LongInputConvertsWhole) {
  std::string bytes;
  for (int i = 0; i < 100000; ++i) bytes += "中a";
  std::u16string units = ToUtf16(bytes);
  ASSERT_EQ(units.size(), 200000u);
  EXPECT_EQ(units.substr(199998), u"中a");
  EXPECT_EQ(FromUtf16(units), bytes);
}

}  // namespace
}  // namespace tavrolin::cp936
