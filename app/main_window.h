// The main window's layout, its event handlers and the article lookup, written
// once against the Window, Clipboard and Notices interfaces of window.h.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "app/window.h"
#include "text/text.h"

namespace tavrolin::app {

inline constexpr const char* kCaption = "Tavrolin";
// Outer size, frame and caption included; the window is centred by it.
inline constexpr int kOuterWidth = 514;
inline constexpr int kOuterHeight = 363;
// The client area the layout was drawn for: the outer size less a fixed
// frame of 4 pixels a side and a 25-pixel caption.
inline constexpr int kClientWidth = kOuterWidth - 2 * 4;
inline constexpr int kClientHeight = kOuterHeight - 25 - 2 * 4;

inline constexpr const char* kHintText =
    "请输入要微信文章链接，如：https://mp.weixin.qq.com/s/q7Vb3LmZt2XkP8sNw5yHaQ";
inline constexpr Colour kHintColour = kSilver;

inline constexpr const char* kNoticeEnterLink = "请输入微信链接";
inline constexpr const char* kNoticeNoOriginalId = "未获得原始ID，请确认微信链接是否正确";
inline constexpr const char* kNoticeCaption = "本信息框自动关闭";
inline constexpr int kNoticeTimeoutMs = 1500;

enum class ControlKind { kLabel, kEditBox, kButton };

struct Rect {
  int left;
  int top;
  int width;
  int height;
};

struct ControlSpec {
  Control id;
  ControlKind kind;
  std::u16string_view name;  // the object name tools find the control by
  const char* text;          // code page 936
  Rect rect;                 // client-area pixels
  Colour text_colour;        // labels and edit boxes; buttons keep the style's
};

// In creation order: each label comes before the box it names, so a box that
// overlaps its label's rectangle lies on top of it.
inline constexpr std::array<ControlSpec, kControlCount> kLayout{{
    {Control::标签3, ControlKind::kLabel, u"标签3", "微信链接：", {15, 19, 80, 24}, kBlack},
    {Control::编辑框_微信链接,
     ControlKind::kEditBox,
     u"编辑框_微信链接",
     kHintText,
     {79, 19, 409, 21},
     kHintColour},
    {Control::按钮_提取, ControlKind::kButton, u"按钮_提取", "提取", {308, 50, 180, 32}, kBlack},
    {Control::标签4,
     ControlKind::kLabel,
     u"标签4",
     "*提取完成后，程序将自动复制原始ID",
     {15, 55, 208, 24},
     kSilver},
    {Control::标签1, ControlKind::kLabel, u"标签1", "原始ID：", {16, 95, 80, 24}, kBlack},
    {Control::编辑框_原始ID,
     ControlKind::kEditBox,
     u"编辑框_原始ID",
     "",
     {79, 95, 353, 21},
     kBlack},
    {Control::按钮1, ControlKind::kButton, u"按钮1", "复制", {432, 93, 56, 24}, kBlack},
    {Control::标签2, ControlKind::kLabel, u"标签2", "微信号：", {16, 135, 80, 24}, kBlack},
    {Control::编辑框_微信号,
     ControlKind::kEditBox,
     u"编辑框_微信号",
     "",
     {79, 135, 353, 21},
     kBlack},
    {Control::按钮2, ControlKind::kButton, u"按钮2", "复制", {432, 133, 56, 24}, kBlack},
    {Control::标签5, ControlKind::kLabel, u"标签5", "昵称  ：", {16, 175, 80, 24}, kBlack},
    {Control::编辑框_昵称, ControlKind::kEditBox, u"编辑框_昵称", "", {79, 175, 353, 21}, kBlack},
    {Control::按钮3, ControlKind::kButton, u"按钮3", "复制", {432, 173, 56, 24}, kBlack},
    {Control::标签6, ControlKind::kLabel, u"标签6", "图文标题：", {16, 215, 80, 24}, kBlack},
    {Control::编辑框_图文标题,
     ControlKind::kEditBox,
     u"编辑框_图文标题",
     "",
     {79, 215, 353, 21},
     kBlack},
    {Control::按钮4, ControlKind::kButton, u"按钮4", "复制", {432, 213, 56, 24}, kBlack},
    {Control::标签7, ControlKind::kLabel, u"标签7", "图文简介：", {16, 255, 80, 24}, kBlack},
    {Control::编辑框_图文简介,
     ControlKind::kEditBox,
     u"编辑框_图文简介",
     "",
     {79, 255, 353, 21},
     kBlack},
    {Control::按钮5, ControlKind::kButton, u"按钮5", "复制", {432, 253, 56, 24}, kBlack},
    {Control::标签8, ControlKind::kLabel, u"标签8", "微信链接：", {16, 290, 80, 24}, kBlack},
    {Control::编辑框_微信链接1,
     ControlKind::kEditBox,
     u"编辑框_微信链接1",
     "",
     {79, 290, 353, 21},
     kBlack},
    {Control::按钮6, ControlKind::kButton, u"按钮6", "复制", {432, 288, 56, 24}, kBlack},
}};

constexpr const ControlSpec& Spec(Control control) { return kLayout[Index(control)]; }

// The box each Copy button copies.
struct CopyButton {
  Control button;
  Control box;
};
inline constexpr std::array<CopyButton, 6> kCopyButtons{{
    {Control::按钮1, Control::编辑框_原始ID},
    {Control::按钮2, Control::编辑框_微信号},
    {Control::按钮3, Control::编辑框_昵称},
    {Control::按钮4, Control::编辑框_图文标题},
    {Control::按钮5, Control::编辑框_图文简介},
    {Control::按钮6, Control::编辑框_微信链接1},
}};

// The box a Copy button copies, or nothing for any other control.
std::optional<Control> CopiedBox(Control button);

// One row of the lookup: markers exactly as the page is searched for them,
// "#引号" standing for a double quote. Rows without a second stage have
// nullptr there.
struct Extraction {
  Control box;
  const char* first_start;
  const char* first_end;
  const char* second_start;
  const char* second_end;
};
inline constexpr std::array<Extraction, 5> kExtractions{{
    {Control::编辑框_原始ID, "user_name", "user_name_new", "#引号", "#引号"},
    {Control::编辑框_微信号, "profile_meta_label", "span>", "profile_meta_value#引号>", "</"},
    {Control::编辑框_昵称, "profile_nickname#引号>", "</strong>", nullptr, nullptr},
    {Control::编辑框_图文标题, "msg_title", ";", "#引号", "#引号"},
    {Control::编辑框_图文简介, "msg_desc", ";", "#引号", "#引号"},
}};

// The handlers of the main window's events. The toolkit calls them; they
// talk to the window only through `window`.
class MainWindow {
 public:
  MainWindow(Window& window, Clipboard& clipboard, Notices& notices)
      : window_(window), clipboard_(clipboard), notices_(notices) {}
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  void OnCreated();
  // A left mouse button press in the link box. The press is not consumed:
  // the box still takes the focus and places the caret.
  void OnLinkBoxLeftPress();
  void OnLinkBoxLostFocus();
  // `status_text`, when given, receives the request's status text, which the
  // window itself never shows (tavrolin-lookup --verbose reports it).
  void OnExtractClicked(Text* status_text = nullptr);
  // Copy buttons; any other control is ignored.
  void OnCopyClicked(Control button);

  // Fetches the link box's page and fills the five result boxes, the link
  // box copy and the clipboard. Pending events are dispatched while the
  // request runs; when the window is closed meanwhile, the lookup stops
  // without touching the window, the clipboard or a notice.
  void ArticleLookup(Text* status_text = nullptr);

 private:
  Window& window_;
  Clipboard& clipboard_;
  Notices& notices_;
};

}  // namespace tavrolin::app
