// tavrolin-lookup as a shell runs it, against article pages on the loopback server.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/memory_window.h"
#include "tests/support/loopback_server.h"
#include "tests/support/run_program.h"
#include "text/cp936.h"

namespace tavrolin {
namespace {

using ::testing::HasSubstr;
using test::BinPath;
using test::LoopbackServer;
using test::Reply;
using test::Utf8;

// Narrow literals are code page 936, so this page is served as GBK bytes.
const std::string kArticle =
    "<html><body>\n"
    "<p><label class=\"profile_meta_label\">微信号</label>\n"
    "<span class=\"profile_meta_value\">tavrolin_wx</span></p>\n"
    "<strong class=\"profile_nickname\">塔夫罗林</strong>\n"
    "<script>var user_name = \"gh_0123456789ab\"; var user_name_new = \"\";\n"
    "var msg_title = \"标题\tone\"; var msg_desc = \"简介\";</script>\n"
    "</body></html>\n";

const std::string kNoOriginalId = "<html><script>var msg_title = \"only a title\";</script></html>";

const std::string kNotice = Utf8(u8"未获得原始ID，请确认微信链接是否正确");

std::string Handler(const std::string& target) {
  if (target == "/full") return kArticle;
  if (target == "/utf8") {
    return Utf8(u8"<meta charset=\"utf-8\"><strong class=\"profile_nickname\">中文昵称</strong>"
                u8"<script>var user_name = \"gh_utf8\";user_name_new</script>");
  }
  return kNoOriginalId;
}

class TavrolinLookup : public ::testing::Test {
 protected:
  test::CommandResult Run(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), BinPath("tavrolin-lookup"));
    return test::RunProgram(args, input);
  }

  LoopbackServer server{[](const test::RecordedRequest& r) { return Reply::Page(Handler(r.target)); }};
};

TEST_F(TavrolinLookup, FullPageGivesOneTabSeparatedRecord) {
  const std::string link = server.Url("/full");
  const auto r = Run({link});
  EXPECT_EQ(r.exit_code, 0);
  // The title's tab is written as \t, so the record stays one line of six fields.
  EXPECT_EQ(r.out, Utf8(u8"gh_0123456789ab\ttavrolin_wx\t塔夫罗林\t标题\\tone\t简介\t") + link + "\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(TavrolinLookup, JsonRecordHasTheSixKeys) {
  const std::string link = server.Url("/full");
  const auto r = Run({"--json", link});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "{\"link\":\"" + link +
                       Utf8(u8"\",\"original_id\":\"gh_0123456789ab\",\"wechat_id\":\"tavrolin_wx\","
                            u8"\"nickname\":\"塔夫罗林\",\"title\":\"标题\\tone\",\"summary\":\"简介\"}\n"));
}

TEST_F(TavrolinLookup, Utf8PageArrivesAsChineseText) {
  const auto r = Run({server.Url("/utf8")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_THAT(r.out, ::testing::StartsWith(Utf8(u8"gh_utf8\t\t中文昵称\t\t\t")));
}

TEST_F(TavrolinLookup, PageWithoutOriginalIdIsReportedAndExitsWithOne) {
  const std::string link = server.Url("/none");
  const auto r = Run({link});
  EXPECT_EQ(r.exit_code, 1);
  // The other boxes are filled as far as their markers allow.
  EXPECT_EQ(r.out, "\t\t\tonly a title\t\t" + link + "\n");
  EXPECT_EQ(r.err, kNotice + "\t" + link + "\n");
}

TEST_F(TavrolinLookup, FailedRequestIsReportedAndExitsWithOne) {
  std::string link;
  {
    LoopbackServer gone(Reply::Page(""));
    link = gone.Url("/x");
  }
  const auto r = Run({"--verbose", link});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "\t\t\t\t\t" + link + "\n");
  EXPECT_THAT(r.err, HasSubstr(Utf8(u8"711 发送请求失败!\t") + link + "\n"));
  EXPECT_THAT(r.err, HasSubstr(kNotice + "\t" + link + "\n"));
}

TEST_F(TavrolinLookup, LinksFromStandardInputInOrder) {
  const std::string full = server.Url("/full"), none = server.Url("/none");
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-"}}) {
    const auto r = Run(args, "  " + full + "  \n\n\t\n" + none + "\r\n");
    EXPECT_EQ(r.exit_code, 1);
    const auto first = r.out.find('\n');
    ASSERT_NE(first, std::string::npos);
    EXPECT_THAT(r.out.substr(0, first), ::testing::StartsWith("gh_0123456789ab\t"));
    EXPECT_THAT(r.out.substr(0, first), ::testing::EndsWith("\t" + full));
    EXPECT_EQ(r.out.substr(first + 1), "\t\t\tonly a title\t\t" + none + "\n");
    EXPECT_EQ(server.request(server.request_count() - 2).target, "/full");
  }
}

TEST_F(TavrolinLookup, VerboseGivesTheStatusOfEveryLink) {
  const std::string full = server.Url("/full");
  const auto r = Run({"--verbose", full, full});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "200 OK\t" + full + "\n200 OK\t" + full + "\n");
}

// The command and the window run the same lookup, so they give the same boxes.
TEST_F(TavrolinLookup, SameValuesAsTheWindowsLookup) {
  const std::string link = server.Url("/full");
  app::MemoryWindow window;
  app::MemoryClipboard clipboard;
  app::NoticeLog notices;
  app::MainWindow handlers(window, clipboard, notices);
  handlers.OnLinkBoxLeftPress();
  window.SetControlText(app::Control::编辑框_微信链接, Text(link));
  handlers.OnExtractClicked();

  std::string expected;
  for (app::Control box : {app::Control::编辑框_原始ID, app::Control::编辑框_微信号,
                           app::Control::编辑框_昵称, app::Control::编辑框_图文标题,
                           app::Control::编辑框_图文简介, app::Control::编辑框_微信链接1}) {
    std::string value = cp936::ToUtf8(window.ControlText(box).view());
    for (std::size_t tab; (tab = value.find('\t')) != std::string::npos;) value.replace(tab, 1, "\\t");
    expected += value + (box == app::Control::编辑框_微信链接1 ? "\n" : "\t");
  }
  EXPECT_EQ(Run({link}).out, expected);
}

// What a terminal on the command's stderr shows; its stdout goes nowhere.
std::string StderrOnTerminal(std::vector<std::string> args) {
  int terminal = -1, child_side = -1;
  if (openpty(&terminal, &child_side, nullptr, nullptr, nullptr) != 0) return "(no terminal)";
  args.insert(args.begin(), BinPath("tavrolin-lookup"));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int nowhere = open("/dev/null", O_RDWR);
    dup2(nowhere, 0);
    dup2(nowhere, 1);
    dup2(child_side, 2);
    close(terminal);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(child_side);
  std::string seen;
  char buffer[4096];
  // The read fails (EIO) once the child has closed its side.
  for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) seen.append(buffer, n);
  close(terminal);
  waitpid(pid, nullptr, 0);
  return seen;
}

TEST_F(TavrolinLookup, ProgressOnlyWhenStderrIsATerminal) {
  const std::string full = server.Url("/full");
  const std::string shown = StderrOnTerminal({full, full});
  EXPECT_THAT(shown, HasSubstr("[1/2] " + full));
  EXPECT_THAT(shown, HasSubstr("[2/2] " + full));
  // Not a terminal: nothing but what a link went wrong with.
  EXPECT_EQ(Run({full, full}).err, "");
}

struct UsageCase {
  std::vector<std::string> args;
};

class TavrolinLookupUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(TavrolinLookupUsage, ExitsWithTwo) {
  std::vector<std::string> args = GetParam().args;
  args.insert(args.begin(), BinPath("tavrolin-lookup"));
  const auto r = test::RunProgram(args);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_THAT(r.err, HasSubstr("usage: tavrolin-lookup"));
}

INSTANTIATE_TEST_SUITE_P(BadArguments, TavrolinLookupUsage,
                         ::testing::Values(UsageCase{{"--bogus"}},
                                           UsageCase{{"-", "http://127.0.0.1/"}}));

TEST(TavrolinLookupHelp, ExplainsOutputAndExitStatus) {
  const auto r = test::RunProgram({BinPath("tavrolin-lookup"), "--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_THAT(r.out, HasSubstr("--json"));
  EXPECT_THAT(r.out, HasSubstr("Exit status"));
}

}  // namespace
}  // namespace tavrolin
