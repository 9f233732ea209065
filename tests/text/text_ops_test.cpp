#include "text/text_ops.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tavrolin {
namespace {

using std::nullopt;
using std::optional;

// Raw bytes as a Text; the Text constructors stop at a NUL, these never hold one.
Text T(std::string_view raw) { return Text(raw); }
Bytes B(std::string_view raw) { return Bytes(raw); }

std::string Hex(std::string_view raw) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : raw) {
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

TEST(QuoteTokenTest, IsTheCodePage936Bytes) {
  EXPECT_EQ(Hex(Text(kQuoteToken).view()), "23 D2 FD BA C5");
  // A GBK character whose second byte is the letter F; later cases lean on it.
  EXPECT_EQ(Hex(Text("镕").view()), "E9 46");
}

TEST(TextLeftMidTest, Edges) {
  EXPECT_EQ(Text_Length(""), 0);
  EXPECT_EQ(Text_Length("提取"), 4);
  EXPECT_EQ(Text_Length(T(std::string_view("ab\0cd", 5))), 2);

  struct Case {
    Int start, n;
    const char* expected;
  };
  for (const Case& c : std::vector<Case>{{3, 2, "cd"},
                                         {5, 10, "ef"},
                                         {1, 6, "abcdef"},
                                         {6, 1, "f"},
                                         {0, 3, ""},
                                         {-4, 3, ""},
                                         {7, 1, ""},
                                         {2, 0, ""},
                                         {2, -1, ""}}) {
    EXPECT_EQ(Text_Mid("abcdef", c.start, c.n), c.expected) << c.start << "," << c.n;
  }
  EXPECT_EQ(Text_Left("abc", 10), "abc");
  EXPECT_EQ(Text_Left("abc", 2), "ab");
  EXPECT_EQ(Text_Left("abc", 0), "");
  EXPECT_EQ(Text_Left("abc", -3), "");
  // Byte operations may cut a double-byte character in two.
  EXPECT_EQ(Hex(Text_Left("提取", 3).view()), "CC E1 C8");
  EXPECT_EQ(Hex(Text_Mid("提取", 2, 2).view()), "E1 C8");
}

struct FindCase {
  const char* name;
  std::string_view text;
  std::string_view what;
  optional<Int> start;  // nullopt: left out
  bool ignore_case;
  Int expected;
};

void PrintTo(const FindCase& c, std::ostream* os) { *os << c.name; }

class TextFindTest : public testing::TestWithParam<FindCase> {};

TEST_P(TextFindTest, FindsAtCharacterBoundaries) {
  const FindCase& c = GetParam();
  Int got = c.start ? Text_Find(T(c.text), T(c.what), *c.start, c.ignore_case)
                    : Text_Find(T(c.text), T(c.what));
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextFindTest,
    testing::Values(
        FindCase{"FromFour", "abcabc", "c", 4, false, 6},
        FindCase{"FromZero", "abcabc", "c", 0, false, 3},
        FindCase{"FromOne", "abcabc", "c", 1, false, 3},
        FindCase{"StartLeftOut", "abcabc", "c", nullopt, false, 3},
        FindCase{"FromNegative", "abcabc", "c", -9, false, 3},
        FindCase{"FromPastEnd", "abcabc", "c", 7, false, -1},
        FindCase{"FromLastByte", "abcabc", "c", 6, false, 6},
        FindCase{"EmptyWhatGivesOneNotStart", "abc", "", 2, false, 1},
        FindCase{"EmptyWhatAtLastByte", "abc", "", 3, false, 1},
        FindCase{"EmptyWhatPastEnd", "abc", "", 4, false, -1},
        FindCase{"EmptyWhatInEmptyText", "", "", nullopt, false, -1},
        FindCase{"InEmptyText", "", "a", nullopt, false, -1},
        FindCase{"WhatLongerThanText", "ab", "abc", nullopt, false, -1},
        FindCase{"IgnoreCaseFindsHeader", "content-type: x", "Content-Type:", 1, true, 1},
        FindCase{"ExactMissesHeader", "content-type: x", "Content-Type:", 1, false, -1},
        FindCase{"IgnoreCaseBothCasesAround", "xAbxaB", "ab", 3, true, 5},
        FindCase{"IgnoreCaseNonLetterFirst", "x-A-a", "-a", 3, true, 4},
        FindCase{"OnlyAsciiFolds", "\xC0\xC0", "\xE0\xE0", 1, true, -1},
        // B0 41 and B0 61 are different characters, but folding reaches second bytes.
        FindCase{"FoldingReachesSecondByte", "\xB0\x61", "\xB0\x41", 1, true, 1},
        FindCase{"ExactSecondByteDiffers", "\xB0\x61", "\xB0\x41", 1, false, -1},
        FindCase{"NeverOnSecondByte", "\xB0\x41", "A", 1, false, -1},
        FindCase{"NeverOnSecondByteIgnoringCase", "\xB0\x41", "a", 1, true, -1},
        FindCase{"AfterDoubleByte",
                 "\xB0\x41"
                 "A",
                 "A", 1, false, 3},
        FindCase{"RealCharacterSecondByteF", "镕", "F", 1, true, -1},
        FindCase{"PairsCountedFromStart", "\xB0\xB0\x41", "A", 1, false, 3},
        FindCase{"OddRunHidesLetter", "\xB0\xB0\xB0\x41", "A", 1, false, -1},
        FindCase{"StartOnSecondByteSteppingBeginsThere", "\xB0\x41", "A", 2, false, 2},
        FindCase{"StartShiftsPairing", "\xB0\xB0\xB0\x41", "A", 2, false, 4},
        FindCase{"AsciiResetsPairing", "\xB0\xB0\xB0 \xB0\x41\xB0\xB0\x41", "A", 1, false, 9},
        FindCase{"FoldedCandidateOnSecondByte", "\xB0\x61\x62", "AB", 1, true, -1},
        FindCase{"FoldedCandidateAfterIt", "\xB0\x61\x61\x62", "AB", 1, true, 3},
        FindCase{"DoubleByteWhat", "#引号#引号", "引号", 3, false, 7},
        FindCase{"IncompleteLastCharStillCompared", "ab\xB0", "\xB0", 1, false, 3},
        FindCase{"IncompleteLastCharTooShort", "ab\xB0", "\xB0\x41", 1, false, -1},
        FindCase{"IncompleteAfterPair", "\xB0x\xB0", "x", 1, false, -1}),
    [](const testing::TestParamInfo<FindCase>& info) { return std::string(info.param.name); });

struct ReplaceCase {
  const char* name;
  std::string_view text;
  std::string_view what;
  optional<std::string_view> replacement;  // nullopt: left out (and so are the rest)
  Int start;
  optional<Int> count;
  bool case_sensitive;
  std::string_view expected;
};

void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.name; }

class TextReplaceTest : public testing::TestWithParam<ReplaceCase> {};

TEST_P(TextReplaceTest, Replaces) {
  const ReplaceCase& c = GetParam();
  Text got = c.replacement ? Text_Replace(T(c.text), T(c.what), T(*c.replacement), c.start, c.count,
                                          c.case_sensitive)
                           : Text_Replace(T(c.text), T(c.what));
  EXPECT_EQ(Hex(got.view()), Hex(c.expected)) << got.view();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextReplaceTest,
    testing::Values(
        ReplaceCase{"CountOne", "aaaa", "aa", "b", 1, 1, true, "baa"},
        ReplaceCase{"CountLeftOut", "aaaa", "aa", "b", 1, nullopt, true, "bb"},
        ReplaceCase{"CountZero", "aaaa", "aa", "b", 1, 0, true, "aaaa"},
        ReplaceCase{"CountNegativeIsNoLimit", "aaaa", "aa", "b", 1, -1, true, "bb"},
        ReplaceCase{"ReplacedTextNotSearchedAgain", "aa", "a", "aa", 1, nullopt, true, "aaaa"},
        ReplaceCase{"StartKeepsPrefix", "aaaa", "a", "b", 3, nullopt, true, "aabb"},
        ReplaceCase{"StartBelowOne", "aaaa", "a", "b", -2, 1, true, "baaa"},
        ReplaceCase{"StartPastEnd", "aaaa", "a", "b", 5, nullopt, true, "aaaa"},
        ReplaceCase{"EmptyWhat", "abc", "", "x", 1, nullopt, true, "abc"},
        ReplaceCase{"EmptyText", "", "a", "x", 1, nullopt, true, ""},
        ReplaceCase{"SetCookieFolded", "set-cookie: a\r\nSET-COOKIE: b\r\nSet-Cookie: c",
                    "Set-Cookie", "Set-Cookie", 1, nullopt, false,
                    "Set-Cookie: a\r\nSet-Cookie: b\r\nSet-Cookie: c"},
        ReplaceCase{"ReplacementLeftOut", "Set-Cookie: a=1", "Set-Cookie:", nullopt, 1, nullopt,
                    false, " a=1"},
        ReplaceCase{"CaseSensitiveMisses", "ABC", "b", "x", 1, nullopt, true, "ABC"},
        ReplaceCase{"QuoteToken", "#引号x#引号", kQuoteToken, "\"", 1, nullopt, true, "\"x\""},
        ReplaceCase{"NotOnSecondByte",
                    "\xB0\x41"
                    "A",
                    "A", "z", 1, nullopt, true, "\xB0\x41z"},
        ReplaceCase{"FoldingReachesSecondByte", "\xB0\x61", "\xB0\x41", "Z", 1, nullopt, false,
                    "Z"},
        // The scan reaches a lone lead byte at the end only while `what` still fits there.
        ReplaceCase{"IncompleteLastCharDropped", "yx\xB0", "y", "z", 1, nullopt, true, "zx"},
        ReplaceCase{"IncompleteDroppedWithoutMatch", "x\xB0", "y", "z", 1, nullopt, true, "x"},
        ReplaceCase{"IncompleteAfterPairDropped", "\xB0\xB0\xB0", "y", "z", 1, nullopt, true,
                    "\xB0\xB0"},
        ReplaceCase{"IncompleteMatchedIsReplaced", "x\xB0", "\xB0", "z", 1, nullopt, true, "xz"},
        ReplaceCase{"LongerWhatKeepsTail", "x\xB0", "ab", "z", 1, nullopt, true, "x\xB0"},
        ReplaceCase{"CountReachedKeepsTail", "yx\xB0", "y", "z", 1, 1, true, "zx\xB0"},
        ReplaceCase{"PairAtEndNotDropped", "x\xB0\xB0", "y", "z", 1, nullopt, true, "x\xB0\xB0"}),
    [](const testing::TestParamInfo<ReplaceCase>& info) { return std::string(info.param.name); });

TEST(TextReplaceTest, SetCookieFoldingKeepsLength) {
  Text headers = "HTTP/1.1 200 OK\r\nset-cookie: a=1\r\nSET-COOKIE: b=2\r\n";
  Text fixed = Text_Replace(headers, "Set-Cookie", "Set-Cookie", 1, nullopt, false);
  EXPECT_EQ(Text_Length(fixed), Text_Length(headers));
  EXPECT_EQ(fixed, "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n");
}

struct SplitCase {
  const char* name;
  std::string_view text;
  optional<std::string_view> delimiter;  // nullopt: left out, and so is count
  optional<Int> count;
  std::vector<std::string_view> expected;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class TextSplitTest : public testing::TestWithParam<SplitCase> {};

TEST_P(TextSplitTest, Splits) {
  const SplitCase& c = GetParam();
  TextList got =
      c.delimiter ? Text_Split(T(c.text), T(*c.delimiter), c.count) : Text_Split(T(c.text));
  std::vector<std::string> got_hex, expected_hex;
  for (const Text& member : got) got_hex.push_back(Hex(member.view()));
  for (std::string_view member : c.expected) expected_hex.push_back(Hex(member));
  EXPECT_EQ(got_hex, expected_hex);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextSplitTest,
    testing::Values(SplitCase{"HeaderLines", "a\r\n\r\nb\r\n", "\r\n", nullopt, {"a", "", "b"}},
                    SplitCase{"EmptyText", "", "\r\n", nullopt, {}},
                    SplitCase{"NoDelimiter", "abc", "\r\n", nullopt, {"abc"}},
                    SplitCase{"CountTwo", "a,b,c", ",", 2, {"a", "b"}},
                    SplitCase{"CountAboveMembers", "a,b", ",", 5, {"a", "b"}},
                    SplitCase{"CountUsedUpAtTrailingDelimiter", "a,b,", ",", 2, {"a", "b"}},
                    SplitCase{"CountZero", "a,b", ",", 0, {}},
                    SplitCase{"NegativeCountIsZero", "a,b", ",", -1, {}},
                    SplitCase{"DelimiterLeftOutIsComma", "a,b", nullopt, nullopt, {"a", "b"}},
                    SplitCase{"EmptyDelimiter", "a,b", "", nullopt, {"a,b"}},
                    SplitCase{
                        "EmptyMembersKeptButNotLast", ",a,,b,", ",", nullopt, {"", "a", "", "b"}},
                    SplitCase{"OnlyDelimiter", ",", ",", nullopt, {""}},
                    SplitCase{"CaseAlwaysMatters", "aXbxc", "x", nullopt, {"aXb", "c"}},
                    SplitCase{"NotOnSecondByte", "\xB0,x,y", ",", nullopt, {"\xB0,x", "y"}},
                    SplitCase{"IncompleteLastCharKept", "a,\xB0", ",", nullopt, {"a", "\xB0"}},
                    SplitCase{"IncompleteLastCharAsDelimiter", "a\xB0", "\xB0", nullopt, {"a"}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(TextTrimTest, Blanks) {
  struct Case {
    std::string_view text, expected;
  };
  for (const Case& c : std::vector<Case>{
           // The tab is no blank, so nothing at the end goes.
           {"  a b\xA1\xA1\t", "a b\xA1\xA1\t"},
           {" \xA1\xA1 \xA1\xA1", ""},
           {"\xA1\xA1"
            "a\xA1\xA1 ",
            "a"},
           {"", ""},
           {"\ta\r\n", "\ta\r\n"},
           {"a  b", "a  b"},
           // An incomplete last character goes; blanks before it stay.
           {" a \xB0", "a "},
           {"  \xB0", ""},
           {" \xA1", ""},
           // B0 A1 is a character, so the trailing A1 is incomplete, not half a blank.
           {"\xB0\xA1\xA1", "\xB0\xA1"},
           {"\xB0\xA1\xA1\xA1", "\xB0\xA1"},
           {"提取 ", "提取"},
       }) {
    EXPECT_EQ(Hex(Text_Trim(T(c.text)).view()), Hex(c.expected)) << Hex(c.text);
  }
}

TEST(TextCompareTest, Equality) {
  struct Case {
    std::string_view a, b;
    bool case_sensitive;
    bool equal;
  };
  for (const Case& c : std::vector<Case>{
           {"Location: ", "location: ", false, true},
           {"Location: ", "LOCATION: ", false, true},
           {"Location: ", "location: ", true, false},
           {"Location: ", "Location:", false, false},
           {"", "", true, true},
           {"", "a", false, false},
           {"\xC0", "\xE0", false, false},  // only ASCII folds
           // A double-byte character is one unit: its second byte never folds.
           {"\xB0\x41", "\xB0\x61", false, false},
           {"\xB0\x41", "\xB0\x61", true, false},
           {"a\xB0\x41z", "A\xB0\x41Z", false, true},
       }) {
    EXPECT_EQ(Text_Compare(T(c.a), T(c.b), c.case_sensitive) == 0, c.equal)
        << Hex(c.a) << " / " << Hex(c.b);
  }
  EXPECT_LT(Text_Compare("a", "B"), 0);
  EXPECT_GT(Text_Compare("b", "A"), 0);
}

TEST(TextCompareBytesTest, UnsignedByteOrder) {
  struct Case {
    std::string_view a, b;
    int expected;
  };
  for (const Case& c : std::vector<Case>{{"", "", 0},
                                         {"", "a", -1},
                                         {"a", "", 1},
                                         {"ab", "ab", 0},
                                         {"a", "ab", -1},
                                         {"b", "ab", 1},
                                         {"a", "A", 1},
                                         {"\x80", "a", 1},  // bytes are unsigned
                                         {"0", "0", 0}}) {
    EXPECT_EQ(Text_CompareBytes(T(c.a), T(c.b)), c.expected) << Hex(c.a) << " / " << Hex(c.b);
  }
}

TEST(TextConcatTest, JoinsInOrder) {
  EXPECT_EQ(Text_Concat("a", "", "bc"), "abc");
  EXPECT_EQ(Text_Concat({"x", "y", "z"}), "xyz");
  EXPECT_EQ(Text_Concat("", ""), "");
  Text t = "ab";
  EXPECT_EQ(Text_Concat(std::move(t), t), "abab");  // NOLINT: the part may be the head
}

TEST(TextConcatTest, RvalueHeadKeepsItsBuffer) {
  Text head = "start";
  head.reserve(1000);
  const char* buffer = head.c_str();
  Text grown = Text_Concat(std::move(head), Text("-chunk"), "-more");
  EXPECT_EQ(grown, "start-chunk-more");
  EXPECT_EQ(grown.c_str(), buffer);
  grown = Text_Concat(std::move(grown), {Text("!")});
  EXPECT_EQ(grown.c_str(), buffer);
}

TEST(BytesTest, Operations) {
  EXPECT_EQ(Text_ToBytes("ab"), B("ab"));
  EXPECT_EQ(Text_ToBytes(""), Bytes());
  EXPECT_EQ(Bytes_ToText(B(std::string_view("a\0b", 3))), "a");
  EXPECT_EQ(Bytes_ToText(B("ab")), "ab");
  EXPECT_EQ(Bytes_ToText(Bytes()), "");
  EXPECT_EQ(Bytes_Length(B(std::string_view("\0\0\0", 3))), 3);
  EXPECT_EQ(Bytes_Length(Bytes()), 0);
  EXPECT_EQ(Bytes_Blank(0), Bytes());
  EXPECT_EQ(Bytes_Blank(-2), Bytes());
  EXPECT_EQ(Bytes_Blank(INT64_MAX), Bytes());
  EXPECT_EQ(Bytes_Blank(3), B(std::string_view("\0\0\0", 3)));

  const Bytes abc = B(std::string_view("a\0c", 3));
  EXPECT_EQ(Bytes_Left(abc, -1), Bytes());
  EXPECT_EQ(Bytes_Left(abc, 0), Bytes());
  EXPECT_EQ(Bytes_Left(abc, 2), B(std::string_view("a\0", 2)));
  EXPECT_EQ(Bytes_Left(abc, 10), abc);
  EXPECT_EQ(Bytes_Left(Bytes(abc), 2), B(std::string_view("a\0", 2)));
  EXPECT_EQ(Bytes_Left(Bytes(abc), -1), Bytes());

  const char buffer[] = {'x', '\0', 'y'};
  EXPECT_EQ(Bytes_FromPointer(buffer, 3), B(std::string_view(buffer, 3)));
  EXPECT_EQ(Bytes_FromPointer(buffer, 0), Bytes());
  EXPECT_EQ(Bytes_FromPointer(nullptr, 5), Bytes());

  EXPECT_EQ(Bytes_Concat(abc, abc), B(std::string_view("a\0ca\0c", 6)));
  EXPECT_EQ(Bytes_Concat({Bytes(), Bytes()}), Bytes());
  EXPECT_EQ(Bytes_Concat({B("a"), Bytes(), B("b")}), B("ab"));
}

// A growing body takes its chunks through the rvalue forms without reallocating.
TEST(BytesTest, RvalueFormsKeepTheBuffer) {
  Bytes body;
  body.reserve(64);
  const char* buffer = body.data();
  body = Bytes_Concat(std::move(body), B("chunk1"));
  body = Bytes_Concat(std::move(body), {B(std::string_view("\0", 1)), B("chunk2")});
  EXPECT_EQ(body.data(), buffer);
  EXPECT_EQ(Bytes_Length(body), 13);
  body = Bytes_Left(std::move(body), 6);
  EXPECT_EQ(body.data(), buffer);
  EXPECT_EQ(body, B("chunk1"));
  Text text = Bytes_ToText(std::move(body));
  EXPECT_EQ(text.c_str(), buffer);
  EXPECT_EQ(text, "chunk1");
}

struct BetweenCase {
  const char* name;
  std::string_view text;
  std::string_view start_marker;
  std::string_view end_marker;
  optional<Int> start;  // nullopt: start and ignore_case left out
  bool ignore_case;
  std::string_view expected;
};

void PrintTo(const BetweenCase& c, std::ostream* os) { *os << c.name; }

class TextBetweenTest : public testing::TestWithParam<BetweenCase> {};

TEST_P(TextBetweenTest, Cuts) {
  const BetweenCase& c = GetParam();
  Text got =
      c.start ? Text_Between(T(c.text), T(c.start_marker), T(c.end_marker), *c.start, c.ignore_case)
              : Text_Between(T(c.text), T(c.start_marker), T(c.end_marker));
  EXPECT_EQ(Hex(got.view()), Hex(c.expected)) << got.view();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextBetweenTest,
    testing::Values(
        BetweenCase{"QuoteTokens", "x\"y\"z", "#引号", "#引号", nullopt, false, "y"},
        BetweenCase{"QuoteTokenInsideMarker", "var nick = \"name\";", "nick = #引号", "#引号;",
                    nullopt, false, "name"},
        BetweenCase{"Simple", "<b>bold</b>", "<b>", "</b>", nullopt, false, "bold"},
        BetweenCase{"StartMissing", "<b>bold</b>", "<i>", "</b>", nullopt, false, ""},
        BetweenCase{"EndMissing", "<b>bold", "<b>", "</b>", nullopt, false, ""},
        BetweenCase{"EndDirectlyAfterStart", "<b></b>", "<b>", "</b>", nullopt, false, ""},
        BetweenCase{"OnlyFirstStartMarkerUsed", "[a[b]", "[", "]", nullopt, false, "a[b"},
        BetweenCase{"EndSearchedAfterStart", "]x[y]", "[", "]", nullopt, false, "y"},
        BetweenCase{"StartPosition", "[a][b]", "[", "]", 2, false, "b"},
        BetweenCase{"IgnoreCase", "<B>bold</B>", "<b>", "</b>", 0, true, "bold"},
        BetweenCase{"ExactCase", "<B>bold</B>", "<b>", "</b>", 0, false, ""},
        BetweenCase{"EmptyStartMarker", "abc]d]", "", "]", nullopt, false, "abc"},
        BetweenCase{"EmptyStartMarkerIgnoresStart", "abc]d]", "", "]", 3, false, "abc"},
        BetweenCase{"EmptyStartMarkerPastEnd", "abc]", "", "]", 5, false, ""},
        BetweenCase{"EmptyEndMarker", "abc", "a", "", nullopt, false, ""},
        BetweenCase{"EmptyEndMarkerAtStart", "abc", "", "", nullopt, false, ""},
        BetweenCase{"StartMarkerAtEnd", "abc", "c", "x", nullopt, false, ""},
        BetweenCase{"DoubleByteText", "标题：提取。", "：", "。", nullopt, false, "提取"},
        BetweenCase{"MarkerNotOnSecondByte", "\xB0[x][y]", "[", "]", nullopt, false, "y"}),
    [](const testing::TestParamInfo<BetweenCase>& info) { return std::string(info.param.name); });

TEST(TextToWideTest, ByteLayouts) {
  struct Case {
    std::string_view text;
    bool drop_terminator;
    std::string_view expected;
  };
  using namespace std::string_view_literals;
  for (const Case& c : std::vector<Case>{
           {"a", false, "\x61\0\0\0"sv},
           {"a", true, "\x61\0"sv},
           {"", false, ""},
           {"", true, ""},
           {"\x80", true, "\xAC\x20"sv},  // euro sign, as on Windows
           {"中", false, "\x2D\x4E\0\0"sv},
           {"\xFF", true, "\xF5\xF8"sv},
           {"a\xB0", true, "a\0\xFD\xFF"sv},      // lone lead byte at the end
           {"\x81 x", true, "\xFD\xFF \0x\0"sv},  // bad second byte: the ASCII survives
       }) {
    EXPECT_EQ(Hex(Text_ToWide(T(c.text), c.drop_terminator).view()), Hex(c.expected))
        << Hex(c.text);
  }
}

TEST(WideToTextTest, StopsAtFirstNulUnit) {
  struct Case {
    std::string_view wide;
    std::string_view expected;
  };
  using namespace std::string_view_literals;
  for (const Case& c : std::vector<Case>{
           {"a\0b\0"sv, "ab"},
           {"a\0\0\0b\0"sv, "a"},
           {"a\0b\0c"sv, "ab"},  // the odd byte is ignored
           {"", ""},
           {"a"sv, ""},
           {"\0\0a\0"sv, ""},
           {"\xAC\x20"sv, "\x80"},
           {"\x2D\x4E\x87\x65\0\0"sv, "中文"},
           // A surrogate pair is one character; a lone surrogate is one too.
           {"\x3D\xD8\x00\xDE\x62\0"sv, "?b"},
           {"\x00\xD8x\0"sv, "?x"},
           // U+2022 is not in 936.
           {"\xAC\x20\x22\x20"sv, "\x80?"},
           // e + U+0301 is composed, as WC_COMPOSITECHECK does.
           {"e\0\x01\x03"sv, "\xA8\xA6"},
       }) {
    EXPECT_EQ(Hex(Wide_ToText(B(c.wide)).view()), Hex(c.expected)) << Hex(c.wide);
  }
}

TEST(WideToTextTest, RoundTripsText) {
  for (Text text : {Text("提取"), Text(kQuoteToken), Text("abc 镕 \x80 ；")}) {
    EXPECT_EQ(Wide_ToText(Text_ToWide(text)), text);
  }
}

// The fast searches against the stepping done one character at a time, on random
// texts built from bytes that stress the stepping: lead bytes, letters of both cases
// as second bytes, the full-width blank, and an occasional lone lead byte at the end.
class SteppingAgreementTest : public testing::Test {
 protected:
  static Int SlowFind(std::string_view text, std::string_view what, Int start, bool fold) {
    std::size_t i = start <= 1 ? 0 : static_cast<std::size_t>(start - 1);
    if (i >= text.size()) return -1;
    if (what.empty()) return 1;
    while (text.size() - i >= what.size()) {
      if (Same(text.substr(i, what.size()), what, fold)) return static_cast<Int>(i) + 1;
      if (static_cast<unsigned char>(text[i]) >= 0x80) {
        if (i + 1 == text.size()) break;
        i += 2;
      } else {
        i += 1;
      }
    }
    return -1;
  }

  static bool Same(std::string_view a, std::string_view b, bool fold) {
    for (std::size_t k = 0; k < a.size(); ++k) {
      char x = a[k], y = b[k];
      if (fold && x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
      if (fold && y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
      if (x != y) return false;
    }
    return true;
  }

  std::string Random(std::size_t max_length) {
    static const char kAlphabet[] = {'a', 'A', 'b', 'B', ' ', '\xA1', '\xB0', '\xE9'};
    std::uniform_int_distribution<std::size_t> length(0, max_length);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 1);
    std::string out(length(rng_), ' ');
    for (char& c : out) c = kAlphabet[pick(rng_)];
    return out;
  }

  std::mt19937 rng_{20240601};
};

TEST_F(SteppingAgreementTest, FindAgreesWithCharacterStepping) {
  for (int round = 0; round < 20000; ++round) {
    std::string text = Random(14);
    std::string what = Random(3);
    Int start = static_cast<Int>(rng_() % 17) - 1;
    bool fold = rng_() % 2 == 0;
    ASSERT_EQ(Text_Find(T(text), T(what), start, fold), SlowFind(text, what, start, fold))
        << "text " << Hex(text) << " what " << Hex(what) << " start " << start << " fold " << fold;
  }
}

TEST_F(SteppingAgreementTest, ReplaceAgreesWithCharacterStepping) {
  for (int round = 0; round < 20000; ++round) {
    std::string text = Random(14);
    std::string what = Random(2);
    if (what.empty() || text.empty()) continue;
    bool exact = rng_() % 2 == 0;
    // One character at a time, dropping a lone lead byte the scan reaches at the end.
    std::string expected;
    std::size_t i = 0;
    while (text.size() - i >= what.size()) {
      if (Same(std::string_view(text).substr(i, what.size()), what, !exact)) {
        expected += "<>";
        i += what.size();
      } else if (static_cast<unsigned char>(text[i]) >= 0x80) {
        if (i + 1 == text.size()) {
          i += 1;
          break;
        }
        expected += text.substr(i, 2);
        i += 2;
      } else {
        expected += text[i++];
      }
    }
    expected += text.substr(i);
    ASSERT_EQ(Hex(Text_Replace(T(text), T(what), "<>", 1, nullopt, exact).view()), Hex(expected))
        << "text " << Hex(text) << " what " << Hex(what) << " exact " << exact;
  }
}

TEST_F(SteppingAgreementTest, SplitAgreesWithFind) {
  for (int round = 0; round < 20000; ++round) {
    std::string text = Random(14);
    std::string delimiter = Random(2);
    if (delimiter.empty() || text.empty()) continue;
    std::vector<std::string> expected;
    std::size_t from = 0;
    while (true) {
      Int hit = SlowFind(text, delimiter, static_cast<Int>(from) + 1, false);
      if (hit == -1 || from >= text.size()) break;
      expected.push_back(text.substr(from, static_cast<std::size_t>(hit - 1) - from));
      from = static_cast<std::size_t>(hit - 1) + delimiter.size();
    }
    if (from < text.size()) expected.push_back(text.substr(from));
    std::vector<std::string> got;
    for (const Text& member : Text_Split(T(text), T(delimiter))) got.push_back(member.str());
    ASSERT_EQ(got, expected) << "text " << Hex(text) << " delimiter " << Hex(delimiter);
  }
}

}  // namespace
}  // namespace tavrolin
