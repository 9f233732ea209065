// The libcurl transport through a real tinyproxy: plain forwarding for http,
// CONNECT for https, with and without the proxy's Basic authentication.
#include <gtest/gtest.h>

#include "tests/support/loopback_server.h"
#include "tests/support/proxy_server.h"
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

#define REQUIRE(program, available) \
  if (!available) GTEST_SKIP() << "the " program " program is not installed"

TEST(CurlTransportProxy, HttpGoesThroughTheProxy) {
  REQUIRE("tinyproxy", ProxyServer::Available());
  ProxyServer proxy;
  ASSERT_TRUE(proxy.ok());
  LoopbackServer origin(Reply::Page("origin"));
  ExchangeResult r = Fetch({.url = origin.Url("/p"), .proxy = ToU16("http=" + proxy.HostPort())});
  ASSERT_EQ(r.failed_at, Stage::kDone);
  EXPECT_EQ(r.body, "origin");
  ASSERT_EQ(origin.request_count(), 1u);
  EXPECT_EQ(origin.request(0).target, "/p");
  EXPECT_TRUE(origin.request(0).Header("Via").has_value());  // tinyproxy's mark
}

TEST(CurlTransportProxy, HttpsTunnelsThroughConnect) {
  REQUIRE("tinyproxy", ProxyServer::Available());
  REQUIRE("openssl", TlsServer::Available());
  ProxyServer proxy;
  ASSERT_TRUE(proxy.ok());
  TlsServer server(std::string("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\ntunnel"));
  ASSERT_TRUE(server.ok());
  ExchangeResult r =
      Fetch({.url = server.Url("/t"), .proxy = ToU16(proxy.HostPort())}, server.ca_file());
  ASSERT_EQ(r.failed_at, Stage::kDone);
  EXPECT_EQ(r.body, "tunnel");
  // The final response's headers only: no "Connection established" block.
  EXPECT_EQ(r.headers, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n");
}

TEST(CurlTransportProxy, ProxyCredentialsAndRefusals) {
  REQUIRE("tinyproxy", ProxyServer::Available());
  REQUIRE("openssl", TlsServer::Available());
  ProxyServer proxy("puser", "ppass");
  ASSERT_TRUE(proxy.ok());
  LoopbackServer origin(Reply::Page("origin"));
  struct Case {
    const char* name;
    bool https;
    const char16_t* user;
    const char16_t* password;
    int status;
  };
  const Case cases[] = {
      {"http, right password", false, u"puser", u"ppass", 200},
      {"http, wrong password", false, u"puser", u"nope", 401},
      {"http, no credentials", false, u"", u"", 407},
      {"https, right password", true, u"puser", u"ppass", 200},
      {"https, wrong password", true, u"puser", u"nope", 401},
      {"https, no credentials", true, u"", u"", 407},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<TlsServer> tls;
    if (c.https) {
      tls.emplace(std::string("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\norigin"));
      ASSERT_TRUE(tls->ok());
    }
    ExchangeCall call{.url = c.https ? tls->Url("/") : origin.Url("/"),
                      .proxy = ToU16(proxy.HostPort()),
                      .proxy_user = c.user,
                      .proxy_password = c.password};
    ExchangeResult r = Fetch(call, c.https ? tls->ca_file() : "");
    ASSERT_EQ(r.failed_at, Stage::kDone);
    EXPECT_EQ(r.status, c.status) << r.headers;
    if (c.status == 200) {
      EXPECT_EQ(r.body, "origin");
    }
  }
}

TEST(CurlTransportProxy, ProxyCredentialsWithoutAProxyAreHarmless) {
  LoopbackServer origin(Reply::Page("direct"));
  ExchangeResult r = Fetch({.url = origin.Url("/"), .proxy_user = u"u", .proxy_password = u"p"});
  ASSERT_EQ(r.failed_at, Stage::kDone);
  EXPECT_EQ(r.body, "direct");
  EXPECT_EQ(origin.request(0).Header("Proxy-Authorization"), std::nullopt);
}

}  // namespace
}  // namespace tavrolin::test
