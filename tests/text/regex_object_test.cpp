// RegexObject: the scripting RegExp's options and results over code page 936
// text, and byte positions that stay exact after double-byte characters.
#include "text/regex_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrolin {
namespace {

// Narrow literals are code page 936 at run time, so these are GBK bytes.
const Text kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";

std::vector<std::string> AllMatches(const RegexObject& regex) {
  std::vector<std::string> out;
  for (Int i = 1; i <= regex.MatchCount(); ++i) out.push_back(regex.MatchText(i).str());
  return out;
}

struct SearchCase {
  const char* name;
  Text pattern;
  Text text;
  bool case_sensitive;
  bool multiline;
  bool global;
  bool quote_token;
  std::vector<std::string> matches;
};

class SearchTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchTest, FindsExactlyTheseMatches) {
  const SearchCase& c = GetParam();
  RegexObject regex;
  ASSERT_TRUE(
      regex.Create(c.pattern, c.text, c.case_sensitive, c.multiline, c.global, c.quote_token));
  EXPECT_EQ(AllMatches(regex), c.matches);
}

// Options in the order case_sensitive, multiline, global, quote_token; the
// defaults are false, true, true, false.
INSTANTIATE_TEST_SUITE_P(
    Options, SearchTest,
    ::testing::Values(
        SearchCase{"CaseIgnoredByDefault",
                   "abc",
                   "ABC aBc abc",
                   false,
                   true,
                   true,
                   false,
                   {"ABC", "aBc", "abc"}},
        SearchCase{"CaseSensitive", "abc", "ABC aBc abc", true, true, true, false, {"abc"}},
        SearchCase{"MultilineCaret",
                   "^x\\d",
                   "x1\nx2\r\nx3",
                   false,
                   true,
                   true,
                   false,
                   {"x1", "x2", "x3"}},
        SearchCase{"MultilineDollarBeforeLineFeed",
                   "\\d$",
                   "x1\nx2",
                   false,
                   true,
                   true,
                   false,
                   {"1", "2"}},
        SearchCase{"SingleLineCaret", "^x\\d", "x1\nx2", false, false, true, false, {"x1"}},
        SearchCase{"GlobalOffTakesTheFirst", "a\\d", "a1 a2 a3", false, true, false, false, {"a1"}},
        SearchCase{
            "DotSkipsLineFeedNotReturn", "a.b", "a\nb a\rb", false, true, true, false, {"a\rb"}},
        SearchCase{
            "WordClassIsAscii", "\\w+", "中文abc_1，字", false, true, true, false, {"abc_1"}},
        SearchCase{"ChineseLiteral", "文.", "中文字文b", false, true, true, false, {"文字", "文b"}},
        SearchCase{"EmptyMatchesAdvance", "x*", "axb", false, true, true, false, {"", "x", "", ""}},
        // An empty match moves the search on: "b" is never tried where "" matched.
        SearchCase{"EmptyMatchMovesOn", "x*|b", "b", false, true, true, false, {"", ""}},
        // Only the ASCII letters fold: Greek and full-width letters keep their case.
        SearchCase{"OnlyAsciiFolds", "Α|Ａ|a", "α ａ A", false, true, true, false, {"A"}},
        SearchCase{"NothingMatches", "zzz", "abc", false, true, true, false, {}},
        SearchCase{"EmptyText", "a*", "", false, true, true, false, {""}},
        SearchCase{
            "QuoteTokenBecomesQuote", "a#引号b", "a\"b a#引号b", false, true, true, true, {"a\"b"}},
        SearchCase{"QuoteTokenKeptWithoutTheFlag",
                   "a#引号b",
                   "a\"b a#引号b",
                   false,
                   true,
                   true,
                   false,
                   {"a#引号b"}},
        SearchCase{"CharsetInMeta",
                   kCharsetPattern,
                   "<meta charset=gb2312>",
                   false,
                   true,
                   true,
                   false,
                   {"<meta charset=gb2312"}},
        SearchCase{"CharsetAcrossLineFeed",
                   kCharsetPattern,
                   "<meta http-equiv=\"Content-Type\"\ncontent=\"text/html; charset=utf-8\">",
                   false,
                   true,
                   true,
                   false,
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegexObjectTest, CharsetGroupAsTheDecodingStageReadsIt) {
  RegexObject regex;
  ASSERT_TRUE(regex.Create(kCharsetPattern,
                           "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
                           "CHARSET=UTF-8\">"));
  EXPECT_EQ(regex.SubMatchText(1, 1), "UTF-8");
  ASSERT_TRUE(regex.Create(kCharsetPattern, "<meta charset=\"big5\">"));
  EXPECT_EQ(regex.SubMatchText(1, 1), "big5");
}

TEST(RegexObjectTest, RejectedPatternLeavesEveryReadEmpty) {
  RegexObject regex;
  ASSERT_TRUE(regex.Create("(a)", "a"));
  EXPECT_FALSE(regex.Create("(a", "a"));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.SubMatchCount(), 0);
  Int position = 99;
  EXPECT_EQ(regex.MatchText(1, &position), "");
  EXPECT_EQ(position, -1);
  EXPECT_EQ(regex.SubMatchText(1, 1), "");
  EXPECT_EQ(regex.Replace("x"), "");
  // The pattern was still written, as the scripting object keeps it.
  EXPECT_EQ(regex.GetPattern(), "(a");
}

TEST(RegexObjectTest, SecondRunReplacesTheFirstEntirely) {
  RegexObject regex;
  ASSERT_TRUE(regex.Create("(a)(b)", "ab ab ab"));
  ASSERT_EQ(regex.MatchCount(), 3);
  ASSERT_TRUE(regex.Create("c", "xcx", true, false, false));
  EXPECT_EQ(AllMatches(regex), std::vector<std::string>{"c"});
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.SubMatchText(1, 1), "");
  EXPECT_EQ(regex.MatchText(2), "");
  EXPECT_EQ(regex.GetPattern(), "c");
  EXPECT_EQ(regex.Replace("[$&]"), "x[c]x");
}

TEST(RegexObjectTest, NumbersOutsideTheCollectionGiveEmptyText) {
  RegexObject regex;
  ASSERT_TRUE(regex.Create("(\\d)", "1 2"));
  EXPECT_EQ(regex.MatchCount(), 2);
  EXPECT_EQ(regex.SubMatchCount(), 1);
  EXPECT_EQ(regex.SubMatchText(2, 1), "2");
  for (auto [i, j] :
       std::vector<std::pair<Int, Int>>{{1, 2}, {3, 1}, {0, 1}, {-1, 1}, {1, 0}, {1, -1}}) {
    Int position = 99;
    EXPECT_EQ(regex.SubMatchText(i, j, &position), "") << i << "," << j;
    EXPECT_EQ(position, -1) << i << "," << j;
  }
  for (Int i : {0, 3, -1}) EXPECT_EQ(regex.MatchText(i), "") << i;
}

TEST(RegexObjectTest, NoMatchStillRanAndReadsAreEmpty) {
  RegexObject regex;
  ASSERT_TRUE(regex.Create("(q)", "abc"));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.MatchText(1), "");
  EXPECT_EQ(regex.Replace("x"), "abc");
}

struct PositionCase {
  const char* name;
  Text pattern;
  Text text;
  Int match;
  Int group;  // 0: the whole match
  Text expected_text;
  Int expected_position;
};

class PositionTest : public ::testing::TestWithParam<PositionCase> {};

TEST_P(PositionTest, CountsBytesOfTheTextSearched) {
  const PositionCase& c = GetParam();
  RegexObject regex;
  ASSERT_TRUE(regex.Create(c.pattern, c.text));
  Int position = 99;
  Text got = c.group == 0 ? regex.MatchText(c.match, &position)
                          : regex.SubMatchText(c.match, c.group, &position);
  EXPECT_EQ(got, c.expected_text);
  EXPECT_EQ(position, c.expected_position);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, PositionTest,
    ::testing::Values(PositionCase{"AtStart", "ab", "abab", 1, 0, "ab", 1},
                      PositionCase{"SecondMatch", "ab", "abab", 2, 0, "ab", 3},
                      // 中 and 文 are two bytes each: "b中" starts at byte 6.
                      PositionCase{"AfterDoubleByte", "b中", "中文ab中c", 1, 0, "b中", 6},
                      PositionCase{"GroupInsideItsMatch", "(b)(中)", "中文ab中c", 1, 2, "中", 7},
                      PositionCase{"GroupNotAtTheMatchStart", "a(b+)", "字ab abbb", 2, 1, "bbb", 7},
                      // The same text earlier in the match must not be taken for the group.
                      PositionCase{"GroupTextRepeatedInMatch", "x(x)", "中xx", 1, 1, "x", 4},
                      // A byte that is no 936 character still counts as one byte.
                      PositionCase{"AfterInvalidByte", "ab",
                                   "\xFF"
                                   "ab",
                                   1, 0, "ab", 2},
                      PositionCase{"AfterBrokenPair", "ab", "\x81 ab", 1, 0, "ab", 3},
                      PositionCase{"UnsetGroup", "(x)?b", "ab", 1, 1, "", -1},
                      PositionCase{"EmptyGroup", "a(x*)b", "中ab", 1, 1, "", 4}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReplaceCase {
  const char* name;
  Text pattern;
  Text text;
  bool global;
  Text replacement;
  Text expected;
};

class ReplaceTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceTest, FollowsTheScriptingSyntax) {
  const ReplaceCase& c = GetParam();
  RegexObject regex;
  ASSERT_TRUE(regex.Create(c.pattern, c.text, false, true, c.global));
  EXPECT_EQ(regex.Replace(c.replacement), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replacements, ReplaceTest,
    ::testing::Values(ReplaceCase{"Groups", "(\\w+)@(\\w+)", "me@host you@there", true, "$2 at $1",
                                  "host at me there at you"},
                      ReplaceCase{"FirstOnlyWhenNotGlobal", "(\\w+)@(\\w+)", "me@host you@there",
                                  false, "$2", "host you@there"},
                      ReplaceCase{"WholeMatch", "\\d+", "a1b22", true, "<$&>", "a<1>b<22>"},
                      ReplaceCase{"Dollar", "b", "abc", true, "$$", "a$c"},
                      ReplaceCase{"BeforeAndAfter", "b", "abc", true, "[$`|$']", "a[a|c]c"},
                      ReplaceCase{"MissingGroupIsLiteral", "(a)", "a", true, "$2$0", "$2$0"},
                      ReplaceCase{"TwoDigitsFallBackToOne", "(a)", "a", true, "$10", "a0"},
                      ReplaceCase{"TwoDigitGroup", "(1)(2)(3)(4)(5)(6)(7)(8)(9)(a)", "123456789a",
                                  true, "$10$1", "a1"},
                      ReplaceCase{"UnsetGroupIsEmpty", "(x)?b", "ab", true, "[$1]", "a[]"},
                      ReplaceCase{"TrailingDollar", "b", "abc", true, "x$", "ax$c"},
                      ReplaceCase{"ChineseKeptAround", "中", "一中二中", true, "[$&]",
                                  "一[中]二[中]"},
                      ReplaceCase{"EmptyMatches", "x*", "ab", true, "-", "-a-b-"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegexObjectTest, GetPatternGivesThePatternUsed) {
  RegexObject regex;
  EXPECT_EQ(regex.GetPattern(), "");
  ASSERT_TRUE(regex.Create("id=#引号(\\w+)#引号", "id=\"x\"", false, true, true, true));
  EXPECT_EQ(regex.GetPattern(), "id=\"(\\w+)\"");
  EXPECT_EQ(regex.SubMatchText(1, 1), "x");
}

TEST(RegexObjectTest, CopyKeepsTheRunAndLeavesTheOriginalAlone) {
  RegexObject original;
  ASSERT_TRUE(original.Create("(\\d)", "中1 2"));
  RegexObject copy(original);
  ASSERT_TRUE(copy.Create("z", "z"));
  EXPECT_EQ(AllMatches(original), (std::vector<std::string>{"1", "2"}));
  Int position = 0;
  EXPECT_EQ(original.SubMatchText(1, 1, &position), "1");
  EXPECT_EQ(position, 3);

  RegexObject assigned;
  assigned = original;
  ASSERT_TRUE(original.Create("(", "x") == false);
  EXPECT_EQ(AllMatches(assigned), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(assigned.Replace("<$1>"), "中<1> <2>");
  EXPECT_EQ(assigned.GetPattern(), "(\\d)");
}

TEST(RegexObjectTest, InstanceThatNeverRanReadsEmptyAndDestroysCleanly) {
  RegexObject regex;
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.MatchText(1), "");
  EXPECT_EQ(regex.Replace("x"), "");
  regex.NoOp();
  RegexObject copy(regex);
  EXPECT_EQ(copy.MatchCount(), 0);
}

TEST(RegexObjectTest, CatastrophicPatternEndsWithAClearResult) {
  RegexObject regex;
  // Nested quantifiers over a long run that cannot match: the engine's match
  // limit stops it, and the run counts as failed rather than hanging.
  const Text text(std::string(40, 'a') + "!");
  EXPECT_FALSE(regex.Create("^(a+)+$", text));
  EXPECT_EQ(regex.MatchCount(), 0);
}

}  // namespace
}  // namespace tavrolin
