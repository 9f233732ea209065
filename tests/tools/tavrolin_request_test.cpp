// tavrolin-request as a shell runs it, against the scripted loopback server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/loopback_server.h"
#include "tests/support/run_program.h"

namespace tavrolin {
namespace {

using ::testing::HasSubstr;
using test::BinPath;
using test::LoopbackServer;
using test::Reply;
using test::RunProgram;

test::CommandResult RunTool(std::vector<std::string> args) {
  args.insert(args.begin(), BinPath("tavrolin-request"));
  return RunProgram(args);
}

TEST(TavrolinRequest, PrintsThePageAndTheStatus) {
  // Declared as UTF-8, decoded to code page 936 inside and printed back as UTF-8.
  const std::string page = test::Utf8(u8"<meta charset=\"utf-8\"><p>你好，世界</p>");
  LoopbackServer server(Reply::Page(page, "text/html"));
  const auto r = RunTool({server.Url("/")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, page);
  EXPECT_EQ(r.err, "200 OK\n");
}

TEST(TavrolinRequest, SendsMethodBodyHeadersAndCredentials) {
  LoopbackServer server(Reply::Page("ok"));
  const auto r = RunTool({"-X", "PUT", "-d", test::Utf8(u8"名=值"), "-H", "X-One: 1", "-H", "X-Two: 2", "-u",
                      "alice:s3cret", "-b", "k=v", server.Url("/put")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(server.request_count(), 1u);
  const auto request = server.request(0);
  EXPECT_EQ(request.method, "PUT");
  // Arguments arrive as UTF-8 and go out as code page 936.
  EXPECT_EQ(request.body, "名=值");
  EXPECT_EQ(request.Header("X-One").value_or(""), "1");
  EXPECT_EQ(request.Header("X-Two").value_or(""), "2");
  EXPECT_EQ(request.Header("Cookie").value_or(""), "k=v");
  EXPECT_EQ(request.Header("Authorization").value_or(""), "Basic YWxpY2U6czNjcmV0");
}

TEST(TavrolinRequest, JsonCarriesEveryOutput) {
  LoopbackServer server(Reply::Redirect(302, "/next", "a=1; Path=/"));
  const auto r = RunTool({"--json", "--no-redirect", server.Url("/")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("\"status_text\":\"302 Found\""));
  EXPECT_THAT(r.out, HasSubstr("\"returned_cookies\":\"a=1\""));
  EXPECT_THAT(r.out, HasSubstr("\"returned_location\":\"/next\""));
  EXPECT_THAT(r.out, HasSubstr("\"returned_bytes_length\":0"));
  EXPECT_THAT(r.out, HasSubstr("\"returned_headers\":\"HTTP/1.1 302 Found\\r\\n"));
  EXPECT_THAT(r.out, HasSubstr("\"page_text\":\"\""));
}

TEST(TavrolinRequest, OutputFileHoldsTheRawBody) {
  LoopbackServer server(Reply::Page(std::string("a\0b\xff", 4), "application/octet-stream"));
  const std::string path = ::testing::TempDir() + "tavrolin_request_body.bin";
  const auto r = RunTool({"-o", path, server.Url("/bin")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_EQ(content.str(), std::string("a\0b\xff", 4));
  std::remove(path.c_str());
}

TEST(TavrolinRequest, FailureExitsWithOneAndTheMessage) {
  const auto r = RunTool({"ftp://127.0.0.1/"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, test::Utf8(u8"701 解析URL地址失败!\n"));
}

struct UsageCase {
  std::vector<std::string> args;
};

class TavrolinRequestUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(TavrolinRequestUsage, ExitsWithTwo) {
  const auto r = RunTool(GetParam().args);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_THAT(r.err, HasSubstr("usage: tavrolin-request"));
}

INSTANTIATE_TEST_SUITE_P(
    BadArguments, TavrolinRequestUsage,
    ::testing::Values(UsageCase{{}}, UsageCase{{"--bogus", "http://127.0.0.1/"}},
                      UsageCase{{"-X", "FETCH", "http://127.0.0.1/"}},
                      UsageCase{{"-m", "soon", "http://127.0.0.1/"}},
                      UsageCase{{"http://127.0.0.1/a", "http://127.0.0.1/b"}},
                      UsageCase{{"-d"}}));

TEST(TavrolinRequest, HelpExitsWithZero) {
  const auto r = RunTool({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_THAT(r.out, HasSubstr("--json"));
}

}  // namespace
}  // namespace tavrolin
