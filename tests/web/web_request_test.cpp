// Web_Request over the scripted fake transport: the order of the calls, their
// arguments, every failure code with its event processing and closing order.
#include "web/web_request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "tests/support/fake_transport.h"
#include "text/text_ops.h"
#include "web/events.h"

namespace tavrolin {
namespace {

using test::FakeTransportTest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::string kDefaultBlock =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
    "Accept: text/html, application/xhtml+xml, */*\r\n"
    "Accept-Encoding: gbk, GB2312\r\n"
    "Accept-Language: zh-cn\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n"
    "Cache-Control: no-cache\r\n";

// What the caller's variables hold before the call; a failure must leave them so.
struct Outputs {
  Text cookies = "caller-cookies";
  Text headers = "caller-headers";
  Text location = "caller-location";
  Text status = "caller-status";
  Bytes bytes = Bytes("caller-bytes");
};

Text RequestWith(Outputs& out, const Text& url = "http://127.0.0.1/page",
                 const Text& auth_user = {}, const Text& auth_password = {},
                 bool no_redirect = false) {
  return Web_Request(url, kMethodGet, {}, std::nullopt, &out.cookies, {}, &out.headers, no_redirect,
                     auth_user, auth_password, {}, "pu", "pp", 0, &out.location, &out.status,
                     &out.bytes);
}

std::vector<std::string> Tail(const std::vector<std::string>& journal, std::size_t n) {
  return {journal.end() - static_cast<std::ptrdiff_t>(std::min(n, journal.size())), journal.end()};
}

using WebRequestTest = FakeTransportTest;

TEST_F(WebRequestTest, UrlAloneSendsTheDefaultGet) {
  fake.script.body_chunks = {"hello"};
  const Text page = Web_Request("http://127.0.0.1/a/b?x=1");

  EXPECT_EQ(page, "hello");
  const std::vector<std::string> expected_start = {
      "CheckPlatform",
      "CrackUrl(http://127.0.0.1/a/b?x=1)",
      "Open(1,)",
      "Connect(1,127.0.0.1,80)",
      "OpenRequest(2,GET,/a/b?x=1,0)",
      "SetTimeouts(3,30000,30000,30000,30000)",
      "SetOption(3,63,1)",
      "AddRequestHeaders(3," + kDefaultBlock + ",2684354560)",
      "SendRequest(3,(none),0,0)",
      "ReceiveResponse(3)",
      "QueryDataAvailable(3)",
      "ReadData(3,5)",
      "QueryDataAvailable(3)",
      "QueryHeaders(3,22,0,0)",
      "QueryHeaders(3,22,78,0)",
  };
  ASSERT_GE(fake.journal.size(), expected_start.size());
  EXPECT_THAT(
      std::vector<std::string>(fake.journal.begin(), fake.journal.begin() + expected_start.size()),
      ElementsAreArray(expected_start));
  // The way out: the eight network stages, then request, connection, session.
  EXPECT_THAT(Tail(fake.journal, 11),
              ElementsAre("events", "events", "events", "events", "events", "events", "events",
                          "events", "CloseHandle(3)", "CloseHandle(2)", "CloseHandle(1)"));
}

TEST_F(WebRequestTest, EventsOnTheFullRoad) {
  // Three header lines, the decoding stage, the close of the response, eight stages.
  Web_Request("http://127.0.0.1/");
  EXPECT_EQ(fake.Count("events"), 3 + 1 + 1 + 8);
}

struct FailureCase {
  std::set<std::string> fail;
  const char* message;
  int events;
  std::vector<std::string> closed;  // in order
};

class WebRequestFailureTest : public FakeTransportTest,
                              public ::testing::WithParamInterface<FailureCase> {};

TEST_P(WebRequestFailureTest, WritesOnlyTheMessageAndLeavesInOrder) {
  const FailureCase& c = GetParam();
  fake.script.fail = c.fail;
  fake.script.body_chunks = {"body"};
  Outputs out;
  const Text page = RequestWith(out, "http://127.0.0.1/page", "user", "secret", true);

  EXPECT_EQ(page, "");
  EXPECT_EQ(out.status, c.message);
  EXPECT_EQ(out.cookies, "caller-cookies");
  EXPECT_EQ(out.headers, "caller-headers");
  EXPECT_EQ(out.location, "caller-location");
  EXPECT_EQ(out.bytes, Bytes("caller-bytes"));
  EXPECT_EQ(fake.Count("events"), c.events);

  std::vector<std::string> closes = fake.Calls("CloseHandle");
  EXPECT_EQ(closes, c.closed);
  // Events come first, then the handles close; nothing happens after that.
  std::vector<std::string> expected_tail(static_cast<std::size_t>(c.events), "events");
  expected_tail.insert(expected_tail.end(), c.closed.begin(), c.closed.end());
  EXPECT_EQ(Tail(fake.journal, expected_tail.size()), expected_tail);
}

const std::vector<std::string> kAllClosed = {"CloseHandle(3)", "CloseHandle(2)", "CloseHandle(1)"};

INSTANTIATE_TEST_SUITE_P(
    EveryCode, WebRequestFailureTest,
    ::testing::Values(
        FailureCase{{"CheckPlatform"}, web_status::k700, 0, {}},
        FailureCase{{"CrackUrl"}, web_status::k701, 1, {}},
        FailureCase{{"Open"}, web_status::k702, 2, {}},
        FailureCase{{"Connect"}, web_status::k703, 3, {"CloseHandle(1)"}},
        FailureCase{{"OpenRequest"}, web_status::k704, 4, {"CloseHandle(2)", "CloseHandle(1)"}},
        FailureCase{{"SetTimeouts"}, web_status::k705, 5, kAllClosed},
        FailureCase{{"SetCredentials:0"}, web_status::k707, 0, kAllClosed},
        FailureCase{{"SetCredentials:1"}, web_status::k707, 0, kAllClosed},
        FailureCase{{"SetOption:1"}, web_status::k708, 0, kAllClosed},
        FailureCase{{"SetOption:2"}, web_status::k709, 0, kAllClosed},
        FailureCase{{"AddRequestHeaders"}, web_status::k710, 6, kAllClosed},
        FailureCase{{"SendRequest"}, web_status::k711, 7, kAllClosed},
        FailureCase{{"ReceiveResponse"}, web_status::k712, 8, kAllClosed},
        // A failed read with no headers afterwards is the one way 713 reaches the caller.
        FailureCase{{"ReadData", "QueryHeaders"}, web_status::k713, 1 + 8, kAllClosed},
        // The header query alone: the caller's status stands.
        FailureCase{{"QueryHeaders"}, "caller-status", 1 + 8, kAllClosed}));

TEST_F(WebRequestTest, EmptyUrlFailsAtTheParse) {
  Text status;
  EXPECT_EQ(Web_Request("", 0, {}, std::nullopt, nullptr, {}, nullptr, false, {}, {}, {}, {}, {}, 0,
                        nullptr, &status),
            "");
  EXPECT_EQ(status, web_status::k701);
  EXPECT_TRUE(fake.Calls("Open").empty());
  EXPECT_TRUE(fake.Calls("CloseHandle").empty());
}

TEST_F(WebRequestTest, FailedReadKeepsEarlierPassesAndHeadersReplaceTheMessage) {
  fake.script.body_chunks = {"ab", "cd", "ef"};
  fake.script.fail = {"ReadData"};
  fake.script.fail_pass = 3;
  Outputs out;
  EXPECT_EQ(RequestWith(out), "abcd");
  EXPECT_EQ(out.bytes, Bytes("abcd"));
  EXPECT_EQ(out.status, "200 OK");
}

TEST_F(WebRequestTest, BodyWithNulIsKeptWholeButThePageEndsBeforeIt) {
  fake.script.body_chunks = {std::string("ab\0c", 4), "", "d"};
  Outputs out;
  EXPECT_EQ(RequestWith(out), "ab");
  EXPECT_EQ(out.bytes, Bytes(std::string("ab\0cd", 5)));
}

TEST_F(WebRequestTest, EmptyBodyGivesEmptyPageAndBytes) {
  Outputs out;
  EXPECT_EQ(RequestWith(out), "");
  EXPECT_EQ(out.bytes, Bytes());
  EXPECT_EQ(out.status, "200 OK");
  EXPECT_EQ(out.headers, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
}

struct DecodedBodyCase {
  const char* name;
  std::string body;
  const char* page;
};

class DecodedBodyTest : public FakeTransportTest,
                        public ::testing::WithParamInterface<DecodedBodyCase> {};

// Whether or not the caller takes the bytes, the page is the decoded body.
TEST_P(DecodedBodyTest, SamePageWithAndWithoutReturnedBytes) {
  fake.script.body_chunks = {GetParam().body};
  EXPECT_EQ(Web_Request("http://127.0.0.1/"), GetParam().page);
  fake.read_passes = 0;
  Bytes bytes;
  EXPECT_EQ(Web_Request("http://127.0.0.1/", 0, {}, std::nullopt, nullptr, {}, nullptr, false, {},
                        {}, {}, {}, {}, 0, nullptr, nullptr, &bytes),
            GetParam().page);
  EXPECT_EQ(bytes, Bytes(std::string_view(GetParam().body)));
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, DecodedBodyTest,
    ::testing::Values(
        // Each windows-1251 letter grows to two bytes: decoding must not write over its source.
        DecodedBodyCase{"growing", "<meta charset=windows-1251>\xCF\xF0\xE8\xE2\xE5\xF2",
                        "<meta charset=windows-1251>Привет"},
        DecodedBodyCase{"shrinking", "<meta charset=utf-8>\xE4\xB8\xAD\xE6\x96\x87",
                        "<meta charset=utf-8>中文"},
        DecodedBodyCase{"undeclared", "plain \xD6\xD0", "plain 中"},
        DecodedBodyCase{"nul_in_body", std::string("<meta charset=utf-8>\xE4\xB8\xAD\0tail", 28),
                        "<meta charset=utf-8>中"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ObjectNameCase {
  const char* url;
  const char* open_request;
};

class ObjectNameTest : public FakeTransportTest,
                       public ::testing::WithParamInterface<ObjectNameCase> {};

TEST_P(ObjectNameTest, PathAndQueryOrSlash) {
  Web_Request(GetParam().url);
  EXPECT_THAT(fake.Calls("OpenRequest"), ElementsAre(GetParam().open_request));
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ObjectNameTest,
    ::testing::Values(ObjectNameCase{"http://127.0.0.1", "OpenRequest(2,GET,/,0)"},
                      ObjectNameCase{"http://127.0.0.1?q=1", "OpenRequest(2,GET,/,0)"},
                      ObjectNameCase{"http://127.0.0.1/p?q=1", "OpenRequest(2,GET,/p?q=1,0)"},
                      ObjectNameCase{"https://127.0.0.1:8443/s/x",
                                     "OpenRequest(2,GET,/s/x,8388608)"}));

struct ProxyCase {
  const char* url;
  const char* proxy;
  const char* open;
};

class ProxyNameTest : public FakeTransportTest, public ::testing::WithParamInterface<ProxyCase> {};

TEST_P(ProxyNameTest, AccessTypeAndName) {
  Web_Request(GetParam().url, 0, {}, std::nullopt, nullptr, {}, nullptr, false, {}, {},
              GetParam().proxy);
  EXPECT_THAT(fake.Calls("Open("), ElementsAre(GetParam().open));
}

INSTANTIATE_TEST_SUITE_P(Proxies, ProxyNameTest,
                         ::testing::Values(ProxyCase{"http://127.0.0.1/", "", "Open(1,)"},
                                           ProxyCase{"https://127.0.0.1/", "", "Open(1,)"},
                                           ProxyCase{"http://127.0.0.1/", "127.0.0.1:3128",
                                                     "Open(3,http=127.0.0.1:3128)"},
                                           ProxyCase{"https://127.0.0.1/", "127.0.0.1:3128",
                                                     "Open(3,127.0.0.1:3128)"}));

struct MethodCase {
  std::int32_t method;
  const char* post_data;
  const char* open_request;
  const char* send;
};

class MethodTest : public FakeTransportTest, public ::testing::WithParamInterface<MethodCase> {};

TEST_P(MethodTest, VerbAndBody) {
  Web_Request("http://127.0.0.1/", GetParam().method, GetParam().post_data);
  EXPECT_THAT(fake.Calls("OpenRequest"), ElementsAre(GetParam().open_request));
  EXPECT_THAT(fake.Calls("SendRequest"), ElementsAre(GetParam().send));
}

INSTANTIATE_TEST_SUITE_P(
    Methods, MethodTest,
    ::testing::Values(MethodCase{0, "", "OpenRequest(2,GET,/,0)", "SendRequest(3,(none),0,0)"},
                      MethodCase{1, "a=1", "OpenRequest(2,POST,/,0)", "SendRequest(3,a=1,3,3)"},
                      MethodCase{2, "", "OpenRequest(2,HEAD,/,0)", "SendRequest(3,(none),0,0)"},
                      MethodCase{3, "x", "OpenRequest(2,PUT,/,0)", "SendRequest(3,x,1,1)"},
                      MethodCase{4, "", "OpenRequest(2,GET,/,0)", "SendRequest(3,(none),0,0)"},
                      MethodCase{-1, "", "OpenRequest(2,GET,/,0)", "SendRequest(3,(none),0,0)"},
                      // A GET carries a body when one is given.
                      MethodCase{0, "q=提取", "OpenRequest(2,GET,/,0)",
                                 "SendRequest(3,q=提取,6,6)"}));

struct TimeoutCase {
  std::int32_t seconds;
  const char* set_timeouts;
};

class TimeoutTest : public FakeTransportTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(TimeoutTest, OneValueForAllFourPhases) {
  Web_Request("http://127.0.0.1/", 0, {}, std::nullopt, nullptr, {}, nullptr, false, {}, {}, {}, {},
              {}, GetParam().seconds);
  EXPECT_THAT(fake.Calls("SetTimeouts"), ElementsAre(GetParam().set_timeouts));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, TimeoutTest,
    ::testing::Values(TimeoutCase{0, "SetTimeouts(3,30000,30000,30000,30000)"},
                      TimeoutCase{-5, "SetTimeouts(3,30000,30000,30000,30000)"},
                      TimeoutCase{1, "SetTimeouts(3,1000,1000,1000,1000)"},
                      TimeoutCase{45, "SetTimeouts(3,45000,45000,45000,45000)"},
                      TimeoutCase{2147483,
                                  "SetTimeouts(3,2147483000,2147483000,2147483000,2147483000)"},
                      // Past what fits 32 bits of milliseconds: bounded, never wrapped.
                      TimeoutCase{std::numeric_limits<std::int32_t>::max(),
                                  "SetTimeouts(3,2147483000,2147483000,2147483000,2147483000)"}));

struct HeaderBlockCase {
  const char* name;
  std::string extra_headers;
  std::optional<Text> send_cookies;
  std::string block;
};

class HeaderBlockTest : public FakeTransportTest,
                        public ::testing::WithParamInterface<HeaderBlockCase> {};

TEST_P(HeaderBlockTest, DefaultsAppendedWhereTheirTestTextIsMissing) {
  const HeaderBlockCase& c = GetParam();
  Web_Request("http://127.0.0.1/", 0, {}, c.send_cookies, nullptr, Text(c.extra_headers));
  EXPECT_THAT(fake.Calls("AddRequestHeaders"),
              ElementsAre("AddRequestHeaders(3," + c.block + ",2684354560)"));
}

const std::string kWithoutUserAgent = kDefaultBlock.substr(kDefaultBlock.find("Accept: "));
const std::string kWithoutAccept = kDefaultBlock.substr(0, kDefaultBlock.find("Accept: ")) +
                                   kDefaultBlock.substr(kDefaultBlock.find("Accept-Encoding: "));

INSTANTIATE_TEST_SUITE_P(
    Blocks, HeaderBlockTest,
    ::testing::Values(
        HeaderBlockCase{"none", "", std::nullopt, kDefaultBlock},
        HeaderBlockCase{"caller_line", "X-A: 1", std::nullopt, "X-A: 1\r\n" + kDefaultBlock},
        HeaderBlockCase{"caller_crlf_leaves_empty_line", "X-A: 1\r\n", std::nullopt,
                        "X-A: 1\r\n\r\n" + kDefaultBlock},
        HeaderBlockCase{"user_agent_any_case", "user-agent: me", std::nullopt,
                        "user-agent: me\r\n" + kWithoutUserAgent},
        HeaderBlockCase{"content_type_exact_only", "content-type: text/plain", std::nullopt,
                        "content-type: text/plain\r\n" + kDefaultBlock},
        HeaderBlockCase{"x_accept_suppresses_accept", "X-Accept: y", std::nullopt,
                        "X-Accept: y\r\n" + kWithoutAccept},
        HeaderBlockCase{"accept_without_blank_does_not", "Accept:text/html", std::nullopt,
                        "Accept:text/html\r\n" + kDefaultBlock},
        HeaderBlockCase{"cookie_last", "", Text("a=1"), kDefaultBlock + "Cookie: a=1\r\n"},
        HeaderBlockCase{"empty_cookie_not_sent", "", Text(""), kDefaultBlock},
        HeaderBlockCase{"caller_cookie_line_wins", "COOKIE: b=2", Text("a=1"),
                        "COOKIE: b=2\r\n" + kDefaultBlock}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WebRequestTest, OptionsInOrderWithTheirArguments) {
  Web_Request("http://127.0.0.1/", 0, {}, std::nullopt, nullptr, {}, nullptr, true, "u", "p", {},
              "pu", "pp");
  EXPECT_THAT(fake.Calls("Set"),
              ElementsAre("SetTimeouts(3,30000,30000,30000,30000)", "SetCredentials(3,0,1,u,p)",
                          "SetCredentials(3,1,1,pu,pp)", "SetOption(3,63,1)", "SetOption(3,63,2)"));
}

struct CredentialCase {
  const char* user;
  const char* password;
  const char* proxy_user;
  const char* proxy_password;
  std::vector<std::string> credentials;
};

class CredentialTest : public FakeTransportTest,
                       public ::testing::WithParamInterface<CredentialCase> {};

TEST_P(CredentialTest, SetOnlyWithBothHalves) {
  const CredentialCase& c = GetParam();
  Text status = "untouched";
  Web_Request("http://127.0.0.1/", 0, {}, std::nullopt, nullptr, {}, nullptr, false, c.user,
              c.password, {}, c.proxy_user, c.proxy_password, 0, nullptr, &status);
  EXPECT_EQ(fake.Calls("SetCredentials"), c.credentials);
  EXPECT_EQ(status, "200 OK");
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, CredentialTest,
    ::testing::Values(CredentialCase{"u", "", "", "", {}}, CredentialCase{"", "p", "", "", {}},
                      CredentialCase{"", "", "pu", "", {}},
                      // Proxy credentials go out even with no proxy given.
                      CredentialCase{"", "", "pu", "pp", {"SetCredentials(3,1,1,pu,pp)"}},
                      CredentialCase{"用户", "密码", "", "", {"SetCredentials(3,0,1,用户,密码)"}}));

TEST_F(WebRequestTest, SuppliedCookiesKeepAutomaticCookieHandling) {
  Web_Request("http://127.0.0.1/", 0, {}, Text(""));
  EXPECT_THAT(fake.Calls("SetOption"), ::testing::IsEmpty());
}

TEST_F(WebRequestTest, EarlyExitProcessesNoEventsAndWritesOnlyStatus) {
  fake.script.fail = {"SetOption:1"};
  Outputs out;
  RequestWith(out);
  EXPECT_EQ(fake.Count("events"), 0);
  EXPECT_THAT(Tail(fake.journal, 4), ElementsAre("SetOption(3,63,1)", "CloseHandle(3)",
                                                 "CloseHandle(2)", "CloseHandle(1)"));
}

TEST_F(WebRequestTest, NestedCallInsideEventProcessingLeavesTheOuterCallAlone) {
  fake.script.body_chunks = {"outer"};
  bool nested_done = false;
  Text nested_status;
  web::SetPendingEventsHook([&] {
    fake.journal.push_back("events");
    if (nested_done) return;
    nested_done = true;
    Web_Request("", 0, {}, std::nullopt, nullptr, {}, nullptr, false, {}, {}, {}, {}, {}, 0,
                nullptr, &nested_status);
  });
  Outputs out;
  EXPECT_EQ(RequestWith(out), "outer");
  EXPECT_EQ(nested_status, web_status::k701);
  EXPECT_EQ(out.status, "200 OK");
}

}  // namespace
}  // namespace tavrolin
