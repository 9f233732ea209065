// HTTPS through the libcurl transport against `openssl s_server` on 127.0.0.1.
#include <gtest/gtest.h>

#include "tests/support/loopback_server.h"
#include "tests/support/tls_server.h"
#include "tests/support/transport_driver.h"
#include "web/transport_curl.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tavrolin::test {
namespace {

ExchangeResult Fetch(const ExchangeCall& call, const std::string& ca_file = {}) {
  auto transport = web::MakeCurlTransport({.extra_ca_file = ca_file});
  return RunExchange(*transport, call);
}

#define REQUIRE_OPENSSL() \
  if (!TlsServer::Available()) GTEST_SKIP() << "the openssl program is not installed"

TEST(CurlTransportTls, TrustedOnlyThroughTheExtraCa) {
  REQUIRE_OPENSSL();
  TlsServer server;
  ASSERT_TRUE(server.ok()) << server.Log();
  ExchangeResult trusted = Fetch({.url = server.Url("/")}, server.ca_file());
  ASSERT_EQ(trusted.failed_at, Stage::kDone);
  EXPECT_EQ(trusted.status, 200);
  EXPECT_NE(trusted.body.find("s_server"), std::string::npos) << trusted.body.substr(0, 200);

  EXPECT_EQ(Fetch({.url = server.Url("/")}).failed_at, Stage::kSend);
}

TEST(CurlTransportTls, HttpsToAPlainPortFailsTheSend) {
  LoopbackServer plain(Reply::Page("plain"));
  // The plain server waits for a request line that never comes: the handshake stalls.
  ExchangeResult r =
      Fetch({.url = "https://127.0.0.1:" + std::to_string(plain.port()) + "/", .timeout_ms = 400});
  EXPECT_EQ(r.failed_at, Stage::kSend);
}

TEST(CurlTransportTls, ExactRequestAndBodyOverTls) {
  REQUIRE_OPENSSL();
  TlsServer server(std::string("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecure"));
  ASSERT_TRUE(server.ok()) << server.Log();
  ExchangeCall call{.url = server.Url("/s?q=1"), .verb = u"POST", .body = "a=1"};
  call.headers = u"X-T: 1\r\n";
  ExchangeResult r = Fetch(call, server.ca_file());
  ASSERT_EQ(r.failed_at, Stage::kDone);
  EXPECT_EQ(r.body, "secure");
  EXPECT_NE(
      server.Log().find("POST /s?q=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                        "\r\nX-T: 1\r\nContent-Length: 3\r\n\r\na=1"),
      std::string::npos)
      << server.Log();
}

// Up from http to https is followed; down from https to http is not.
TEST(CurlTransportTls, RedirectsNeverGoFromHttpsDownToHttp) {
  REQUIRE_OPENSSL();
  LoopbackServer plain(Reply::Page("plain"));
  TlsServer down(std::string("HTTP/1.1 302 Found\r\nLocation: ") + plain.Url("/down") +
                 "\r\nContent-Length: 0\r\n\r\n");
  ASSERT_TRUE(down.ok());
  ExchangeResult r = Fetch({.url = down.Url("/")}, down.ca_file());
  ASSERT_EQ(r.failed_at, Stage::kDone);
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(plain.request_count(), 0u);

  TlsServer target(std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nup"));
  ASSERT_TRUE(target.ok());
  LoopbackServer up(Reply::Redirect(302, target.Url("/up")));
  ExchangeResult u = Fetch({.url = up.Url("/")}, target.ca_file());
  ASSERT_EQ(u.failed_at, Stage::kDone);
  EXPECT_EQ(u.status, 200);
  EXPECT_EQ(u.body, "up");
}

}  // namespace
}  // namespace tavrolin::test
