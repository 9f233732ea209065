// Web_Request over HTTPS and through a real forward proxy, all on 127.0.0.1:
// the proxy names it builds, proxy credentials and an untrusted certificate.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/loopback_server.h"
#include "tests/support/proxy_server.h"
#include "tests/support/tls_server.h"
#include "web/transport.h"
#include "web/transport_curl.h"
#include "web/web_request.h"

namespace tavrolin {
namespace {

using test::LoopbackServer;
using test::ProxyServer;
using test::Reply;
using test::TlsServer;

// Every Web_Request of the test trusts the test's own certificate.
class TrustTestCa {
 public:
  explicit TrustTestCa(const std::string& ca_file) {
    web::SetTransportFactory([ca_file] {
      web::CurlTransportOptions options;
      options.extra_ca_file = ca_file;
      return web::MakeCurlTransport(options);
    });
  }
  ~TrustTestCa() { web::SetTransportFactory({}); }
  TrustTestCa(const TrustTestCa&) = delete;
  TrustTestCa& operator=(const TrustTestCa&) = delete;
};

struct Result {
  Text page, status, headers;
};

Result Fetch(const std::string& url, const std::string& proxy = {},
             const std::string& proxy_user = {}, const std::string& proxy_password = {}) {
  Result r;
  r.page = Web_Request(Text(url), kMethodGet, {}, std::nullopt, nullptr, {}, &r.headers, false, {},
                       {}, Text(proxy), Text(proxy_user), Text(proxy_password), 10, nullptr,
                       &r.status);
  return r;
}

#define REQUIRE(program, available) \
  if (!(available)) GTEST_SKIP() << "the " program " program is not installed"

TEST(WebRequestTls, UntrustedCertificateFailsTheSendTrustedOneGoesThrough) {
  REQUIRE("openssl", TlsServer::Available());
  TlsServer server(std::string("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecure"));
  ASSERT_TRUE(server.ok()) << server.Log();
  {
    const Result refused = Fetch(server.Url("/s"));
    EXPECT_EQ(refused.page, "");
    EXPECT_EQ(refused.status, web_status::k711);
  }
  TlsServer second(std::string("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecure"));
  ASSERT_TRUE(second.ok()) << second.Log();
  TrustTestCa trust(second.ca_file());
  const Result trusted = Fetch(second.Url("/s"));
  EXPECT_EQ(trusted.page, "secure");
  EXPECT_EQ(trusted.status, "200 OK");
}

TEST(WebRequestProxy, HttpGoesThroughTheProxyByItsHttpEntry) {
  REQUIRE("tinyproxy", ProxyServer::Available());
  ProxyServer proxy;
  ASSERT_TRUE(proxy.ok());
  LoopbackServer origin(Reply::Page("origin"));
  // A plain "host:port" becomes "http=host:port" for an http address.
  const Result r = Fetch(origin.Url("/p"), proxy.HostPort());
  EXPECT_EQ(r.page, "origin");
  ASSERT_EQ(origin.request_count(), 1u);
  EXPECT_TRUE(origin.request(0).Header("Via").has_value());
}

TEST(WebRequestProxy, HttpsTunnelsThroughConnect) {
  REQUIRE("tinyproxy", ProxyServer::Available());
  REQUIRE("openssl", TlsServer::Available());
  ProxyServer proxy;
  ASSERT_TRUE(proxy.ok());
  TlsServer server(std::string("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\ntunnel"));
  ASSERT_TRUE(server.ok()) << server.Log();
  TrustTestCa trust(server.ca_file());
  const Result r = Fetch(server.Url("/t"), proxy.HostPort());
  EXPECT_EQ(r.page, "tunnel");
  EXPECT_EQ(r.headers, "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n");
}

struct ProxyAuthCase {
  const char* name;
  const char* user;
  const char* password;
  const char* status_prefix;
};

class WebRequestProxyAuth : public ::testing::TestWithParam<ProxyAuthCase> {};

// A refusal by the proxy is an ordinary response, never a failure of ours.
TEST_P(WebRequestProxyAuth, CredentialsDecideTheProxysAnswer) {
  REQUIRE("tinyproxy", ProxyServer::Available());
  ProxyServer proxy("puser", "ppass");
  ASSERT_TRUE(proxy.ok());
  LoopbackServer origin(Reply::Page("origin"));
  const Result r = Fetch(origin.Url("/a"), proxy.HostPort(), GetParam().user, GetParam().password);
  EXPECT_THAT(r.status.str(), ::testing::StartsWith(GetParam().status_prefix));
}

INSTANTIATE_TEST_SUITE_P(Credentials, WebRequestProxyAuth,
                         ::testing::Values(ProxyAuthCase{"right", "puser", "ppass", "200"},
                                           ProxyAuthCase{"wrong", "puser", "nope", "401"},
                                           ProxyAuthCase{"missing", "", "", "407"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavrolin
