// The main window, clipboard and notices held in memory, for running the
// lookup without a display (tavrolin-lookup, the tests).
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "app/window.h"
#include "text/text.h"

namespace tavrolin::app {

// Starts as the layout does: the texts and colours of the table, the link
// box in its hint state, no control focused.
class MemoryWindow : public Window {
 public:
  MemoryWindow();

  Text ControlText(Control control) override;
  void SetControlText(Control control, const Text& text) override;
  Colour TextColour(Control edit_box) override;
  void SetTextColour(Control edit_box, Colour colour) override;
  void SetFocus(Control control) override;
  Liveness Alive() const override { return alive_; }

  std::optional<Control> focus() const { return focus_; }
  // As the user closing the window: the liveness token expires.
  void Close() { alive_.reset(); }

 private:
  std::array<Text, kControlCount> texts_;
  std::array<Colour, kControlCount> colours_;
  std::optional<Control> focus_;
  std::shared_ptr<const int> alive_ = std::make_shared<const int>(0);
};

// Keeps the last text placed; `writes` counts every placement.
class MemoryClipboard : public Clipboard {
 public:
  bool SetText(const Text& text) override {
    text_ = text;
    ++writes_;
    return true;
  }
  const std::optional<Text>& text() const { return text_; }
  int writes() const { return writes_; }

 private:
  std::optional<Text> text_;
  int writes_ = 0;
};

// Records the notices instead of showing them; returns at once.
class NoticeLog : public Notices {
 public:
  void TimedNotice(const Text& text) override { shown_.push_back(text); }
  const std::vector<Text>& shown() const { return shown_; }

 private:
  std::vector<Text> shown_;
};

}  // namespace tavrolin::app
