// The handlers and the article lookup, headless: the in-memory window, a
// recording clipboard and notice log, and real requests to a loopback server.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/memory_window.h"
#include "tests/support/loopback_server.h"
#include "text/cp936.h"
#include "web/events.h"

namespace tavrolin::app {
namespace {

using test::LoopbackServer;
using test::Reply;

// A page carrying every marker, laid out as the platform's article pages are.
// Narrow literals are GBK bytes, so the server sends a GBK page.
const std::string kFullPage =
    "<html><head><title>x</title></head><body>\n"
    "<p class=\"profile_meta\"><label class=\"profile_meta_label\">微信号</label>\n"
    "<span class=\"profile_meta_value\">tavrolin_wx</span></p>\n"
    "<strong class=\"profile_nickname\">塔夫罗林</strong>\n"
    "<script>\n"
    "var user_name = \"gh_0123456789ab\";\n"
    "var user_name_new = \"\";\n"
    "var msg_title = \"一篇文章的标题\";\n"
    "var msg_desc = \"这是简介\";\n"
    "</script></body></html>\n";

struct Boxes {
  Text original_id, wechat_id, nickname, title, summary;
};
const Boxes kFullBoxes{"gh_0123456789ab", "tavrolin_wx", "塔夫罗林", "一篇文章的标题", "这是简介"};

std::string Replaced(std::string page, const std::string& what, const std::string& with) {
  page.replace(page.find(what), what.size(), with);
  return page;
}

// Logs the window operations, so the order of a handler's writes shows.
class RecordingWindow : public MemoryWindow {
 public:
  void SetControlText(Control control, const Text& text) override {
    log.push_back("text " + std::to_string(Index(control)));
    MemoryWindow::SetControlText(control, text);
  }
  void SetTextColour(Control edit_box, Colour colour) override {
    log.push_back("colour " + std::to_string(Index(edit_box)));
    MemoryWindow::SetTextColour(edit_box, colour);
  }
  std::vector<std::string> log;
};

class MainWindowTest : public ::testing::Test {
 protected:
  ~MainWindowTest() override { web::SetPendingEventsHook({}); }

  Text Box(Control control) { return window.ControlText(control); }
  Colour LinkColour() { return window.TextColour(Control::编辑框_微信链接); }

  // As a user does: press into the link box, type, move on to Extract.
  void EnterLink(const std::string& url) {
    handlers.OnLinkBoxLeftPress();
    window.SetControlText(Control::编辑框_微信链接, Text(url));
    handlers.OnLinkBoxLostFocus();
  }
  void Extract(const std::string& url) {
    EnterLink(url);
    handlers.OnExtractClicked();
  }
  Boxes Results() {
    return {Box(Control::编辑框_原始ID), Box(Control::编辑框_微信号), Box(Control::编辑框_昵称),
            Box(Control::编辑框_图文标题), Box(Control::编辑框_图文简介)};
  }
  void ExpectResults(const Boxes& want) {
    const Boxes got = Results();
    EXPECT_EQ(cp936::ToUtf8(got.original_id.view()), cp936::ToUtf8(want.original_id.view()));
    EXPECT_EQ(cp936::ToUtf8(got.wechat_id.view()), cp936::ToUtf8(want.wechat_id.view()));
    EXPECT_EQ(cp936::ToUtf8(got.nickname.view()), cp936::ToUtf8(want.nickname.view()));
    EXPECT_EQ(cp936::ToUtf8(got.title.view()), cp936::ToUtf8(want.title.view()));
    EXPECT_EQ(cp936::ToUtf8(got.summary.view()), cp936::ToUtf8(want.summary.view()));
  }
  void FillResultBoxes(const Text& junk) {
    for (const Extraction& row : kExtractions) window.SetControlText(row.box, junk);
  }

  RecordingWindow window;
  MemoryClipboard clipboard;
  NoticeLog notices;
  MainWindow handlers{window, clipboard, notices};
};

TEST_F(MainWindowTest, StartsWithTheHintInSilverAndTheFocusOnTheLinkCaption) {
  const std::string hint = Box(Control::编辑框_微信链接).str();
  const std::string prefix = Text("请输入要微信文章链接，如：https://mp.weixin.qq.com/s/").str();
  ASSERT_EQ(hint.substr(0, prefix.size()), prefix);
  const std::string token = hint.substr(prefix.size());
  EXPECT_EQ(token.size(), 22u) << token;
  EXPECT_EQ(
      token.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-"),
      std::string::npos);
  EXPECT_EQ(LinkColour(), Colour{12632256});
  for (const ControlSpec& spec : kLayout) {
    if (spec.kind == ControlKind::kEditBox && spec.id != Control::编辑框_微信链接) {
      EXPECT_EQ(Box(spec.id), "");
      EXPECT_EQ(window.TextColour(spec.id), kBlack);
    }
  }
  handlers.OnCreated();
  EXPECT_EQ(window.focus(), Control::标签3);
}

TEST_F(MainWindowTest, PressEmptiesTheLinkBoxAndTurnsItBlackWhateverItHolds) {
  for (const char* held : {kHintText, "https://mp.weixin.qq.com/s/typed_earlier", ""}) {
    window.SetControlText(Control::编辑框_微信链接, held);
    handlers.OnLinkBoxLeftPress();
    EXPECT_EQ(Box(Control::编辑框_微信链接), "") << held;
    EXPECT_EQ(LinkColour(), kBlack) << held;
  }
}

TEST_F(MainWindowTest, LosingTheFocusEmptyRestoresTheHintColourFirst) {
  handlers.OnLinkBoxLeftPress();
  window.log.clear();
  handlers.OnLinkBoxLostFocus();
  EXPECT_EQ(Box(Control::编辑框_微信链接), kHintText);
  EXPECT_EQ(LinkColour(), kHintColour);
  const std::string link = std::to_string(Index(Control::编辑框_微信链接));
  EXPECT_EQ(window.log, (std::vector<std::string>{"colour " + link, "text " + link}));
}

TEST_F(MainWindowTest, LosingTheFocusWithAnyTextChangesNothing) {
  handlers.OnLinkBoxLeftPress();
  for (const char* typed : {"not a link", " ", "https://example.invalid/"}) {
    window.SetControlText(Control::编辑框_微信链接, typed);
    window.log.clear();
    handlers.OnLinkBoxLostFocus();
    EXPECT_EQ(Box(Control::编辑框_微信链接), typed);
    EXPECT_EQ(LinkColour(), kBlack);
    EXPECT_TRUE(window.log.empty());
  }
}

TEST_F(MainWindowTest, GateAsksForALinkWhileTheBoxIsSilverWhateverItHolds) {
  LoopbackServer server(Reply::Page(kFullPage));
  FillResultBoxes("earlier");
  // Reached by Tab and typed into: the colour is still the hint's.
  window.SetControlText(Control::编辑框_微信链接, Text(server.Url("/s/tabbed")));
  handlers.OnExtractClicked();
  // Emptied and left: the hint is back before the click arrives.
  EnterLink("");
  handlers.OnExtractClicked();

  EXPECT_EQ(notices.shown(), (std::vector<Text>{"请输入微信链接", "请输入微信链接"}));
  EXPECT_EQ(server.request_count(), 0u);
  EXPECT_EQ(Box(Control::编辑框_原始ID), "earlier");
  EXPECT_EQ(Box(Control::编辑框_微信链接1), "");
  EXPECT_EQ(clipboard.writes(), 0);
}

TEST_F(MainWindowTest, GateLooksAtTheColourNotTheText) {
  // Black hint text passes the gate: the lookup runs on it, and fails.
  window.SetTextColour(Control::编辑框_微信链接, kBlack);
  handlers.OnExtractClicked();
  EXPECT_EQ(notices.shown(), (std::vector<Text>{"未获得原始ID，请确认微信链接是否正确"}));
  EXPECT_EQ(Box(Control::编辑框_微信链接1), kHintText);
}

TEST_F(MainWindowTest, FullPageFillsEveryBoxAndCopiesTheOriginalId) {
  LoopbackServer server(Reply::Page(kFullPage));
  const std::string url = server.Url("/s/q7Vb3LmZt2XkP8sNw5yHaQ");
  Extract(url);

  ExpectResults(kFullBoxes);
  EXPECT_EQ(Box(Control::编辑框_微信链接1).str(), url);
  EXPECT_EQ(clipboard.text(), Text("gh_0123456789ab"));
  EXPECT_EQ(clipboard.writes(), 1);
  EXPECT_TRUE(notices.shown().empty());
  ASSERT_EQ(server.request_count(), 1u);
  EXPECT_EQ(server.request(0).method, "GET");
  EXPECT_EQ(server.request(0).target, "/s/q7Vb3LmZt2XkP8sNw5yHaQ");
}

TEST_F(MainWindowTest, PageDeclaringUtf8IsReadAsItsCharset) {
  const std::string page = reinterpret_cast<const char*>(
      u8"<html><head><meta charset=\"utf-8\"></head><body>"
      u8"<strong class=\"profile_nickname\">塔夫罗林</strong>"
      u8"<script>var user_name = \"gh_utf8\"; var user_name_new = \"\";</script>");
  LoopbackServer server(Reply::Page(page, "text/html; charset=utf-8"));
  Extract(server.Url("/s/utf8"));
  EXPECT_EQ(Box(Control::编辑框_原始ID), "gh_utf8");
  EXPECT_EQ(cp936::ToUtf8(Box(Control::编辑框_昵称).view()),
            reinterpret_cast<const char*>(u8"塔夫罗林"));
}

struct MissingMarkerCase {
  const char* name;
  const char* what;  // replaced in the full page
  const char* with;
  Boxes want;
};

class MissingMarkerTest : public MainWindowTest,
                          public ::testing::WithParamInterface<MissingMarkerCase> {};

TEST_P(MissingMarkerTest, EmptiesOnlyTheBoxesWhoseMarkersAreMissing) {
  const MissingMarkerCase& c = GetParam();
  LoopbackServer server(Reply::Page(Replaced(kFullPage, c.what, c.with)));
  clipboard.SetText("held before");
  FillResultBoxes("earlier");
  const std::string url = server.Url("/s/page");
  Extract(url);

  ExpectResults(c.want);
  EXPECT_EQ(Box(Control::编辑框_微信链接1).str(), url);
  if (c.want.original_id.empty()) {
    EXPECT_EQ(notices.shown(), (std::vector<Text>{"未获得原始ID，请确认微信链接是否正确"}));
    EXPECT_EQ(clipboard.text(), Text("held before"));
    EXPECT_EQ(clipboard.writes(), 1);
  } else {
    EXPECT_TRUE(notices.shown().empty());
    EXPECT_EQ(clipboard.text(), c.want.original_id);
  }
}

const Boxes& Full() { return kFullBoxes; }
Boxes Without(Text Boxes::*field) {
  Boxes boxes = Full();
  boxes.*field = Text();
  return boxes;
}

INSTANTIATE_TEST_SUITE_P(
    Pages, MissingMarkerTest,
    ::testing::Values(MissingMarkerCase{"NoUserNameNew", "user_name_new", "user_alias",
                                        Without(&Boxes::original_id)},
                      MissingMarkerCase{"UserNameInOtherCase", "var user_name =", "var User_Name =",
                                        Without(&Boxes::original_id)},
                      MissingMarkerCase{"OriginalIdWithoutQuotes", "\"gh_0123456789ab\"",
                                        "gh_0123456789ab", Without(&Boxes::original_id)},
                      MissingMarkerCase{"NoMetaLabel", "profile_meta_label", "profile_meta_caption",
                                        Without(&Boxes::wechat_id)},
                      // The first stage finds its stretch, the second finds nothing in it:
                      // the box ends empty, not holding the stretch.
                      MissingMarkerCase{"NoMetaValue", "profile_meta_value", "profile_meta_data",
                                        Without(&Boxes::wechat_id)},
                      MissingMarkerCase{"NicknameNotClosed", "</strong>", "</b>",
                                        Without(&Boxes::nickname)},
                      MissingMarkerCase{"NicknameClassInOtherCase", "profile_nickname",
                                        "Profile_Nickname", Without(&Boxes::nickname)},
                      MissingMarkerCase{"TitleWithOneQuote", "\"一篇文章的标题\";",
                                        "\"一篇文章的标题;\"", Without(&Boxes::title)},
                      // Both quotes stand after the semicolon that ends the stretch.
                      MissingMarkerCase{"TitleQuotedAfterItsSemicolon", "= \"一篇文章的标题\";",
                                        "= t; t = \"一篇文章的标题\";", Without(&Boxes::title)},
                      MissingMarkerCase{"SummaryInSingleQuotes", "\"这是简介\"", "'这是简介'",
                                        Without(&Boxes::summary)}),
    [](const ::testing::TestParamInfo<MissingMarkerCase>& info) { return info.param.name; });

TEST_F(MainWindowTest, FailedRequestEmptiesTheBoxesAndStillRepeatsTheLink) {
  const std::string url = "http://127.0.0.1:" + std::to_string(test::FreeLoopbackPort()) + "/s/x";
  FillResultBoxes("earlier");
  Extract(url);

  ExpectResults({});
  EXPECT_EQ(Box(Control::编辑框_微信链接1).str(), url);
  EXPECT_EQ(notices.shown(), (std::vector<Text>{"未获得原始ID，请确认微信链接是否正确"}));
  EXPECT_EQ(clipboard.writes(), 0);
}

TEST_F(MainWindowTest, SecondLookupLeavesNothingOfTheFirst) {
  LoopbackServer server([](const test::RecordedRequest& request) {
    if (request.target == "/s/full") return Reply::Page(kFullPage);
    return Reply::Page("<strong class=\"profile_nickname\">只有昵称</strong>");
  });
  Extract(server.Url("/s/full"));
  Extract(server.Url("/s/less"));

  ExpectResults({"", "", "只有昵称", "", ""});
  EXPECT_EQ(Box(Control::编辑框_微信链接1).str(), server.Url("/s/less"));
  EXPECT_EQ(clipboard.text(), Text("gh_0123456789ab"));  // from the first lookup only
  EXPECT_EQ(notices.shown(), (std::vector<Text>{"未获得原始ID，请确认微信链接是否正确"}));
}

TEST_F(MainWindowTest, EachCopyButtonCopiesItsBoxAsItStandsNow) {
  LoopbackServer server(Reply::Page(kFullPage));
  Extract(server.Url("/s/full"));
  window.SetControlText(Control::编辑框_昵称, "手改的昵称");  // edited by hand

  const std::array<std::pair<Control, Text>, 6> want{{
      {Control::按钮1, "gh_0123456789ab"},
      {Control::按钮2, "tavrolin_wx"},
      {Control::按钮3, "手改的昵称"},
      {Control::按钮4, "一篇文章的标题"},
      {Control::按钮5, "这是简介"},
      {Control::按钮6, Text(server.Url("/s/full"))},
  }};
  for (const auto& [button, text] : want) {
    handlers.OnCopyClicked(button);
    EXPECT_EQ(clipboard.text(), text) << Index(button);
  }
  EXPECT_EQ(clipboard.writes(), 1 + 6);
  EXPECT_TRUE(notices.shown().empty());
}

TEST_F(MainWindowTest, CopyingAnEmptyBoxReplacesTheClipboardAndOtherControlsCopyNothing) {
  clipboard.SetText("held before");
  handlers.OnCopyClicked(Control::按钮_提取);
  handlers.OnCopyClicked(Control::编辑框_原始ID);
  EXPECT_EQ(clipboard.writes(), 1);
  handlers.OnCopyClicked(Control::按钮4);
  EXPECT_EQ(clipboard.text(), Text(""));
  EXPECT_EQ(clipboard.writes(), 2);
}

TEST_F(MainWindowTest, ExtractInsideALookupRunsItsOwnAndTheOuterWritesWin) {
  LoopbackServer server([](const test::RecordedRequest& request) {
    if (request.target == "/s/outer") return Reply::Page(kFullPage);
    return Reply::Page(
        Replaced(Replaced(kFullPage, "gh_0123456789ab", "gh_inner"), "塔夫罗林", "内层"));
  });
  bool clicked = false;
  std::vector<Text> clipboard_seen;
  web::SetPendingEventsHook([&] {
    if (clicked) return;
    clicked = true;
    // The user types another link and presses Extract while the first waits.
    window.SetControlText(Control::编辑框_微信链接, Text(server.Url("/s/inner")));
    handlers.OnExtractClicked();
    clipboard_seen.push_back(clipboard.text().value_or(Text("none")));
  });
  Extract(server.Url("/s/outer"));

  ASSERT_TRUE(clicked);
  EXPECT_EQ(server.request_count(), 2u);
  EXPECT_EQ(clipboard_seen, std::vector<Text>{"gh_inner"});
  ExpectResults(kFullBoxes);
  // Read anew after the request: the link the user changed to.
  EXPECT_EQ(Box(Control::编辑框_微信链接1).str(), server.Url("/s/inner"));
  EXPECT_EQ(clipboard.text(), Text("gh_0123456789ab"));
  EXPECT_EQ(clipboard.writes(), 2);
  EXPECT_TRUE(notices.shown().empty());
}

TEST(MainWindowClosedTest, LookupEndsUntouchedWhenTheWindowGoesAwayMeanwhile) {
  LoopbackServer server(Reply::Page(kFullPage));
  MemoryClipboard clipboard;
  NoticeLog notices;
  auto window = std::make_unique<MemoryWindow>();
  auto handlers = std::make_unique<MainWindow>(*window, clipboard, notices);
  // Closed and freed inside the request: the sanitizer catches any touch after.
  web::SetPendingEventsHook([&] {
    if (!window) return;
    window->Close();
    window.reset();
    handlers.reset();
  });
  MainWindow* running = handlers.get();
  running->OnLinkBoxLeftPress();
  window->SetControlText(Control::编辑框_微信链接, Text(server.Url("/s/closing")));
  running->OnExtractClicked();
  web::SetPendingEventsHook({});

  EXPECT_EQ(window, nullptr);
  EXPECT_EQ(server.request_count(), 1u);
  EXPECT_EQ(clipboard.writes(), 0);
  EXPECT_TRUE(notices.shown().empty());
}

}  // namespace
}  // namespace tavrolin::app
