// The window as the handlers see it: controls by name, their texts as code
// page 936, an edit box's text colour and the keyboard focus. window_qt.cpp
// puts it on Qt Widgets; memory_window.h keeps it in memory for headless runs.
#pragma once

#include <cstdint>
#include <memory>

#include "text/text.h"

namespace tavrolin::app {

// Every control of the main window, in the order the layout creates them.
enum class Control {
  标签3,
  编辑框_微信链接,
  按钮_提取,
  标签4,
  标签1,
  编辑框_原始ID,
  按钮1,
  标签2,
  编辑框_微信号,
  按钮2,
  标签5,
  编辑框_昵称,
  按钮3,
  标签6,
  编辑框_图文标题,
  按钮4,
  标签7,
  编辑框_图文简介,
  按钮5,
  标签8,
  编辑框_微信链接1,
  按钮6,
};
inline constexpr int kControlCount = 22;

constexpr int Index(Control control) { return static_cast<int>(control); }

// A colour as the platform's COLORREF holds it: 0x00BBGGRR.
struct Colour {
  std::uint32_t bgr = 0;

  constexpr int red() const { return static_cast<int>(bgr & 0xFF); }
  constexpr int green() const { return static_cast<int>((bgr >> 8) & 0xFF); }
  constexpr int blue() const { return static_cast<int>((bgr >> 16) & 0xFF); }
  static constexpr Colour FromRgb(int red, int green, int blue) {
    return Colour{
        static_cast<std::uint32_t>((red & 0xFF) | (green & 0xFF) << 8 | (blue & 0xFF) << 16)};
  }
  friend constexpr bool operator==(Colour, Colour) = default;
};

inline constexpr Colour kBlack{0};
inline constexpr Colour kSilver{12632256};  // 0xC0C0C0
inline constexpr Colour kWhite{16777215};

// Expires when the window is closed. A handler that waited inside a request
// checks it before it touches the window again.
using Liveness = std::weak_ptr<const void>;

class Window {
 public:
  virtual ~Window() = default;

  // What the control shows at this moment, the user's typing included.
  virtual Text ControlText(Control control) = 0;
  virtual void SetControlText(Control control, const Text& text) = 0;
  // Edit boxes only.
  virtual Colour TextColour(Control edit_box) = 0;
  virtual void SetTextColour(Control edit_box, Colour colour) = 0;
  virtual void SetFocus(Control control) = 0;
  virtual Liveness Alive() const = 0;
};

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // Replaces whatever the clipboard held, an empty text too; false when the
  // text could not be placed.
  virtual bool SetText(const Text& text) = 0;
};

class Notices {
 public:
  virtual ~Notices() = default;
  // Shows a self-closing information box and returns once it has closed.
  virtual void TimedNotice(const Text& text) = 0;
};

}  // namespace tavrolin::app
