#include "app/notice_qt.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include "app/main_window.h"
#include "app/qt_text.h"

namespace tavrolin::app {

void TimedNotice(const Text& text) {
  QMessageBox box(QMessageBox::Information, ToQString(kNoticeCaption), ToQString(text),
                  QMessageBox::Ok, /*parent=*/nullptr);
  // A parentless message box is still application-modal by default, which
  // would block the main window.
  box.setWindowModality(Qt::NonModal);

  QEventLoop wait;
  QObject::connect(&box, &QDialog::finished, &wait, &QEventLoop::quit);
  QTimer::singleShot(kNoticeTimeoutMs, &box, [&box] { box.done(QMessageBox::Ok); });
  box.show();
  wait.exec();
}

}  // namespace tavrolin::app
