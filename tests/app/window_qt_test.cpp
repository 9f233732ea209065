// The Qt backend under the offscreen platform: the layout as built, the
// link box's hint as mouse, keyboard and focus drive it, Esc, the notice,
// and lookups through real clicks.
#include "app/window_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/notice_qt.h"
#include "tests/support/loopback_server.h"
#include "web/events.h"

namespace tavrolin::app {
namespace {

constexpr int kWaitMs = 20000;  // generous: only a hang should ever reach it

QString Q(const char16_t* text) { return QString::fromUtf16(text); }

// What a notice box looked like while it showed.
struct SeenNotice {
  QString text;
  QString title;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
  bool has_parent;
  Qt::WindowModality modality;
};

// Watches for notice boxes while a test drives the window (a notice blocks
// the call that raised it), records each and then acts on it.
class NoticeCatcher {
 public:
  using Action = std::function<void(QMessageBox&)>;
  explicit NoticeCatcher(Action action = {}) : action_(std::move(action)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start(10);
  }
  const std::vector<SeenNotice>& seen() const { return seen_; }

 private:
  void Look() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr || !box->isVisible() || handled_.contains(box)) continue;
      handled_.append(box);
      seen_.push_back({box->text(), box->windowTitle(), box->icon(), box->standardButtons(),
                       box->parentWidget() != nullptr, box->windowModality()});
      if (action_) action_(*box);
    }
  }
  Action action_;
  QTimer timer_;
  QList<QMessageBox*> handled_;
  std::vector<SeenNotice> seen_;
};

void PressOk(QMessageBox& box) { box.button(QMessageBox::Ok)->click(); }

class QtWindowTest : public ::testing::Test {
 protected:
  QtWindowTest() {
    QGuiApplication::clipboard()->setText(QStringLiteral("held before"));
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window, kWaitMs));
  }
  ~QtWindowTest() override {
    web::SetPendingEventsHook([] { QCoreApplication::processEvents(); });
  }

  QWidget* Find(const char16_t* name) {
    auto* widget = window.findChild<QWidget*>(Q(name));
    EXPECT_NE(widget, nullptr) << QString::fromUtf16(name).toStdString();
    return widget;
  }
  QLineEdit* Edit(Control control) { return qobject_cast<QLineEdit*>(window.widget(control)); }
  QLineEdit* LinkBox() { return Edit(Control::编辑框_微信链接); }
  QColor TextColour(QWidget* widget, QPalette::ColorRole role = QPalette::Text) {
    return widget->palette().color(QPalette::Active, role);
  }
  // Through the window system, as a real click arrives (modality applies).
  void Click(Control control) {
    QWidget* target = window.widget(control);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                      target->mapTo(&window, target->rect().center()));
  }
  QString Clipboard() { return QGuiApplication::clipboard()->text(); }

  QtMainWindow window;
};

struct ExpectedControl {
  const char16_t* name;
  const char* kind;  // QLabel, QLineEdit, QPushButton
  const char16_t* text;
  QRect rect;
};

TEST_F(QtWindowTest, BuildsTheLayoutTable) {
  const QString hint =
      Q(u"请输入要微信文章链接，如：https://mp.weixin.qq.com/s/q7Vb3LmZt2XkP8sNw5yHaQ");
  const std::vector<ExpectedControl> table{
      {u"标签3", "QLabel", u"微信链接：", {15, 19, 80, 24}},
      {u"编辑框_微信链接", "QLineEdit", nullptr, {79, 19, 409, 21}},
      {u"按钮_提取", "QPushButton", u"提取", {308, 50, 180, 32}},
      {u"标签4", "QLabel", u"*提取完成后，程序将自动复制原始ID", {15, 55, 208, 24}},
      {u"标签1", "QLabel", u"原始ID：", {16, 95, 80, 24}},
      {u"编辑框_原始ID", "QLineEdit", u"", {79, 95, 353, 21}},
      {u"按钮1", "QPushButton", u"复制", {432, 93, 56, 24}},
      {u"标签2", "QLabel", u"微信号：", {16, 135, 80, 24}},
      {u"编辑框_微信号", "QLineEdit", u"", {79, 135, 353, 21}},
      {u"按钮2", "QPushButton", u"复制", {432, 133, 56, 24}},
      {u"标签5", "QLabel", u"昵称  ：", {16, 175, 80, 24}},
      {u"编辑框_昵称", "QLineEdit", u"", {79, 175, 353, 21}},
      {u"按钮3", "QPushButton", u"复制", {432, 173, 56, 24}},
      {u"标签6", "QLabel", u"图文标题：", {16, 215, 80, 24}},
      {u"编辑框_图文标题", "QLineEdit", u"", {79, 215, 353, 21}},
      {u"按钮4", "QPushButton", u"复制", {432, 213, 56, 24}},
      {u"标签7", "QLabel", u"图文简介：", {16, 255, 80, 24}},
      {u"编辑框_图文简介", "QLineEdit", u"", {79, 255, 353, 21}},
      {u"按钮5", "QPushButton", u"复制", {432, 253, 56, 24}},
      {u"标签8", "QLabel", u"微信链接：", {16, 290, 80, 24}},
      {u"编辑框_微信链接1", "QLineEdit", u"", {79, 290, 353, 21}},
      {u"按钮6", "QPushButton", u"复制", {432, 288, 56, 24}},
  };
  const QColor black(0, 0, 0), silver(192, 192, 192), white(255, 255, 255);
  for (const ExpectedControl& want : table) {
    SCOPED_TRACE(Q(want.name).toStdString());
    QWidget* widget = Find(want.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_STREQ(widget->metaObject()->className(), want.kind);
    EXPECT_EQ(widget->geometry(), want.rect);
    EXPECT_TRUE(widget->isVisible());
    EXPECT_TRUE(widget->isEnabled());
    EXPECT_FALSE(widget->testAttribute(Qt::WA_SetFont));  // the default GUI font
    const bool is_label = qobject_cast<QLabel*>(widget) != nullptr;
    EXPECT_EQ((widget->focusPolicy() & Qt::TabFocus) != 0, !is_label);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      EXPECT_EQ(label->text(), Q(want.text));
      EXPECT_EQ(TextColour(label, QPalette::WindowText),
                want.name == std::u16string_view(u"标签4") ? silver : black);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      const bool link_box = want.text == nullptr;
      EXPECT_EQ(edit->text(), link_box ? hint : Q(want.text));
      EXPECT_EQ(TextColour(edit), link_box ? silver : black);
      EXPECT_EQ(TextColour(edit, QPalette::Base), white);
      EXPECT_FALSE(edit->isReadOnly());
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
      EXPECT_EQ(button->text(), Q(want.text));
    }
  }
  EXPECT_EQ(window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), table.size());
}

TEST_F(QtWindowTest, FixedCentredFrameWithMinimizeButNoMaximize) {
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Tavrolin"));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  EXPECT_EQ(window.size(), QSize(kClientWidth, kClientHeight));
  const Qt::WindowFlags flags = window.windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(window.pos(), QPoint((screen.width() - 514) / 2, (screen.height() - 363) / 2));
}

TEST_F(QtWindowTest, StartsWithTheFocusOnTheLinkCaption) {
  EXPECT_EQ(QApplication::focusWidget(), Find(u"标签3"));
}

TEST_F(QtWindowTest, PressLeavesTheHintAndTheBoxStillTakesFocusAndCaret) {
  Click(Control::编辑框_微信链接);
  EXPECT_TRUE(LinkBox()->hasFocus());
  EXPECT_EQ(LinkBox()->text(), QString());
  EXPECT_EQ(TextColour(LinkBox()), QColor(0, 0, 0));
  QTest::keyClicks(LinkBox(), QStringLiteral("https://mp.weixin.qq.com/s/typed"));
  EXPECT_EQ(LinkBox()->text(), QStringLiteral("https://mp.weixin.qq.com/s/typed"));

  // Leaving it with text changes nothing; pressing again empties it all the same.
  Click(Control::编辑框_原始ID);
  EXPECT_EQ(LinkBox()->text(), QStringLiteral("https://mp.weixin.qq.com/s/typed"));
  EXPECT_EQ(TextColour(LinkBox()), QColor(0, 0, 0));
  Click(Control::编辑框_微信链接);
  EXPECT_EQ(LinkBox()->text(), QString());
  EXPECT_EQ(LinkBox()->cursorPosition(), 0);
}

TEST_F(QtWindowTest, OnlyALeftPressLeavesTheHint) {
  const QString hint = LinkBox()->text();
  for (Qt::MouseButton button : {Qt::MiddleButton, Qt::RightButton}) {
    QTest::mouseClick(window.windowHandle(), button, {},
                      LinkBox()->mapTo(&window, LinkBox()->rect().center()));
    EXPECT_EQ(LinkBox()->text(), hint);
    EXPECT_EQ(TextColour(LinkBox()), QColor(192, 192, 192));
  }
}

TEST_F(QtWindowTest, LosingTheFocusEmptyRestoresTheHint) {
  Click(Control::编辑框_微信链接);
  Click(Control::编辑框_昵称);
  EXPECT_EQ(LinkBox()->text(),
            Q(u"请输入要微信文章链接，如：https://mp.weixin.qq.com/s/q7Vb3LmZt2XkP8sNw5yHaQ"));
  EXPECT_EQ(TextColour(LinkBox()), QColor(192, 192, 192));
}

TEST_F(QtWindowTest, ClickingALabelLeavesTheFocusWhereItWas) {
  Click(Control::编辑框_微信链接);
  Click(Control::标签1);
  EXPECT_TRUE(LinkBox()->hasFocus());
  EXPECT_EQ(LinkBox()->text(), QString());
  EXPECT_EQ(TextColour(LinkBox()), QColor(0, 0, 0));
}

TEST_F(QtWindowTest, TabbingInKeepsTheSilverAndExtractStillAsksForALink) {
  QTest::keyClick(&window, Qt::Key_Tab);
  ASSERT_TRUE(LinkBox()->hasFocus());
  QTest::keyClicks(LinkBox(), QStringLiteral("http://127.0.0.1:9/"));
  EXPECT_EQ(LinkBox()->text(), QStringLiteral("http://127.0.0.1:9/"));
  EXPECT_EQ(TextColour(LinkBox()), QColor(192, 192, 192));

  NoticeCatcher catcher(PressOk);
  Click(Control::按钮_提取);
  ASSERT_EQ(catcher.seen().size(), 1u);
  EXPECT_EQ(catcher.seen()[0].text, Q(u"请输入微信链接"));
  EXPECT_EQ(Edit(Control::编辑框_微信链接1)->text(), QString());
}

TEST_F(QtWindowTest, EscapeClosesTheWindow) {
  const Liveness alive = window.Alive();
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(alive.expired());
}

TEST_F(QtWindowTest, NoticeClosesItselfAndTheWindowStaysUsable) {
  Edit(Control::编辑框_原始ID)->setText(QStringLiteral("usable meanwhile"));
  bool clicked_during = false;
  NoticeCatcher catcher([&](QMessageBox&) {
    Click(Control::按钮1);
    clicked_during = true;
  });
  TimedNotice("未获得原始ID，请确认微信链接是否正确");  // returns only once the box has closed

  ASSERT_EQ(catcher.seen().size(), 1u);
  const SeenNotice& notice = catcher.seen()[0];
  EXPECT_EQ(notice.text, Q(u"未获得原始ID，请确认微信链接是否正确"));
  EXPECT_EQ(notice.title, Q(u"本信息框自动关闭"));
  EXPECT_EQ(notice.icon, QMessageBox::Information);
  EXPECT_EQ(notice.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_FALSE(notice.has_parent);
  EXPECT_EQ(notice.modality, Qt::NonModal);
  EXPECT_TRUE(clicked_during);
  EXPECT_EQ(Clipboard(), QStringLiteral("usable meanwhile"));
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    EXPECT_EQ(qobject_cast<QMessageBox*>(widget), nullptr);  // gone, not just hidden
  }
}

TEST_F(QtWindowTest, NoticeReturnsWhenDismissed) {
  NoticeCatcher catcher(PressOk);
  TimedNotice("请输入微信链接");
  EXPECT_EQ(catcher.seen().size(), 1u);
}

const std::string kPage =
    "<label class=\"profile_meta_label\">微信号</label>"
    "<span class=\"profile_meta_value\">tavrolin_wx</span>"
    "<strong class=\"profile_nickname\">塔夫罗林</strong>"
    "<script>var user_name = \"gh_0123456789ab\"; var user_name_new = \"\";"
    "var msg_title = \"标题\"; var msg_desc = \"简介\";</script>";

TEST_F(QtWindowTest, LookupByClicksFillsTheBoxesAndTheClipboardHoldsUnicode) {
  test::LoopbackServer server(test::Reply::Page(kPage));
  const QString url = QString::fromStdString(server.Url("/s/q7Vb3LmZt2XkP8sNw5yHaQ"));
  NoticeCatcher catcher(PressOk);
  Click(Control::编辑框_微信链接);
  QTest::keyClicks(LinkBox(), url);
  Click(Control::按钮_提取);

  EXPECT_EQ(Edit(Control::编辑框_原始ID)->text(), QStringLiteral("gh_0123456789ab"));
  EXPECT_EQ(Edit(Control::编辑框_微信号)->text(), QStringLiteral("tavrolin_wx"));
  EXPECT_EQ(Edit(Control::编辑框_昵称)->text(), Q(u"塔夫罗林"));
  EXPECT_EQ(Edit(Control::编辑框_图文标题)->text(), Q(u"标题"));
  EXPECT_EQ(Edit(Control::编辑框_图文简介)->text(), Q(u"简介"));
  EXPECT_EQ(Edit(Control::编辑框_微信链接1)->text(), url);
  EXPECT_EQ(Clipboard(), QStringLiteral("gh_0123456789ab"));
  EXPECT_TRUE(catcher.seen().empty());

  Click(Control::按钮3);
  EXPECT_EQ(Clipboard(), Q(u"塔夫罗林"));
  Edit(Control::编辑框_图文标题)->clear();
  Click(Control::按钮4);
  EXPECT_EQ(Clipboard(), QString());
}

TEST_F(QtWindowTest, WindowClosedDuringALookupIsLeftAlone) {
  test::LoopbackServer server(test::Reply::Page(kPage));
  bool closed = false;
  web::SetPendingEventsHook([&] {
    if (!closed) {
      closed = true;
      window.close();
    }
    QCoreApplication::processEvents();
  });
  NoticeCatcher catcher(PressOk);
  Click(Control::编辑框_微信链接);
  QTest::keyClicks(LinkBox(), QString::fromStdString(server.Url("/s/closing")));
  Click(Control::按钮_提取);

  EXPECT_TRUE(closed);
  EXPECT_EQ(server.request_count(), 1u);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(Edit(Control::编辑框_原始ID)->text(), QString());
  EXPECT_EQ(Edit(Control::编辑框_微信链接1)->text(), QString());
  EXPECT_EQ(Clipboard(), QStringLiteral("held before"));
  EXPECT_TRUE(catcher.seen().empty());
}

}  // namespace
}  // namespace tavrolin::app

// Readable failures for Qt strings.
void PrintTo(const QString& string, std::ostream* out) {
  *out << '"' << string.toStdString() << '"';
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  tavrolin::web::SetPendingEventsHook([] { QCoreApplication::processEvents(); });
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
