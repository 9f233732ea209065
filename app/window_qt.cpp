#include "app/window_qt.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

#include "app/qt_text.h"

namespace tavrolin::app {
namespace {

QColor ToQColor(Colour colour) { return QColor(colour.red(), colour.green(), colour.blue()); }

Colour FromQColor(const QColor& colour) {
  return Colour::FromRgb(colour.red(), colour.green(), colour.blue());
}

// The same colour in every group, so focus and activation do not change it.
void SetPaletteColour(QWidget& widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::All, role, colour);
  widget.setPalette(palette);
}

QWidget* MakeControl(const ControlSpec& spec, QWidget* parent) {
  QWidget* widget = nullptr;
  const QString text = ToQString(spec.text);
  switch (spec.kind) {
    case ControlKind::kLabel: {
      auto* label = new QLabel(text, parent);
      label->setTextFormat(Qt::PlainText);
      SetPaletteColour(*label, QPalette::WindowText, ToQColor(spec.text_colour));
      // Neither Tab nor a click moves the focus to a label; the window still
      // gives it to 标签3 at start, and setFocus does not ask the policy.
      label->setFocusPolicy(Qt::NoFocus);
      widget = label;
      break;
    }
    case ControlKind::kEditBox: {
      auto* edit = new QLineEdit(text, parent);
      edit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      SetPaletteColour(*edit, QPalette::Base, ToQColor(kWhite));
      SetPaletteColour(*edit, QPalette::Text, ToQColor(spec.text_colour));
      edit->setCursorPosition(0);
      widget = edit;
      break;
    }
    case ControlKind::kButton:
      widget = new QPushButton(text, parent);
      break;
  }
  widget->setObjectName(QString::fromUtf16(spec.name.data(), spec.name.size()));
  widget->setGeometry(spec.rect.left, spec.rect.top, spec.rect.width, spec.rect.height);
  return widget;
}

}  // namespace

QtMainWindow::QtMainWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(ToQString(kCaption));
  setFixedSize(kClientWidth, kClientHeight);

  for (const ControlSpec& spec : kLayout) widgets_[Index(spec.id)] = MakeControl(spec, this);

  QWidget* link_box = widget(Control::编辑框_微信链接);
  link_box->installEventFilter(this);
  connect(static_cast<QPushButton*>(widget(Control::按钮_提取)), &QPushButton::clicked, this,
          [this] { handlers_.OnExtractClicked(); });
  for (const CopyButton& copy : kCopyButtons) {
    connect(static_cast<QPushButton*>(widget(copy.button)), &QPushButton::clicked, this,
            [this, button = copy.button] { handlers_.OnCopyClicked(button); });
  }
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  // Centred by the outer size, as the frame's top-left corner.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - kOuterWidth) / 2,
         area.y() + (area.height() - kOuterHeight) / 2);
  }

  handlers_.OnCreated();
}

QtMainWindow::~QtMainWindow() {
  alive_.reset();
  // The children go with QWidget's destructor; a focus change on the way must
  // not reach the handlers any more.
  widget(Control::编辑框_微信链接)->removeEventFilter(this);
}

Text QtMainWindow::ControlText(Control control) {
  QWidget* control_widget = widget(control);
  if (auto* edit = qobject_cast<QLineEdit*>(control_widget)) return FromQString(edit->text());
  if (auto* label = qobject_cast<QLabel*>(control_widget)) return FromQString(label->text());
  if (auto* button = qobject_cast<QPushButton*>(control_widget)) {
    return FromQString(button->text());
  }
  return Text();
}

void QtMainWindow::SetControlText(Control control, const Text& text) {
  QWidget* control_widget = widget(control);
  const QString string = ToQString(text);
  if (auto* edit = qobject_cast<QLineEdit*>(control_widget)) {
    edit->setText(string);
    // A box set from code shows the start of its text, as an edit control does.
    edit->setCursorPosition(0);
  } else if (auto* label = qobject_cast<QLabel*>(control_widget)) {
    label->setText(string);
  } else if (auto* button = qobject_cast<QPushButton*>(control_widget)) {
    button->setText(string);
  }
}

Colour QtMainWindow::TextColour(Control edit_box) {
  return FromQColor(widget(edit_box)->palette().color(QPalette::Active, QPalette::Text));
}

void QtMainWindow::SetTextColour(Control edit_box, Colour colour) {
  SetPaletteColour(*widget(edit_box), QPalette::Text, ToQColor(colour));
}

void QtMainWindow::SetFocus(Control control) { widget(control)->setFocus(Qt::OtherFocusReason); }

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == widget(Control::编辑框_微信链接)) {
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      handlers_.OnLinkBoxLeftPress();
    } else if (event->type() == QEvent::FocusOut &&
               static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
      // The box's own context menu keeps the focus where it was.
      handlers_.OnLinkBoxLostFocus();
    }
  }
  return QWidget::eventFilter(watched, event);  // never consumed
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  // Closing ends the window for the handlers: a lookup still waiting in its
  // request finds the token expired and leaves the window alone.
  alive_.reset();
  event->accept();
}

}  // namespace tavrolin::app
