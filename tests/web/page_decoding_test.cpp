// The decoding stage: which declarations are seen in the first 1024 bytes,
// what the page becomes, and the one round of event processing it owes.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/support/loopback_server.h"
#include "text/regex_object.h"
#include "text/text_ops.h"
#include "web/events.h"
#include "web/stages.h"
#include "web/web_request.h"

namespace tavrolin::web {
namespace {

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Padding that puts the next byte at 1-based position `position` of the page.
std::string PadTo(std::size_t position, std::string_view head = "<html><head>") {
  std::string out(head);
  out.append(position - 1 - head.size(), ' ');
  return out;
}

struct PageCase {
  const char* name;
  std::string body;
  std::string expected;  // code page 936 bytes; narrow literals compile to them
};

class DecodePageTest : public ::testing::TestWithParam<PageCase> {
 protected:
  void SetUp() override {
    SetPendingEventsHook([this] { ++event_rounds_; });
  }
  void TearDown() override { SetPendingEventsHook({}); }

  int event_rounds_ = 0;
};

TEST_P(DecodePageTest, PageTextAndOneEventRound) {
  const PageCase& c = GetParam();
  const Bytes body(c.body);
  RegexObject regex;
  // The page text as Web_Request makes it: the body's bytes taken as 936.
  const Text page = DecodePage(regex, body, Bytes_ToText(body));
  EXPECT_EQ(page.str(), c.expected);
  // The charset search always runs, so events are processed exactly once.
  EXPECT_EQ(event_rounds_, 1);
}

const std::string kUtf8Page = Utf8(
    u8"<html><head><meta charset=\"utf-8\"><title>文章标题</title></head>"
    u8"<body>原始ID：gh_1234 — 简介</body></html>");
const std::string kUtf8PageAs936 =
    "<html><head><meta charset=\"utf-8\"><title>文章标题</title></head>"
    "<body>原始ID：gh_1234 — 简介</body></html>";

INSTANTIATE_TEST_SUITE_P(
    Declared, DecodePageTest,
    ::testing::Values(
        PageCase{"Utf8", kUtf8Page, kUtf8PageAs936},
        PageCase{"Utf8InCapitals",
                 Utf8(u8"<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; CHARSET=UTF-8\">"
                      u8"中文"),
                 "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; CHARSET=UTF-8\">中文"},
        // 936 bytes declared as gb2312, with 镕, which only GBK has: kept as they are.
        PageCase{"Gb2312InContentAttribute",
                 "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />"
                 "\xD6\xD0\xCE\xC4\xE9\x46",
                 "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />"
                 "中文镕"},
        PageCase{"QuotedBig5", "<meta charset='big5'>\xA4\xA4\xA4\xE5\xC1\x63\xC5\xE9",
                 "<meta charset='big5'>中文繁體"},
        PageCase{"ShiftJis",
                 "<meta charset=Shift_JIS>"
                 "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x65\x83\x4C\x83\x58\x83\x67",
                 "<meta charset=Shift_JIS>日本語のテキスト"},
        // Only the first declaration counts.
        PageCase{"FirstDeclarationWins", Utf8(u8"<meta charset=utf-8><meta charset=gbk>中"),
                 "<meta charset=utf-8><meta charset=gbk>中"},
        // The first tag breaks across lines and is not seen; the second is.
        PageCase{"SecondTagAfterOneBrokenByALineFeed",
                 Utf8(u8"<meta http-equiv=x\ncharset=gbk><meta charset=utf-8>中"),
                 "<meta http-equiv=x\ncharset=gbk><meta charset=utf-8>中"},
        // Byte 1024 is the name's tenth: "iso-8859-15" is read as "iso-8859-1",
        // which is windows-1252, where A4 is ¤ and not €.
        PageCase{"CutToAnotherKnownName", PadTo(1001) + "<meta charset=iso-8859-15>\xA4",
                 PadTo(1001) + "<meta charset=iso-8859-15>¤"},
        PageCase{"DecodedNulEndsThePage", Utf8(u8"<meta charset=utf-8>中") + '\0' + "tail",
                 "<meta charset=utf-8>中"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Undecoded, DecodePageTest,
    ::testing::Values(
        PageCase{"NoDeclaration", Utf8(u8"<html>中</html>"), Utf8(u8"<html>中</html>")},
        PageCase{"EmptyBody", "", ""},
        PageCase{"UnknownName", Utf8(u8"<meta charset=x-nobody>中"),
                 Utf8(u8"<meta charset=x-nobody>中")},
        PageCase{"DeclarationAfterByte1024", PadTo(1025) + Utf8(u8"<meta charset=utf-8>中"),
                 PadTo(1025) + Utf8(u8"<meta charset=utf-8>中")},
        // Only "ut" lies inside the window: no table knows it.
        PageCase{"NameCutToUnknown", PadTo(1009) + Utf8(u8"<meta charset=utf-8>中"),
                 PadTo(1009) + Utf8(u8"<meta charset=utf-8>中")},
        // "charset=" cut itself: nothing matches in the window.
        PageCase{"CharsetWordCut", PadTo(1014) + Utf8(u8"<meta charset=utf-8>中"),
                 PadTo(1014) + Utf8(u8"<meta charset=utf-8>中")},
        PageCase{"LineFeedBeforeCharset",
                 Utf8(u8"<meta http-equiv=\"Content-Type\"\n content=\"charset=utf-8\">中"),
                 Utf8(u8"<meta http-equiv=\"Content-Type\"\n content=\"charset=utf-8\">中")},
        // Two characters between "charset=" and the name: the name is not taken.
        PageCase{"TwoCharactersBeforeTheName", Utf8(u8"<meta charset= \"utf-8\">中"),
                 Utf8(u8"<meta charset= \"utf-8\">中")},
        // The undecoded page still ends at the body's first NUL.
        PageCase{"NulInUndecodedBody", std::string("ab\0cd", 5), "ab"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecodePageWindowTest, PaddingPutsTheNameWhereTheCasesSay) {
  // Guards the arithmetic of the cut cases above.
  RegexObject regex;
  const std::string cut = PadTo(1009) + "<meta charset=utf-8>";
  ASSERT_TRUE(regex.Create("<meta.+?charset=[^\\w]?([-\\w]+)", Text_Left(Text(cut), 1024)));
  EXPECT_EQ(regex.SubMatchText(1, 1), "ut");
  const std::string other = PadTo(1001) + "<meta charset=iso-8859-15>";
  ASSERT_TRUE(regex.Create("<meta.+?charset=[^\\w]?([-\\w]+)", Text_Left(Text(other), 1024)));
  EXPECT_EQ(regex.SubMatchText(1, 1), "iso-8859-1");
}

TEST(DecodePageBodyTest, DecodesTheBodyNotThePageText) {
  // The page text only serves the search; the decoded text comes from the body,
  // all of it, even past a NUL-free page text that was shorter.
  SetPendingEventsHook({});
  RegexObject regex;
  const Bytes body(Utf8(u8"<meta charset=utf-8>中文"));
  EXPECT_EQ(DecodePage(regex, body, "<meta charset=utf-8>").str(), "<meta charset=utf-8>中文");
}

// The same stage inside a whole Web_Request, served by a loopback server.
struct ServedCase {
  const char* name;
  std::string body;
  std::string content_type;
  std::string expected;
};

class DecodeServedPageTest : public ::testing::TestWithParam<ServedCase> {};

TEST_P(DecodeServedPageTest, WebRequestReturnsTheDecodedPage) {
  const ServedCase& c = GetParam();
  test::LoopbackServer server(test::Reply::Page(c.body, c.content_type));
  Text status;
  Bytes raw;
  const Text page = Web_Request(Text(server.Url("/s")), kMethodGet, {}, std::nullopt, nullptr, {},
                                nullptr, false, {}, {}, {}, {}, {}, 5, nullptr, &status, &raw);
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(page.str(), c.expected);
  EXPECT_EQ(raw.str(), c.body);  // the raw body is never decoded
}

INSTANTIATE_TEST_SUITE_P(
    Served, DecodeServedPageTest,
    ::testing::Values(ServedCase{"Utf8", kUtf8Page, "text/html", kUtf8PageAs936},
                      ServedCase{"Gb2312", "<meta charset=gb2312>\xD6\xD0\xCE\xC4\xE9\x46",
                                 "text/html", "<meta charset=gb2312>中文镕"},
                      ServedCase{"Big5", "<meta charset=\"big5\">\xA4\xA4\xA4\xE5", "text/html",
                                 "<meta charset=\"big5\">中文"},
                      // Only the meta tag counts, never the response's Content-Type.
                      ServedCase{"HeaderCharsetIgnored", Utf8(u8"<p>中</p>"),
                                 "text/html; charset=utf-8", Utf8(u8"<p>中</p>")},
                      ServedCase{"UnknownName", Utf8(u8"<meta charset=utf-1>中"), "text/html",
                                 Utf8(u8"<meta charset=utf-1>中")},
                      ServedCase{"DeclarationAfterByte1024",
                                 PadTo(1025) + Utf8(u8"<meta charset=utf-8>中"), "text/html",
                                 PadTo(1025) + Utf8(u8"<meta charset=utf-8>中")}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavrolin::web
