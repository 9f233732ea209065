// CharsetDecoder: labels resolved as browsers resolve them, real text in each
// charset arriving as the right code page 936 bytes, and bad input handled.
#include "web/charset_decoder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

#include "text/cp936.h"

namespace tavrolin::web {
namespace {

using namespace std::string_view_literals;  // "..."sv keeps embedded NULs

struct LabelCase {
  std::string_view label;
  std::string_view name;  // empty: no table knows the label
};

class LabelTest : public ::testing::TestWithParam<LabelCase> {};

TEST_P(LabelTest, ResolvesToTheStandardsEncoding) {
  const LabelCase& c = GetParam();
  std::optional<CharsetDecoder> decoder = CharsetDecoder::ForLabel(c.label);
  if (c.name.empty()) {
    EXPECT_FALSE(decoder.has_value()) << decoder->Name();
  } else {
    ASSERT_TRUE(decoder.has_value());
    EXPECT_EQ(decoder->Name(), c.name);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Labels, LabelTest,
    ::testing::Values(
        LabelCase{"utf-8", "UTF-8"}, LabelCase{"UTF-8", "UTF-8"}, LabelCase{"utf8", "UTF-8"},
        LabelCase{" \tUtF8\r\n", "UTF-8"}, LabelCase{"gb2312", "GBK"}, LabelCase{"GB2312", "GBK"},
        LabelCase{"gbk", "GBK"}, LabelCase{"x-gbk", "GBK"}, LabelCase{"chinese", "GBK"},
        LabelCase{"csgb2312", "GBK"}, LabelCase{"iso-ir-58", "GBK"},
        LabelCase{"gb18030", "gb18030"}, LabelCase{"big5", "Big5"}, LabelCase{"big5-hkscs", "Big5"},
        LabelCase{"iso-8859-1", "windows-1252"}, LabelCase{"latin1", "windows-1252"},
        LabelCase{"ascii", "windows-1252"}, LabelCase{"US-ASCII", "windows-1252"},
        LabelCase{"iso-8859-9", "windows-1254"}, LabelCase{"tis-620", "windows-874"},
        LabelCase{"shift_jis", "Shift_JIS"}, LabelCase{"sjis", "Shift_JIS"},
        LabelCase{"windows-31j", "Shift_JIS"}, LabelCase{"euc-jp", "EUC-JP"},
        LabelCase{"iso-2022-jp", "ISO-2022-JP"}, LabelCase{"euc-kr", "EUC-KR"},
        LabelCase{"ks_c_5601-1987", "EUC-KR"}, LabelCase{"koi8-r", "KOI8-R"},
        LabelCase{"utf-16", "UTF-16LE"}, LabelCase{"utf-16be", "UTF-16BE"},
        LabelCase{"iso-2022-kr", "replacement"}, LabelCase{"hz-gb-2312", "replacement"},
        LabelCase{"iso-8859-16", "ISO-8859-16"}, LabelCase{"x-user-defined", "x-user-defined"},
        // What no table knows, including names cut short.
        LabelCase{"", ""}, LabelCase{"utf", ""}, LabelCase{"utf-1", ""}, LabelCase{"gb", ""},
        LabelCase{"utf-7", ""}, LabelCase{"no-such", ""}, LabelCase{"utf 8", ""},
        LabelCase{"utf-8x", ""}),
    [](const auto& info) {
      std::string name = std::to_string(info.index) + "_";
      for (char c : info.param.label) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

struct DecodeCase {
  const char* name;
  std::string_view label;
  std::string_view body;
  std::string_view expected;  // code page 936 bytes; narrow literals compile to them
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, GivesCodePage936Bytes) {
  const DecodeCase& c = GetParam();
  std::optional<CharsetDecoder> decoder = CharsetDecoder::ForLabel(c.label);
  ASSERT_TRUE(decoder.has_value());
  EXPECT_EQ(decoder->Decode(c.body).str(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    RealText, DecodeTest,
    ::testing::Values(
        DecodeCase{"Utf8Chinese", "utf-8", "<p>\xE4\xB8\xAD\xE6\x96\x87</p>", "<p>中文</p>"},
        DecodeCase{"GbkAsGb2312", "gb2312", "\xD6\xD0\xCE\xC4", "中文"},
        // 镕 (E9 46) is GBK only: a strict GB2312 table would garble it.
        DecodeCase{"GbkOnlyCharacterUnderGb2312", "gb2312", "\xE9\x46", "镕"},
        DecodeCase{"EuroByteUnderGbk", "gbk", "\x80", "\x80"},
        // Four-byte sequences: 한 has no 936 character, € is 0x80 there.
        DecodeCase{"Gb18030FourByte", "gb18030", "\xD6\xD0\x83\x36\x84\x33\xA2\xE3", "中?\x80"},
        DecodeCase{"Big5Traditional", "big5", "\xA4\xA4\xA4\xE5\xC1\x63\xC5\xE9", "中文繁體"},
        DecodeCase{"ShiftJisKanaAndKanji", "shift_jis",
                   "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x65\x83\x4C\x83\x58\x83\x67",
                   "日本語のテキスト"},
        DecodeCase{"EucJp", "euc-jp", "\xC6\xFC\xCB\xDC\xB8\xEC", "日本語"},
        DecodeCase{"Iso2022Jp", "iso-2022-jp", "\x1B$BF|K\\8l\x1B(B", "日本語"},
        // Hangul has no 936 character; the hanja 韓國 do.
        DecodeCase{"EucKrHangulBecomesQuestionMarks", "euc-kr",
                   "\xC7\xD1\xB1\xB9\x20\xF9\xDB\xCF\xD0", "?? 韓國"},
        DecodeCase{"Latin1IsWindows1252", "latin1", "caf\xE9 \x80", "café \x80"},
        DecodeCase{"Koi8r", "koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4", "Привет"},
        DecodeCase{"Windows1251", "windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2", "Привет"},
        DecodeCase{"Utf16Le", "utf-16le", "\x2D\x4E\x87\x65"sv, "中文"},
        DecodeCase{"Utf16Be", "utf-16be", "\x4E\x2D\x65\x87"sv, "中文"},
        DecodeCase{"Iso8859_16FromOurTable", "iso-8859-16", "\xA4 \xE9", "\x80 é"},
        DecodeCase{"UserDefinedHighBytes", "x-user-defined", "a\x80\xFF", "a??"},
        DecodeCase{"ReplacementIsOneQuestionMark", "iso-2022-kr", "\x1B$)C\x0E!!\x0F", "?"},
        DecodeCase{"ReplacementOfNothing", "iso-2022-kr", "", ""},
        DecodeCase{"EmptyBody", "utf-8", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    BadInput, DecodeTest,
    ::testing::Values(DecodeCase{"Utf8BomDropped", "utf-8", "\xEF\xBB\xBF\xE4\xB8\xAD", "中"},
                      // A byte-order mark wins over the declared name, as in browsers.
                      DecodeCase{"Utf8BomOverridesLabel", "gbk", "\xEF\xBB\xBF\xE4\xB8\xAD", "中"},
                      DecodeCase{"Utf16LeBomOverridesLabel", "utf-8", "\xFF\xFE\x2D\x4E"sv, "中"},
                      DecodeCase{"InvalidUtf8Byte", "utf-8",
                                 "a\xFF"
                                 "b",
                                 "a?b"},
                      DecodeCase{"TruncatedUtf8AtTheEnd", "utf-8", "a\xE4\xB8", "a?"},
                      DecodeCase{"SurrogateEncodedInUtf8", "utf-8",
                                 "\xED\xA0\x80"
                                 "a",
                                 "???a"},
                      // A lone lead byte is one U+FFFD, never a control character.
                      DecodeCase{"LoneGbkLeadByte", "gbk", "a\x81", "a?"},
                      // 0xFF alone is a character of Windows' 936 (U+F8F5), kept as it is.
                      DecodeCase{"GbkLeadBeforeSpace", "gbk", "\x81 a\xFF", "? a\xFF"},
                      DecodeCase{"BrokenShiftJis", "shift_jis", "\x82 a", "? a"},
                      DecodeCase{"OddUtf16Length", "utf-16le", "\x2D\x4E\x87"sv, "中?"},
                      DecodeCase{"LoneSurrogateInUtf16", "utf-16le",
                                 "\x00\xD8"
                                 "a\x00"sv,
                                 "?a"},
                      DecodeCase{"NulEndsTheText", "utf-8", "ab\0cd"sv, "ab"},
                      DecodeCase{"NulInUtf16EndsTheText", "utf-16le", "a\0\0\0b\0"sv, "a"},
                      DecodeCase{"NulUnderGbk", "gbk", "\xD6\xD0\0\xCE\xC4"sv, "中"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CharsetDecoderTest, LongUtf8PageMatchesAPlainConversion) {
  // Spans many pivot buffers, with characters of every UTF-8 length.
  std::string utf8;
  for (int i = 0; i < 20000; ++i) utf8 += "a\xC3\xA9\xD0\x9F\xE4\xB8\xAD\n";
  std::optional<CharsetDecoder> decoder = CharsetDecoder::ForLabel("utf-8");
  ASSERT_TRUE(decoder.has_value());
  EXPECT_EQ(decoder->Decode(utf8).str(), cp936::FromUtf8(utf8));
}

// UTF-8 has a table-driven path of its own; it must give what the converter
// chain gives, for every character and for bad bytes after good ones.
TEST(CharsetDecoderTest, EveryCharacterInUtf8AsThePlainConversionGivesIt) {
  std::u32string all;
  for (char32_t c = 1; c <= 0x10FFFF; c += (c < 0x10000 ? 1 : 0x1001)) {
    if (c < 0xD800 || c > 0xDFFF) all.push_back(c);
  }
  std::string utf8;
  for (char32_t c : all) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | c >> 6);
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8 += static_cast<char>(0xE0 | c >> 12);
      utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | c >> 18);
      utf8 += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  std::optional<CharsetDecoder> decoder = CharsetDecoder::ForLabel("utf-8");
  ASSERT_TRUE(decoder.has_value());
  EXPECT_EQ(decoder->Decode(utf8).str(), cp936::FromUtf8(utf8));
  // The same characters with one bad byte late in the page.
  const std::string broken = utf8 + "\xC0" + utf8.substr(0, 1000);
  EXPECT_EQ(decoder->Decode(broken).str(),
            cp936::FromUtf8(utf8) + "?" + cp936::FromUtf8(utf8.substr(0, 1000)));
}

TEST(CharsetDecoderTest, SingleBytePageThatDoublesInSize) {
  // Every windows-1251 letter takes two bytes in 936, so the output outgrows the body.
  std::string body(50000, '\xCF');
  std::optional<CharsetDecoder> decoder = CharsetDecoder::ForLabel("windows-1251");
  ASSERT_TRUE(decoder.has_value());
  std::string expected;
  for (int i = 0; i < 50000; ++i) expected += "П";
  EXPECT_EQ(decoder->Decode(body).str(), expected);
}

TEST(CharsetDecoderTest, RecycledBufferLendsMemoryButNoBytes) {
  std::optional<CharsetDecoder> decoder = CharsetDecoder::ForLabel("windows-1251");
  ASSERT_TRUE(decoder.has_value());
  // Larger than needed, smaller than needed (the output doubles), and empty.
  EXPECT_EQ(decoder->Decode("\xCF", std::string(4096, 'x')).str(), "П");
  std::string expected;
  for (int i = 0; i < 1000; ++i) expected += "П";
  EXPECT_EQ(decoder->Decode(std::string(1000, '\xCF'), std::string(1000, 'x')).str(), expected);
  EXPECT_EQ(decoder->Decode("", std::string(100, 'x')).str(), "");
}

}  // namespace
}  // namespace tavrolin::web
