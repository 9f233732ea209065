// Web_Request over the real libcurl transport against our scripted loopback
// server: what goes out on the wire and what comes back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/loopback_server.h"
#include "text/text_ops.h"
#include "web/web_request.h"

namespace tavrolin {
namespace {

using test::LoopbackServer;
using test::Reply;

struct Outputs {
  Text cookies, headers, location, status;
  Bytes bytes;
};

Text Request(const std::string& url, Outputs& out, std::int32_t method = kMethodGet,
             const Text& post_data = {}, std::int32_t timeout_seconds = 0,
             const std::optional<Text>& send_cookies = std::nullopt, bool no_redirect = false) {
  return Web_Request(Text(url), method, post_data, send_cookies, &out.cookies, {}, &out.headers,
                     no_redirect, {}, {}, {}, {}, {}, timeout_seconds, &out.location, &out.status,
                     &out.bytes);
}

TEST(WebRequestLoopback, UrlAloneSendsExactlyTheDefaultRequest) {
  LoopbackServer server(Reply::Page("<html>ok</html>"));
  const Text page = Web_Request(Text(server.Url("/s/abc?x=1")));

  EXPECT_EQ(page, "<html>ok</html>");
  ASSERT_EQ(server.request_count(), 1u);
  const std::string expected =
      "GET /s/abc?x=1 HTTP/1.1\r\n"
      "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n"
      "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
      "Accept: text/html, application/xhtml+xml, */*\r\n"
      "Accept-Encoding: gbk, GB2312\r\n"
      "Accept-Language: zh-cn\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\n"
      "Cache-Control: no-cache\r\n";
  const std::string raw = server.request(0).raw;
  // The connection header is the service's own; everything else is ours, in our order.
  std::string without_connection;
  for (std::size_t start = 0; start < raw.size();) {
    std::size_t end = raw.find("\r\n", start);
    end = end == std::string::npos ? raw.size() : end + 2;
    const std::string line = raw.substr(start, end - start);
    if (line.rfind("Connection:", 0) != 0) without_connection += line;
    start = end;
  }
  EXPECT_EQ(without_connection, expected + "\r\n");
}

struct MethodCase {
  std::int32_t method;
  const char* post_data;
  const char* verb;
};

class WebRequestMethods : public ::testing::TestWithParam<MethodCase> {};

TEST_P(WebRequestMethods, VerbAndBodyOnTheWire) {
  LoopbackServer server(Reply::Page("done"));
  Outputs out;
  Request(server.Url("/m"), out, GetParam().method, GetParam().post_data);
  ASSERT_EQ(server.request_count(), 1u);
  const auto request = server.request(0);
  EXPECT_EQ(request.method, GetParam().verb);
  EXPECT_EQ(request.body, GetParam().post_data);
  if (*GetParam().post_data == '\0') {
    EXPECT_THAT(request.Header("Content-Length").value_or("0"), "0");
  }
  EXPECT_EQ(out.status, "200 OK");
}

INSTANTIATE_TEST_SUITE_P(Methods, WebRequestMethods,
                         ::testing::Values(MethodCase{kMethodGet, "", "GET"},
                                           MethodCase{kMethodGet, "q=1", "GET"},
                                           MethodCase{kMethodPost, "a=1&b=提取", "POST"},
                                           MethodCase{kMethodPut, "x", "PUT"},
                                           MethodCase{7, "", "GET"}));

TEST(WebRequestLoopback, HeadReturnsAtOnceWithEmptyBody) {
  LoopbackServer server(
      Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nContent-Type: text/html\r\n\r\n"));
  Outputs out;
  EXPECT_EQ(Request(server.Url("/h"), out, kMethodHead), "");
  EXPECT_EQ(out.status, "200 OK");
  EXPECT_EQ(out.bytes, Bytes());
  EXPECT_THAT(out.headers.str(), ::testing::HasSubstr("Content-Length: 1000\r\n"));
}

TEST(WebRequestLoopback, BodyWithNulKeptWholePageEndsBeforeIt) {
  LoopbackServer server(Reply::Page(std::string("ab\0cd", 5), "application/octet-stream"));
  Outputs out;
  EXPECT_EQ(Request(server.Url("/nul"), out), "ab");
  EXPECT_EQ(out.bytes, Bytes(std::string("ab\0cd", 5)));
}

TEST(WebRequestLoopback, ChineseBodyIsTakenAsCodePage936Bytes) {
  LoopbackServer server(Reply::Page(std::string(Text("原始ID：提取").view())));
  Outputs out;
  EXPECT_EQ(Request(server.Url("/"), out), "原始ID：提取");
}

TEST(WebRequestLoopback, HeadersOfTheFinalResponseWithStatusCookiesAndLocation) {
  LoopbackServer server([](const test::RecordedRequest& r) {
    if (r.target == "/start") return Reply::Redirect(302, "/end", "a=1; Path=/");
    return Reply::Page("end", "text/html", 200, "Set-Cookie: b=2\r\n");
  });
  Outputs out;
  EXPECT_EQ(Request(server.Url("/start"), out), "end");
  EXPECT_EQ(out.status, "200 OK");
  EXPECT_THAT(out.headers.str(), ::testing::StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(out.headers.str(), ::testing::EndsWith("\r\n\r\n"));
  EXPECT_EQ(out.cookies, "b=2");
  EXPECT_EQ(out.location, "");
}

TEST(WebRequestLoopback, NoRedirectReturnsTheRedirectWithItsTarget) {
  LoopbackServer server(Reply::Redirect(301, "/moved"));
  Outputs out;
  EXPECT_EQ(Request(server.Url("/old"), out, kMethodGet, {}, 0, std::nullopt, true), "");
  EXPECT_EQ(out.status, "301 Moved Permanently");
  EXPECT_EQ(out.location, "/moved");
  EXPECT_EQ(server.request_count(), 1u);
}

TEST(WebRequestLoopback, CookiesFollowARedirectOnlyWhenSupplied) {
  auto handler = [](const test::RecordedRequest& r) {
    if (r.target == "/login") return Reply::Redirect(302, "/home", "session=42; Path=/");
    return Reply::Page(r.Header("Cookie").value_or("(no cookie)"));
  };
  {
    LoopbackServer server(handler);
    Outputs out;
    EXPECT_EQ(Request(server.Url("/login"), out), "(no cookie)");
  }
  {
    LoopbackServer server(handler);
    Outputs out;
    EXPECT_EQ(Request(server.Url("/login"), out, kMethodGet, {}, 0, Text("")), "session=42");
  }
}

TEST(WebRequestLoopback, BodyCutShortKeepsWhatArrived) {
  Reply reply = Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial");
  LoopbackServer server(reply);
  Outputs out;
  EXPECT_EQ(Request(server.Url("/cut"), out), "partial");
  EXPECT_EQ(out.bytes, Bytes("partial"));
  // The headers were readable, so the status text replaced the read failure.
  EXPECT_EQ(out.status, "200 OK");
}

TEST(WebRequestLoopback, StalledServerFailsTheWaitWithAShortLimit) {
  Reply reply;
  reply.never_answer = true;
  LoopbackServer server(reply);
  Outputs out;
  out.bytes = Bytes("before");
  EXPECT_EQ(Request(server.Url("/stall"), out, kMethodGet, {}, 1), "");
  EXPECT_EQ(out.status, web_status::k712);
  EXPECT_EQ(out.bytes, Bytes("before"));
}

TEST(WebRequestLoopback, RefusedConnectionFailsTheSend) {
  std::string url;
  {
    LoopbackServer server(Reply::Page(""));
    url = server.Url("/gone");
  }  // closed: nothing listens on that port now
  Outputs out;
  EXPECT_EQ(Request(url, out, kMethodGet, {}, 2), "");
  EXPECT_EQ(out.status, web_status::k711);
}

struct BadUrlCase {
  const char* url;
};

class WebRequestBadUrls : public ::testing::TestWithParam<BadUrlCase> {};

TEST_P(WebRequestBadUrls, FailAtTheParse) {
  Outputs out;
  EXPECT_EQ(Request(GetParam().url, out), "");
  EXPECT_EQ(out.status, web_status::k701);
}

INSTANTIATE_TEST_SUITE_P(Urls, WebRequestBadUrls,
                         ::testing::Values(BadUrlCase{""}, BadUrlCase{"ftp://127.0.0.1/x"},
                                           BadUrlCase{"not a link"}, BadUrlCase{"http://"}));

}  // namespace
}  // namespace tavrolin
