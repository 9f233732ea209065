#include "app/clipboard_qt.h"

#include <QClipboard>
#include <QGuiApplication>

#include "app/qt_text.h"

namespace tavrolin::app {

bool Clipboard_SetText(const Text& text) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard == nullptr) return false;
  clipboard->setText(ToQString(text), QClipboard::Clipboard);
  return true;
}

}  // namespace tavrolin::app
