// The response-header stage on header texts: status text, Set-Cookie spelling,
// the cookie list, the redirect target and one event processing per line.
#include <gtest/gtest.h>

#include <string>

#include "text/text_ops.h"
#include "web/events.h"
#include "web/stages.h"

namespace tavrolin {
namespace {

struct HeaderCase {
  const char* name;
  std::string header_text;
  // What the caller's variables hold on entry.
  std::string cookies_in;
  std::string location_in;
  // What they hold afterwards.
  std::string status;
  std::string cookies;
  std::string location;
};

class ResponseHeadersTest : public ::testing::TestWithParam<HeaderCase> {
 protected:
  void SetUp() override {
    web::SetPendingEventsHook([this] { ++events_; });
  }
  void TearDown() override { web::SetPendingEventsHook({}); }

  int events_ = 0;
};

TEST_P(ResponseHeadersTest, Outputs) {
  const HeaderCase& c = GetParam();
  Text status = "713 leftover";
  Text headers;
  Text cookies(c.cookies_in);
  Text location(c.location_in);
  web::ReadResponseHeaders(Text(c.header_text), {status, headers, cookies, location});
  EXPECT_EQ(status.str(), c.status);
  EXPECT_EQ(cookies.str(), c.cookies);
  EXPECT_EQ(location.str(), c.location);
  EXPECT_EQ(events_, static_cast<int>(Text_Split(Text(c.header_text), "\r\n").size()));
}

INSTANTIATE_TEST_SUITE_P(
    HeaderTexts, ResponseHeadersTest,
    ::testing::Values(
        HeaderCase{"status_with_reason", "HTTP/1.1 200 OK\r\n\r\n", "", "", "200 OK", "", ""},
        HeaderCase{"status_without_reason", "HTTP/1.1 204\r\n\r\n", "", "", "204", "", ""},
        HeaderCase{"status_reason_in_chinese", "HTTP/1.1 404 找不到\r\n\r\n", "", "",
                   "404 找不到", "", ""},
        HeaderCase{"no_crlf_after_position_10", "HTTP/1.1 200 OK", "", "", "", "", ""},
        HeaderCase{"crlf_only_before_position_10", "HTTP/1\r\n200 OK", "", "", "", "", ""},
        HeaderCase{"cookie_with_and_without_semicolon",
                   "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; Path=/\r\nSet-Cookie: b=2\r\n\r\n", "", "",
                   "200 OK", "a=1; b=2", ""},
        HeaderCase{"set_cookie_in_any_case",
                   "HTTP/1.1 200 OK\r\nset-cookie: a=1; Path=/\r\nSET-COOKIE: b=2\r\n\r\n", "", "",
                   "200 OK", "a=1; b=2", ""},
        HeaderCase{"vary_naming_set_cookie_counts", "HTTP/1.1 200 OK\r\nVary: Set-Cookie\r\n\r\n",
                   "", "", "200 OK", "Vary: Set-Cookie", ""},
        HeaderCase{"semicolon_without_set_cookie_colon",
                   "HTTP/1.1 200 OK\r\nX-Set-Cookie-Note: a; b\r\nSet-Cookie: c=3\r\n\r\n", "", "",
                   "200 OK", "; c=3", ""},
        HeaderCase{"last_location_wins",
                   "HTTP/1.1 302 Found\r\nLocation: /first\r\nlocation: /next\r\n\r\n", "", "old",
                   "302 Found", "", "/next"},
        HeaderCase{"location_without_blank_does_not_match",
                   "HTTP/1.1 302 Found\r\nLocation:/next\r\n\r\n", "", "old", "302 Found", "",
                   "old"},
        HeaderCase{"no_location_keeps_the_callers", "HTTP/1.1 200 OK\r\n\r\n", "", "old",
                   "200 OK", "", "old"},
        // A caller's cookies are kept and joined to the new ones.
        HeaderCase{"caller_cookies_joined", "HTTP/1.1 200 OK\r\nSet-Cookie: b=2; Path=/\r\n\r\n",
                   "a=1", "", "200 OK", "a=1; b=2", ""},
        HeaderCase{"caller_cookies_without_new_ones_untouched", "HTTP/1.1 200 OK\r\n\r\n",
                   "a=1; x", "", "200 OK", "a=1; x", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ResponseHeadersSpelling, EverySetCookieVariantReadsSetCookie) {
  Text status, headers, cookies, location;
  web::ReadResponseHeaders("HTTP/1.1 200 OK\r\nset-cookie: a=1\r\nX: SET-COOKIE\r\n\r\n",
                           {status, headers, cookies, location});
  EXPECT_EQ(headers, "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nX: Set-Cookie\r\n\r\n");
}

}  // namespace
}  // namespace tavrolin
