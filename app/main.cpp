// tavrolin: the window program. It takes no command line.
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <cstdio>
#include <cstdlib>

#include "app/window_qt.h"
#include "web/events.h"

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Qt aborts when it finds no display; say so plainly instead.
bool DisplayAvailable() {
  return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

}  // namespace

int main() {
  if (!DisplayAvailable()) {
    std::fputs(
        "tavrolin: no display available (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset)\n",
        stderr);
    return 1;
  }
  int argc = 1;
  char name[] = "tavrolin";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);

  // Web_Request serves the window at its event points: dispatch what waits
  // in the queue, without waiting for more.
  tavrolin::web::SetPendingEventsHook([] { QCoreApplication::processEvents(); });

  tavrolin::app::QtMainWindow window;
  window.show();
  const int code = QApplication::exec();
  tavrolin::web::SetPendingEventsHook({});
  return code;
}
