// The libcurl transport against real loopback servers: what goes on the wire,
// what comes back, and at which stage each kind of failure shows.
#include "web/transport_curl.h"

#include <gtest/gtest.h>

#include "tests/support/loopback_server.h"
#include "tests/support/transport_driver.h"

// Each case names only the fields it sets; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tavrolin::test {
namespace {

using namespace std::string_literals;

ExchangeResult Fetch(const ExchangeCall& call) {
  auto transport = web::MakeCurlTransport();
  return RunExchange(*transport, call);
}

std::string HostLine(const LoopbackServer& s) {
  return "Host: 127.0.0.1:" + std::to_string(s.port()) + "\r\n";
}

TEST(CurlTransport, SendsTheCallersHeaderBlockAndNothingOfCurlsOwn) {
  LoopbackServer server(Reply::Page("hi"));
  ExchangeCall call{.url = server.Url("/p/q?x=1&y=2#frag")};
  call.headers = u"User-Agent: Tester/1\r\nAccept: text/html\r\nX-Empty:\r\nX-Two: 2\r\n";
  ExchangeResult r = Fetch(call);
  ASSERT_EQ(r.failed_at, Stage::kDone);
  ASSERT_EQ(server.request_count(), 1u);
  EXPECT_EQ(server.request(0).raw, "GET /p/q?x=1&y=2 HTTP/1.1\r\n" + HostLine(server) +
                                       "User-Agent: Tester/1\r\nAccept: text/html\r\n"
                                       "X-Empty:\r\nX-Two: 2\r\n\r\n");

  // With no block at all only Host goes out: no Accept, User-Agent or Accept-Encoding.
  ExchangeResult bare = Fetch({.url = server.Url("/bare")});
  ASSERT_EQ(bare.failed_at, Stage::kDone);
  EXPECT_EQ(server.request(1).raw, "GET /bare HTTP/1.1\r\n" + HostLine(server) + "\r\n");
}

TEST(CurlTransport, LinksWithBlanksAndNonAsciiArePercentEncoded) {
  LoopbackServer server(Reply::Page("ok"));
  ExchangeResult r = Fetch({.url = server.Url("/a b/\xE6\x96\x87?q=\xE4\xB8\xAD 1")});
  ASSERT_EQ(r.failed_at, Stage::kDone);
  EXPECT_EQ(server.request(0).target, "/a%20b/%E6%96%87?q=%E4%B8%AD%201");
}

struct MethodCase {
  const char16_t* verb;
  std::string body;
  const char* method;
  const char* content_length;  // nullptr: no Content-Length line
};

TEST(CurlTransport, MethodsCarryTheirBodyWhateverTheVerb) {
  const MethodCase cases[] = {
      {u"GET", "", "GET", nullptr},     {u"GET", "a=1", "GET", "3"},
      {u"POST", "", "POST", "0"},       {u"POST", "bin\0ary\0"s, "POST", "8"},
      {u"PUT", "put body", "PUT", "8"}, {u"DELETE", "", "DELETE", nullptr},
      {u"PATCH", "p", "PATCH", "1"},
  };
  LoopbackServer server(Reply::Page("ok"));
  std::size_t n = 0;
  for (const MethodCase& c : cases) {
    ExchangeCall call{.url = server.Url("/m"), .verb = c.verb, .body = c.body};
    call.headers = u"Content-Type: text/plain\r\n";
    ExchangeResult r = Fetch(call);
    SCOPED_TRACE(c.method + (" body " + std::to_string(c.body.size())));
    ASSERT_EQ(r.failed_at, Stage::kDone);
    EXPECT_EQ(r.body, "ok");
    RecordedRequest req = server.request(n++);
    EXPECT_EQ(req.method, c.method);
    EXPECT_EQ(req.body, c.body);
    EXPECT_EQ(req.Header("Content-Length"),
              c.content_length ? std::optional<std::string>(c.content_length) : std::nullopt);
    EXPECT_EQ(req.Header("Expect"), std::nullopt);
    EXPECT_EQ(req.Headers("Content-Type"), std::vector<std::string>{"text/plain"});
  }
}

TEST(CurlTransport, HeadReturnsWithItsHeadersWithoutWaitingForABody) {
  for (std::string body : {""s, "ignored"s}) {
    Reply reply = Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
    reply.close_after_reply = false;
    reply.stall_after = reply.bytes.size();  // then silence: a body that never comes
    LoopbackServer server(reply);
    auto started = std::chrono::steady_clock::now();
    ExchangeResult r = Fetch({.url = server.Url("/h"), .verb = u"HEAD", .body = body});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    ASSERT_EQ(r.failed_at, Stage::kDone);
    EXPECT_FALSE(r.read_failed);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(server.request(0).method, "HEAD");
    EXPECT_EQ(server.request(0).body, body);
  }
}

TEST(CurlTransport, BodyKeepsEveryByteHoweverSmallTheReads) {
  std::string body;
  for (int i = 0; i < 300000; ++i) body += static_cast<char>(i * 7 % 256);
  LoopbackServer server(Reply::Page(body, "application/octet-stream"));
  for (std::uint32_t chunk : {0u, 7u, 4096u}) {
    ExchangeResult r = Fetch({.url = server.Url("/b"), .read_chunk = chunk});
    ASSERT_EQ(r.failed_at, Stage::kDone);
    EXPECT_FALSE(r.read_failed);
    EXPECT_TRUE(r.body == body) << "chunk " << chunk << " size " << r.body.size();
  }
}

TEST(CurlTransport, BodyIsNotDecompressed) {
  const std::string gzip_bytes = "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03"s;
  LoopbackServer server(Reply::Page(gzip_bytes, "text/html", 200, "Content-Encoding: gzip\r\n"));
  ExchangeResult r = Fetch({.url = server.Url("/z")});
  ASSERT_EQ(r.failed_at, Stage::kDone);
  EXPECT_EQ(r.body, gzip_bytes);
}

TEST(CurlTransport, RawHeadersAreTheFinalResponsesOnly) {
  struct Case {
    const char* name;
    std::string wire;
    std::string headers;
  };
  const Case cases[] = {
      {"plain", "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 2\r\n\r\nok",
       "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 2\r\n\r\n"},
      {"after 100 Continue",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok",
       "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\n"},
      {"bare LF lines", "HTTP/1.1 200 OK\nX-B: 2\nContent-Length: 2\n\nok",
       "HTTP/1.1 200 OK\r\nX-B: 2\r\nContent-Length: 2\r\n\r\n"},
  };
  for (const Case& c : cases) {
    LoopbackServer server(Reply::Raw(c.wire));
    ExchangeResult r = Fetch({.url = server.Url("/")});
    SCOPED_TRACE(c.name);
    ASSERT_EQ(r.failed_at, Stage::kDone);
    EXPECT_TRUE(r.headers_ok);
    EXPECT_EQ(r.headers, c.headers);
    EXPECT_EQ(r.body, "ok");
  }
}

TEST(CurlTransport, HeaderProbeReportsTheSizeAndFails) {
  LoopbackServer server(Reply::Page("x"));
  auto t = web::MakeCurlTransport();
  web::UrlComponents parts;
  ASSERT_TRUE(t->CrackUrl(server.Url16("/"), parts));
  auto s = t->Open(web::kAccessNoProxy, u"");
  auto c = t->Connect(s, parts.host, parts.port);
  auto q = t->OpenRequest(c, u"GET", u"/", 0);
  std::uint32_t size = 0, index = 0;
  EXPECT_FALSE(t->QueryHeaders(q, web::kQueryRawHeadersCrlf, nullptr, size, index));  // not sent
  ASSERT_TRUE(t->SendRequest(q, nullptr, 0, 0));
  ASSERT_TRUE(t->ReceiveResponse(q));
  EXPECT_FALSE(t->QueryHeaders(q, web::kQueryRawHeadersCrlf, nullptr, size, index));
  const std::u16string expected =
      u"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1\r\n\r\n";
  EXPECT_EQ(size, (expected.size() + 1) * 2);
  std::u16string buffer(size / 2, u'?');
  std::uint32_t small = size - 2;
  EXPECT_FALSE(t->QueryHeaders(q, web::kQueryRawHeadersCrlf, buffer.data(), small, index));
  ASSERT_TRUE(t->QueryHeaders(q, web::kQueryRawHeadersCrlf, buffer.data(), size, index));
  EXPECT_EQ(buffer, expected + u'\0');
  t->CloseHandle(q);
  t->CloseHandle(c);
  t->CloseHandle(s);
}

// Redirects: /r/N answers per the case; the chain's end says "end".
class RedirectTest : public ::testing::Test {
 protected:
  LoopbackServer server_{[this](const RecordedRequest& r) { return Answer(r); }};
  int status_ = 302;
  Reply Answer(const RecordedRequest& r) {
    if (r.target.rfind("/r/", 0) == 0) {
      int n = std::atoi(r.target.c_str() + 3);
      std::string next = n > 1 ? "/r/" + std::to_string(n - 1) : "/end";
      return Reply::Redirect(status_, next, "hop" + std::to_string(n) + "=1; Path=/");
    }
    return Reply::Page("end:" + r.method + ":" + r.body);
  }
};

TEST_F(RedirectTest, FollowsUpToTenAndReturnsTheFinalResponse) {
  ExchangeResult r = Fetch({.url = server_.Url("/r/10")});
  ASSERT_EQ(r.failed_at, Stage::kDone);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "end:GET:");
  EXPECT_EQ(server_.request_count(), 11u);
  EXPECT_EQ(r.headers.find("Location"), std::string::npos) << r.headers;
  EXPECT_EQ(r.headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << r.headers;

  // An eleventh redirect is not followed: it is the response.
  ExchangeResult eleven = Fetch({.url = server_.Url("/r/11")});
  ASSERT_EQ(eleven.failed_at, Stage::kDone);
  EXPECT_EQ(eleven.status, 302);
  EXPECT_EQ(server_.request_count(), 11u + 11u);
}

TEST_F(RedirectTest, OptionTwoReturnsTheRedirectItself) {
  ExchangeResult r = Fetch({.url = server_.Url("/r/3"), .disable_features = {2}});
  ASSERT_EQ(r.failed_at, Stage::kDone);
  EXPECT_EQ(r.status, 302);
  EXPECT_NE(r.headers.find("Location: /r/2\r\n"), std::string::npos);
  EXPECT_EQ(server_.request_count(), 1u);
}

TEST_F(RedirectTest, CookiesSetOnTheWayAreSentUnlessSwitchedOff) {
  ExchangeResult on = Fetch({.url = server_.Url("/r/2")});
  ASSERT_EQ(on.failed_at, Stage::kDone);
  ASSERT_EQ(server_.request_count(), 3u);
  EXPECT_EQ(server_.request(0).Header("Cookie"), std::nullopt);
  EXPECT_EQ(server_.request(1).Header("Cookie"), "hop2=1");
  auto last = server_.request(2).Header("Cookie").value_or("");
  EXPECT_NE(last.find("hop2=1"), std::string::npos);
  EXPECT_NE(last.find("hop1=1"), std::string::npos);

  ExchangeResult off = Fetch({.url = server_.Url("/r/2"), .disable_features = {1}});
  ASSERT_EQ(off.failed_at, Stage::kDone);
  ASSERT_EQ(server_.request_count(), 6u);
  for (std::size_t i = 3; i < 6; ++i) EXPECT_EQ(server_.request(i).Header("Cookie"), std::nullopt);
}

TEST_F(RedirectTest, PostBecomesGetOn301To303AndStaysOn307And308) {
  const std::pair<int, const char*> cases[] = {{301, "end:GET:"},
                                               {302, "end:GET:"},
                                               {303, "end:GET:"},
                                               {307, "end:POST:data"},
                                               {308, "end:POST:data"}};
  for (auto [status, expected] : cases) {
    status_ = status;
    ExchangeResult r = Fetch({.url = server_.Url("/r/1"), .verb = u"POST", .body = "data"});
    ASSERT_EQ(r.failed_at, Stage::kDone) << status;
    EXPECT_EQ(r.body, expected) << status;
  }
}

TEST(CurlTransport, ServerCredentialsGoFirstAndStayWithTheirHost) {
  std::uint16_t port = 0;
  LoopbackServer server([&port](const RecordedRequest& r) {
    if (r.target == "/same") return Reply::Redirect(302, "/next");
    if (r.target == "/away") {
      return Reply::Redirect(302, "http://localhost:" + std::to_string(port) + "/next");
    }
    return Reply::Page("ok");
  });
  port = server.port();
  const std::string basic = "Basic dXNlcjpwd2Q=";  // user:pwd
  ExchangeResult same = Fetch({.url = server.Url("/same"), .user = u"user", .password = u"pwd"});
  ASSERT_EQ(same.failed_at, Stage::kDone);
  EXPECT_EQ(server.request(0).Header("Authorization"), basic);
  EXPECT_EQ(server.request(1).Header("Authorization"), basic);
  ExchangeResult away = Fetch({.url = server.Url("/away"), .user = u"user", .password = u"pwd"});
  ASSERT_EQ(away.failed_at, Stage::kDone);
  EXPECT_EQ(server.request(2).Header("Authorization"), basic);
  EXPECT_EQ(server.request(3).Header("Host"), "localhost:" + std::to_string(port));
  EXPECT_EQ(server.request(3).Header("Authorization"), std::nullopt);
}

TEST(CurlTransport, BodyCutShortFailsTheReadAndKeepsWhatCameBefore) {
  struct Case {
    const char* name;
    std::string wire;
    std::string kept;
  };
  const Case cases[] = {
      {"short of Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789",
       "0123456789"},
      {"broken chunks", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\nzz\r\n",
       "abcde"},
      {"chunks without their end",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", "abc"},
  };
  for (const Case& c : cases) {
    LoopbackServer server(Reply::Raw(c.wire));
    ExchangeResult r = Fetch({.url = server.Url("/")});
    SCOPED_TRACE(c.name);
    ASSERT_EQ(r.failed_at, Stage::kDone);
    EXPECT_TRUE(r.read_failed);
    EXPECT_EQ(r.body, c.kept);
    EXPECT_EQ(r.status, 200);
  }
}

TEST(CurlTransport, StallsLongerThanTheLimitFailAtTheirStage) {
  Reply silent = Reply::Page("never");
  silent.never_answer = true;
  LoopbackServer before(silent);
  ExchangeResult r1 = Fetch({.url = before.Url("/"), .timeout_ms = 300});
  EXPECT_EQ(r1.failed_at, Stage::kReceive);

  Reply stall = Reply::Page("0123456789abcdef");
  stall.stall_after = stall.bytes.size() - 6;
  LoopbackServer during(stall);
  auto started = std::chrono::steady_clock::now();
  ExchangeResult r2 = Fetch({.url = during.Url("/"), .timeout_ms = 300});
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  ASSERT_EQ(r2.failed_at, Stage::kDone);
  EXPECT_TRUE(r2.read_failed);
  EXPECT_EQ(r2.body, "0123456789");
}

TEST(CurlTransport, ASlowTransferThatKeepsMovingIsNotCutOff) {
  Reply slow = Reply::Page(std::string(60, 's'));
  slow.trickle_bytes = 8;
  slow.trickle_interval = milliseconds(100);  // ~1.6 s in all, against a 400 ms limit
  LoopbackServer server(slow);
  ExchangeResult r = Fetch({.url = server.Url("/"), .timeout_ms = 400});
  ASSERT_EQ(r.failed_at, Stage::kDone);
  EXPECT_FALSE(r.read_failed);
  EXPECT_EQ(r.body, std::string(60, 's'));
}

TEST(CurlTransport, FailuresBeforeTheResponseStopAtTheirStage) {
  std::uint16_t closed_port = FreeLoopbackPort();
  EXPECT_EQ(Fetch({.url = "http://127.0.0.1:" + std::to_string(closed_port) + "/"}).failed_at,
            Stage::kSend);
  LoopbackServer not_http(Reply::Raw("SSH-2.0-OpenSSH_9.2\r\n\r\n"));
  EXPECT_EQ(Fetch({.url = not_http.Url("/")}).failed_at, Stage::kReceive);
  LoopbackServer hangs_up(Reply::Raw(""));
  EXPECT_EQ(Fetch({.url = hangs_up.Url("/")}).failed_at, Stage::kReceive);
}

struct CrackCase {
  const char16_t* url;
  bool ok;
  int scheme;
  const char16_t* host;
  std::uint16_t port;
  const char16_t* path;
  const char16_t* extra;
};

TEST(CurlTransport, CrackUrl) {
  const CrackCase cases[] = {
      {u"http://example.com", true, web::kSchemeHttp, u"example.com", 80, u"", u""},
      {u"https://example.com/", true, web::kSchemeHttps, u"example.com", 443, u"/", u""},
      {u"HTTPS://Example.com:8443/a/b?x=1&y=2#top", true, web::kSchemeHttps, u"Example.com", 8443,
       u"/a/b", u"?x=1&y=2"},
      {u"http://h?q=1", true, web::kSchemeHttp, u"h", 80, u"", u"?q=1"},
      {u"http://h:81#frag", true, web::kSchemeHttp, u"h", 81, u"", u""},
      {u"http://u:p@h/x", true, web::kSchemeHttp, u"h", 80, u"/x", u""},
      {u"http://[::1]:8080/v6", true, web::kSchemeHttp, u"[::1]", 8080, u"/v6", u""},
      {u"http://h/a b?c d", true, web::kSchemeHttp, u"h", 80, u"/a%20b", u"?c%20d"},
      {u"http://h/\u4e2d", true, web::kSchemeHttp, u"h", 80, u"/%E4%B8%AD", u""},
      {u"http://h/%41", true, web::kSchemeHttp, u"h", 80, u"/%41", u""},
      {u"", false, 0, u"", 0, u"", u""},
      {u"ftp://h/x", false, 0, u"", 0, u"", u""},
      {u"example.com/x", false, 0, u"", 0, u"", u""},
      {u"http://", false, 0, u"", 0, u"", u""},
      {u"http://h:99999/", false, 0, u"", 0, u"", u""},
      {u"http://h:8x/", false, 0, u"", 0, u"", u""},
  };
  auto t = web::MakeCurlTransport();
  for (const CrackCase& c : cases) {
    web::UrlComponents parts;
    SCOPED_TRACE(FromU16(c.url));
    ASSERT_EQ(t->CrackUrl(c.url, parts), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(parts.scheme, c.scheme);
    EXPECT_EQ(parts.host, c.host);
    EXPECT_EQ(parts.port, c.port);
    EXPECT_EQ(parts.path, c.path);
    EXPECT_EQ(parts.extra_info, c.extra);
  }
}

TEST(CurlTransport, ProxyStringPicksTheEntryForTheScheme) {
  // A loopback server stands in for the proxy: a request it gets names the full URL.
  LoopbackServer proxy(Reply::Page("via proxy"));
  LoopbackServer origin(Reply::Page("direct"));
  const std::string p = "127.0.0.1:" + std::to_string(proxy.port());
  const std::pair<std::string, bool> cases[] = {
      {p, true},
      {"http=" + p, true},
      {"https=127.0.0.1:1", false},
      {"https=127.0.0.1:1;http=" + p, true},
      {"ftp=127.0.0.1:1 http=" + p, true},
      {"http://" + p, true},
      {"ftp=127.0.0.1:1", false},
  };
  std::size_t proxied = 0;
  for (const auto& [proxy_string, via_proxy] : cases) {
    SCOPED_TRACE(proxy_string);
    ExchangeResult r = Fetch({.url = origin.Url("/o"), .proxy = ToU16(proxy_string)});
    ASSERT_EQ(r.failed_at, Stage::kDone);
    EXPECT_EQ(r.body, via_proxy ? "via proxy" : "direct");
    if (via_proxy) {
      EXPECT_EQ(proxy.request(proxied++).target, origin.Url("/o"));
    }
  }
  auto t = web::MakeCurlTransport();
  EXPECT_EQ(t->Open(web::kAccessNamedProxy, u""), 0u);
  EXPECT_EQ(t->Open(web::kAccessNamedProxy, u" ; "), 0u);
}

TEST(CurlTransport, OptionsItDoesNotSupportAreRefused) {
  LoopbackServer server(Reply::Page("x"));
  auto t = web::MakeCurlTransport();
  auto s = t->Open(web::kAccessNoProxy, u"");
  auto c = t->Connect(s, u"127.0.0.1", server.port());
  auto q = t->OpenRequest(c, u"GET", u"/", 0);
  ASSERT_NE(q, 0u);
  EXPECT_TRUE(t->SetOption(q, web::kOptionDisableFeature, web::kDisableCookies));
  EXPECT_TRUE(t->SetOption(q, web::kOptionDisableFeature, web::kDisableRedirects));
  EXPECT_FALSE(t->SetOption(q, web::kOptionDisableFeature, 0x40));
  EXPECT_FALSE(t->SetOption(q, 79, 1));
  EXPECT_FALSE(t->SetCredentials(q, web::kAuthTargetServer, 2, u"u", u"p"));  // NTLM
  EXPECT_FALSE(t->SetCredentials(q, 7, web::kAuthSchemeBasic, u"u", u"p"));
  EXPECT_TRUE(t->SetCredentials(q, web::kAuthTargetProxy, web::kAuthSchemeBasic, u"u", u"p"));
  EXPECT_FALSE(t->SetOption(q + 1000, web::kOptionDisableFeature, 1));
  t->CloseHandle(q);
  t->CloseHandle(c);
  t->CloseHandle(s);
}

}  // namespace
}  // namespace tavrolin::test
