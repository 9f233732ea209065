// The main window on Qt 6 Widgets: builds the layout, implements Window for
// the handlers and delivers the toolkit's events to them.
#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "app/clipboard_qt.h"
#include "app/main_window.h"
#include "app/notice_qt.h"
#include "app/window.h"

class QCloseEvent;
class QEvent;

namespace tavrolin::app {

class QtMainWindow : public QWidget, public Window {
 public:
  // Builds the controls, centres the window on the primary screen and runs
  // the created handler; the caller shows it.
  QtMainWindow();
  ~QtMainWindow() override;

  Text ControlText(Control control) override;
  void SetControlText(Control control, const Text& text) override;
  Colour TextColour(Control edit_box) override;
  void SetTextColour(Control edit_box, Colour colour) override;
  void SetFocus(Control control) override;
  Liveness Alive() const override { return alive_; }

  QWidget* widget(Control control) const { return widgets_[Index(control)]; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  std::array<QWidget*, kControlCount> widgets_{};  // owned by Qt as children
  std::shared_ptr<const int> alive_ = std::make_shared<const int>(0);
  QtClipboard clipboard_;
  QtNotices notices_;
  MainWindow handlers_{*this, clipboard_, notices_};
};

}  // namespace tavrolin::app
