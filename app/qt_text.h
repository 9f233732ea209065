// Code page 936 text to and from QString, for the Qt backend.
#pragma once

#include <QString>

#include "text/cp936.h"
#include "text/text.h"

namespace tavrolin::app {

inline QString ToQString(const Text& text) {
  return QString::fromStdU16String(cp936::ToUtf16(text.view()));
}

inline Text FromQString(const QString& string) {
  return Text(cp936::FromUtf16(string.toStdU16String()));
}

}  // namespace tavrolin::app
